// bench_probe.exe: the Windows side of scripts/bench.sh. It starts launcher.exe and the baseline programs
// as real processes and watches them from outside: the stages of start-up up to the moment the status
// text first changes, CPU time, WM_SETTEXT and WM_PAINT counts and polls over an idle minute, memory,
// handle and GDI counts after many polls, and the time of "launcher.exe --stop". Every figure is printed
// as a line "RESULT <name> <value>" that the script gathers into its table.
//   bench_probe startup <runs>
//   bench_probe idle <idle seconds> <first poll> <last poll>
//   bench_probe stop <installation directory> <runs> [<installation without runtime>]
#include "bench_hook.h"
#include "bench_server.h"
#include <psapi.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <ctype.h>
#include <algorithm>
#include <vector>

// An unchanging document: online, paired (so there is no countdown that would rewrite a label every second).
static const char IdleDocument[] =
    "tovix-connector-desktop/2\n"
    "online\n"
    "BENCH-PC\n"
    "ready\n"
    "Tovix 1.0 (bench)\n"
    "\n"
    "3\n"
    "paired\n"
    "\n"
    "\n"
    "\n"
    "\n"
    "\n"
    "\n"
    "quorbelapi\n";

// The programs start with the same status text ("●  正在启动") in the same font.
static const wchar_t StartText[] = L"\u25CF  \u6B63\u5728\u542F\u52A8";

// The window programs that the probe measures. baseline_window.exe is the baseline program with the
// launcher's window (manifest, size and the 22 controls of its control table), so that the start-up
// stages show apart what the launcher's own code costs and what its window costs.
struct Program {
    const char* name;          // in the output
    const wchar_t* exe;        // next to the probe
    const wchar_t* className;  // of its main window
    int children;              // of its main window once it has created all of them
    int statusHasDot;          // its status text is the STATIC whose text starts with the dot
};
static const Program Launcher = {"launcher", L"launcher.exe", L"TovixMobileConnectorWindow", 22, 1};
static const Program Baseline = {"baseline", L"baseline.exe", L"TovixBaselineWindow", 1, 0};
static const Program BaselineWindow = {"baseline_window", L"baseline_window.exe", L"TovixBaselineWindow", 22, 1};

enum { TextUnits = 512, WindowWaitMs = 30000 };

// The stages of start-up, each a moment in ms after the probe asked for the process.
enum Stage {
    ProcessCreated,  // CreateProcessW returned
    WindowExists,    // the main window is there (its creation step may still run)
    ControlsCreated, // every child of the main window is there
    FirstPaintDone,  // the window is visible and neither it nor any child has anything left to paint
    RequestReceived, // the first status request reached the probe's server
    SnapshotShown,   // the status text left its start-up text
    StageCount
};
static const char* const StageNames[StageCount] = {
    "process created", "main window exists", "all controls created", "first paint done",
    "first request received", "first snapshot shown",
};
static const char* const StageKeys[StageCount] = {"created", "window", "controls", "painted", "request", "shown"};

// One measured window process.
struct Subject {
    const Program* program;
    PROCESS_INFORMATION process;
    HWND window;
    HWND statusControl;
    double at[StageCount];
};

static double NowMs()
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

static void ExeDirectory(wchar_t* out, DWORD units)
{
    DWORD n = GetModuleFileNameW(nullptr, out, units);
    while (n > 0 && out[n - 1] != L'\\')
        n--;
    out[n] = 0;
}

static int StartProcess(const wchar_t* exe, const wchar_t* tail, const wchar_t* directory, PROCESS_INFORMATION* pi)
{
    wchar_t commandLine[2 * MAX_PATH];
    _snwprintf(commandLine, 2 * MAX_PATH, L"\"%ls\"%ls%ls", exe, tail[0] ? L" " : L"", tail);
    commandLine[2 * MAX_PATH - 1] = 0;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    return CreateProcessW(exe, commandLine, nullptr, nullptr, FALSE, 0, nullptr, directory, &si, pi) != 0;
}

static void EndProcess(PROCESS_INFORMATION* pi, HWND window)
{
    if (window && IsWindow(window))
        PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(pi->hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(pi->hProcess, 1);
        WaitForSingleObject(pi->hProcess, 5000);
    }
    CloseHandle(pi->hThread);
    CloseHandle(pi->hProcess);
    pi->hProcess = pi->hThread = nullptr;
}

struct WindowSearch {
    DWORD processId;
    const wchar_t* className;
    HWND found;
};

static BOOL CALLBACK MatchWindow(HWND window, LPARAM param)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    wchar_t className[64];
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->processId && GetClassNameW(window, className, 64) && !wcscmp(className, search->className)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

static HWND FindProcessWindow(DWORD processId, const wchar_t* className)
{
    WindowSearch search = {processId, className, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The launcher's StatusPill (and baseline_window's) is the STATIC whose text starts with the dot; the
// baseline has one STATIC.
static HWND FindStatusControl(HWND window, int statusHasDot)
{
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[32], text[TextUnits];
        GetClassNameW(child, className, 32);
        if (_wcsicmp(className, L"Static"))
            continue;
        if (!statusHasDot)
            return child;
        GetWindowTextW(child, text, TextUnits);
        if (text[0] == L'\u25CF')
            return child;
    }
    return nullptr;
}

static int ChildCount(HWND window)
{
    int n = 0;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        n++;
    return n;
}

// True once the window is visible and neither it nor any of its children has an update region left.
// Showing a window makes it visible and invalid in one step, so a visible window without one has been
// painted. The children are painted after their parent, so the test usually stops at the first one.
static int PaintedWhole(HWND window)
{
    if (!IsWindowVisible(window) || GetUpdateRect(window, nullptr, FALSE))
        return 0;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (GetUpdateRect(child, nullptr, FALSE))
            return 0;
    return 1;
}

// Starts the subject and notes the moment of each stage until its status text has left its start-up
// text. Reading another process's window text, children and update regions sends it no message, so
// watching does not disturb the measured process. server (may be null) gives the first request's moment.
static int LaunchAndWaitShown(Subject* subject, const wchar_t* exe, const wchar_t* directory,
                              BenchServer* server = nullptr)
{
    const wchar_t* className = subject->program->className;
    int children = subject->program->children;
    subject->window = subject->statusControl = nullptr;
    for (double& at : subject->at)
        at = -1;
    if (server)
        server->firstStatusAt = 0;
    double started = NowMs();
    if (!StartProcess(exe, L"", directory, &subject->process))
        return 0;
    subject->at[ProcessCreated] = NowMs() - started;
    for (;;) {
        double now = NowMs() - started;
        if (now > WindowWaitMs)
            return 0;
        if (!subject->window) {
            subject->window = FindProcessWindow(subject->process.dwProcessId, className);
            if (subject->window)
                subject->at[WindowExists] = now;
        }
        if (subject->window && subject->at[ControlsCreated] < 0 && ChildCount(subject->window) >= children) {
            subject->at[ControlsCreated] = now;
            subject->statusControl = FindStatusControl(subject->window, subject->program->statusHasDot);
        }
        if (subject->statusControl && subject->at[FirstPaintDone] < 0 && PaintedWhole(subject->window))
            subject->at[FirstPaintDone] = now;
        if (subject->statusControl) {
            wchar_t text[TextUnits] = L"";
            GetWindowTextW(subject->statusControl, text, TextUnits);
            if (text[0] && wcscmp(text, StartText)) {
                subject->at[SnapshotShown] = now;
                break;
            }
        }
        Sleep(1);
    }
    if (server && server->firstStatusAt) {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        subject->at[RequestReceived] = double(server->firstStatusAt) * 1000.0 / double(frequency.QuadPart) - started;
    }
    return 1;
}

static double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

static void SetPortVariable(uint16_t port)
{
    wchar_t text[8];
    _snwprintf(text, 8, L"%u", unsigned(port));
    text[7] = 0;
    SetEnvironmentVariableW(L"TOVIX_MOBILE_CONNECTOR_PORT", text);
}

// Holding the supervisor's mutex makes the measured window believe that a supervisor runs, so it starts
// none: the benchmark's connector is the counting server of this process.
static HANDLE PretendSupervisorRuns()
{
    return CreateMutexW(nullptr, TRUE, L"Local\\ostrel.tovix-connector");
}

// Ratio a/b, or 0 when b is not positive.
static double Ratio(double a, double b)
{
    return b > 0 ? a / b : 0.0;
}

// The three programs start one after the other in every run. Prints each run's stages, then the median
// moment of each stage with two ratios: launcher / baseline (the figure with a target) and launcher /
// baseline_window (what the launcher's own code adds to its window), and the median time of each step
// with the launcher's difference to each.
static int RunStartup(int runs)
{
    enum { ProgramCount = 3 };
    static const Program* const programs[ProgramCount] = {&Launcher, &Baseline, &BaselineWindow};
    wchar_t dir[MAX_PATH], exes[ProgramCount][MAX_PATH];
    ExeDirectory(dir, MAX_PATH);
    for (int w = 0; w < ProgramCount; w++)
        _snwprintf(exes[w], MAX_PATH, L"%ls%ls", dir, programs[w]->exe);
    BenchServer server = {};
    if (!StartBenchServer(&server, IdleDocument)) {
        printf("startup: no server\n");
        return 1;
    }
    SetPortVariable(server.port);
    HANDLE mutex = PretendSupervisorRuns();
    // [program][stage]: the moment of the stage, and the time since the previous stage, of every run.
    std::vector<double> at[ProgramCount][StageCount], step[ProgramCount][StageCount];
    // Launcher's total over the baseline's of the same run: the two ran one after the other, so a busy
    // moment of the machine weighs on both, and the median of these ratios shakes less than the ratio of
    // the medians.
    std::vector<double> pairedRatios;
    int failures = 0;
    // Run 0 warms the file cache for every image and is not counted. The programs alternate so that all
    // of them see the same background noise, each run in the next of the six orders: the end of the
    // previous window still weighs on the next start (a large window more), so each program follows each
    // of the others equally often.
    static const int Orders[6][ProgramCount] = {{0, 1, 2}, {1, 2, 0}, {2, 0, 1}, {0, 2, 1}, {2, 1, 0}, {1, 0, 2}};
    for (int run = 0; run <= runs; run++) {
        double shownInRun[ProgramCount] = {-1, -1, -1};
        for (int k = 0; k < ProgramCount; k++) {
            int which = Orders[run % 6][k];
            Subject subject = {};
            subject.program = programs[which];
            LONG pollsBefore = server.statusRequests;
            int shown = LaunchAndWaitShown(&subject, exes[which], dir, &server);
            LONG polls = server.statusRequests - pollsBefore;  // more than 1: an early poll was not shown
            if (!shown)
                failures++;
            if (subject.process.hProcess)
                EndProcess(&subject.process, subject.window);
            if (!shown || run == 0)
                continue;
            printf("startup run %d %s:", run, programs[which]->name);
            for (int i = 0; i < StageCount; i++) {
                printf(" %s %.1f", StageKeys[i], subject.at[i]);
                if (subject.at[i] < 0)
                    continue;  // a stage not seen (-1) counts in no median
                at[which][i].push_back(subject.at[i]);
                if (i == 0 || subject.at[i - 1] >= 0)
                    step[which][i].push_back(i == 0 ? subject.at[0] : subject.at[i] - subject.at[i - 1]);
            }
            printf(" ms, %ld polls\n", long(polls));
            shownInRun[which] = subject.at[SnapshotShown];
        }
        if (shownInRun[0] > 0 && shownInRun[1] > 0)
            pairedRatios.push_back(Ratio(shownInRun[0], shownInRun[1]));
    }
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    StopBenchServer(&server);

    double m[ProgramCount][StageCount], d[ProgramCount][StageCount];
    for (int w = 0; w < ProgramCount; w++)
        for (int i = 0; i < StageCount; i++) {
            m[w][i] = Median(at[w][i]);
            d[w][i] = Median(step[w][i]);
        }
    printf("\nstart-up stages, median of %d runs; baseline_window is the baseline with the launcher's window\n",
           runs);
    printf("ms after the process was asked for:\n");
    printf("  %-24s %9s %9s %16s %8s %8s\n", "stage", "launcher", "baseline", "baseline_window", "l / b", "l / bw");
    for (int i = 0; i < StageCount; i++)
        printf("  %-24s %9.1f %9.1f %16.1f %8.2f %8.2f\n", StageNames[i], m[0][i], m[1][i], m[2][i],
               Ratio(m[0][i], m[1][i]), Ratio(m[0][i], m[2][i]));
    printf("ms since the previous stage:\n");
    printf("  %-24s %9s %9s %16s %8s %8s\n", "stage", "launcher", "baseline", "baseline_window", "l - b", "l - bw");
    for (int i = 0; i < StageCount; i++)
        printf("  %-24s %9.1f %9.1f %16.1f %+8.1f %+8.1f\n", StageNames[i], d[0][i], d[1][i], d[2][i],
               d[0][i] - d[1][i], d[0][i] - d[2][i]);
    printf("start-up ratio %.2f (of the medians); median of each run's ratio %.2f; against baseline_window %.2f\n\n",
           Ratio(m[0][SnapshotShown], m[1][SnapshotShown]), Median(pairedRatios),
           Ratio(m[0][SnapshotShown], m[2][SnapshotShown]));
    for (int i = 0; i < StageCount; i++) {
        for (int w = 0; w < ProgramCount; w++) {
            printf("RESULT startup_%s_%s_ms %.1f\n", programs[w]->name, StageKeys[i], m[w][i]);
            printf("RESULT startup_%s_%s_step_ms %.1f\n", programs[w]->name, StageKeys[i], d[w][i]);
        }
        printf("RESULT startup_%s_ratio %.2f\n", StageKeys[i], Ratio(m[0][i], m[1][i]));
        printf("RESULT startup_%s_own_ratio %.2f\n", StageKeys[i], Ratio(m[0][i], m[2][i]));
    }
    printf("RESULT startup_runs %zu\n", at[0][SnapshotShown].size());
    printf("RESULT startup_failures %d\n", failures);
    printf("RESULT startup_launcher_median_ms %.1f\n", m[0][SnapshotShown]);
    printf("RESULT startup_baseline_median_ms %.1f\n", m[1][SnapshotShown]);
    printf("RESULT startup_baseline_window_median_ms %.1f\n", m[2][SnapshotShown]);
    printf("RESULT startup_ratio %.2f\n", Ratio(m[0][SnapshotShown], m[1][SnapshotShown]));
    printf("RESULT startup_paired_ratio %.2f\n", Median(pairedRatios));
    printf("RESULT startup_own_ratio %.2f\n", Ratio(m[0][SnapshotShown], m[2][SnapshotShown]));
    fflush(stdout);
    return failures ? 1 : 0;
}

// Under Wine, GetProcessTimes and most memory counters of another process read 0; the Linux process that
// runs the Windows one is then found by its command line under /proc (through Wine's Z: drive), and its
// figures are read there. Nothing of this is used on Windows, where the Windows counters are non-zero.
static int ReadWholeFile(const wchar_t* path, char* out, DWORD bytes)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD got = 0;
    BOOL ok = ReadFile(file, out, bytes - 1, &got, nullptr);
    CloseHandle(file);
    out[ok ? got : 0] = 0;
    return ok ? int(got) : 0;
}

// The Linux pid of the process whose command line names exactly this executable path (Z:\a\b.exe or
// /a/b.exe), or 0.
static int UnixPidOf(const wchar_t* exePath)
{
    char wanted[MAX_PATH];
    WideCharToMultiByte(CP_UTF8, 0, exePath + (exePath[1] == L':' ? 2 : 0), -1, wanted, MAX_PATH, nullptr, nullptr);
    for (char* c = wanted; *c; c++)
        *c = *c == '/' ? '\\' : char(tolower(*c));
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(L"Z:\\proc\\*", &entry);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    int found = 0;
    do {
        int pid = _wtoi(entry.cFileName);
        if (pid <= 0)
            continue;
        wchar_t path[64];
        char commandLine[4096];
        _snwprintf(path, 64, L"Z:\\proc\\%d\\cmdline", pid);
        int bytes = ReadWholeFile(path, commandLine, sizeof commandLine);
        if (bytes <= 0)
            continue;
        for (int i = 0; i < bytes; i++)  // first argument that mentions the path
            commandLine[i] = commandLine[i] == '/' ? '\\' : commandLine[i] ? char(tolower(commandLine[i])) : ' ';
        if (strstr(commandLine, wanted))
            found = pid;
    } while (!found && FindNextFileW(find, &entry));
    FindClose(find);
    return found;
}

// CPU time (user + kernel) in ms: Windows counters, else the Linux process's utime + stime (10 ms steps).
static double CpuMs(HANDLE process, int unixPid)
{
    FILETIME created, exited, kernel, user;
    if (GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        auto ms = [](FILETIME t) { return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0; };
        double total = ms(kernel) + ms(user);
        if (total > 0 || !unixPid)
            return total;
    }
    wchar_t path[64];
    char stat[2048];
    _snwprintf(path, 64, L"Z:\\proc\\%d\\stat", unixPid);
    if (!ReadWholeFile(path, stat, sizeof stat))
        return -1;
    const char* p = strrchr(stat, ')');  // the fields after the command name: state is field 3
    unsigned long long utime = 0, stime = 0;
    if (!p || sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) != 2)
        return -1;
    return double(utime + stime) * 10.0;  // USER_HZ is 100 on Linux
}

static long ProcStatusKiB(int unixPid, const char* key)
{
    wchar_t path[64];
    char status[8192];
    _snwprintf(path, 64, L"Z:\\proc\\%d\\status", unixPid);
    if (!unixPid || !ReadWholeFile(path, status, sizeof status))
        return 0;
    const char* p = strstr(status, key);
    return p ? atol(p + strlen(key)) : 0;
}

struct MemoryFigures {
    double peakWorkingSetKiB;
    double privateKiB;
    DWORD handles;
    DWORD gdiObjects;
    DWORD userObjects;
    DWORD threads;
};

static DWORD ThreadCount(DWORD processId)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    DWORD count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == processId)
            count++;
    CloseHandle(snapshot);
    return count;
}

static MemoryFigures ReadMemory(const PROCESS_INFORMATION& pi, int unixPid)
{
    MemoryFigures m = {};
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(pi.hProcess, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters)) {
        m.peakWorkingSetKiB = double(counters.PeakWorkingSetSize) / 1024.0;
        m.privateKiB = double(counters.PrivateUsage) / 1024.0;
    }
    // Wine fills only the working set: take the Linux figures (peak resident, private anonymous resident).
    if (unixPid && !m.privateKiB) {
        m.peakWorkingSetKiB = double(ProcStatusKiB(unixPid, "VmHWM:"));
        m.privateKiB = double(ProcStatusKiB(unixPid, "RssAnon:"));
    }
    GetProcessHandleCount(pi.hProcess, &m.handles);
    m.gdiObjects = GetGuiResources(pi.hProcess, GR_GDIOBJECTS);
    m.userObjects = GetGuiResources(pi.hProcess, GR_USEROBJECTS);
    m.threads = ThreadCount(pi.dwProcessId);
    return m;
}

static void PrintMemory(const char* who, const char* when, const MemoryFigures& m)
{
    printf("RESULT %s_%s_peak_ws_kib %.0f\n", who, when, m.peakWorkingSetKiB);
    printf("RESULT %s_%s_private_kib %.0f\n", who, when, m.privateKiB);
    printf("RESULT %s_%s_handles %lu\n", who, when, m.handles);
    printf("RESULT %s_%s_gdi_objects %lu\n", who, when, m.gdiObjects);
    printf("RESULT %s_%s_user_objects %lu\n", who, when, m.userObjects);
    printf("RESULT %s_%s_threads %lu\n", who, when, m.threads);
}

// Both programs run side by side, each against a counting server of its own, so that they share the same
// minute of machine noise. Counting of messages starts one second after the first status was shown, so
// that the repaint caused by that first change itself is not counted.
static int RunIdle(int idleSeconds, int firstPoll, int lastPoll)
{
    static const Program* const programs[2] = {&Launcher, &Baseline};
    wchar_t dir[MAX_PATH], exes[2][MAX_PATH];
    ExeDirectory(dir, MAX_PATH);
    const char* names[2];
    for (int i = 0; i < 2; i++) {
        _snwprintf(exes[i], MAX_PATH, L"%ls%ls", dir, programs[i]->exe);
        names[i] = programs[i]->name;
    }

    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(BenchHookCounters),
                                        BENCH_HOOK_MAPPING);
    BenchHookCounters* counters = mapping ? static_cast<BenchHookCounters*>(
                                                MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(BenchHookCounters)))
                                          : nullptr;
    wchar_t hookPath[MAX_PATH];
    _snwprintf(hookPath, MAX_PATH, L"%lsbench_hook.dll", dir);
    HMODULE hookModule = LoadLibraryW(hookPath);
    HOOKPROC callWndProc = hookModule ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(hookModule, "BenchCallWndProc"))) : nullptr;
    HOOKPROC getMessageProc = hookModule ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(hookModule, "BenchGetMessageProc"))) : nullptr;
    if (!counters || !callWndProc || !getMessageProc) {
        printf("idle: hook DLL or counters unavailable\n");
        return 1;
    }

    HANDLE mutex = PretendSupervisorRuns();
    BenchServer servers[2] = {};
    Subject subjects[2] = {};
    HHOOK hooks[4] = {};
    int ok = 1;
    for (int i = 0; i < 2 && ok; i++) {
        subjects[i].program = programs[i];
        ok = StartBenchServer(&servers[i], IdleDocument);
        if (ok) {
            SetPortVariable(servers[i].port);
            ok = LaunchAndWaitShown(&subjects[i], exes[i], dir);
        }
    }
    if (!ok) {
        printf("idle: a window did not show its first status\n");
        for (int i = 0; i < 2; i++)
            if (subjects[i].process.hProcess)
                EndProcess(&subjects[i].process, subjects[i].window);
        return 1;
    }
    for (int i = 0; i < 2; i++) {
        DWORD thread = GetWindowThreadProcessId(subjects[i].window, nullptr);
        counters->threadId[i] = LONG(thread);
        hooks[2 * i] = SetWindowsHookExW(WH_CALLWNDPROC, callWndProc, hookModule, thread);
        hooks[2 * i + 1] = SetWindowsHookExW(WH_GETMESSAGE, getMessageProc, hookModule, thread);
        if (!hooks[2 * i] || !hooks[2 * i + 1])
            printf("idle: hook on %s failed (%lu)\n", names[i], GetLastError());
        // A message to each window makes the system load the hook DLL there before counting starts.
        SendMessageTimeoutW(subjects[i].window, WM_NULL, 0, 0, SMTO_BLOCK, 2000, nullptr);
    }
    int unixPids[2] = {UnixPidOf(exes[0]), UnixPidOf(exes[1])};
    printf("RESULT figures_source %s\n", unixPids[0] && unixPids[1] ? "linux-proc-where-windows-reads-0" : "windows");
    Sleep(1000);
    double cpu0[2], cpu1[2];
    LONG polls0[2], polls1[2];
    for (int i = 0; i < 2; i++) {
        counters->setText[i] = counters->paint[i] = 0;
        cpu0[i] = CpuMs(subjects[i].process.hProcess, unixPids[i]);
        polls0[i] = servers[i].statusRequests;
    }
    double idleStart = NowMs();
    Sleep(DWORD(idleSeconds) * 1000);
    for (int i = 0; i < 2; i++) {
        cpu1[i] = CpuMs(subjects[i].process.hProcess, unixPids[i]);
        polls1[i] = servers[i].statusRequests;
    }
    double idleMs = NowMs() - idleStart;
    LONG setText[2] = {counters->setText[0], counters->setText[1]};
    LONG paint[2] = {counters->paint[0], counters->paint[1]};
    // Proof that the counting works at all: a repaint forced from outside must be counted.
    for (int i = 0; i < 2; i++) {
        RedrawWindow(subjects[i].window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
        SendMessageTimeoutW(subjects[i].window, WM_NULL, 0, 0, SMTO_BLOCK, 2000, nullptr);
    }
    Sleep(500);
    for (int i = 0; i < 2; i++)
        printf("RESULT %s_hook_check_paints %ld\n", names[i], long(counters->paint[i] - paint[i]));
    printf("RESULT idle_seconds %.1f\n", idleMs / 1000.0);
    for (int i = 0; i < 2; i++) {
        printf("RESULT %s_first_status_ms %.1f\n", names[i], subjects[i].at[SnapshotShown]);
        printf("RESULT %s_idle_cpu_ms %.1f\n", names[i], cpu1[i] - cpu0[i]);
        printf("RESULT %s_idle_requests %ld\n", names[i], long(polls1[i] - polls0[i]));
        printf("RESULT %s_idle_wm_settext %ld\n", names[i], long(setText[i]));
        printf("RESULT %s_idle_wm_paint %ld\n", names[i], long(paint[i]));
    }
    double base = cpu1[1] - cpu0[1];
    printf("RESULT idle_cpu_ratio %.2f\n", base > 0 ? (cpu1[0] - cpu0[0]) / base : 0.0);
    fflush(stdout);

    // Memory: figures at the first poll mark and at the last, for both programs.
    MemoryFigures atFirst[2] = {}, atLast[2] = {};
    int haveFirst[2] = {0, 0}, haveLast[2] = {0, 0};
    // A poll comes every 2 s plus the tick phase and the request (about 2.2 s here): allow 2.5 s each.
    DWORD deadline = GetTickCount() + DWORD(lastPoll) * 2500 + 120000;
    while ((!haveLast[0] || !haveLast[1]) && GetTickCount() < deadline) {
        for (int i = 0; i < 2; i++) {
            LONG polls = servers[i].statusRequests;
            if (!haveFirst[i] && polls >= firstPoll) {
                atFirst[i] = ReadMemory(subjects[i].process, unixPids[i]);
                haveFirst[i] = 1;
            }
            if (!haveLast[i] && polls >= lastPoll) {
                atLast[i] = ReadMemory(subjects[i].process, unixPids[i]);
                haveLast[i] = 1;
                printf("memory: %s reached poll %d\n", names[i], lastPoll);
                fflush(stdout);
            }
        }
        Sleep(200);
    }
    printf("RESULT memory_first_poll %d\n", firstPoll);
    printf("RESULT memory_last_poll %d\n", lastPoll);
    for (int i = 0; i < 2; i++) {
        PrintMemory(names[i], "first", atFirst[i]);
        PrintMemory(names[i], "last", atLast[i]);
        printf("RESULT %s_private_growth_kib %.0f\n", names[i], atLast[i].privateKiB - atFirst[i].privateKiB);
    }
    printf("RESULT memory_peak_ws_ratio %.2f\n",
           atLast[1].peakWorkingSetKiB > 0 ? atLast[0].peakWorkingSetKiB / atLast[1].peakWorkingSetKiB : 0.0);
    printf("RESULT memory_private_ratio %.2f\n",
           atLast[1].privateKiB > 0 ? atLast[0].privateKiB / atLast[1].privateKiB : 0.0);
    fflush(stdout);

    for (HHOOK hook : hooks)
        if (hook)
            UnhookWindowsHookEx(hook);
    for (int i = 0; i < 2; i++) {
        EndProcess(&subjects[i].process, subjects[i].window);
        StopBenchServer(&servers[i]);
    }
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return haveLast[0] && haveLast[1] ? 0 : 1;
}

// Processes whose image is one of the installation's (launcher.exe or node.exe) still alive.
static int CountInstallationProcesses()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (!_wcsicmp(entry.szExeFile, L"launcher.exe") || !_wcsicmp(entry.szExeFile, L"node.exe"))
            count++;
    CloseHandle(snapshot);
    return count;
}

static int MutexExists(const wchar_t* name)
{
    HANDLE h = OpenMutexW(SYNCHRONIZE, FALSE, name);
    if (h)
        CloseHandle(h);
    return h != nullptr;
}

static int TimeStop(const wchar_t* exe, const wchar_t* dir, double* ms, DWORD* exitCode)
{
    PROCESS_INFORMATION pi = {};
    double started = NowMs();
    if (!StartProcess(exe, L"--stop", dir, &pi))
        return 0;
    WaitForSingleObject(pi.hProcess, 30000);
    *ms = NowMs() - started;
    *exitCode = 99;
    GetExitCodeProcess(pi.hProcess, exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 1;
}

// True once something accepts connections on 127.0.0.1:port.
static int WaitPortOpen(uint16_t port, DWORD timeoutMs)
{
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    DWORD until = GetTickCount() + timeoutMs;
    do {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        int ok = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        closesocket(s);
        if (ok)
            return 1;
        Sleep(100);
    } while (GetTickCount() < until);
    return 0;
}

// Starts a program of the installation with the tail and returns the time of "--stop" once it is up.
static double TimeStopOf(const wchar_t* installation, const wchar_t* tail, uint16_t port, int* failures)
{
    wchar_t exe[MAX_PATH];
    _snwprintf(exe, MAX_PATH, L"%ls\\launcher.exe", installation);
    PROCESS_INFORMATION pi = {};
    HWND window = nullptr;
    if (!StartProcess(exe, tail, installation, &pi)) {
        (*failures)++;
        return 0;
    }
    if (tail[0]) {
        if (!WaitPortOpen(port, 60000))
            (*failures)++;
    } else {
        DWORD until = GetTickCount() + WindowWaitMs;
        while (!(window = FindProcessWindow(pi.dwProcessId, Launcher.className)) && GetTickCount() < until)
            Sleep(10);
        Sleep(500);  // past the supervisor's own start, which fails at once without a runtime
    }
    double ms = 0;
    DWORD code = 99;
    TimeStop(exe, installation, &ms, &code);
    if (code != 0)
        (*failures)++;
    EndProcess(&pi, nullptr);
    return ms;
}

// Window, supervisor and connector of a real installation are started, and the stop command is timed.
// For the reason of the figure, the same with the supervisor and connector only, and with the window only
// (a second installation without runtime).
static int RunStop(const wchar_t* installation, int runs, const wchar_t* windowOnly)
{
    wchar_t exe[MAX_PATH];
    _snwprintf(exe, MAX_PATH, L"%ls\\launcher.exe", installation);
    std::vector<double> running, idle;
    int failures = 0;
    for (int run = 0; run < runs; run++) {
        Subject subject = {};
        subject.program = &Launcher;
        if (!LaunchAndWaitShown(&subject, exe, installation)) {
            printf("stop run %d: the window showed no status\n", run + 1);
            failures++;
        }
        // The supervisor's mutex exists once the supervisor has started; the status shown proves the
        // connector answers.
        for (int i = 0; i < 100 && !MutexExists(L"Local\\ostrel.tovix-connector"); i++)
            Sleep(50);
        int before = CountInstallationProcesses();
        double ms = 0;
        DWORD code = 99;
        TimeStop(exe, installation, &ms, &code);
        WaitForSingleObject(subject.process.hProcess, 5000);
        Sleep(200);
        int after = CountInstallationProcesses();
        printf("stop run %d: %.1f ms, exit code %lu, processes %d before, %d after\n", run + 1, ms, code, before,
               after);
        if (code != 0 || after != 0)
            failures++;
        running.push_back(ms);
        if (subject.process.hProcess)
            EndProcess(&subject.process, nullptr);
    }
    for (int run = 0; run < runs; run++) {
        double ms = 0;
        DWORD code = 99;
        TimeStop(exe, installation, &ms, &code);
        if (code != 0)
            failures++;
        idle.push_back(ms);
    }
    wchar_t portText[8] = L"";
    GetEnvironmentVariableW(L"TOVIX_MOBILE_CONNECTOR_PORT", portText, 8);
    uint16_t port = uint16_t(_wtoi(portText));
    std::vector<double> supervisorOnly, windowAlone;
    for (int run = 0; run < runs && port; run++)
        supervisorOnly.push_back(TimeStopOf(installation, L"--background", port, &failures));
    for (int run = 0; run < runs && windowOnly; run++)
        windowAlone.push_back(TimeStopOf(windowOnly, L"", port, &failures));
    printf("RESULT stop_supervisor_only_median_ms %.1f\n", Median(supervisorOnly));
    printf("RESULT stop_window_only_median_ms %.1f\n", Median(windowAlone));
    printf("RESULT stop_runs %d\n", runs);
    printf("RESULT stop_failures %d\n", failures);
    printf("RESULT stop_running_median_ms %.1f\n", Median(running));
    printf("RESULT stop_nothing_median_ms %.1f\n", Median(idle));
    fflush(stdout);
    return failures ? 1 : 0;
}

int wmain(int argc, wchar_t** argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc >= 3 && !wcscmp(argv[1], L"startup"))
        return RunStartup(_wtoi(argv[2]));
    if (argc >= 5 && !wcscmp(argv[1], L"idle"))
        return RunIdle(_wtoi(argv[2]), _wtoi(argv[3]), _wtoi(argv[4]));
    if (argc >= 4 && !wcscmp(argv[1], L"stop"))
        return RunStop(argv[2], _wtoi(argv[3]), argc >= 5 ? argv[4] : nullptr);
    fprintf(stderr, "usage: bench_probe startup <runs> | idle <seconds> <first poll> <last poll> | "
                    "stop <installation> <runs> [<installation without runtime>]\n");
    return 2;
}
