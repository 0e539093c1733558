// Instance control of the window role against real launcher.exe processes (under Xvfb): a second launch
// brings the first window back and starts nothing; a launch during a stop shows the start-up error box
// and exits 1; an opening window starts one supervisor, which leaves a kill-on-close job that the window was
// started in when the job allows it (and otherwise starts inside it, as everything then ends with the job).
// Also what the window shows of the executable: its icon's images and the systems its manifest names.
#include <gtest/gtest.h>
#include <algorithm>
#include <string.h>
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

// The built launcher.exe's resources, read as Windows reads them without running it.
class LauncherResources : public ::testing::Test {
protected:
    HMODULE module = nullptr;
    void SetUp() override
    {
        std::wstring path = TestProgramDirectory() + L"\\launcher.exe";
        module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr);
    }
    void TearDown() override
    {
        if (module)
            FreeLibrary(module);
    }
    // The bytes of a resource, null when it is missing.
    const BYTE* Resource(const wchar_t* type, int id, DWORD* size)
    {
        HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
        HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
        *size = found ? SizeofResource(module, found) : 0;
        return loaded ? (const BYTE*)LockResource(loaded) : nullptr;
    }
};

static unsigned ReadWord(const BYTE* at) { return at[0] | at[1] << 8; }
static unsigned ReadBigEndian(const BYTE* at) { return (unsigned)at[0] << 24 | at[1] << 16 | at[2] << 8 | at[3]; }

// Windows picks 20, 24, 40, 48 or 64 pixels for the title bar, taskbar and Start menu at 125-200 % and
// stretches another image when its size is missing; every image is an 8-bit RGBA PNG.
TEST_F(LauncherResources, IconHasAnImageForEveryDisplayScale)
{
    DWORD size = 0;
    const BYTE* group = Resource(RT_GROUP_ICON, 101, &size);
    ASSERT_NE(group, nullptr);
    // GRPICONDIR: reserved, type 1, count; then 14-byte entries: width, height (0 meaning 256), colours,
    // reserved, planes, bits per pixel, size, resource id.
    ASSERT_GE(size, 6u);
    unsigned count = ReadWord(group + 4);
    ASSERT_EQ(size, 6 + 14 * count);
    std::vector<int> sizes;
    for (unsigned i = 0; i < count; ++i) {
        const BYTE* entry = group + 6 + 14 * i;
        int width = entry[0] ? entry[0] : 256;
        int id = (int)ReadWord(entry + 12);
        SCOPED_TRACE(testing::Message() << width << " pixels");
        sizes.push_back(width);
        EXPECT_EQ(entry[1] ? entry[1] : 256, width);
        EXPECT_EQ(ReadWord(entry + 6), 32u);
        DWORD imageSize = 0;
        const BYTE* image = Resource(RT_ICON, id, &imageSize);
        ASSERT_NE(image, nullptr);
        // The PNG signature, then IHDR: width, height, bit depth 8, colour type 6 (RGBA).
        ASSERT_GE(imageSize, 33u);
        EXPECT_EQ(memcmp(image, "\x89PNG\r\n\x1a\n", 8), 0);
        EXPECT_EQ(memcmp(image + 12, "IHDR", 4), 0);
        EXPECT_EQ(ReadBigEndian(image + 16), (unsigned)width);
        EXPECT_EQ(ReadBigEndian(image + 20), (unsigned)width);
        EXPECT_EQ(image[24], 8);
        EXPECT_EQ(image[25], 6);
        // The image the system itself chooses for this size is this one.
        EXPECT_EQ(LookupIconIdFromDirectoryEx((BYTE*)group, TRUE, width, width, LR_DEFAULTCOLOR), id);
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<int>{16, 20, 24, 32, 40, 48, 64, 128, 256}));
}

TEST_F(LauncherResources, ManifestNamesWindows7To11)
{
    DWORD size = 0;
    const BYTE* manifest = Resource(RT_MANIFEST, 1, &size);
    ASSERT_NE(manifest, nullptr);
    std::string text((const char*)manifest, size);
    size_t section = text.find("<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">");
    ASSERT_NE(section, std::string::npos);
    const char* systems[] = {
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // Windows 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // Windows 8
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // Windows 8.1
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // Windows 10 and 11
    };
    for (const char* id : systems)
        EXPECT_NE(text.find(std::string("<supportedOS Id=\"") + id + "\"/>", section), std::string::npos) << id;
}
