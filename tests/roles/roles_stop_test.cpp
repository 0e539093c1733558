// The stop role against real processes: nothing running, a window alone, a supervisor with a running
// connector double, a window killed while owning its mutex, a mutex holder that ends without releasing
// while the stop waits for it, one that never ends, and a window that comes up while the stop looks for
// the roles. The holder is a thread of this test program; the
// in-process runs of RunStopCommand count this process's handles to show that none is left behind.
#include <gtest/gtest.h>
#include <string.h>
#include <winternl.h>
#include "installation.h"
#include "named_objects.h"
#include "process_util.h"
#include "stop_command.h"
#include "supervisor.h"

static const wchar_t MainWindowClass[] = L"TovixMobileConnectorWindow";

static bool ObjectMissing(HANDLE opened)
{
    DWORD error = GetLastError();
    if (opened) {
        CloseHandle(opened);
        return false;
    }
    return error == ERROR_FILE_NOT_FOUND;
}

static bool NoNamedObjectExists()
{
    return ObjectMissing(OpenEventW(SYNCHRONIZE, FALSE, StopEventName)) &&
           ObjectMissing(OpenMutexW(SYNCHRONIZE, FALSE, WindowMutexName)) &&
           ObjectMissing(OpenMutexW(SYNCHRONIZE, FALSE, BackgroundMutexName));
}

// A thread that creates StopEvent and then a mutex owned, in the order of every real role, and holds both
// until released: a process that "does not end". With abandon set it then ends without releasing the
// mutex, as a process that dies does; with endsOnStop it also ends when the stop event is set, as a role
// does.
struct MutexHolder {
    const wchar_t* name;
    HANDLE ready;
    HANDLE release;
    HANDLE thread;
    int abandon;
    int endsOnStop;
};

static DWORD WINAPI HoldMutex(void* context)
{
    MutexHolder* holder = (MutexHolder*)context;
    HANDLE stopEvent = CreateEventW(nullptr, TRUE, FALSE, StopEventName);
    HANDLE mutex = CreateMutexW(nullptr, TRUE, holder->name);
    SetEvent(holder->ready);
    HANDLE ends[2] = {holder->release, stopEvent};
    WaitForMultipleObjects(holder->endsOnStop ? 2 : 1, ends, FALSE, INFINITE);
    if (!holder->abandon)
        ReleaseMutex(mutex);
    CloseHandle(mutex);
    CloseHandle(stopEvent);
    return 0;
}

static void StartHolder(MutexHolder* holder, const wchar_t* name, int abandon = 0, int endsOnStop = 0)
{
    holder->name = name;
    holder->abandon = abandon;
    holder->endsOnStop = endsOnStop;
    holder->ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    holder->release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    holder->thread = CreateThread(nullptr, 0, HoldMutex, holder, 0, nullptr);
    WaitForSingleObject(holder->ready, 5000);
}

static void EndHolder(MutexHolder* holder)
{
    SetEvent(holder->release);
    WaitForSingleObject(holder->thread, 5000);
    CloseHandle(holder->thread);
    CloseHandle(holder->release);
    CloseHandle(holder->ready);
}

class StopRole : public ::testing::Test {
protected:
    Installation installation;
    void SetUp() override { ASSERT_TRUE(NoNamedObjectExists()) << "a previous test left a role running"; }
    void TearDown() override { RemoveInstallation(&installation); }
};

TEST_F(StopRole, NothingRunningEndsAtOnceAndCreatesNothing)
{
    ASSERT_TRUE(CreateInstallation(&installation));
    StartedProcess stop = StartWithTail(installation.launcher, L"--stop");
    DWORD code = 99;
    ASSERT_TRUE(WaitForExit(stop.process, 5000, &code)) << "the stop command waited with nothing running";
    EXPECT_EQ(code, 0u);
    CloseStarted(&stop);
    EXPECT_TRUE(NoNamedObjectExists());

    // The same in this process: a created-and-kept object or a leaked handle would show here.
    DWORD before = CountOwnHandles();
    EXPECT_EQ(RunStopCommand(), 0);
    EXPECT_EQ(CountOwnHandles(), before);
    EXPECT_TRUE(NoNamedObjectExists());
}

TEST_F(StopRole, WindowAloneEnds)
{
    // Without runtime\node.exe the supervisor that the window starts ends at once: the window is alone.
    ASSERT_TRUE(CreateInstallation(&installation, false));
    StartedProcess window = StartWithTail(installation.launcher, L"");
    ASSERT_TRUE(FindTopWindow(MainWindowClass, window.pid, 10000));
    // The supervisor it started has created connector.log and ended.
    ASSERT_TRUE(WaitUntil(
        [&] { return FileExists(installation.log) && ProcessesOfImage(installation.launcher).size() == 1; }, 10000));
    EXPECT_TRUE(ObjectMissing(OpenMutexW(SYNCHRONIZE, FALSE, BackgroundMutexName)));

    EXPECT_EQ(RunStop(installation), 0);
    DWORD code = 99;
    EXPECT_TRUE(WaitForExit(window.process, 5000, &code));
    EXPECT_EQ(code, 0u);
    KillAndClose(&window);
}

TEST_F(StopRole, SupervisorWithRunningConnectorEnds)
{
    ASSERT_TRUE(CreateInstallation(&installation));
    StartedProcess supervisor = StartWithTail(installation.launcher, L"--background");
    std::string report = WaitForReport(installation, 10000);
    ASSERT_FALSE(report.empty());
    HANDLE connector = OpenProcess(SYNCHRONIZE, FALSE, std::stoul(ReportValue(report, "pid")));
    ASSERT_NE(connector, nullptr);
    ASSERT_EQ(WaitForSingleObject(connector, 0), (DWORD)WAIT_TIMEOUT);

    EXPECT_EQ(RunStop(installation), 0);
    // The supervisor waits for the connector before it releases its mutex, so it is dead already.
    EXPECT_EQ(WaitForSingleObject(connector, 0), WAIT_OBJECT_0);
    DWORD code = 99;
    EXPECT_TRUE(WaitForExit(supervisor.process, 5000, &code));
    EXPECT_EQ(code, 0u);
    CloseHandle(connector);
    KillAndClose(&supervisor);
}

TEST_F(StopRole, WindowAndSupervisorBothEnd)
{
    ASSERT_TRUE(CreateInstallation(&installation));
    StartedProcess window = StartWithTail(installation.launcher, L"");
    ASSERT_TRUE(FindTopWindow(MainWindowClass, window.pid, 10000));
    std::string report = WaitForReport(installation, 10000);
    ASSERT_FALSE(report.empty());
    DWORD connector = std::stoul(ReportValue(report, "pid"));

    EXPECT_EQ(RunStop(installation), 0);
    EXPECT_TRUE(WaitForExit(window.process, 5000));
    EXPECT_TRUE(WaitForPidEnd(connector, 0));
    EXPECT_TRUE(WaitUntil([&] { return ProcessesUnder(installation.directory).empty(); }, 5000));
    KillAndClose(&window);
}

TEST_F(StopRole, AbandonedWindowMutexCountsAsEnded)
{
    ASSERT_TRUE(CreateInstallation(&installation));
    StartedProcess window = StartWithTail(installation.launcher, L"");
    ASSERT_TRUE(FindTopWindow(MainWindowClass, window.pid, 10000));
    ASSERT_FALSE(WaitForReport(installation, 10000).empty());
    // Killed while its main thread owns WindowMutex: the mutex is abandoned, not released.
    KillAndClose(&window);

    StartedProcess stop = StartWithTail(installation.launcher, L"--stop");
    DWORD code = 99;
    EXPECT_TRUE(WaitForExit(stop.process, 10000, &code));
    EXPECT_EQ(code, 0u);
    CloseStarted(&stop);
    EXPECT_TRUE(WaitUntil([&] { return ProcessesUnder(installation.directory).empty(); }, 5000));
}

// A window starts its supervisor and is stopped at once: the window and the stop have both ended (and
// closed their handles of StopEvent) before the new supervisor comes up. The supervisor must still see the
// stop and end, instead of creating a fresh StopEvent and running a connector that nothing stops. This
// program plays the window (it holds StopEvent as the window role does and starts the supervisor the way
// the window does); the stop is the real stop command, run here.
TEST_F(StopRole, SupervisorStartedJustBeforeAStopSeesIt)
{
    ASSERT_TRUE(CreateInstallation(&installation));
    HANDLE stopEvent = CreateEventW(nullptr, TRUE, FALSE, StopEventName);
    ASSERT_EQ(EnsureBackgroundRunningFor(installation.launcher.c_str()), 1);
    EXPECT_EQ(RunStopCommand(), 0);
    CloseHandle(stopEvent);
    EXPECT_TRUE(WaitUntil([&] { return ProcessesUnder(installation.directory).empty(); }, 10000))
        << "the supervisor runs on after the stop";
}

// Puts replacement in this program's import slot of a system function and returns what was there, so that a
// test can act at an exact moment inside the product's code (which calls through the same slot).
static void* ReplaceImport(const char* function, void* replacement)
{
    BYTE* base = (BYTE*)GetModuleHandleW(nullptr);
    IMAGE_NT_HEADERS* headers = (IMAGE_NT_HEADERS*)(base + ((IMAGE_DOS_HEADER*)base)->e_lfanew);
    IMAGE_DATA_DIRECTORY imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (IMAGE_IMPORT_DESCRIPTOR* dll = (IMAGE_IMPORT_DESCRIPTOR*)(base + imports.VirtualAddress); dll->Name; ++dll) {
        IMAGE_THUNK_DATA* names = (IMAGE_THUNK_DATA*)(base + dll->OriginalFirstThunk);
        IMAGE_THUNK_DATA* slots = (IMAGE_THUNK_DATA*)(base + dll->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) ||
                strcmp((const char*)((IMAGE_IMPORT_BY_NAME*)(base + names->u1.AddressOfData))->Name, function) != 0)
                continue;
            void* previous = (void*)slots->u1.Function;
            DWORD protection;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
            slots->u1.Function = (ULONG_PTR)replacement;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
            return previous;
        }
    }
    return nullptr;
}

static decltype(&OpenMutexW) RealOpenMutex;
static MutexHolder* WindowAboutToStart;

static HANDLE WINAPI OpenMutexAsAWindowStarts(DWORD access, BOOL inherit, const wchar_t* name)
{
    if (WindowAboutToStart) {
        StartHolder(WindowAboutToStart, WindowMutexName, 0, 1);
        WindowAboutToStart = nullptr;
    }
    return RealOpenMutex(access, inherit, name);
}

// A window comes up while the stop looks for the roles: its StopEvent and WindowMutex appear just before
// the stop opens the mutex. The stop must reach that window through the event instead of waiting its full
// 15 s for a window that was never told to end.
TEST_F(StopRole, WindowComingUpWhileTheStopLooksIsToldToEnd)
{
    MutexHolder window;
    WindowAboutToStart = &window;
    RealOpenMutex = (decltype(&OpenMutexW))ReplaceImport("OpenMutexW", (void*)OpenMutexAsAWindowStarts);
    ASSERT_NE(RealOpenMutex, nullptr);
    ULONGLONG start = GetTickCount64();
    int code = RunStopCommand();
    ULONGLONG elapsed = GetTickCount64() - start;
    ReplaceImport("OpenMutexW", (void*)RealOpenMutex);
    ASSERT_EQ(WindowAboutToStart, nullptr) << "the stop never looked for a mutex";
    EXPECT_EQ(code, 0);
    EXPECT_LT(elapsed, 5000u) << "the stop waited for a window it had not told to end";
    EndHolder(&window);
}

// How many handles, in all processes, refer to the object of this handle (the handle itself included).
static ULONG HandlesToObject(HANDLE handle)
{
    PUBLIC_OBJECT_BASIC_INFORMATION info = {};
    if (NtQueryObject(handle, ObjectBasicInformation, &info, sizeof info, nullptr) != 0)
        return 0;
    return info.HandleCount;
}

// The holder ignores the stop and ends without releasing while the stop waits for its mutex: the mutex is
// abandoned (not gone, the stop's own handle keeps it), and an abandoned mutex counts as a role that ended.
TEST_F(StopRole, HolderEndingWithoutReleaseWhileTheStopWaitsCountsAsEnded)
{
    ASSERT_TRUE(CreateInstallation(&installation));
    MutexHolder holder;
    StartHolder(&holder, WindowMutexName, 1);
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, WindowMutexName);
    ASSERT_NE(mutex, nullptr);
    ASSERT_EQ(HandlesToObject(mutex), 2u) << "the holder's handle and ours";

    StartedProcess stop = StartWithTail(installation.launcher, L"--stop");
    ASSERT_TRUE(WaitUntil([&] { return HandlesToObject(mutex) == 3; }, 10000)) << "the stop never opened the mutex";
    CloseHandle(mutex);
    ULONGLONG ended = GetTickCount64();
    EndHolder(&holder);
    DWORD code = 99;
    EXPECT_TRUE(WaitForExit(stop.process, 10000, &code));
    EXPECT_LT(GetTickCount64() - ended, 5000u) << "the stop waited on after the holder had ended";
    EXPECT_EQ(code, 0u);
    CloseStarted(&stop);
}

TEST_F(StopRole, HolderThatNeverEndsFailsAfterFifteenSeconds)
{
    ASSERT_TRUE(CreateInstallation(&installation));
    MutexHolder holder;
    StartHolder(&holder, WindowMutexName);

    ULONGLONG start = GetTickCount64();
    StartedProcess stop = StartWithTail(installation.launcher, L"--stop");
    DWORD code = 99;
    EXPECT_TRUE(WaitForExit(stop.process, 30000, &code));
    ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_EQ(code, 1u);
    EXPECT_GE(elapsed, 14500u);
    EXPECT_LT(elapsed, 25000u);
    CloseStarted(&stop);
    // The holder's StopEvent was set by the stop command.
    HANDLE stopEvent = OpenEventW(SYNCHRONIZE, FALSE, StopEventName);
    ASSERT_NE(stopEvent, nullptr);
    EXPECT_EQ(WaitForSingleObject(stopEvent, 0), WAIT_OBJECT_0);
    CloseHandle(stopEvent);
    EndHolder(&holder);
}

TEST_F(StopRole, TimedOutStopLeavesNoHandle)
{
    MutexHolder holder;
    StartHolder(&holder, BackgroundMutexName);
    DWORD before = CountOwnHandles();
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(RunStopCommand(), 1);
    EXPECT_GE(GetTickCount64() - start, 14500u);
    EXPECT_EQ(CountOwnHandles(), before);
    // Nothing was released on the holder's behalf: it still owns the mutex.
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, BackgroundMutexName);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), (DWORD)WAIT_TIMEOUT);
    CloseHandle(mutex);
    EndHolder(&holder);
}
