// The small writers of a WindowView (see window_view.h), used by the decisions.
#include "window_view.h"
#include <wchar.h>

void KeepEverything(WindowView* view)
{
    for (ControlView& c : view->controls) {
        c.setText = 0;
        c.text[0] = 0;
        c.shown = Keep;
        c.enabled = Keep;
    }
    view->stopButtonY = Keep;
    view->relaySelection = Keep;
    view->statusColour = Keep;
    view->pairing.change = KeepPairing;
    view->setUpdateUrl = 0;
    view->updateUrl[0] = 0;
}

void SetViewText(WindowView* view, int control, const wchar_t* text)
{
    ControlView& c = view->controls[control];
    c.setText = 1;
    // Every text of the window fits; one that did not would be cut here rather than overrun.
    wcsncpy(c.text, text, ViewTextUnits - 1);
    c.text[ViewTextUnits - 1] = 0;
}

void SetViewShown(WindowView* view, int control, int shown)
{
    view->controls[control].shown = shown ? 1 : 0;
}

void SetViewEnabled(WindowView* view, int control, int enabled)
{
    view->controls[control].enabled = enabled ? 1 : 0;
}
