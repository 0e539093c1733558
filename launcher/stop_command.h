// The stop role: sets StopEvent and waits up to 15 s for every window and supervisor to end.
// Called by LauncherMain (roles.cpp) for the tail "--stop".
#pragma once

enum { StopWaitMs = 15000 };

// 0 when nothing runs or everything that ran has ended (abandoned counts as ended), 1 otherwise.
int RunStopCommand();
