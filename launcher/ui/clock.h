// The two clocks of the window: the tick count that ControllerState's deadlines use, and the wall clock
// that pairing expiries are compared with. Production code reads the real clocks; tests may shift them.
#pragma once
#include <stdint.h>

// Milliseconds of the system tick count (GetTickCount64), plus the test shift.
uint64_t TickNow();

// Milliseconds since 1970-01-01 00:00 UTC: the system FILETIME / 10 000 - 11 644 473 600 000,
// plus the test shift.
int64_t WallNowMs();

// Test seam: both clocks advance by these amounts from now on (0, 0 restores the real clocks).
void ShiftClocksForTest(uint64_t tickShiftMs, int64_t wallShiftMs);
