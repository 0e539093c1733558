// The keyboard focus, kept as a dialog box keeps it, so that a keyboard or screen-reader user never
// loses it: a control that is about to be disabled or hidden while it has the focus hands the focus to
// the window itself (where keys still reach the message loop) and is remembered; when the controls come
// back the focus returns to it, or to the next control that can take it. Activation saves and restores
// the focus, and exactly one push button carries the default look: the focused one, else StartButton.
// Focus moves through WM_NEXTDLGCTL, which the main window handles as the dialog manager does. UI thread.
#pragma once
#include <windows.h>

// Before control is disabled or hidden (the apply step).
void KeepFocusFrom(HWND control);
// After a snapshot or the unreachable view brought the controls back (the controller): when the focus
// is on the window itself, or nowhere, it goes to the remembered control, the next one that can take it,
// or the first one. Nothing happens while the window is not the active one.
void ReturnFocus();

// The main window's handling of WM_NEXTDLGCTL (lParam non-zero: wParam is the control; else wParam
// non-zero for the previous control, zero for the next) and of WM_ACTIVATE.
void OnNextDlgCtl(WPARAM wParam, LPARAM lParam);
void OnActivate(WPARAM wParam);
// After each message of the loop: the default look follows the focus, however it moved (Tab, a click).
void FollowFocus(UINT message);
