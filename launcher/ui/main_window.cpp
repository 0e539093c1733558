// PLACEHOLDER main window: a window of class "TovixMobileConnectorWindow" that closes itself when
// StopEvent is set, so that the process roles can be tested against a real window process. It is
// replaced by the real main window.
#include "main_window.h"

WindowRoleState WindowRole;
NamedControls Controls;
Palette palette;
WindowFonts Fonts;

static LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        if (WaitForSingleObject(WindowRole.stopEvent, 0) == WAIT_OBJECT_0)
            DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        KillTimer(window, RefreshTimerId);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int Scale(int n)
{
    return MulDiv(n, WindowRole.dpi ? WindowRole.dpi : 96, 96);
}

int OpenMainWindow(HINSTANCE instance, HANDLE stopEvent, uint16_t port, int show, StartBackgroundFn startBackground)
{
    WindowRole.instance = instance;
    WindowRole.stopEvent = stopEvent;
    WindowRole.port = port;
    WindowRole.startBackground = startBackground;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = L"TovixMobileConnectorWindow";
    if (!RegisterClassW(&wc))
        return 1;
    HWND window = CreateWindowExW(WS_EX_CONTROLPARENT, L"TovixMobileConnectorWindow", L"Tovix 随行连接器",
                                  0x2CA0000, 0, 0, 652, 556, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    WindowRole.mainWindow = window;
    ShowWindow(window, show ? show : SW_SHOWNORMAL);
    UpdateWindow(window);
    return 0;
}

int RunMessageLoop()
{
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

int RunWindow(HINSTANCE instance, HANDLE stopEvent, uint16_t port, int show, StartBackgroundFn startBackground)
{
    if (OpenMainWindow(instance, stopEvent, port, show, startBackground))
        return 1;
    startBackground();
    SetTimer(WindowRole.mainWindow, RefreshTimerId, RefreshTimerPeriodMs, nullptr);
    return RunMessageLoop();
}

HWND CreateControl(const wchar_t*, const wchar_t*, DWORD, int, int, int, int, int, HFONT)
{
    return nullptr;
}

void SetTextIfChanged(HWND, const wchar_t*) {}
