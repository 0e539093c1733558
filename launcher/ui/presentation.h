// Status presentation: turns an accepted snapshot, or the lack of one, into what the window shows.
// Called by the controller only; UI thread only.
#pragma once
#include <windows.h>
#include "api/status_document.h"

#define OnlineColor RGB(25, 123, 77)
#define ConnectingColor RGB(144, 85, 21)

void ApplySnapshot(const StatusSnapshot* snapshot);
void ShowUnreachableView();
void RefreshStartControls();
void SetStatusPill(const wchar_t* text, COLORREF colour);

// Strict UTF-8 to UTF-16 into a buffer of `units` code units; invalid or too long gives the empty text.
// Returns the number of code units written, without the terminator.
int DecodeUtf8Strict(const char* utf8, wchar_t* out, int units);
