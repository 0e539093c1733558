// Role choice and port resolution seen from real launcher.exe processes: each command-line tail is
// started in a temporary installation (whose path holds a blank) and the role is told by what the
// process does: a window of its own (window role), a connector double whose parent it is (background
// role), or an exit with 0 and nothing else (stop role with nothing running). The port is the one the
// connector double reports.
#include <gtest/gtest.h>
#include "installation.h"
#include "process_util.h"

static const wchar_t MainWindowClass[] = L"TovixMobileConnectorWindow";

enum ObservedRole { SawWindow, SawSupervisor, SawStopExit, SawNothing };

class RolesFromCommandLine : public ::testing::Test {
protected:
    Installation installation;
    void SetUp() override { ASSERT_TRUE(CreateInstallation(&installation)); }
    void TearDown() override { RemoveInstallation(&installation); }

    // Starts the command line, tells the role, then stops everything and clears the double's traces.
    ObservedRole Observe(const std::wstring& commandLine, const std::vector<EnvironmentChange>& environment = {},
                         std::string* report = nullptr)
    {
        StartedProcess started = StartProcess(installation.launcher, commandLine, environment);
        EXPECT_NE(started.process, nullptr);
        if (!started.process)
            return SawNothing;
        ObservedRole role = SawNothing;
        DWORD code = 0;
        WaitUntil(
            [&] {
                if (FindTopWindow(MainWindowClass, started.pid, 0)) {
                    role = SawWindow;
                    return true;
                }
                std::string log = ReadConnectorLog(installation);
                if (!ReportValue(log, "ready").empty() &&
                    ReportValue(log, "parent-pid") == std::to_string(started.pid)) {
                    role = SawSupervisor;
                    if (report)
                        *report = log;
                    return true;
                }
                if (WaitForExit(started.process, 0, &code)) {
                    role = code == 0 && !FileExists(installation.log) ? SawStopExit : SawNothing;
                    return true;
                }
                return false;
            },
            15000);
        EXPECT_EQ(RunStop(installation), 0);
        EXPECT_TRUE(WaitForExit(started.process, 10000));
        KillAndClose(&started);
        EXPECT_TRUE(WaitUntil([&] { return ProcessesUnder(installation.directory).empty(); }, 10000));
        DeleteFileW(installation.log.c_str());
        return role;
    }

    std::wstring Quoted() const { return L"\"" + installation.launcher + L"\""; }
};

TEST_F(RolesFromCommandLine, TailsSelectTheirRoles)
{
    ASSERT_NE(installation.directory.find(L' '), std::wstring::npos);
    const struct {
        std::wstring tail;  // appended to the quoted program path
        ObservedRole role;
    } cases[] = {
        {L"", SawWindow},
        {L"   ", SawWindow},
        {L" --background", SawSupervisor},
        {L"\t\t--background", SawSupervisor},
        {L" \t --background", SawSupervisor},
        {L" --stop", SawStopExit},
        {L" --stop ", SawWindow},
        {L" --STOP", SawWindow},
        {L" \"--stop\"", SawWindow},
        {L" --stop x", SawWindow},
        {L" --background x", SawWindow},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Observe(Quoted() + c.tail), c.role) << Narrow(c.tail);
}

TEST_F(RolesFromCommandLine, OpeningQuoteNeverClosedTakesTheWholeLine)
{
    EXPECT_EQ(Observe(L"\"" + installation.launcher + L" --background"), SawWindow);
    EXPECT_EQ(Observe(L"\"" + installation.launcher + L" --stop"), SawWindow);
}

TEST_F(RolesFromCommandLine, UnquotedPathWithBlankEndsAtTheBlank)
{
    // The tail starts inside the path, so it is not "--background".
    EXPECT_EQ(Observe(installation.launcher + L" --background"), SawWindow);
}

TEST_F(RolesFromCommandLine, ConnectorSeesTheResolvedPort)
{
    const struct {
        const wchar_t* value;  // null: unset
        const char* port;
    } cases[] = {
        {nullptr, "8093"},   {L"", "8093"},       {L"1023", "8093"},  {L"1024", "1024"},   {L"01024", "1024"},
        {L"65535", "65535"}, {L"65536", "8093"},  {L"99999", "8093"}, {L"123456", "8093"}, {L" 1024", "8093"},
        {L"1024 ", "8093"},  {L"+1024", "8093"},  {L"00080", "8093"}, {L"30001", "30001"},
    };
    for (const auto& c : cases) {
        std::string report;
        ASSERT_EQ(Observe(Quoted() + L" --background", {{L"TOVIX_MOBILE_CONNECTOR_PORT", c.value}}, &report),
                  SawSupervisor);
        EXPECT_EQ(ReportValue(report, "port"), c.port) << (c.value ? Narrow(c.value) : "(unset)");
    }
}
