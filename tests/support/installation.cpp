// Temporary installations for process tests (see installation.h).
#include "installation.h"
#include "process_util.h"

static int installationCount;

static bool Copy(const std::wstring& from, const std::wstring& to)
{
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
}

static void RemoveTree(const std::wstring& directory)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((directory + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = directory + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(directory.c_str());
}

bool CreateInstallation(Installation* installation, bool withRuntime)
{
    wchar_t temp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    std::wstring base(temp, n);
    if (!base.empty() && base.back() == L'\\')
        base.pop_back();
    wchar_t name[64];
    wsprintfW(name, L"\\tovix test %lu-%d", GetCurrentProcessId(), ++installationCount);
    installation->directory = base + name;
    installation->launcher = installation->directory + L"\\launcher.exe";
    installation->runtime = installation->directory + L"\\runtime\\node.exe";
    installation->log = installation->directory + L"\\connector.log";

    // Process ids repeat from one Wine session to the next: a run that was killed may have left a
    // directory of this name behind.
    RemoveTree(installation->directory);
    std::wstring programs = TestProgramDirectory();
    if (!CreateDirectoryW(installation->directory.c_str(), nullptr) ||
        !CreateDirectoryW((installation->directory + L"\\runtime").c_str(), nullptr) ||
        !CreateDirectoryW((installation->directory + L"\\app").c_str(), nullptr))
        return false;
    if (!Copy(programs + L"\\launcher.exe", installation->launcher))
        return false;
    if (withRuntime && !Copy(programs + L"\\node_double.exe", installation->runtime))
        return false;
    return WriteWholeFile(installation->directory + L"\\app\\connector.js", "");
}

void SetDoubleMode(const Installation& installation, const char* mode)
{
    WriteWholeFile(installation.directory + L"\\app\\double-mode.txt", mode);
}

std::string ReadConnectorLog(const Installation& installation)
{
    return ReadWholeFile(installation.log);
}

std::string ReportValue(const std::string& report, const char* key)
{
    std::string prefix = std::string(key) + "=";
    size_t at = 0;
    while (at < report.size()) {
        size_t end = report.find("\r\n", at);
        if (end == std::string::npos)
            end = report.size();
        if (report.compare(at, prefix.size(), prefix) == 0)
            return report.substr(at + prefix.size(), end - at - prefix.size());
        at = end + 2;
    }
    return "";
}

std::string WaitForReport(const Installation& installation, DWORD timeoutMs)
{
    std::string report;
    bool ready = WaitUntil(
        [&] {
            report = ReadConnectorLog(installation);
            return !ReportValue(report, "ready").empty();
        },
        timeoutMs);
    return ready ? report : "";
}

int CountConnectorStarts(const Installation& installation)
{
    std::string starts = ReadWholeFile(installation.directory + L"\\app\\double-starts.txt");
    int lines = 0;
    for (char c : starts)
        lines += c == '\n';
    return lines;
}

int RunStop(const Installation& installation)
{
    StartedProcess stop = StartWithTail(installation.launcher, L"--stop");
    if (!stop.process)
        return -2;
    DWORD code = 0;
    bool ended = WaitForExit(stop.process, 20000, &code);
    KillAndClose(&stop);
    return ended ? (int)code : -1;
}

void RemoveInstallation(Installation* installation)
{
    if (installation->directory.empty())
        return;
    RunStop(*installation);
    // Whatever did not end by itself: a window still showing a message box, or a test's leftovers.
    for (int round = 0; round < 3; ++round) {
        std::vector<DWORD> left = ProcessesUnder(installation->directory);
        if (left.empty())
            break;
        for (DWORD pid : left)
            KillPid(pid);
    }
    WaitUntil(
        [&] {
            RemoveTree(installation->directory);
            return !FileExists(installation->directory);
        },
        5000, 200);
    installation->directory.clear();
}
