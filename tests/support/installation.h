// Temporary installations for process tests: a directory (its name holds a blank) with a copy of
// launcher.exe, optionally the Node.js double as runtime\node.exe, and an empty app\connector.js.
// Also reading what the double reported in connector.log and stopping everything that runs from it.
#pragma once
#include <windows.h>
#include <string>

struct Installation {
    std::wstring directory;  // no trailing backslash
    std::wstring launcher;   // <directory>\launcher.exe
    std::wstring runtime;    // <directory>\runtime\node.exe
    std::wstring log;        // <directory>\connector.log
};

// Creates a fresh installation under the temporary directory; the double is copied unless withRuntime
// is false. Returns false when a copy failed.
bool CreateInstallation(Installation* installation, bool withRuntime = true);

// Mode of the double for the next connector start: "run", "exit" or "grandchild" (see node_double.cpp).
void SetDoubleMode(const Installation& installation, const char* mode);

std::string ReadConnectorLog(const Installation& installation);
// Value of the first "key=value" line of a double's report, "" when absent.
std::string ReportValue(const std::string& report, const char* key);
// Waits until the double's report in connector.log says "ready"; returns the report ("" on timeout).
std::string WaitForReport(const Installation& installation, DWORD timeoutMs);
// How many connectors (doubles) were started in this installation so far.
int CountConnectorStarts(const Installation& installation);

// Runs "launcher.exe --stop" and waits for it (20 s at most); returns its exit code, -1 when it did not
// end within 20 s, -2 when it could not be started.
int RunStop(const Installation& installation);
// Stops what runs from the installation: the stop command, then a kill of every process still
// running from the directory, then removes the directory.
void RemoveInstallation(Installation* installation);
