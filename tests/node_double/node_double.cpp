// Test double for runtime\node.exe. Started by the supervisor like the real runtime, it reports on its
// standard output (connector.log) what it received: its pid and parent pid, command line, working
// directory, TOVIX_MOBILE_CONNECTOR_PORT, what its standard input is, and whether the connector secret it
// was given is the one published for the windows (never the secret itself: this is connector.log). It also appends its pid to
// app\double-starts.txt, so that tests can count how many connectors were started.
//
// Behaviour, chosen by the first word of app\double-mode.txt in the installation (the directory above
// runtime\):
//   run         (default) runs until killed
//   exit        exits at once with code 7
//   grandchild  starts a copy of itself that runs until killed, reports its pid, then runs until killed
// The copy is started with the tail "--double-sleep" and only sleeps.
#include <windows.h>
#include <tlhelp32.h>

static HANDLE output;

static void WriteText(const wchar_t* text)
{
    char utf8[8192];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    if (n <= 1)
        return;
    DWORD written = 0;
    WriteFile(output, utf8, (DWORD)(n - 1), &written, nullptr);
}

static void WriteLine(const wchar_t* key, const wchar_t* value)
{
    WriteText(key);
    WriteText(L"=");
    WriteText(value);
    WriteText(L"\r\n");
}

static void WriteNumberLine(const wchar_t* key, DWORD value)
{
    wchar_t text[16];
    wsprintfW(text, L"%lu", value);
    WriteLine(key, text);
}

// "published" when TOVIX_MOBILE_CONNECTOR_TOKEN holds 64 characters that equal the published mapping,
// "unset", or "not published".
static const wchar_t* DescribeSecret()
{
    wchar_t given[128];
    DWORD n = GetEnvironmentVariableW(L"TOVIX_MOBILE_CONNECTOR_TOKEN", given, 128);
    if (n == 0 || n >= 128)
        return L"unset";
    const wchar_t* verdict = L"not published";
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, L"Local\\ostrel.tovix-connector.secret");
    const wchar_t* published = mapping ? (const wchar_t*)MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
    if (published && n == 64 && lstrcmpW(published, given) == 0)
        verdict = L"published";
    if (published)
        UnmapViewOfFile(published);
    if (mapping)
        CloseHandle(mapping);
    SecureZeroMemory(given, sizeof given);
    return verdict;
}

static DWORD ParentProcessId()
{
    DWORD self = GetCurrentProcessId();
    DWORD parent = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == self) {
            parent = entry.th32ParentProcessID;
            break;
        }
    }
    CloseHandle(snapshot);
    return parent;
}

// "nul" only for a character device that is not a console and reads as empty at once.
static const wchar_t* DescribeStandardInput()
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (!input || input == INVALID_HANDLE_VALUE)
        return L"none";
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode))
        return L"console";
    switch (GetFileType(input)) {
    case FILE_TYPE_CHAR: {
        char byte;
        DWORD read = 1;
        if (ReadFile(input, &byte, 1, &read, nullptr) && read == 0)
            return L"nul";
        return L"char";
    }
    case FILE_TYPE_PIPE:
        return L"pipe";
    case FILE_TYPE_DISK:
        return L"disk";
    default:
        return L"unknown";
    }
}

// The installation directory: two levels above this program (<dir>\runtime\node.exe).
static void InstallationDirectory(wchar_t* path, DWORD capacity)
{
    DWORD n = GetModuleFileNameW(nullptr, path, capacity);
    if (n == 0 || n >= capacity) {
        path[0] = 0;
        return;
    }
    for (int cuts = 0; cuts < 2; ++cuts) {
        wchar_t* last = nullptr;
        for (wchar_t* at = path; *at; ++at)
            if (*at == L'\\')
                last = at;
        if (last)
            *last = 0;
    }
}

static void ReadMode(const wchar_t* directory, char* mode, DWORD capacity)
{
    wchar_t path[4200];
    wsprintfW(path, L"%s\\app\\double-mode.txt", directory);
    mode[0] = 0;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD read = 0;
    ReadFile(file, mode, capacity - 1, &read, nullptr);
    CloseHandle(file);
    mode[read] = 0;
    for (DWORD i = 0; i < read; ++i)
        if (mode[i] == ' ' || mode[i] == '\r' || mode[i] == '\n')
            mode[i] = 0;
}

static void RecordStart(const wchar_t* directory)
{
    wchar_t path[4200];
    wsprintfW(path, L"%s\\app\\double-starts.txt", directory);
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    char line[32];
    int n = wsprintfA(line, "%lu\r\n", GetCurrentProcessId());
    DWORD written = 0;
    WriteFile(file, line, (DWORD)n, &written, nullptr);
    CloseHandle(file);
}

static DWORD StartGrandchild()
{
    wchar_t self[4096];
    DWORD n = GetModuleFileNameW(nullptr, self, 4096);
    if (n == 0 || n >= 4096)
        return 0;
    wchar_t commandLine[4200];
    wsprintfW(commandLine, L"\"%s\" --double-sleep", self);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW(self, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &child))
        return 0;
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return child.dwProcessId;
}

static int EndsWith(const wchar_t* text, const wchar_t* suffix)
{
    int a = lstrlenW(text), b = lstrlenW(suffix);
    return a >= b && lstrcmpW(text + a - b, suffix) == 0;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const wchar_t* commandLine = GetCommandLineW();
    if (EndsWith(commandLine, L" --double-sleep")) {
        Sleep(INFINITE);
        return 0;
    }
    output = GetStdHandle(STD_OUTPUT_HANDLE);

    wchar_t directory[4096];
    InstallationDirectory(directory, 4096);
    char mode[32];
    ReadMode(directory, mode, sizeof mode);
    if (!mode[0])
        lstrcpyA(mode, "run");

    WriteNumberLine(L"pid", GetCurrentProcessId());
    WriteNumberLine(L"parent-pid", ParentProcessId());
    WriteLine(L"command-line", commandLine);
    wchar_t cwd[4096];
    DWORD n = GetCurrentDirectoryW(4096, cwd);
    WriteLine(L"cwd", n > 0 && n < 4096 ? cwd : L"<unknown>");
    wchar_t port[64];
    n = GetEnvironmentVariableW(L"TOVIX_MOBILE_CONNECTOR_PORT", port, 64);
    WriteLine(L"port", n > 0 && n < 64 ? port : L"<unset>");
    WriteLine(L"stdin", DescribeStandardInput());
    WriteLine(L"secret", DescribeSecret());
    wchar_t wideMode[32];
    MultiByteToWideChar(CP_UTF8, 0, mode, -1, wideMode, 32);
    WriteLine(L"mode", wideMode);
    RecordStart(directory);

    if (lstrcmpA(mode, "exit") == 0) {
        WriteLine(L"ready", L"exit");
        return 7;
    }
    if (lstrcmpA(mode, "grandchild") == 0)
        WriteNumberLine(L"grandchild-pid", StartGrandchild());
    WriteLine(L"ready", L"run");
    Sleep(INFINITE);
    return 0;
}
