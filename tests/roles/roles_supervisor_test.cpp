// The background role against real launcher.exe processes with the Node.js double as the connector:
// what the connector receives, connector.log truncation, declining, the connector's own exit, the job
// that takes the connector and its children along, and EnsureBackgroundRunning's single supervisor.
#include <gtest/gtest.h>
#include "installation.h"
#include "api/connector_secret.h"
#include "named_objects.h"
#include "process_util.h"
#include "supervisor.h"

static const char OldLog[] = "OLD LOG CONTENT\r\n";

class Supervisor : public ::testing::Test {
protected:
    Installation installation;
    void TearDown() override { RemoveInstallation(&installation); }
};

TEST_F(Supervisor, ConnectorReceivesItsStartUp)
{
    ASSERT_TRUE(CreateInstallation(&installation));
    ASSERT_TRUE(WriteWholeFile(installation.log, OldLog));
    StartedProcess supervisor =
        StartWithTail(installation.launcher, L"--background", {{L"TOVIX_MOBILE_CONNECTOR_PORT", nullptr}});
    std::string report = WaitForReport(installation, 10000);
    ASSERT_FALSE(report.empty());

    std::string directory = Narrow(installation.directory);
    EXPECT_EQ(ReportValue(report, "command-line"),
              "\"" + directory + "\\runtime\\node.exe\" \"" + directory + "\\app\\connector.js\"");
    EXPECT_EQ(ReportValue(report, "cwd"), directory);
    EXPECT_EQ(ReportValue(report, "stdin"), "nul");
    EXPECT_EQ(ReportValue(report, "port"), "8093");
    // The connector's secret is the one published for the windows of this logon, which they may read and
    // nobody may change.
    EXPECT_EQ(ReportValue(report, "secret"), "published");
    wchar_t secret[ConnectorSecretUnits];
    EXPECT_TRUE(ReadConnectorSecret(secret));
    HANDLE writable = OpenFileMappingW(FILE_MAP_WRITE, FALSE, ConnectorSecretName);
    EXPECT_TRUE(writable == nullptr) << "the published secret can be changed";
    if (writable)
        CloseHandle(writable);
    EXPECT_EQ(ReportValue(report, "parent-pid"), std::to_string(supervisor.pid));
    // The previous log was truncated: only the connector's own output is there.
    EXPECT_EQ(report.find("OLD LOG"), std::string::npos);
    EXPECT_EQ(report.compare(0, 4, "pid="), 0);

    // While the connector runs the log can be read, but neither written nor deleted by others.
    HANDLE writer = CreateFileW(installation.log.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE)
        CloseHandle(writer);
    EXPECT_FALSE(DeleteFileW(installation.log.c_str()));

    EXPECT_EQ(RunStop(installation), 0);
    DWORD code = 99;
    EXPECT_TRUE(WaitForExit(supervisor.process, 5000, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(ReadConnectorSecret(secret)) << "the secret goes with the supervisor";
    SecureZeroMemory(secret, sizeof secret);
    KillAndClose(&supervisor);
}

TEST_F(Supervisor, MissingRuntimeTruncatesTheLogAndFails)
{
    ASSERT_TRUE(CreateInstallation(&installation, false));
    ASSERT_TRUE(WriteWholeFile(installation.log, OldLog));
    StartedProcess supervisor = StartWithTail(installation.launcher, L"--background");
    DWORD code = 99;
    ASSERT_TRUE(WaitForExit(supervisor.process, 10000, &code));
    EXPECT_EQ(code, 1u);
    CloseStarted(&supervisor);
    EXPECT_TRUE(FileExists(installation.log));
    EXPECT_EQ(ReadConnectorLog(installation), "");
    // It released its mutex on the way out: a new supervisor is not declined.
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, BackgroundMutexName);
    EXPECT_EQ(mutex, nullptr);
    if (mutex)
        CloseHandle(mutex);
}

TEST_F(Supervisor, StopAlreadySetDeclinesWithoutConnectorAndLeavesTheLog)
{
    ASSERT_TRUE(CreateInstallation(&installation));
    ASSERT_TRUE(WriteWholeFile(installation.log, OldLog));
    HANDLE stopEvent = CreateEventW(nullptr, TRUE, FALSE, StopEventName);
    ASSERT_NE(stopEvent, nullptr);
    SetEvent(stopEvent);

    StartedProcess supervisor = StartWithTail(installation.launcher, L"--background");
    DWORD code = 99;
    ASSERT_TRUE(WaitForExit(supervisor.process, 10000, &code));
    EXPECT_EQ(code, 0u);
    CloseStarted(&supervisor);
    EXPECT_EQ(ReadConnectorLog(installation), OldLog);
    EXPECT_EQ(CountConnectorStarts(installation), 0);
    CloseHandle(stopEvent);
}

TEST_F(Supervisor, DeclinedBesideAnotherSupervisorLeavesTheLog)
{
    ASSERT_TRUE(CreateInstallation(&installation));
    ASSERT_TRUE(WriteWholeFile(installation.log, OldLog));
    // BackgroundMutex held by this test program, as another supervisor would hold it.
    HANDLE held = CreateMutexW(nullptr, TRUE, BackgroundMutexName);
    ASSERT_NE(held, nullptr);

    StartedProcess supervisor = StartWithTail(installation.launcher, L"--background");
    DWORD code = 99;
    ASSERT_TRUE(WaitForExit(supervisor.process, 10000, &code));
    EXPECT_EQ(code, 0u);
    CloseStarted(&supervisor);
    EXPECT_EQ(ReadConnectorLog(installation), OldLog);
    EXPECT_EQ(CountConnectorStarts(installation), 0);
    ReleaseMutex(held);
    CloseHandle(held);
}

TEST_F(Supervisor, SecondSupervisorExitsAndTheFirstRunsOn)
{
    ASSERT_TRUE(CreateInstallation(&installation));
    StartedProcess first = StartWithTail(installation.launcher, L"--background");
    std::string report = WaitForReport(installation, 10000);
    ASSERT_FALSE(report.empty());
    DWORD connector = std::stoul(ReportValue(report, "pid"));

    StartedProcess second = StartWithTail(installation.launcher, L"--background");
    DWORD code = 99;
    ASSERT_TRUE(WaitForExit(second.process, 10000, &code));
    EXPECT_EQ(code, 0u);
    CloseStarted(&second);
    EXPECT_FALSE(WaitForExit(first.process, 0));
    EXPECT_TRUE(IsProcessAlive(connector));
    EXPECT_EQ(ReadConnectorLog(installation), report);
    EXPECT_EQ(CountConnectorStarts(installation), 1);

    EXPECT_EQ(RunStop(installation), 0);
    KillAndClose(&first);
}

TEST_F(Supervisor, ConnectorExitingAtOnceEndsTheSupervisorWithoutRestart)
{
    ASSERT_TRUE(CreateInstallation(&installation));
    SetDoubleMode(installation, "exit");
    StartedProcess supervisor = StartWithTail(installation.launcher, L"--background");
    DWORD code = 99;
    ASSERT_TRUE(WaitForExit(supervisor.process, 10000, &code));
    EXPECT_EQ(code, 0u);  // whatever the connector's own exit code (7)
    CloseStarted(&supervisor);
    EXPECT_EQ(ReportValue(ReadConnectorLog(installation), "ready"), "exit");
    Sleep(1500);
    EXPECT_EQ(CountConnectorStarts(installation), 1);
    EXPECT_TRUE(ProcessesUnder(installation.directory).empty());
}

TEST_F(Supervisor, KillingTheSupervisorKillsConnectorAndGrandchild)
{
    ASSERT_TRUE(CreateInstallation(&installation));
    SetDoubleMode(installation, "grandchild");
    StartedProcess supervisor = StartWithTail(installation.launcher, L"--background");
    std::string report = WaitForReport(installation, 10000);
    ASSERT_FALSE(report.empty());
    DWORD grandchildPid = std::stoul(ReportValue(report, "grandchild-pid"));
    ASSERT_NE(grandchildPid, 0u);
    HANDLE connector = OpenProcess(SYNCHRONIZE, FALSE, std::stoul(ReportValue(report, "pid")));
    HANDLE grandchild = OpenProcess(SYNCHRONIZE, FALSE, grandchildPid);
    ASSERT_NE(connector, nullptr);
    ASSERT_NE(grandchild, nullptr);
    EXPECT_EQ(WaitForSingleObject(grandchild, 0), (DWORD)WAIT_TIMEOUT);

    TerminateProcess(supervisor.process, 9);
    EXPECT_EQ(WaitForSingleObject(connector, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(grandchild, 10000), WAIT_OBJECT_0);
    CloseHandle(grandchild);
    CloseHandle(connector);
    KillAndClose(&supervisor);
}

TEST_F(Supervisor, StopWhileSupervisingEndsConnectorAndGrandchild)
{
    ASSERT_TRUE(CreateInstallation(&installation));
    SetDoubleMode(installation, "grandchild");
    StartedProcess supervisor = StartWithTail(installation.launcher, L"--background");
    std::string report = WaitForReport(installation, 10000);
    ASSERT_FALSE(report.empty());
    DWORD grandchild = std::stoul(ReportValue(report, "grandchild-pid"));
    ASSERT_TRUE(IsProcessAlive(grandchild));

    EXPECT_EQ(RunStop(installation), 0);
    DWORD code = 99;
    EXPECT_TRUE(WaitForExit(supervisor.process, 5000, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(WaitForPidEnd(grandchild, 5000));
    KillAndClose(&supervisor);
}

// EnsureBackgroundRunning's body, aimed at the launcher.exe of the installation instead of this program.
TEST_F(Supervisor, EnsureStartsOneWhenNoneRuns)
{
    ASSERT_TRUE(CreateInstallation(&installation));
    EXPECT_EQ(EnsureBackgroundRunningFor(installation.launcher.c_str()), 1);
    std::string report = WaitForReport(installation, 10000);
    ASSERT_FALSE(report.empty());
    std::vector<DWORD> launchers = ProcessesOfImage(installation.launcher);
    ASSERT_EQ(launchers.size(), 1u);
    EXPECT_EQ(ReportValue(report, "parent-pid"), std::to_string(launchers[0]));
}

TEST_F(Supervisor, EnsureStartsNothingWhenOneRuns)
{
    ASSERT_TRUE(CreateInstallation(&installation));
    StartedProcess supervisor = StartWithTail(installation.launcher, L"--background");
    ASSERT_FALSE(WaitForReport(installation, 10000).empty());

    EXPECT_EQ(EnsureBackgroundRunningFor(installation.launcher.c_str()), 1);
    // A started process would exist from here on until it noticed the mutex.
    EXPECT_EQ(ProcessesOfImage(installation.launcher), std::vector<DWORD>{supervisor.pid});
    Sleep(1000);
    EXPECT_EQ(CountConnectorStarts(installation), 1);
    KillAndClose(&supervisor);
}

TEST_F(Supervisor, TwoQuickEnsureCallsLeaveOneSupervisor)
{
    ASSERT_TRUE(CreateInstallation(&installation));
    EXPECT_EQ(EnsureBackgroundRunningFor(installation.launcher.c_str()), 1);
    EXPECT_EQ(EnsureBackgroundRunningFor(installation.launcher.c_str()), 1);
    ASSERT_FALSE(WaitForReport(installation, 10000).empty());
    EXPECT_TRUE(WaitUntil([&] { return ProcessesOfImage(installation.launcher).size() == 1; }, 10000));
    Sleep(1500);
    EXPECT_EQ(ProcessesOfImage(installation.launcher).size(), 1u);
    EXPECT_EQ(CountConnectorStarts(installation), 1);
}

TEST_F(Supervisor, EnsureFailsForAMissingExecutable)
{
    ASSERT_TRUE(CreateInstallation(&installation));
    std::wstring missing = installation.directory + L"\\missing.exe";
    EXPECT_EQ(EnsureBackgroundRunningFor(missing.c_str()), 0);
}
