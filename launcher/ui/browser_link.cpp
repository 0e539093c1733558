// Opens links through the shell, which is loaded at the first link rather than with the process: shell32
// and the libraries it pulls in are a measurable part of the window's start-up, and most sessions never
// open a link.
#include "browser_link.h"

typedef HINSTANCE(WINAPI* ShellExecuteWFn)(HWND, const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*,
                                            int);

void OpenLinkInBrowser(HWND owner, const wchar_t* url)
{
    static ShellExecuteWFn shellExecute;
    if (!shellExecute) {
        // From the system folder only: never a shell32.dll planted beside the executable.
        HMODULE shell = LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (shell)
            shellExecute = reinterpret_cast<ShellExecuteWFn>(
                reinterpret_cast<void*>(GetProcAddress(shell, "ShellExecuteW")));
        if (!shellExecute)
            return;
    }
    shellExecute(owner, L"open", url, nullptr, nullptr, SW_SHOWNORMAL);
}
