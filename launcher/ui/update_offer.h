// The update offer: a newer version with an acceptable HTTPS link, shown in the connection panel and
// opened in the default browser. UI thread only.
#pragma once
#include "api/status_document.h"
#include "window_view.h"

// The offer of a snapshot, into view: UpdateLabel's text, both controls shown or hidden, and the link
// (emptied when nothing is offered). A step of the snapshot decision.
void DecideUpdateOffer(const StatusSnapshot* snapshot, WindowView* view);

// The test of a link: an absolute HTTPS URL with a host, no user name or password, no space, control
// character, backslash or DEL, at most 2048 code units (pure apart from WinHttpCrackUrl).
int IsAcceptableUpdateUrlText(const wchar_t* url);
// The same test of the link on offer (updateUrl).
int IsAcceptableUpdateUrl();
// DownloadButton's command: opens the link on offer after testing it once more.
void OpenUpdateLink();
