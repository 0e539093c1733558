// State of the window role that several window modules share, and Scale, which reads its dpi. A bottom
// layer of the window: it uses nothing of it but the layout table and the view's types. Who writes what:
// main_window.cpp fills WindowRole, Controls, Fonts and the palette while the window opens; afterwards
// only the apply step (apply_view.cpp) writes Palette.StatusColor, Pairing and updateUrl. Everything here
// is touched by the UI thread only.
#pragma once
#include <windows.h>
#include <stdint.h>
#include "layout.h"
#include "window_view.h"

typedef int (*StartBackgroundFn)();

enum { RefreshTimerId = 1, RefreshTimerPeriodMs = 200 };

struct WindowRoleState {
    HINSTANCE instance;
    HWND mainWindow;
    HANDLE stopEvent;  // never closed by the window
    uint16_t port;
    StartBackgroundFn startBackground;
    int dpi;
    HICON icon;
};

struct Palette {
    COLORREF TextColor;
    COLORREF MutedTextColor;
    COLORREF PanelBorderColor;
    COLORREF StatusColor;
    COLORREF ErrorTextColor;
    HBRUSH PanelBrush;
    HBRUSH WindowBrush;
};

struct WindowFonts {
    HFONT TitleFont;
    HFONT HeadingFont;
    HFONT BodyFont;
    HFONT SmallFont;
};

extern WindowRoleState WindowRole;
// Every control, by row of the control table (null where a creation failed).
extern HWND Controls[ControlCount];
extern Palette palette;
extern WindowFonts Fonts;
// The pairing code on show, which the QR view paints and the countdown counts down.
extern PairingDisplay Pairing;
// The link of the update offer on show; empty when none is offered.
extern wchar_t updateUrl[UpdateUrlUnits];

// MulDiv(n, dpi, 96): every layout value is a 96-dpi value passed through here.
int Scale(int n);
