// End to end: a real window process closes at the tick after "--stop" sets StopEvent, and the stop command
// reports success once it has gone.
#include <gtest/gtest.h>
#include "installation.h"
#include "loopback_server.h"
#include "process_util.h"

TEST(ControllerProcess, StopCommandEndsARealWindow)
{
    Installation installation;
    ASSERT_TRUE(CreateInstallation(&installation, false));
    wchar_t port[8];
    swprintf(port, 8, L"%u", unsigned(FindUnusedLoopbackPort()));
    StartedProcess window = StartWithTail(installation.launcher, L"", {{L"TOVIX_MOBILE_CONNECTOR_PORT", port}});
    ASSERT_NE(nullptr, window.process);
    EXPECT_NE(nullptr, FindTopWindow(L"TovixMobileConnectorWindow", window.pid, 15000));
    EXPECT_EQ(0, RunStop(installation));
    DWORD exitCode = 99;
    EXPECT_TRUE(WaitForExit(window.process, 2000, &exitCode));
    EXPECT_EQ(0u, exitCode);
    EXPECT_EQ(nullptr, FindTopWindow(L"TovixMobileConnectorWindow", window.pid, 0));
    KillAndClose(&window);
    RemoveInstallation(&installation);
}
