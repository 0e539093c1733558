// The fixed layout of the main window as data: the 22 rows of the control table (96-dpi rectangles,
// classes, styles, ids, fonts, initial texts and states), the font table, and the arithmetic that scales
// them and places the window in the work area. The table is the one source of the controls' ids and
// initial texts, and its row index names each control everywhere else. No window handles here;
// main_window.cpp walks the tables.
#pragma once
#include <windows.h>

// Rows of the control table, in creation (and Z and Tab) order.
enum ControlIndex {
    TitleLabelIndex,
    SubtitleLabelIndex,
    StatusPillIndex,
    QrHeadingIndex,
    QrViewIndex,
    QrPlaceholderIndex,
    PairingCodeLabelIndex,
    NewQrButtonIndex,
    ConnectionHeadingIndex,
    DeviceNameCaptionIndex,
    DeviceNameEditIndex,
    RelayCaptionIndex,
    RelayComboIndex,
    WorkbenchLabelIndex,
    StartButtonIndex,
    StopButtonIndex,
    RetryButtonIndex,
    MessageLabelIndex,
    UpdateLabelIndex,
    DownloadButtonIndex,
    ProjectsLabelIndex,
    FooterLabelIndex,
    ControlCount
};

// Command identifiers of the controls that send commands (every other control has id 0), and of the
// system-menu item.
enum {
    StartButtonId = 100,
    StopButtonId = 101,
    RetryButtonId = 102,
    NewQrButtonId = 103,
    DeviceNameEditId = 104,
    DownloadButtonId = 105,
    RelayComboId = 106,
    OpenInBrowserCommand = 0x1000,
};

enum FontIndex { TitleFontIndex, HeadingFontIndex, BodyFontIndex, SmallFontIndex, FontCount, NoFont = -1 };

enum { ControlInitiallyDisabled = 1, ControlInitiallyHidden = 2 };

struct ControlRow {
    const wchar_t* className;
    const wchar_t* text;
    DWORD style;  // besides WS_CHILD | WS_VISIBLE
    int id;
    int x, y, width, height;  // 96-dpi client coordinates
    int font;                 // FontIndex or NoFont
    int initialState;         // ControlInitiallyDisabled | ControlInitiallyHidden
};

extern const ControlRow ControlTable[ControlCount];

struct FontRow {
    int size;  // character height at 96 dpi
    int weight;
};
extern const FontRow FontTable[FontCount];

// The main window: class, title, style and client size at 96 dpi.
#define MainWindowClassName L"TovixMobileConnectorWindow"
#define QrViewClassName L"TovixMobileConnectorQR"
#define MainWindowTitle L"Tovix 随行连接器"
enum {
    MainWindowStyle = WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,  // 0x2CA0000
    ClientWidth = 652,
    ClientHeight = 556,
};

// The two panels and the icon (96-dpi client coordinates). The panel band [PanelTop, PanelBottom) decides
// which static texts sit on a panel.
enum {
    PanelTop = 92,
    PanelBottom = 518,
    PairingPanelLeft = 24,
    PairingPanelRight = 310,
    ConnectionPanelLeft = 324,
    ConnectionPanelRight = 628,
    PanelCorner = 16,
    IconX = 24,
    IconY = 24,
    IconSize = 39,
    // Static texts whose top is above this line, outside the panels, are the title: ordinary text colour.
    TitleBandBottom = 27,
    // StopButton sits here while StartButton is shown (the RetryButton row), else on StartButton's row.
    StopButtonLowerY = 344,
    StopButtonUpperY = 310,
    StopButtonX = 342,
};

// The relay choices of RelayCombo, by index, which is the RelayProvider value of each.
extern const wchar_t* const RelayComboItems[2];

// MulDiv(n, dpi, 96): rounded to nearest, halves away from zero.
int ScaleAt(int n, int dpi);

// Height passed to CreateFontW for a font row: -ScaleAt(size, dpi).
int FontHeightAt(int font, int dpi);

// Top-left corner of a window of outer size width x height in the work area: centred, or at the work
// area's left/top edge when the window is wider/higher. An odd spare pixel goes right/bottom.
POINT PlaceInWorkArea(RECT workArea, int width, int height);
