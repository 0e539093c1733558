// Instance control of the window role against real launcher.exe processes (under Xvfb): a second launch
// brings the first window back and starts nothing; a launch during a stop shows the start-up error box
// and exits 1; an opening window starts one supervisor, which leaves a kill-on-close job that the window was
// started in when the job allows it (and otherwise starts inside it, as everything then ends with the job).
#include <gtest/gtest.h>
#include <algorithm>
#include "installation.h"
#include "named_objects.h"
#include "process_util.h"

static const wchar_t MainWindowClass[] = L"TovixMobileConnectorWindow";
static const wchar_t ErrorText[] = L"无法打开连接器窗口，请重新打开后重试。";
static const wchar_t ErrorCaption[] = L"Tovix 随行连接器";

class WindowRole : public ::testing::Test {
protected:
    Installation installation;
    void TearDown() override { RemoveInstallation(&installation); }
};

TEST_F(WindowRole, SecondLaunchRestoresTheFirstAndStartsNothing)
{
    // No runtime: the first window's supervisor leaves connector.log behind and ends, so that any later
    // supervisor would show itself by creating the log again.
    ASSERT_TRUE(CreateInstallation(&installation, false));
    StartedProcess first = StartWithTail(installation.launcher, L"");
    HWND window = FindTopWindow(MainWindowClass, first.pid, 10000);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitUntil(
        [&] { return FileExists(installation.log) && ProcessesOfImage(installation.launcher).size() == 1; }, 10000));
    ASSERT_TRUE(DeleteFileW(installation.log.c_str()));

    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(WaitUntil([&] { return IsIconic(window) != 0; }, 5000));

    StartedProcess second = StartWithTail(installation.launcher, L"");
    DWORD code = 99;
    EXPECT_TRUE(WaitForExit(second.process, 10000, &code));
    EXPECT_EQ(code, 0u);
    CloseStarted(&second);

    EXPECT_TRUE(WaitUntil([&] { return !IsIconic(window); }, 5000)) << "the first window stayed minimised";
    EXPECT_TRUE(WaitUntil([&] { return GetForegroundWindow() == window; }, 5000)) << "not brought to the front";
    Sleep(1500);
    EXPECT_FALSE(FileExists(installation.log)) << "the second launch started a supervisor";
    EXPECT_EQ(ProcessesUnder(installation.directory), std::vector<DWORD>{first.pid});

    EXPECT_EQ(RunStop(installation), 0);
    EXPECT_TRUE(WaitForExit(first.process, 5000, &code));
    EXPECT_EQ(code, 0u);
    KillAndClose(&first);
}

// Holds BackgroundMutex like a supervisor that does not end, so that a stop command stays in progress
// until released.
struct StuckSupervisor {
    HANDLE ready;
    HANDLE release;
    HANDLE thread;
};

static DWORD WINAPI HoldLikeASupervisor(void* context)
{
    StuckSupervisor* stuck = (StuckSupervisor*)context;
    HANDLE mutex = CreateMutexW(nullptr, TRUE, BackgroundMutexName);
    SetEvent(stuck->ready);
    WaitForSingleObject(stuck->release, INFINITE);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 0;
}

TEST_F(WindowRole, LaunchDuringStopShowsTheErrorAndExitsOne)
{
    ASSERT_TRUE(CreateInstallation(&installation));
    // Like a supervisor, this program holds StopEvent open, so the stop command finds and sets it.
    HANDLE stopEvent = CreateEventW(nullptr, TRUE, FALSE, StopEventName);
    ASSERT_NE(stopEvent, nullptr);
    StuckSupervisor stuck;
    stuck.ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    stuck.release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    stuck.thread = CreateThread(nullptr, 0, HoldLikeASupervisor, &stuck, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(stuck.ready, 5000), WAIT_OBJECT_0);

    StartedProcess stop = StartWithTail(installation.launcher, L"--stop");
    ASSERT_TRUE(WaitUntil([&] { return WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0; }, 5000));

    StartedProcess window = StartWithTail(installation.launcher, L"");
    HWND box = FindTopWindow(L"#32770", window.pid, 15000);
    EXPECT_NE(box, nullptr) << "no error box";
    if (box) {
        // The dialog exists a moment before its texts are set and it is shown.
        WaitUntil([&] { return IsWindowVisible(box) && !WindowText(GetDlgItem(box, 0xFFFF)).empty(); }, 5000);
        EXPECT_EQ(WindowText(box), ErrorCaption);
        EXPECT_EQ(WindowText(GetDlgItem(box, 0xFFFF)), ErrorText);
        // The box comes after WindowMutex is gone, and no main window was opened.
        HANDLE windowMutex = OpenMutexW(SYNCHRONIZE, FALSE, WindowMutexName);
        EXPECT_EQ(windowMutex, nullptr);
        if (windowMutex)
            CloseHandle(windowMutex);
        EXPECT_EQ(FindTopWindow(MainWindowClass, window.pid, 0), nullptr);
        // It waits for the user: the process has not ended.
        EXPECT_FALSE(WaitForExit(window.process, 0));
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    DWORD code = 99;
    EXPECT_TRUE(WaitForExit(window.process, 10000, &code));
    EXPECT_EQ(code, 1u);
    KillAndClose(&window);
    EXPECT_EQ(CountConnectorStarts(installation), 0);

    // Once the stuck supervisor lets go, the stop command completes.
    SetEvent(stuck.release);
    WaitForSingleObject(stuck.thread, 5000);
    EXPECT_TRUE(WaitForExit(stop.process, 10000, &code));
    EXPECT_EQ(code, 0u);
    KillAndClose(&stop);
    CloseHandle(stuck.thread);
    CloseHandle(stuck.release);
    CloseHandle(stuck.ready);
    CloseHandle(stopEvent);
}

TEST_F(WindowRole, OpeningWindowStartsOneSupervisor)
{
    ASSERT_TRUE(CreateInstallation(&installation));
    StartedProcess window = StartWithTail(installation.launcher, L"");
    ASSERT_NE(FindTopWindow(MainWindowClass, window.pid, 10000), nullptr);
    std::string report = WaitForReport(installation, 10000);
    ASSERT_FALSE(report.empty()) << "no connector was started";
    // The connector's parent is a supervisor of this installation, not the window itself.
    DWORD parent = std::stoul(ReportValue(report, "parent-pid"));
    EXPECT_NE(parent, window.pid);
    std::vector<DWORD> launchers = ProcessesOfImage(installation.launcher);
    EXPECT_EQ(launchers.size(), 2u);
    EXPECT_NE(std::find(launchers.begin(), launchers.end(), parent), launchers.end());
    Sleep(1000);
    EXPECT_EQ(CountConnectorStarts(installation), 1);

    EXPECT_EQ(RunStop(installation), 0);
    EXPECT_TRUE(WaitForExit(window.process, 5000));
    EXPECT_TRUE(WaitUntil([&] { return ProcessesUnder(installation.directory).empty(); }, 5000));
    KillAndClose(&window);
}

// A window started inside a kill-on-close job, as some launchers, terminals and task runners start
// programs: whether the job lets its processes break away decides whether the supervisor and the connector
// outlive the job's closing.
struct ParentJobCase {
    const char* name;
    DWORD limits;
    bool supervisorLeavesTheJob;
};

const ParentJobCase ParentJobCases[] = {
    {"AllowsBreakaway", JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK, true},
    {"ForbidsBreakaway", JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE, false},
};

class WindowInParentJob : public WindowRole, public ::testing::WithParamInterface<ParentJobCase> {};

// 1 when the process is in the job, 0 when it is not, -1 when the system could not tell.
static int InJob(HANDLE process, HANDLE job)
{
    BOOL inside = FALSE;
    if (!IsProcessInJob(process, job, &inside))
        return -1;
    return inside ? 1 : 0;
}

TEST_P(WindowInParentJob, SupervisorAndConnectorOutliveTheJobOnlyWhenItAllowsBreakaway)
{
    const ParentJobCase& c = GetParam();
    ASSERT_TRUE(CreateInstallation(&installation));
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    ASSERT_NE(job, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = c.limits;
    ASSERT_TRUE(SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits));

    StartedProcess window = StartWithTailInJob(job, installation.launcher, L"");
    ASSERT_NE(window.process, nullptr);
    ASSERT_NE(FindTopWindow(MainWindowClass, window.pid, 10000), nullptr);
    std::string report = WaitForReport(installation, 10000);
    ASSERT_FALSE(report.empty()) << "no connector was started";
    // Wine answers IsProcessInJob only for a handle with the full query right.
    DWORD access = SYNCHRONIZE | PROCESS_QUERY_INFORMATION;
    HANDLE supervisor = OpenProcess(access, FALSE, std::stoul(ReportValue(report, "parent-pid")));
    HANDLE connector = OpenProcess(access, FALSE, std::stoul(ReportValue(report, "pid")));
    ASSERT_NE(supervisor, nullptr);
    ASSERT_NE(connector, nullptr);
    EXPECT_EQ(InJob(window.process, job), 1);
    // The connector is in the supervisor's own job, which lies inside the window's job when the supervisor
    // could not leave it.
    int expected = c.supervisorLeavesTheJob ? 0 : 1;
    EXPECT_EQ(InJob(supervisor, job), expected);
    EXPECT_EQ(InJob(connector, job), expected);

    CloseHandle(job);
    EXPECT_TRUE(WaitForExit(window.process, 10000)) << "closing the job did not end the window";
    if (c.supervisorLeavesTheJob) {
        // Outside the job nothing of its closing reaches them: they run until they are stopped.
        EXPECT_EQ(WaitForSingleObject(supervisor, 0), (DWORD)WAIT_TIMEOUT) << "the supervisor ended with the job";
        EXPECT_EQ(WaitForSingleObject(connector, 0), (DWORD)WAIT_TIMEOUT) << "the connector ended with the job";
        EXPECT_EQ(RunStop(installation), 0);
    }
    EXPECT_EQ(WaitForSingleObject(supervisor, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(connector, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(WaitUntil([&] { return ProcessesUnder(installation.directory).empty(); }, 5000));
    EXPECT_EQ(CountConnectorStarts(installation), 1);
    CloseHandle(connector);
    CloseHandle(supervisor);
    KillAndClose(&window);
}

INSTANTIATE_TEST_SUITE_P(, WindowInParentJob, ::testing::ValuesIn(ParentJobCases),
                         [](const ::testing::TestParamInfo<ParentJobCase>& info) { return info.param.name; });
