// The texts the supervisor builds from its own module path: the installation directory, the runtime and
// log paths and the two command lines. Pure functions, called by supervisor.cpp and tested directly.
// Every text goes into a fixed buffer whose size (terminator included) is given below; a text that does
// not fit whole fails the call and leaves an empty buffer, it is never cut short.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum {
    ExecutablePathCapacity = 4096,         // the module path, also holding the directory after the cut
    InstallPathCapacity = 4096,            // runtime\node.exe and connector.log
    ConnectorCommandLineCapacity = 8192,   // "runtime" "script"
    SupervisorCommandLineCapacity = 4112,  // "launcher.exe" --background
    PortTextCapacity = 6,                  // up to five digits
};

// Writes the concatenation of count texts into out (capacity characters, terminator included).
// Returns 1 when the whole text fits; otherwise 0 with out set to the empty text.
int JoinBounded(wchar_t* out, size_t capacity, const wchar_t* const* parts, int count);

// Cuts an executable path at its last backslash (the backslash removed): "C:\a\l.exe" gives "C:\a",
// "C:\l.exe" gives "C:". Returns 0 and leaves the path alone when it holds no backslash.
int CutToDirectory(wchar_t* path);

// "<dir>\runtime\node.exe" into InstallPathCapacity characters.
int BuildRuntimePath(wchar_t* out, const wchar_t* directory);
// "<dir>\connector.log" into InstallPathCapacity characters.
int BuildLogPath(wchar_t* out, const wchar_t* directory);
// "\"<runtime path>\" \"<dir>\app\connector.js\"" into ConnectorCommandLineCapacity characters.
int BuildConnectorCommandLine(wchar_t* out, const wchar_t* runtimePath, const wchar_t* directory);
// "\"<executable path>\" --background" into SupervisorCommandLineCapacity characters.
int BuildSupervisorCommandLine(wchar_t* out, const wchar_t* executablePath);
// The port in decimal without leading zeros into PortTextCapacity characters.
int FormatPortText(wchar_t* out, uint16_t port);
