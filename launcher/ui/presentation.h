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
