// The shared state of the window role (see window_state.h) and Scale. main_window.cpp fills it in while
// the window opens; the apply step keeps the pill colour, the pairing display and the update link.
#include "window_state.h"

WindowRoleState WindowRole;
HWND Controls[ControlCount];
Palette palette;
WindowFonts Fonts;
PairingDisplay Pairing;
wchar_t updateUrl[UpdateUrlUnits];

int Scale(int n)
{
    return ScaleAt(n, WindowRole.dpi ? WindowRole.dpi : 96);
}
