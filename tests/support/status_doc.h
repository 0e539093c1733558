// A status document as the window tests write it: the 15 lines by name, valid by default (idle, workbench
// ready, no pairing code), and Render, which joins them with line feeds. Shared by the window, controller
// and hostile-connector tests.
#pragma once
#include <stdint.h>
#include <string>

struct Doc {
    std::string tag = "tovix-connector-desktop/2";
    std::string state = "idle";
    std::string deviceName = "书房电脑";
    std::string workbench = "ready";
    std::string detail = "Tovix 3.2";
    std::string message;
    std::string projects = "3";
    std::string pairing = "none";
    std::string expiry;
    std::string code;
    std::string size;
    std::string matrix;
    std::string newVersion;
    std::string link;
    std::string relay = "quorbelapi";
};

std::string Render(const Doc& doc);

// An online document offering the code 482913 with an n-module symbol that expires expiresInMs after the
// window's wall clock. The symbol is matrix when given, else a fixed irregular pattern (PatternModule).
Doc CodeDoc(int n, int64_t expiresInMs, const std::string& matrix = std::string());
char PatternModule(int row, int column);
