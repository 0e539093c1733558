// Names of the kernel objects through which the processes of one logon find and stop each other. The
// window and background roles create them; the stop role and EnsureBackgroundRunning only open them.
#pragma once

// Manual-reset event, set by the stop role and never reset: windows and supervisors end when they see it.
#define StopEventName L"Local\\ostrel.tovix-connector.stop"
// Owned by the window process's main thread while its window runs.
#define WindowMutexName L"Local\\ostrel.tovix-connector.window"
// Owned by the supervisor's main thread for its whole life.
#define BackgroundMutexName L"Local\\ostrel.tovix-connector"
// The connector secret of the running supervisor (a read-only file mapping that only this user can open);
// the supervisor creates it, the window reads it before each request.
#define ConnectorSecretName L"Local\\ostrel.tovix-connector.secret"
