// Counters shared between the benchmark probe and the hook DLL it loads into a measured window process.
// The probe creates the named mapping; the hook procedures of bench_hook.dll, running inside the measured
// process, count into the slot whose thread id is their own thread's.
#pragma once
#include <windows.h>

#define BENCH_HOOK_MAPPING L"Local\\TovixBenchHookCounters"

enum { BenchHookSlots = 4 };

struct BenchHookCounters {
    volatile LONG threadId[BenchHookSlots];  // the UI thread measured in each slot; 0 = free
    volatile LONG setText[BenchHookSlots];   // WM_SETTEXT sent to any window of that thread
    volatile LONG paint[BenchHookSlots];     // WM_PAINT handled by any window of that thread
};

// Exported by bench_hook.dll: the hook procedures for SetWindowsHookExW.
extern "C" LRESULT CALLBACK BenchCallWndProc(int code, WPARAM wParam, LPARAM lParam);
extern "C" LRESULT CALLBACK BenchGetMessageProc(int code, WPARAM wParam, LPARAM lParam);
