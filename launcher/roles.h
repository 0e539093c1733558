// Role selection and instance control: what the process entry (main.cpp) calls. The tail and port
// decisions are pure functions, tested directly; the rest creates the named objects of named_objects.h.
#pragma once
#include <windows.h>
#include <stdint.h>

enum ProcessRole { UiRole, BackgroundRole, StopRole };

enum { PortValueCapacity = 6 };

// The command line without the program path and the blanks after it; never null.
const wchar_t* CommandTail(const wchar_t* commandLine);

// "--stop" and "--background", matched whole and case-sensitively; anything else is the window.
ProcessRole SelectRole(const wchar_t* tail);

// The port decision on what GetEnvironmentVariableW left in a PortValueCapacity buffer: count is its
// result (0 when missing or empty, the required size when the value did not fit).
uint16_t PortFromVariable(const wchar_t* value, uint32_t count);

// Reads TOVIX_MOBILE_CONNECTOR_PORT: 1024-65535 as 1-5 ASCII digits, else 8093.
uint16_t ResolveConnectorPort();

// The whole process: picks the role, creates StopEvent for the window and background roles, returns
// the exit code.
int LauncherMain(HINSTANCE instance, const wchar_t* tail, int show);

// Instance control around RunWindow; shows the start-up error box on failure.
int RunWindowRole(HINSTANCE instance, HANDLE stopEvent, uint16_t port, int show);

// Restores a running window from minimised and brings it to the foreground, if there is one.
void ActivateExistingWindow();

// The window role's start-up failure box; returns when the user has dismissed it.
void ShowStartupError();
