// Status documents for the checks of the parser: a valid document without a pairing code, one with a code
// and a QR matrix of any size, and the largest legal one (36 000 bytes, 177 x 177). Shared by the native
// unit tests, the fuzzer's seed writer, the benchmark and the worker tests under Wine.
#pragma once
#include <stddef.h>
#include <string>

struct DocumentLines {
    std::string line[15];  // line[0] is line 1
};

inline DocumentLines IdleDocumentLines()
{
    DocumentLines d;
    const char* lines[15] = {"tovix-connector-desktop/2", "idle", "Office PC", "ready", "Workbench 4.2 in C:\\Tovix",
                             "", "12", "none", "", "", "", "", "", "", "quorbelapi"};
    for (int i = 0; i < 15; ++i) d.line[i] = lines[i];
    return d;
}

// A QR-like module pattern of n x n bytes of '0' and '1'.
inline std::string ModuleMatrix(int n)
{
    std::string m((size_t)n * (size_t)n, '0');
    for (size_t i = 0; i < m.size(); ++i)
        if (((i * 2654435761u) >> 7) & 1) m[i] = '1';
    return m;
}

inline DocumentLines CodeDocumentLines(int n)
{
    DocumentLines d = IdleDocumentLines();
    d.line[1] = "online";
    d.line[7] = "code";
    d.line[8] = "1893456000000";
    d.line[9] = "482913";
    d.line[10] = std::to_string(n);
    d.line[11] = ModuleMatrix(n);
    return d;
}

inline std::string JoinDocument(const DocumentLines& d)
{
    std::string s;
    for (const std::string& line : d.line) s += line + "\n";
    return s;
}

// Exactly 36 000 bytes: a 177 x 177 code document whose workbench detail (line 5) fills the rest.
inline std::string LargestDocument()
{
    DocumentLines d = CodeDocumentLines(177);
    d.line[4].clear();
    size_t used = JoinDocument(d).size();
    d.line[4] = std::string(36000 - used, 'w');
    return JoinDocument(d);
}
