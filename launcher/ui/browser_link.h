// Hands a link to the user's default browser (the shell's "open" verb). Used by the system-menu item and
// the update offer; includes no other module of the window.
#pragma once
#include <windows.h>

// ShellExecuteW(owner, "open", url, no parameters, no directory, SW_SHOWNORMAL); its result is not
// looked at. Nothing happens when the shell cannot be loaded.
void OpenLinkInBrowser(HWND owner, const wchar_t* url);
