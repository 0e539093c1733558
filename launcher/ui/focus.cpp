// The keyboard focus (see focus.h). The window is not a dialog box, so the dialog manager's focus and
// default-button handling (DefDlgProc) is not there for it; this file does that part. Windows does not
// move the focus off a control that gets disabled: it stays on a window that cannot take keys, and Tab
// does nothing until the user clicks.
#include "focus.h"
#include "layout.h"
#include "window_state.h"

// The control that lost the focus to the window itself (disabled, hidden or deactivated), until the focus
// goes back to a control.
static HWND rememberedFocus;
static HWND lastFocus;

static int TakesFocus(HWND control)
{
    LONG style = control ? GetWindowLongW(control, GWL_STYLE) : 0;
    return (style & (WS_VISIBLE | WS_DISABLED | WS_TABSTOP)) == (WS_VISIBLE | WS_TABSTOP);
}

static int IsOurControl(HWND window)
{
    return window && window != WindowRole.mainWindow && IsChild(WindowRole.mainWindow, window);
}

static void MoveFocus(HWND target)
{
    SendMessageW(WindowRole.mainWindow, WM_NEXTDLGCTL, (WPARAM)target, TRUE);
}

// DLGC_DEFPUSHBUTTON or DLGC_UNDEFPUSHBUTTON for a push button, else 0.
static UINT PushButtonCode(HWND control)
{
    UINT code = control ? (UINT)SendMessageW(control, WM_GETDLGCODE, 0, 0) : 0;
    return code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON);
}

// One default button, as in a dialog box: the focused push button, else StartButton.
static void UpdateDefaultButton()
{
    HWND focus = GetFocus();
    HWND chosen = IsOurControl(focus) && PushButtonCode(focus) ? focus : Controls[StartButtonIndex];
    for (HWND control : Controls) {
        UINT code = PushButtonCode(control);
        if (!code)
            continue;
        int isDefault = (code & DLGC_DEFPUSHBUTTON) != 0;
        if (isDefault != (control == chosen))
            SendMessageW(control, BM_SETSTYLE, control == chosen ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
    }
    lastFocus = focus;
}

void KeepFocusFrom(HWND control)
{
    if (!control || GetFocus() != control)
        return;
    rememberedFocus = control;
    MoveFocus(WindowRole.mainWindow);
}

// Where the focus goes when it is on the window itself: the remembered control, the next one that can
// take it, or the first one; null when no control can take it.
static HWND FocusTarget()
{
    if (TakesFocus(rememberedFocus))
        return rememberedFocus;
    HWND next = GetNextDlgTabItem(WindowRole.mainWindow, rememberedFocus, FALSE);
    if (TakesFocus(next))
        return next;
    HWND first = GetNextDlgTabItem(WindowRole.mainWindow, nullptr, FALSE);
    return TakesFocus(first) ? first : nullptr;
}

void ReturnFocus()
{
    if (GetActiveWindow() != WindowRole.mainWindow)
        return;  // WM_ACTIVATE brings it back when the user returns
    HWND focus = GetFocus();
    if (IsOurControl(focus) && TakesFocus(focus)) {
        rememberedFocus = nullptr;
        return;
    }
    HWND target = FocusTarget();
    if (!target)
        return;
    rememberedFocus = nullptr;
    MoveFocus(target);
}

void OnNextDlgCtl(WPARAM wParam, LPARAM lParam)
{
    HWND target = lParam ? (HWND)wParam : GetNextDlgTabItem(WindowRole.mainWindow, GetFocus(), wParam != 0);
    if (!target)
        return;
    // An edit that gets the focus from the keyboard selects its text, as in a dialog box.
    if (target != WindowRole.mainWindow && (SendMessageW(target, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL))
        SendMessageW(target, EM_SETSEL, 0, -1);
    SetFocus(target);
    UpdateDefaultButton();
}

void OnActivate(WPARAM wParam)
{
    if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (IsOurControl(focus))
            rememberedFocus = focus;
        return;
    }
    if (HIWORD(wParam))
        return;  // minimised: the focus comes back when it is restored
    // The remembered control only, not the next one: while an action is busy the controls come back with
    // the next snapshot, and the focus with them.
    HWND target = TakesFocus(rememberedFocus) ? rememberedFocus : nullptr;
    if (!target && !rememberedFocus)
        target = FocusTarget();
    if (target)
        rememberedFocus = nullptr;
    MoveFocus(target ? target : WindowRole.mainWindow);
}

void FollowFocus(UINT message)
{
    // The dialog manager's own Tab handling takes the default look off every button and gives it only to
    // a button it moves to, also when the focus stays where it was: after a key, look again.
    int key = message >= WM_KEYFIRST && message <= WM_KEYLAST;
    if (key || GetFocus() != lastFocus)
        UpdateDefaultButton();
}
