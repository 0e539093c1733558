// The window's colours: the palette with its high-contrast substitutes, and the rule that picks text
// colour and background for each static text. Pure functions of their inputs (no window handles), so both
// branches of high contrast are tested although it cannot be switched on everywhere.
#pragma once
#include <windows.h>
#include "window_state.h"

#define NormalMutedTextColor RGB(83, 88, 104)
#define NormalPanelBorderColor RGB(223, 224, 231)
#define NormalErrorTextColor RGB(161, 50, 64)
#define NormalPanelFill RGB(255, 255, 255)
#define NormalWindowFill RGB(247, 247, 251)
// The two status colours that are not palette entries; high contrast leaves them as they are.
#define OnlineColor RGB(25, 123, 77)
#define ConnectingColor RGB(144, 85, 21)

// The five palette colours and the fills of its two brushes.
struct PaletteColours {
    COLORREF text;
    COLORREF mutedText;
    COLORREF panelBorder;
    COLORREF status;
    COLORREF errorText;
    COLORREF panelFill;
    COLORREF windowFill;
};

// windowText and window are the system colours COLOR_WINDOWTEXT and COLOR_WINDOW.
PaletteColours ChoosePaletteColours(int highContrast, COLORREF windowText, COLORREF window);

// The colour of a StatusColour (window_view.h): the two fixed ones, or the palette's muted or error text.
COLORREF ResolveStatusColour(int colour, const Palette* colours);

// Non-zero when the system reports high contrast on (read once by RunWindow).
int QueryHighContrast();

// What a static text is, as far as its colour goes.
enum StaticTextKind { OrdinaryStaticText, StatusPillText, MessageText, PlaceholderText, ProjectsText };

struct StaticTextStyle {
    COLORREF colour;
    int onPanel;  // 1: PanelBrush, 0: WindowBrush
};

// top: the control's upper edge in client coordinates (pixels at dpi).
StaticTextStyle ChooseStaticTextStyle(int kind, int top, int dpi, const Palette* colours);
