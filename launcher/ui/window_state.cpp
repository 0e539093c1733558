// The shared state of the window role (see window_state.h) and Scale. main_window.cpp fills it in while
// the window opens; the views and the controller read it.
#include "window_state.h"
#include "layout.h"

WindowRoleState WindowRole;
NamedControls Controls;
Palette palette;
WindowFonts Fonts;

int Scale(int n)
{
    return ScaleAt(n, WindowRole.dpi ? WindowRole.dpi : 96);
}
