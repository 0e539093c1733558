// bench_hook.dll: hook procedures that the benchmark probe installs on the UI thread of a measured window
// process, so that the window's own WM_SETTEXT and WM_PAINT traffic is counted where it happens instead
// of being guessed from outside. Windows loads this DLL into the measured process for the hook.
#include "bench_hook.h"

static BenchHookCounters* counters;

static BenchHookCounters* Counters()
{
    if (!counters) {
        HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE | FILE_MAP_READ, FALSE, BENCH_HOOK_MAPPING);
        if (!mapping)
            return nullptr;
        counters = static_cast<BenchHookCounters*>(MapViewOfFile(mapping, FILE_MAP_WRITE | FILE_MAP_READ, 0, 0,
                                                                 sizeof(BenchHookCounters)));
        CloseHandle(mapping);  // the view keeps the mapping alive
    }
    return counters;
}

static int SlotOfThisThread(BenchHookCounters* c)
{
    LONG self = LONG(GetCurrentThreadId());
    for (int i = 0; i < BenchHookSlots; i++)
        if (c->threadId[i] == self)
            return i;
    return -1;
}

static void Count(UINT message)
{
    if (message != WM_SETTEXT && message != WM_PAINT)
        return;
    BenchHookCounters* c = Counters();
    int slot = c ? SlotOfThisThread(c) : -1;
    if (slot < 0)
        return;
    InterlockedIncrement(message == WM_SETTEXT ? &c->setText[slot] : &c->paint[slot]);
}

// Sent messages: SetWindowTextW's WM_SETTEXT, UpdateWindow's WM_PAINT.
extern "C" LRESULT CALLBACK BenchCallWndProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION)
        Count(reinterpret_cast<CWPSTRUCT*>(lParam)->message);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Retrieved messages: WM_PAINT taken from the queue by the message loop.
extern "C" LRESULT CALLBACK BenchGetMessageProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && wParam == PM_REMOVE)
        Count(reinterpret_cast<MSG*>(lParam)->message);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
