// Process and window helpers for the Windows tests that drive real launcher.exe processes: starting a
// program with a given command line and environment, waiting for it, telling whether a pid lives,
// killing, listing the processes of one image, finding a top-level window, polling for a condition.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

// One change to the environment a process is started with: value null removes the variable.
struct EnvironmentChange {
    const wchar_t* name;
    const wchar_t* value;
};

struct StartedProcess {
    HANDLE process;  // null when the start failed
    DWORD pid;
};

// Starts image with exactly this command line and this process's environment changed as given.
StartedProcess StartProcess(const std::wstring& image, const std::wstring& commandLine,
                            const std::vector<EnvironmentChange>& environment = {});
// Starts "\"image\" tail" (just "\"image\"" for an empty tail).
StartedProcess StartWithTail(const std::wstring& image, const std::wstring& tail,
                             const std::vector<EnvironmentChange>& environment = {});

// StartWithTail inside job: created suspended and assigned before it runs, so that everything it starts
// begins inside the job too (unless it breaks away).
StartedProcess StartWithTailInJob(HANDLE job, const std::wstring& image, const std::wstring& tail);

// True, with the exit code, when the process ended within the timeout.
bool WaitForExit(HANDLE process, DWORD timeoutMs, DWORD* exitCode = nullptr);
// Kills the process if it still runs, waits for it, closes the handle.
void KillAndClose(StartedProcess* started);
// Closes the handle without touching the process.
void CloseStarted(StartedProcess* started);

bool IsProcessAlive(DWORD pid);
// True when the process with this pid has ended (or never existed) within the timeout.
bool WaitForPidEnd(DWORD pid, DWORD timeoutMs);
void KillPid(DWORD pid);

// How many handles this process has open, found by probing every handle value up to 0x4000 (Wine's
// GetProcessHandleCount always reports 0). Compare counts taken around an operation to find leaks.
DWORD CountOwnHandles();

// Pids of the running processes whose image is this path (compared without regard to case).
std::vector<DWORD> ProcessesOfImage(const std::wstring& imagePath);
// Pids of running processes whose image lies inside this directory.
std::vector<DWORD> ProcessesUnder(const std::wstring& directory);

// A visible or hidden top-level window of this class owned by process pid (0: any process), waiting up
// to timeoutMs for it to appear; null when none did.
HWND FindTopWindow(const wchar_t* className, DWORD pid, DWORD timeoutMs);
std::wstring WindowText(HWND window);

// Polls condition every stepMs until it holds or timeoutMs have passed; returns its last value.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD stepMs = 50);

// Directory of the running test program (where launcher.exe and node_double.exe are built).
std::wstring TestProgramDirectory();

// Whole-file helpers; ReadWholeFile gives "" for a missing file (see FileExists).
std::string ReadWholeFile(const std::wstring& path);
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& text);

// A control as a user sees it: its text, and its own WS_VISIBLE and WS_DISABLED styles.
std::wstring TextOf(HWND control);
int IsShown(HWND control);
int IsEnabled(HWND control);
