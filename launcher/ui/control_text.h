// The two ways a text reaches a control: the connector's UTF-8 decoded strictly into a fixed buffer, and
// a write that skips text the control already shows. Used by every view and the controller; includes no
// other module of the window.
#pragma once
#include <windows.h>

// Strict UTF-8 to UTF-16 into a buffer of `units` code units; invalid or too long gives the empty text.
// Returns the number of code units written, without the terminator.
int DecodeUtf8Strict(const char* utf8, wchar_t* out, int units);

// Writes text only when it differs from the control's current text (read back into 512 units).
void SetTextIfChanged(HWND control, const wchar_t* text);
