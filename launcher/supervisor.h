// The background role: runs runtime\node.exe on app\connector.js inside a kill-on-close job with its
// output in connector.log, until StopEvent is set or the connector exits. Also the window's way of
// starting a supervisor. Called by LauncherMain (roles.cpp) and, through RunWindow, by the window.
#pragma once
#include <windows.h>
#include <stdint.h>

// The whole background role after StopEvent exists; uses stopEvent but never closes it. Exit code.
int RunSupervisor(HANDLE stopEvent, uint16_t port);

// Starts "<this executable> --background" unless a supervisor holds BackgroundMutex; never waits. The new
// process gets a handle of StopEvent, so that a stop that ends the window before the supervisor is up is
// still seen by it. 1 when a supervisor exists or was started, 0 when none could be started.
int EnsureBackgroundRunning();

// EnsureBackgroundRunning for a given executable path instead of this process's own module (null means
// the own module); lets tests start the launcher.exe of a temporary installation.
int EnsureBackgroundRunningFor(const wchar_t* executablePath);

// The module path of this executable into ExecutablePathCapacity characters; 0 when it is empty,
// failed or did not fit.
int GetExecutablePath(wchar_t* path);
