// Soak and faults against real launcher.exe processes in a temporary installation with the Node.js double:
// many cycles of window start, connector up, "--stop"; and the faults a user's machine produces - the
// supervisor killed while it sets up, the connector killed, two windows started at once, a stop issued
// while a window starts, connector.log held open by another program, app\connector.js missing. Every stop
// must return 0 and every case must end with nothing left running from the installation.
//   TOVIX_SOAK_CYCLES  number of start/stop cycles (default 10; the long run uses 100)
//   TOVIX_SOAK_RANDOM_STOPS  stops after random delays of 0-400 ms that StopWhileAWindowStarts adds to its
//                      fixed ones (default 0); --gtest_random_seed repeats a sequence
//   TOVIX_SOAK_NODE    optional path of the real Windows node.exe: the missing-script case then also runs
//                      with it
//   TOVIX_SOAK_APP     optional directory of the reference connector (with its node_modules): with
//                      TOVIX_SOAK_NODE, TOVIX_SOAK_REAL_CYCLES cycles (default 20) run with the real connector
#include <gtest/gtest.h>
#include <stdlib.h>
#include "installation.h"
#include "loopback_server.h"
#include "named_objects.h"
#include "process_util.h"

namespace {

const wchar_t MainWindowClass[] = L"TovixMobileConnectorWindow";
const wchar_t MessageBoxClass[] = L"#32770";
const DWORD StartTimeoutMs = 15000;

int EnvironmentNumber(const wchar_t* name, int fallback)
{
    wchar_t text[16];
    DWORD n = GetEnvironmentVariableW(name, text, 16);
    int value = n > 0 && n < 16 ? _wtoi(text) : 0;
    return value > 0 ? value : fallback;
}

bool BackgroundMutexExists()
{
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, BackgroundMutexName);
    if (mutex)
        CloseHandle(mutex);
    return mutex != nullptr;
}

// While any process still holds the signalled stop event, a new window refuses to open (and shows its
// error box); the event goes only with the last handle, which a process may close a moment after its
// mutex was released and the stop command returned.
bool StopEventExists()
{
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, StopEventName);
    if (event)
        CloseHandle(event);
    return event != nullptr;
}

bool NothingLeft(const Installation& installation)
{
    return WaitUntil([&] { return ProcessesUnder(installation.directory).empty(); }, 10000);
}

std::string Describe(const std::vector<DWORD>& pids)
{
    std::string text;
    for (DWORD pid : pids)
        text += std::to_string(pid) + " ";
    return text.empty() ? "none" : text;
}

// The pid of the connector double of the current connector start, from its report.
DWORD ConnectorPid(const Installation& installation)
{
    return DWORD(strtoul(ReportValue(WaitForReport(installation, StartTimeoutMs), "pid").c_str(), nullptr, 10));
}

// A window whose open failed shows the start-up error box; OK dismisses it as a user would.
void DismissErrorBox(DWORD pid)
{
    HWND box = FindTopWindow(MessageBoxClass, pid, 100);
    if (box)
        PostMessageW(box, WM_COMMAND, IDOK, 0);
}

bool CopyTree(const std::wstring& from, const std::wstring& to)
{
    CreateDirectoryW(to.c_str(), nullptr);
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((from + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ok = CopyTree(from + L"\\" + name, to + L"\\" + name) && ok;
        else
            ok = CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE) && ok;
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return ok;
}

// The text of the window's status pill (the static whose text starts with the dot).
std::wstring PillText(HWND window)
{
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        std::wstring text = WindowText(child);
        if (!text.empty() && text[0] == L'\u25CF')
            return text;
    }
    return L"";
}

class Soak : public ::testing::Test {
protected:
    Installation installation;
    void SetUp() override { ASSERT_TRUE(CreateInstallation(&installation)); }
    void TearDown() override
    {
        std::vector<DWORD> left = ProcessesUnder(installation.directory);
        EXPECT_TRUE(left.empty()) << "left running: " << Describe(left);
        RemoveInstallation(&installation);
    }

    // Starts a window and waits until it shows and its supervisor's connector has reported (the n-th
    // connector start of this installation).
    StartedProcess StartWindowWithConnector(int connectorStarts)
    {
        StartedProcess window = StartWithTail(installation.launcher, L"");
        EXPECT_NE(FindTopWindow(MainWindowClass, window.pid, StartTimeoutMs), nullptr);
        EXPECT_TRUE(WaitUntil([&] { return CountConnectorStarts(installation) >= connectorStarts; }, StartTimeoutMs));
        EXPECT_FALSE(WaitForReport(installation, StartTimeoutMs).empty());
        return window;
    }

    void StopAndExpectAllEnded(StartedProcess* window)
    {
        EXPECT_EQ(RunStop(installation), 0);
        DWORD code = 99;
        EXPECT_TRUE(WaitForExit(window->process, 5000, &code));
        EXPECT_EQ(code, 0u);
        KillAndClose(window);
        EXPECT_TRUE(NothingLeft(installation)) << Describe(ProcessesUnder(installation.directory));
        EXPECT_FALSE(BackgroundMutexExists());
        EXPECT_TRUE(WaitUntil([] { return !StopEventExists(); }, 5000)) << "the stop event outlived its holders";
    }
};

TEST_F(Soak, WindowStartAndStopCycles)
{
    int cycles = EnvironmentNumber(L"TOVIX_SOAK_CYCLES", 10);
    DWORD slowestStopMs = 0;
    for (int cycle = 1; cycle <= cycles && !HasFailure(); ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        StartedProcess window = StartWindowWithConnector(cycle);
        DWORD before = GetTickCount();
        StopAndExpectAllEnded(&window);
        slowestStopMs = std::max(slowestStopMs, GetTickCount() - before);
        EXPECT_EQ(CountConnectorStarts(installation), cycle);
    }
    printf("soak: %d cycles, slowest stop with checks %lu ms\n", cycles, slowestStopMs);
}

// The supervisor is killed at points spread over its set-up (mutex, job, log, connector start, job
// assignment). No connector may run on without it, also not a suspended one created just before the kill
// (it would hold connector.log and keep every later supervisor from starting), and the next supervisor
// must start normally.
TEST_F(Soak, SupervisorKilledDuringSetUp)
{
    const DWORD delaysMs[] = {0, 2, 5, 10, 15, 20, 30, 40, 60, 80, 120};
    for (DWORD delay : delaysMs) {
        SCOPED_TRACE("killed after " + std::to_string(delay) + " ms");
        StartedProcess supervisor = StartWithTail(installation.launcher, L"--background");
        ASSERT_NE(supervisor.process, nullptr);
        Sleep(delay);
        TerminateProcess(supervisor.process, 1);
        EXPECT_TRUE(WaitForExit(supervisor.process, 5000));
        CloseStarted(&supervisor);
        EXPECT_TRUE(NothingLeft(installation)) << "left: " << Describe(ProcessesUnder(installation.directory));
        EXPECT_TRUE(WaitUntil([] { return !BackgroundMutexExists(); }, 5000));
    }
    int starts = CountConnectorStarts(installation);
    StartedProcess window = StartWindowWithConnector(starts + 1);
    StopAndExpectAllEnded(&window);
}

TEST_F(Soak, ConnectorKilledEndsTheSupervisorButNotTheWindow)
{
    StartedProcess window = StartWindowWithConnector(1);
    DWORD connector = ConnectorPid(installation);
    ASSERT_NE(connector, 0u);
    std::vector<DWORD> launchers = ProcessesOfImage(installation.launcher);
    ASSERT_EQ(launchers.size(), 2u);
    DWORD supervisorPid = launchers[0] == window.pid ? launchers[1] : launchers[0];
    HANDLE supervisor = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, supervisorPid);
    ASSERT_NE(supervisor, nullptr);

    KillPid(connector);
    DWORD code = 99;
    EXPECT_TRUE(WaitForExit(supervisor, 5000, &code)) << "the supervisor outlived its connector";
    EXPECT_EQ(code, 0u);
    CloseHandle(supervisor);
    EXPECT_FALSE(BackgroundMutexExists());
    EXPECT_FALSE(WaitForExit(window.process, 1000)) << "the window ended with the connector";
    EXPECT_EQ(CountConnectorStarts(installation), 1) << "the connector was restarted without being asked";
    StopAndExpectAllEnded(&window);
}

TEST_F(Soak, TwoWindowsStartedAtOnceLeaveOneWindowAndOneConnector)
{
    StartedProcess first = StartWithTail(installation.launcher, L"");
    StartedProcess second = StartWithTail(installation.launcher, L"");
    ASSERT_NE(first.process, nullptr);
    ASSERT_NE(second.process, nullptr);
    // Exactly one of them gives way (exit code 0, no message) to the other.
    DWORD code = 99;
    StartedProcess* loser = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            if (WaitForExit(first.process, 0))
                loser = &first;
            else if (WaitForExit(second.process, 0))
                loser = &second;
            return loser != nullptr;
        },
        StartTimeoutMs));
    StartedProcess* winner = loser == &first ? &second : &first;
    WaitForExit(loser->process, 0, &code);
    EXPECT_EQ(code, 0u);
    KillAndClose(loser);
    EXPECT_NE(FindTopWindow(MainWindowClass, winner->pid, StartTimeoutMs), nullptr);
    EXPECT_FALSE(WaitForReport(installation, StartTimeoutMs).empty());
    // The loser has ended, so a supervisor it had started would be running by now (a second one could not
    // start a connector while the winner's supervisor holds its mutex).
    EXPECT_EQ(CountConnectorStarts(installation), 1);
    EXPECT_EQ(ProcessesOfImage(installation.launcher).size(), 2u) << "expected one window and one supervisor";
    StopAndExpectAllEnded(winner);
}

// A stop that meets a window somewhere in its start-up: the stop itself returns 0 at once; the window
// either never saw it (it opens normally), or saw it and refused to open (error box, exit 1), or ended
// through it (exit 0). A second stop then ends whatever still runs, and nothing may be left.
TEST_F(Soak, StopWhileAWindowStarts)
{
    std::vector<DWORD> delaysMs = {0, 10, 25, 50, 100, 200, 400};
    unsigned seed = (unsigned)::testing::UnitTest::GetInstance()->random_seed();
    srand(seed);
    for (int n = EnvironmentNumber(L"TOVIX_SOAK_RANDOM_STOPS", 0); n > 0; --n)
        delaysMs.push_back(DWORD(rand() % 401));
    if (delaysMs.size() > 7)
        printf("soak: random stop delays from seed %u\n", seed);
    for (DWORD delay : delaysMs) {
        SCOPED_TRACE("stop after " + std::to_string(delay) + " ms");
        StartedProcess window = StartWithTail(installation.launcher, L"");
        Sleep(delay);
        EXPECT_EQ(RunStop(installation), 0);
        DWORD code = 99;
        bool ended = WaitUntil(
            [&] {
                DismissErrorBox(window.pid);
                return WaitForExit(window.process, 0) || FindTopWindow(MainWindowClass, window.pid, 0) != nullptr;
            },
            StartTimeoutMs);
        EXPECT_TRUE(ended) << "the window neither ended nor opened";
        EXPECT_EQ(RunStop(installation), 0);
        EXPECT_TRUE(WaitUntil(
            [&] {
                DismissErrorBox(window.pid);
                return WaitForExit(window.process, 0, &code);
            },
            StartTimeoutMs));
        EXPECT_TRUE(code == 0 || code == 1) << code;
        KillAndClose(&window);
        // A supervisor that the window started just before a stop may come up after the window and the
        // stop have ended; it must still see the stop and end by itself.
        EXPECT_TRUE(NothingLeft(installation)) << Describe(ProcessesUnder(installation.directory));
    }
}

TEST_F(Soak, LogHeldOpenWithoutSharingFailsTheSupervisorAtOnce)
{
    HANDLE held = CreateFileW(installation.log.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    StartedProcess supervisor = StartWithTail(installation.launcher, L"--background");
    DWORD code = 99;
    EXPECT_TRUE(WaitForExit(supervisor.process, 10000, &code)) << "the supervisor hangs on the held log";
    EXPECT_EQ(code, 1u);
    KillAndClose(&supervisor);
    EXPECT_EQ(CountConnectorStarts(installation), 0);
    EXPECT_FALSE(BackgroundMutexExists());

    // A window in the same situation stays open (it shows the connector as unreachable) and stops cleanly.
    // The log stays held until everything has ended: the supervisor that the window starts may come up at
    // any time before that, and it must fail (or see the stop) too.
    StartedProcess window = StartWithTail(installation.launcher, L"");
    EXPECT_NE(FindTopWindow(MainWindowClass, window.pid, StartTimeoutMs), nullptr);
    StopAndExpectAllEnded(&window);
    CloseHandle(held);
    EXPECT_EQ(CountConnectorStarts(installation), 0);
}

// The supervisor does not look for the script: it starts the runtime with the script's full path, and
// what happens then is the runtime's business. The double runs anyway; the stop must still end it.
TEST_F(Soak, ScriptMissingStillStartsTheRuntimeWithItsPath)
{
    ASSERT_TRUE(DeleteFileW((installation.directory + L"\\app\\connector.js").c_str()));
    StartedProcess window = StartWindowWithConnector(1);
    std::string commandLine = ReportValue(ReadConnectorLog(installation), "command-line");
    EXPECT_NE(commandLine.find("\\app\\connector.js\""), std::string::npos) << commandLine;
    StopAndExpectAllEnded(&window);
}

// With the real runtime, a missing script makes node.exe exit with an error in connector.log; the
// supervisor ends with it (exit 0, nothing restarted) and the window stays until stopped.
TEST_F(Soak, ScriptMissingWithTheRealRuntime)
{
    wchar_t node[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"TOVIX_SOAK_NODE", node, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        GTEST_SKIP() << "TOVIX_SOAK_NODE does not name the Windows node.exe";
    ASSERT_TRUE(CopyFileW(node, installation.runtime.c_str(), FALSE));
    ASSERT_TRUE(DeleteFileW((installation.directory + L"\\app\\connector.js").c_str()));
    StartedProcess window = StartWithTail(installation.launcher, L"");
    EXPECT_NE(FindTopWindow(MainWindowClass, window.pid, StartTimeoutMs), nullptr);
    EXPECT_TRUE(WaitUntil([&] { return ReadConnectorLog(installation).find("connector.js") != std::string::npos; },
                          30000))
        << ReadConnectorLog(installation);
    EXPECT_TRUE(WaitUntil([] { return !BackgroundMutexExists(); }, 30000)) << "the supervisor outlived node.exe";
    EXPECT_EQ(ProcessesUnder(installation.directory), std::vector<DWORD>{window.pid});
    StopAndExpectAllEnded(&window);
}

}  // namespace

// The start/stop cycles with the real runtime and the reference connector: each window must show the
// connector's first document (its pill leaves the start-up text for a state), and each stop must end
// window, supervisor and node.exe.
TEST_F(Soak, RealConnectorCycles)
{
    wchar_t node[MAX_PATH], app[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"TOVIX_SOAK_NODE", node, MAX_PATH);
    DWORD m = GetEnvironmentVariableW(L"TOVIX_SOAK_APP", app, MAX_PATH);
    if (n == 0 || n >= MAX_PATH || m == 0 || m >= MAX_PATH)
        GTEST_SKIP() << "TOVIX_SOAK_NODE and TOVIX_SOAK_APP do not name the runtime and the connector";
    ASSERT_TRUE(CopyFileW(node, installation.runtime.c_str(), FALSE));
    ASSERT_TRUE(CopyTree(app, installation.directory + L"\\app"));
    std::wstring port = std::to_wstring(FindUnusedLoopbackPort());
    SetEnvironmentVariableW(L"TOVIX_MOBILE_CONNECTOR_PORT", port.c_str());
    const std::wstring starting = L"\u25CF  \u6B63\u5728\u542F\u52A8";     // "●  正在启动"
    const std::wstring unreachable = L"\u25CF  \u670D\u52A1\u4E0D\u53EF\u7528";  // "●  服务不可用"
    int cycles = EnvironmentNumber(L"TOVIX_SOAK_REAL_CYCLES", 20);
    DWORD slowestFirstDocumentMs = 0;
    for (int cycle = 1; cycle <= cycles && !HasFailure(); ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        DWORD started = GetTickCount();
        StartedProcess window = StartWithTail(installation.launcher, L"");
        HWND main = FindTopWindow(MainWindowClass, window.pid, StartTimeoutMs);
        ASSERT_NE(main, nullptr);
        std::wstring pill;
        EXPECT_TRUE(WaitUntil(
            [&] {
                pill = PillText(main);
                return !pill.empty() && pill != starting && pill != unreachable;
            },
            60000))
            << Narrow(pill) << "\n" << ReadConnectorLog(installation);
        slowestFirstDocumentMs = std::max(slowestFirstDocumentMs, GetTickCount() - started);
        StopAndExpectAllEnded(&window);
    }
    SetEnvironmentVariableW(L"TOVIX_MOBILE_CONNECTOR_PORT", nullptr);
    printf("soak: %d cycles with the real connector, slowest first document %lu ms\n", cycles,
           slowestFirstDocumentMs);
}
