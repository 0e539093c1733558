// ApplyView (see apply_view.h). Texts go through SetTextIfChanged, controls are shown without activation
// (SW_SHOWNA), and a repaint is asked for only when the pill's colour or the QR symbol changes, so that
// applying the same view twice writes nothing and repaints nothing.
#include "apply_view.h"
#include <string.h>
#include <wchar.h>
#include "control_text.h"
#include "focus.h"
#include "layout.h"
#include "palette.h"
#include "window_state.h"

static void ApplyControl(HWND control, const ControlView& c)
{
    if (!control)
        return;
    if (c.setText)
        SetTextIfChanged(control, c.text);
    // A control that is disabled or hidden while it has the focus hands it to the window first. What the
    // view keeps is not even looked at: the countdown applies a view on every tick.
    if (c.enabled != Keep && (IsWindowEnabled(control) != 0) != c.enabled) {
        if (!c.enabled)
            KeepFocusFrom(control);
        EnableWindow(control, c.enabled);
    }
    // The control's own visibility, whatever its parent's (the window may be minimised or not shown yet).
    if (c.shown != Keep && ((GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0) != c.shown) {
        if (!c.shown)
            KeepFocusFrom(control);
        ShowWindow(control, c.shown ? SW_SHOWNA : SW_HIDE);
    }
}

static void MoveStopButton(int y)
{
    HWND stop = Controls[StopButtonIndex];
    RECT now;
    if (!stop || !GetWindowRect(stop, &now))
        return;
    MapWindowPoints(nullptr, WindowRole.mainWindow, (POINT*)&now, 2);
    if (now.left != Scale(StopButtonX) || now.top != Scale(y))
        SetWindowPos(stop, nullptr, Scale(StopButtonX), Scale(y), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

static void ApplyPairing(const PairingView& p)
{
    if (p.change == WithdrawPairing) {
        // The module bytes stay; with qrSize 0 they are never read.
        Pairing.qrSize = 0;
        Pairing.pairingExpiresAt = 0;
        Pairing.pairingCode[0] = 0;
    } else if (p.change == ShowPairingCode) {
        size_t bytes = (size_t)p.size * (size_t)p.size;
        if (Pairing.qrSize != p.size || memcmp(Pairing.qrModules, p.modules, bytes) != 0) {
            Pairing.qrSize = p.size;
            memcpy(Pairing.qrModules, p.modules, bytes);
            InvalidateRect(Controls[QrViewIndex], nullptr, FALSE);  // PaintQr covers every pixel itself
        }
        wcscpy(Pairing.pairingCode, p.code);
        Pairing.pairingExpiresAt = p.expiresAt;
    }
}

void ApplyView(const WindowView* view)
{
    if (view->statusColour != Keep) {
        COLORREF colour = ResolveStatusColour(view->statusColour, &palette);
        if (colour != palette.StatusColor) {
            palette.StatusColor = colour;
            InvalidateRect(Controls[StatusPillIndex], nullptr, TRUE);  // the colour rule reads it at the repaint
        }
    }
    ApplyPairing(view->pairing);
    if (view->setUpdateUrl)
        wcscpy(updateUrl, view->updateUrl);
    if (view->relaySelection != Keep &&
        SendMessageW(Controls[RelayComboIndex], CB_GETCURSEL, 0, 0) != view->relaySelection)
        SendMessageW(Controls[RelayComboIndex], CB_SETCURSEL, view->relaySelection, 0);
    for (int i = 0; i < ControlCount; ++i)
        ApplyControl(Controls[i], view->controls[i]);
    if (view->stopButtonY != Keep)
        MoveStopButton(view->stopButtonY);
}
