// State of the window role that every UI module shares, and Scale, which reads its dpi. A bottom layer of
// the window: it uses nothing of it but the layout arithmetic. main_window.cpp writes all of it (RunWindow
// and the creation step) except Palette.StatusColor, which only SetStatusPill (presentation.cpp) changes.
// Everything here is touched by the UI thread only.
#pragma once
#include <windows.h>
#include <stdint.h>

typedef int (*StartBackgroundFn)();

// Command identifiers of the controls and the system-menu item.
enum {
    StartButtonId = 100,
    StopButtonId = 101,
    RetryButtonId = 102,
    NewQrButtonId = 103,
    DeviceNameEditId = 104,
    DownloadButtonId = 105,
    RelayComboId = 106,
    OpenInBrowserCommand = 0x1000,
    RefreshTimerId = 1,
    RefreshTimerPeriodMs = 200,
};

struct WindowRoleState {
    HINSTANCE instance;
    HWND mainWindow;
    HANDLE stopEvent;  // never closed by the window
    uint16_t port;
    StartBackgroundFn startBackground;
    int dpi;
    HICON icon;
};

// The controls addressed after creation; the other seven are never touched again.
struct NamedControls {
    HWND statusPill;
    HWND qrView;
    HWND qrPlaceholder;
    HWND pairingCodeLabel;
    HWND newQrButton;
    HWND deviceNameEdit;
    HWND relayCombo;
    HWND workbenchLabel;
    HWND startButton;
    HWND stopButton;
    HWND retryButton;
    HWND messageLabel;
    HWND updateLabel;
    HWND downloadButton;
    HWND projectsLabel;
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
extern NamedControls Controls;
extern Palette palette;
extern WindowFonts Fonts;

// MulDiv(n, dpi, 96): every layout value is a 96-dpi value passed through here.
int Scale(int n);
