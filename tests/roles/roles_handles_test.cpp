// The roles' clean-up, in-process: the supervisor's decline and failure paths and the stop role leave
// this process with exactly the handles it had, and the supervisor's mutex released. The supervisor
// runs from this test program's directory, which has no runtime\node.exe.
#include <gtest/gtest.h>
#include "named_objects.h"
#include "process_util.h"
#include "roles.h"
#include "supervisor.h"

static bool BackgroundMutexExists()
{
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, BackgroundMutexName);
    if (mutex)
        CloseHandle(mutex);
    return mutex != nullptr;
}

class RoleHandles : public ::testing::Test {
protected:
    HANDLE stopEvent = nullptr;
    std::wstring log = TestProgramDirectory() + L"\\connector.log";
    void SetUp() override
    {
        ASSERT_FALSE(FileExists(TestProgramDirectory() + L"\\runtime\\node.exe"));
        // The first named object of a process opens the namespace directory for good; not a leak.
        CloseHandle(CreateEventW(nullptr, TRUE, FALSE, L"Local\\tovix-test-warm-up"));
        DWORD before = CountOwnHandles();
        stopEvent = CreateEventW(nullptr, TRUE, FALSE, StopEventName);
        ASSERT_NE(stopEvent, nullptr);
        // The count is what the tests compare, so it must see a single new handle.
        ASSERT_EQ(CountOwnHandles(), before + 1);
    }
    void TearDown() override
    {
        CloseHandle(stopEvent);
        DeleteFileW(log.c_str());
    }
};

TEST_F(RoleHandles, SupervisorDeclinedByStopEvent)
{
    SetEvent(stopEvent);
    DWORD before = CountOwnHandles();
    EXPECT_EQ(RunSupervisor(stopEvent, 8093), 0);
    EXPECT_EQ(CountOwnHandles(), before);
    EXPECT_FALSE(BackgroundMutexExists());
    EXPECT_FALSE(FileExists(log));
}

static DWORD WINAPI HoldBackgroundMutex(void* release)
{
    HANDLE mutex = CreateMutexW(nullptr, TRUE, BackgroundMutexName);
    WaitForSingleObject(release, INFINITE);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 0;
}

TEST_F(RoleHandles, SupervisorDeclinedByAnotherSupervisor)
{
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE holder = CreateThread(nullptr, 0, HoldBackgroundMutex, release, 0, nullptr);
    ASSERT_TRUE(WaitUntil(BackgroundMutexExists, 5000));
    DWORD before = CountOwnHandles();
    EXPECT_EQ(RunSupervisor(stopEvent, 8093), 0);
    EXPECT_EQ(CountOwnHandles(), before);
    EXPECT_FALSE(FileExists(log));
    // Declining never released the other supervisor's mutex: it is still owned by the holder thread.
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, BackgroundMutexName);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), (DWORD)WAIT_TIMEOUT);
    CloseHandle(mutex);
    SetEvent(release);
    WaitForSingleObject(holder, 5000);
    CloseHandle(holder);
    CloseHandle(release);
}

TEST_F(RoleHandles, SupervisorFailingOnMissingRuntime)
{
    DWORD before = CountOwnHandles();
    EXPECT_EQ(RunSupervisor(stopEvent, 8093), 1);
    EXPECT_EQ(CountOwnHandles(), before);
    EXPECT_FALSE(BackgroundMutexExists());
    EXPECT_TRUE(FileExists(log));  // opened (and truncated) before the connector failed to start
    // The port reaches the environment only for a connector that is about to be created.
    wchar_t port[8];
    EXPECT_EQ(GetEnvironmentVariableW(L"TOVIX_MOBILE_CONNECTOR_PORT", port, 8), 4u);
    SetEnvironmentVariableW(L"TOVIX_MOBILE_CONNECTOR_PORT", nullptr);
}

TEST_F(RoleHandles, StopRoleThroughLauncherMain)
{
    DWORD before = CountOwnHandles();
    EXPECT_EQ(LauncherMain(GetModuleHandleW(nullptr), L"--stop", SW_SHOWDEFAULT), 0);
    EXPECT_EQ(CountOwnHandles(), before);
    // It set the event that this test holds, as for any running role.
    EXPECT_EQ(WaitForSingleObject(stopEvent, 0), WAIT_OBJECT_0);
}

TEST_F(RoleHandles, BackgroundRoleThroughLauncherMainDuringStop)
{
    SetEvent(stopEvent);
    DWORD before = CountOwnHandles();
    EXPECT_EQ(LauncherMain(GetModuleHandleW(nullptr), L"--background", SW_SHOWDEFAULT), 0);
    EXPECT_EQ(CountOwnHandles(), before);
    EXPECT_FALSE(BackgroundMutexExists());
}
