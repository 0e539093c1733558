// The main window of the window role: DPI scale, palette, fonts, the two window classes, the fixed layout
// of 22 controls, painting, the static-text colour rule, the system-menu link and the message loop.
#pragma once
#include "window_state.h"

// The whole window role body: returns 0 when the message loop has ended, 1 when the window cannot open.
// show 0 (SW_HIDE) becomes SW_SHOWNORMAL.
int RunWindow(HINSTANCE instance, HANDLE stopEvent, uint16_t port, int show, StartBackgroundFn startBackground);

// RunWindow in its parts, so that tests can open the real window and pump its messages themselves:
// OpenMainWindow does everything up to and including ShowWindow/UpdateWindow (0 or 1 as RunWindow),
// RunMessageLoop runs the loop until WM_QUIT (returns 0). RunWindow = OpenMainWindow, StartController,
// RunMessageLoop.
int OpenMainWindow(HINSTANCE instance, HANDLE stopEvent, uint16_t port, int show, StartBackgroundFn startBackground);
int RunMessageLoop();
// One message of the loop: the dialog-style keyboard handling (Tab, Enter, arrows) first, then the focus
// follow-up (the default button). The tests pump their messages through it too.
void DispatchWindowMessage(MSG* msg);

// Creates one child of the main window (see the control table); font may be null.
HWND CreateControl(const wchar_t* className, const wchar_t* text, DWORD style, int id, int x, int y, int width,
                   int height, HFONT font);
