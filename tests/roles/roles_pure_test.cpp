// The pure decisions of the roles, in-process: command-line tails, role choice, the port rule (also
// through the real environment) and the bounded path and command-line building with its exact limits.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include "install_paths.h"
#include "roles.h"

struct TailCase {
    const wchar_t* commandLine;
    const wchar_t* tail;
    ProcessRole role;
};

static const TailCase TailCases[] = {
    {nullptr, L"", UiRole},
    {L"", L"", UiRole},
    {L"launcher.exe", L"", UiRole},
    {L"launcher.exe    ", L"", UiRole},
    {L"launcher.exe \t \t", L"", UiRole},
    {L"\"C:\\Program Files\\Tovix\\launcher.exe\" --background", L"--background", BackgroundRole},
    {L"\"C:\\Program Files\\Tovix\\launcher.exe\"\t\t --background", L"--background", BackgroundRole},
    {L"\"C:\\Program Files\\Tovix\\launcher.exe\"--stop", L"", UiRole},  // no blank: still the path
    {L"\"C:\\Program Files\\Tovix\\launcher.exe --background", L"", UiRole},  // quote never closed
    {L"a\"b c\"d --background", L"--background", BackgroundRole},           // quotes inside the path
    {L"C:\\Program Files\\launcher.exe --stop", L"Files\\launcher.exe --stop", UiRole},
    {L"launcher.exe --stop", L"--stop", StopRole},
    {L"launcher.exe --background", L"--background", BackgroundRole},
    {L"launcher.exe --stop ", L"--stop ", UiRole},
    {L"launcher.exe --STOP", L"--STOP", UiRole},
    {L"launcher.exe \"--stop\"", L"\"--stop\"", UiRole},
    {L"launcher.exe --stop x", L"--stop x", UiRole},
    {L"launcher.exe --background  ", L"--background  ", UiRole},
    {L"launcher.exe --back", L"--back", UiRole},
    {L"launcher.exe -stop", L"-stop", UiRole},
    {L"launcher.exe\x01\x1f--stop", L"--stop", StopRole},  // control characters end the path and are skipped
    {L"launcher.exe \x7f--stop", L"\x7f--stop", UiRole},   // DEL is not a blank
};

TEST(CommandTail, SkipsTheProgramPathAndTheBlanksAfterIt)
{
    for (const TailCase& c : TailCases) {
        const wchar_t* tail = CommandTail(c.commandLine);
        ASSERT_NE(tail, nullptr);
        EXPECT_EQ(std::wstring(tail), std::wstring(c.tail)) << (c.commandLine ? c.commandLine : L"(none)");
        EXPECT_EQ(SelectRole(tail), c.role) << (c.commandLine ? c.commandLine : L"(none)");
    }
}

TEST(CommandTail, PointsIntoTheCommandLineUnchanged)
{
    const wchar_t* line = L"\"x y\\launcher.exe\"  --stop  x";
    EXPECT_EQ(CommandTail(line), line + 20);
}

struct PortCase {
    const wchar_t* value;  // null: the variable is not set
    uint16_t port;
};

static const PortCase PortCases[] = {
    {nullptr, 8093},   {L"", 8093},       {L"1023", 8093},   {L"1024", 1024},    {L"01024", 1024},
    {L"65535", 65535}, {L"65536", 8093},  {L"99999", 8093},  {L"123456", 8093},  {L"001024", 8093},
    {L" 1024", 8093},  {L"1024 ", 8093},  {L"+1024", 8093},  {L"-1024", 8093},   {L"0", 8093},
    {L"00000", 8093},  {L"9", 8093},      {L"40000", 40000}, {L"8093", 8093},    {L"1e3", 8093},
    {L"0x400", 8093},  {L"\xff11\xff10\xff12\xff14", 8093},  // full-width digits are not ASCII
    {L"3000\x2000", 8093},
};

// The whole resolution through the real environment of this process.
TEST(ResolveConnectorPort, FollowsTheEnvironmentVariable)
{
    for (const PortCase& c : PortCases) {
        ASSERT_TRUE(SetEnvironmentVariableW(L"TOVIX_MOBILE_CONNECTOR_PORT", c.value) || !c.value);
        EXPECT_EQ(ResolveConnectorPort(), c.port) << (c.value ? c.value : L"(unset)");
    }
    SetEnvironmentVariableW(L"TOVIX_MOBILE_CONNECTOR_PORT", nullptr);
}

TEST(PortFromVariable, AcceptsOnlyCountsOfOneToFive)
{
    // A count of 7 is what GetEnvironmentVariableW returns for a six-character value that did not fit.
    EXPECT_EQ(PortFromVariable(L"12345", 7), 8093);
    EXPECT_EQ(PortFromVariable(L"12345", 6), 8093);
    EXPECT_EQ(PortFromVariable(L"12345", 5), 12345);
    EXPECT_EQ(PortFromVariable(L"2048", 4), 2048);
    EXPECT_EQ(PortFromVariable(L"", 0), 8093);
    // Only the first count characters are the value.
    EXPECT_EQ(PortFromVariable(L"20480", 4), 2048);
}

// A directory of exactly length characters: "C:\" followed by letters.
static std::wstring DirectoryOfLength(size_t length)
{
    return L"C:\\" + std::wstring(length - 3, L'd');
}

TEST(JoinBounded, FitsExactlyOrFailsWithAnEmptyText)
{
    wchar_t out[5];
    const wchar_t* fits[] = {L"ab", L"cd"};
    ASSERT_EQ(JoinBounded(out, 5, fits, 2), 1);
    EXPECT_EQ(std::wstring(out), L"abcd");
    const wchar_t* tooLong[] = {L"ab", L"cde"};
    EXPECT_EQ(JoinBounded(out, 5, tooLong, 2), 0);
    EXPECT_EQ(out[0], 0);
    const wchar_t* firstTooLong[] = {L"abcde", L""};
    EXPECT_EQ(JoinBounded(out, 5, firstTooLong, 2), 0);
    EXPECT_EQ(JoinBounded(out, 0, fits, 0), 0);
}

TEST(ConnectorCommandLine, LongestDirectoryThatFitsAndOneMore)
{
    static wchar_t runtime[InstallPathCapacity];
    static wchar_t commandLine[ConnectorCommandLineCapacity];
    // 2 x d + 39 <= 8191: d = 4076 is the longest directory.
    std::wstring longest = DirectoryOfLength(4076);
    ASSERT_EQ(BuildRuntimePath(runtime, longest.c_str()), 1);
    ASSERT_EQ(BuildConnectorCommandLine(commandLine, runtime, longest.c_str()), 1);
    std::wstring expected = L"\"" + longest + L"\\runtime\\node.exe\" \"" + longest + L"\\app\\connector.js\"";
    EXPECT_EQ(std::wstring(commandLine), expected);
    EXPECT_EQ(wcslen(commandLine), 2u * 4076 + 39);
    EXPECT_EQ(wcslen(commandLine), 8191u);

    std::wstring oneMore = DirectoryOfLength(4077);
    ASSERT_EQ(BuildRuntimePath(runtime, oneMore.c_str()), 1);
    EXPECT_EQ(BuildConnectorCommandLine(commandLine, runtime, oneMore.c_str()), 0);
    EXPECT_EQ(commandLine[0], 0);
}

TEST(InstallPaths, RuntimeAndLogPathBounds)
{
    static wchar_t out[InstallPathCapacity];
    // d + 17 and d + 14 characters within 4096 (terminator included).
    EXPECT_EQ(BuildRuntimePath(out, DirectoryOfLength(4078).c_str()), 1);
    EXPECT_EQ(wcslen(out), 4095u);
    EXPECT_EQ(BuildRuntimePath(out, DirectoryOfLength(4079).c_str()), 0);
    EXPECT_EQ(BuildLogPath(out, DirectoryOfLength(4081).c_str()), 1);
    EXPECT_EQ(wcslen(out), 4095u);
    EXPECT_EQ(BuildLogPath(out, DirectoryOfLength(4082).c_str()), 0);
}

TEST(InstallPaths, SupervisorCommandLineBound)
{
    static wchar_t out[SupervisorCommandLineCapacity];
    // Every accepted executable path (up to 4095 characters) fits; the limit itself lies at 4096.
    std::wstring longestAccepted = DirectoryOfLength(4095);
    ASSERT_EQ(BuildSupervisorCommandLine(out, longestAccepted.c_str()), 1);
    EXPECT_EQ(std::wstring(out), L"\"" + longestAccepted + L"\" --background");
    EXPECT_EQ(BuildSupervisorCommandLine(out, DirectoryOfLength(4096).c_str()), 1);
    EXPECT_EQ(wcslen(out), 4111u);
    EXPECT_EQ(BuildSupervisorCommandLine(out, DirectoryOfLength(4097).c_str()), 0);
}

TEST(InstallPaths, DriveRootInstallation)
{
    wchar_t path[ExecutablePathCapacity] = L"C:\\launcher.exe";
    ASSERT_EQ(CutToDirectory(path), 1);
    EXPECT_EQ(std::wstring(path), L"C:");
    wchar_t runtime[InstallPathCapacity], log[InstallPathCapacity];
    static wchar_t commandLine[ConnectorCommandLineCapacity];
    ASSERT_EQ(BuildRuntimePath(runtime, path), 1);
    ASSERT_EQ(BuildLogPath(log, path), 1);
    ASSERT_EQ(BuildConnectorCommandLine(commandLine, runtime, path), 1);
    EXPECT_EQ(std::wstring(runtime), L"C:\\runtime\\node.exe");
    EXPECT_EQ(std::wstring(log), L"C:\\connector.log");
    EXPECT_EQ(std::wstring(commandLine), L"\"C:\\runtime\\node.exe\" \"C:\\app\\connector.js\"");
}

TEST(InstallPaths, CutAtTheLastBackslash)
{
    wchar_t nested[64] = L"C:\\Program Files\\Tovix\\launcher.exe";
    ASSERT_EQ(CutToDirectory(nested), 1);
    EXPECT_EQ(std::wstring(nested), L"C:\\Program Files\\Tovix");
    wchar_t unc[64] = L"\\\\server\\share\\launcher.exe";
    ASSERT_EQ(CutToDirectory(unc), 1);
    EXPECT_EQ(std::wstring(unc), L"\\\\server\\share");
    wchar_t bare[64] = L"launcher.exe";
    EXPECT_EQ(CutToDirectory(bare), 0);
    EXPECT_EQ(std::wstring(bare), L"launcher.exe");
}

TEST(InstallPaths, PortTextHasNoLeadingZeros)
{
    const struct {
        uint16_t port;
        const wchar_t* text;
    } cases[] = {{1024, L"1024"}, {8093, L"8093"}, {65535, L"65535"}, {10000, L"10000"}, {0, L"0"}};
    for (const auto& c : cases) {
        wchar_t out[PortTextCapacity];
        ASSERT_EQ(FormatPortText(out, c.port), 1);
        EXPECT_EQ(std::wstring(out), c.text);
    }
}
