// Process and window helpers for the Windows tests (see process_util.h).
#include "process_util.h"
#include <tlhelp32.h>
#include <map>

static std::wstring UpperCase(std::wstring text)
{
    if (!text.empty())
        CharUpperBuffW(&text[0], (DWORD)text.size());
    return text;
}

// A copy of this process's environment, keyed without regard to case, with the changes applied.
static std::vector<wchar_t> BuildEnvironment(const std::vector<EnvironmentChange>& changes)
{
    std::map<std::wstring, std::wstring> variables;  // upper-case name -> "Name=value"
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* at = block; *at; at += wcslen(at) + 1) {
        std::wstring entry = at;
        size_t equals = entry.find(L'=', 1);  // names like "=C:" start with '='
        if (equals == std::wstring::npos)
            continue;
        variables[UpperCase(entry.substr(0, equals))] = entry;
    }
    FreeEnvironmentStringsW(block);
    for (const auto& change : changes) {
        std::wstring key = UpperCase(change.name);
        if (change.value)
            variables[key] = std::wstring(change.name) + L"=" + change.value;
        else
            variables.erase(key);
    }
    std::vector<wchar_t> result;
    for (const auto& entry : variables) {
        result.insert(result.end(), entry.second.begin(), entry.second.end());
        result.push_back(0);
    }
    result.push_back(0);
    return result;
}

// Starts the process, inside job when one is given.
static StartedProcess StartProcessIn(HANDLE job, const std::wstring& image, const std::wstring& commandLine,
                                     const std::vector<EnvironmentChange>& environment)
{
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    std::vector<wchar_t> block = BuildEnvironment(environment);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    StartedProcess started = {nullptr, 0};
    DWORD flags = CREATE_UNICODE_ENVIRONMENT | (job ? CREATE_SUSPENDED : 0);
    if (!CreateProcessW(image.c_str(), line.data(), nullptr, nullptr, FALSE, flags, block.data(), nullptr, &startup,
                        &info))
        return started;
    if (job && (!AssignProcessToJobObject(job, info.hProcess) || ResumeThread(info.hThread) == (DWORD)-1)) {
        TerminateProcess(info.hProcess, 99);
        WaitForSingleObject(info.hProcess, 10000);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        return started;
    }
    CloseHandle(info.hThread);
    started.process = info.hProcess;
    started.pid = info.dwProcessId;
    return started;
}

StartedProcess StartProcess(const std::wstring& image, const std::wstring& commandLine,
                            const std::vector<EnvironmentChange>& environment)
{
    return StartProcessIn(nullptr, image, commandLine, environment);
}

static std::wstring LineWithTail(const std::wstring& image, const std::wstring& tail)
{
    std::wstring line = L"\"" + image + L"\"";
    if (!tail.empty())
        line += L" " + tail;
    return line;
}

StartedProcess StartWithTail(const std::wstring& image, const std::wstring& tail,
                             const std::vector<EnvironmentChange>& environment)
{
    return StartProcess(image, LineWithTail(image, tail), environment);
}

StartedProcess StartWithTailInJob(HANDLE job, const std::wstring& image, const std::wstring& tail)
{
    return StartProcessIn(job, image, LineWithTail(image, tail), {});
}

bool WaitForExit(HANDLE process, DWORD timeoutMs, DWORD* exitCode)
{
    if (!process || WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0)
        return false;
    if (exitCode)
        GetExitCodeProcess(process, exitCode);
    return true;
}

void KillAndClose(StartedProcess* started)
{
    if (!started->process)
        return;
    if (WaitForSingleObject(started->process, 0) != WAIT_OBJECT_0) {
        TerminateProcess(started->process, 99);
        WaitForSingleObject(started->process, 10000);
    }
    CloseStarted(started);
}

void CloseStarted(StartedProcess* started)
{
    if (started->process)
        CloseHandle(started->process);
    started->process = nullptr;
}

bool IsProcessAlive(DWORD pid)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process)
        return false;
    bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return alive;
}

bool WaitForPidEnd(DWORD pid, DWORD timeoutMs)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process)
        return true;
    bool ended = WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

void KillPid(DWORD pid)
{
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (!process)
        return;
    TerminateProcess(process, 99);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
}

DWORD CountOwnHandles()
{
    DWORD count = 0;
    DWORD flags = 0;
    for (uintptr_t value = 4; value < 0x4000; value += 4)
        count += GetHandleInformation((HANDLE)value, &flags) ? 1 : 0;
    return count;
}

static std::wstring ImageOf(DWORD pid)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return L"";
    wchar_t path[4096];
    DWORD size = 4096;
    std::wstring image;
    if (QueryFullProcessImageNameW(process, 0, path, &size))
        image.assign(path, size);
    CloseHandle(process);
    return image;
}

static std::vector<DWORD> ProcessesWhere(const std::function<bool(const std::wstring&)>& match)
{
    std::vector<DWORD> pids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return pids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        std::wstring image = UpperCase(ImageOf(entry.th32ProcessID));
        if (!image.empty() && match(image) && IsProcessAlive(entry.th32ProcessID))
            pids.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return pids;
}

std::vector<DWORD> ProcessesOfImage(const std::wstring& imagePath)
{
    std::wstring wanted = UpperCase(imagePath);
    return ProcessesWhere([&](const std::wstring& image) { return image == wanted; });
}

std::vector<DWORD> ProcessesUnder(const std::wstring& directory)
{
    std::wstring prefix = UpperCase(directory) + L"\\";
    return ProcessesWhere([&](const std::wstring& image) { return image.compare(0, prefix.size(), prefix) == 0; });
}

struct WindowSearch {
    const wchar_t* className;
    DWORD pid;
    HWND found;
};

static BOOL CALLBACK MatchWindow(HWND window, LPARAM context)
{
    WindowSearch* search = (WindowSearch*)context;
    wchar_t name[256];
    if (!GetClassNameW(window, name, 256) || lstrcmpW(name, search->className) != 0)
        return TRUE;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (search->pid && owner != search->pid)
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindTopWindow(const wchar_t* className, DWORD pid, DWORD timeoutMs)
{
    WindowSearch search = {className, pid, nullptr};
    WaitUntil(
        [&] {
            search.found = nullptr;
            EnumWindows(MatchWindow, (LPARAM)&search);
            return search.found != nullptr;
        },
        timeoutMs);
    return search.found;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[1024];
    int n = GetWindowTextW(window, text, 1024);
    return std::wstring(text, n > 0 ? n : 0);
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD stepMs)
{
    ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount64() >= end)
            return false;
        Sleep(stepMs);
    }
}

std::wstring TestProgramDirectory()
{
    wchar_t path[4096];
    DWORD n = GetModuleFileNameW(nullptr, path, 4096);
    std::wstring text(path, n);
    return text.substr(0, text.rfind(L'\\'));
}

std::string ReadWholeFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "";
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
        bytes.append(chunk, read);
    CloseHandle(file);
    return bytes;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr) && written == bytes.size();
    CloseHandle(file);
    return ok;
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring Widen(const std::string& utf8)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), nullptr, 0);
    std::wstring text(n, 0);
    if (n)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &text[0], n);
    return text;
}

std::string Narrow(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string bytes(n, 0);
    if (n)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &bytes[0], n, nullptr, nullptr);
    return bytes;
}

std::wstring TextOf(HWND control)
{
    wchar_t buffer[4096];
    buffer[0] = 0;
    GetWindowTextW(control, buffer, 4096);
    return buffer;
}

int IsShown(HWND control)
{
    return (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

int IsEnabled(HWND control)
{
    return (GetWindowLongW(control, GWL_STYLE) & WS_DISABLED) == 0;
}
