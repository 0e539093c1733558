// The update offer: a newer version with an acceptable HTTPS link, shown in the connection panel and
// opened in the default browser. UI thread only.
#pragma once
#include "api/status_document.h"

enum { UpdateUrlUnits = 2049 };

extern wchar_t updateUrl[UpdateUrlUnits];

void ShowUpdateOffer(const StatusSnapshot* snapshot);
int IsAcceptableUpdateUrl();
void OpenUpdateLink();

// The test of IsAcceptableUpdateUrl on any text (pure apart from WinHttpCrackUrl).
int IsAcceptableUpdateUrlText(const wchar_t* url);
