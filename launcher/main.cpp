// Process entry of launcher.exe: hands the command-line tail and the show value to LauncherMain.
#include <windows.h>
#include "roles.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    return LauncherMain(instance, CommandTail(GetCommandLineW()), show);
}
