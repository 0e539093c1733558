// The apply step: writes a WindowView (window_view.h) to the window, comparing each part with what the
// screen shows and changing only what differs. Called by the controller, the only module that decides
// when the window changes. UI thread only.
#pragma once
#include "window_view.h"

void ApplyView(const WindowView* view);
