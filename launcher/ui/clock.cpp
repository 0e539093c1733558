// The window's clocks, with the small shift that tests use to pass time without waiting.
#include "clock.h"
#include <windows.h>

static uint64_t tickShift;
static int64_t wallShift;

uint64_t TickNow()
{
    return GetTickCount64() + tickShift;
}

int64_t WallNowMs()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint64_t intervals = (uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return int64_t(intervals / 10000) - 11644473600000LL + wallShift;
}

void ShiftClocksForTest(uint64_t tickShiftMs, int64_t wallShiftMs)
{
    tickShift = tickShiftMs;
    wallShift = wallShiftMs;
}
