// The update offer: DecideUpdateOffer (a step of the snapshot decision) offers "发现新版本 %s" and
// DownloadButton only for a version with an acceptable HTTPS link, and OpenUpdateLink (DownloadButton's
// command) hands that link to the shell after testing it once more.
#include "update_offer.h"
#include <windows.h>
#include <winhttp.h>
#include <stdio.h>
#include "browser_link.h"
#include "control_text.h"
#include "window_state.h"

enum { VersionUnits = 300, OfferTextUnits = 512, MaxUpdateUrlChars = UpdateUrlUnits - 1 };

// The authority after "https://" must be a host with at most one well-formed port: a bracketed literal
// closed before the port, no second colon, a port of 1-5 digits from 1 to 65535. Some URL crackers pass
// "host:-1", "host:abc", "host:443:443" or an unclosed "[" and leave the rest to whoever opens the link.
static int HasWellFormedAuthority(const wchar_t* url)
{
    const wchar_t* at = wcsstr(url, L"://");
    if (!at)
        return 0;
    at += 3;
    const wchar_t* end = at;
    while (*end && *end != L'/' && *end != L'?' && *end != L'#')
        ++end;
    const wchar_t* hostEnd = end;
    if (*at == L'[') {
        const wchar_t* close = at;
        while (close < end && *close != L']')
            ++close;
        if (close == end)
            return 0;
        hostEnd = close + 1;
        if (hostEnd < end && *hostEnd != L':')
            return 0;
    } else {
        for (const wchar_t* c = at; c < end; ++c)
            if (*c == L':') {
                hostEnd = c;
                break;
            }
    }
    if (hostEnd == at)
        return 0;
    if (hostEnd == end)
        return 1;
    const wchar_t* port = hostEnd + 1;
    long value = 0;
    if (port == end || end - port > 5)
        return 0;
    for (const wchar_t* c = port; c < end; ++c) {
        if (*c < L'0' || *c > L'9')
            return 0;
        value = value * 10 + (*c - L'0');
    }
    return value >= 1 && value <= 65535;
}

int IsAcceptableUpdateUrlText(const wchar_t* url)
{
    if (!url || !url[0])
        return 0;
    size_t length = wcsnlen(url, MaxUpdateUrlChars + 1);
    if (length > MaxUpdateUrlChars)
        return 0;
    // The shell must get the link exactly as tested: no spaces or controls that could split or hide part
    // of it, no backslash that some parsers read as a slash. The URL cracker accepts some of these (and
    // more on some platforms), so they are refused before it is asked.
    for (size_t i = 0; i < length; ++i) {
        wchar_t c = url[i];
        if (c <= 0x20 || c == 0x5C || c == 0x7F)
            return 0;
    }
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = (DWORD)-1;
    parts.dwHostNameLength = (DWORD)-1;
    parts.dwUserNameLength = (DWORD)-1;
    parts.dwPasswordLength = (DWORD)-1;
    if (!WinHttpCrackUrl(url, 0, 0, &parts))
        return 0;
    return parts.nScheme == INTERNET_SCHEME_HTTPS && parts.dwHostNameLength != 0 && parts.dwUserNameLength == 0 &&
           parts.dwPasswordLength == 0 && HasWellFormedAuthority(url);
}

int IsAcceptableUpdateUrl()
{
    return IsAcceptableUpdateUrlText(updateUrl);
}

void DecideUpdateOffer(const StatusSnapshot* snapshot, WindowView* view)
{
    wchar_t version[VersionUnits];
    DecodeUtf8Strict(snapshot->newVersion, version, VersionUnits);
    view->setUpdateUrl = 1;
    DecodeUtf8Strict(snapshot->updateLink, view->updateUrl, UpdateUrlUnits);
    wchar_t text[OfferTextUnits];
    int n = version[0] && IsAcceptableUpdateUrlText(view->updateUrl)
                ? _snwprintf(text, OfferTextUnits, L"发现新版本 %ls", version)
                : -1;
    int offered = n >= 0 && n < OfferTextUnits;
    if (offered)
        SetViewText(view, UpdateLabelIndex, text);
    else
        view->updateUrl[0] = 0;  // the label keeps its last text while hidden
    SetViewShown(view, UpdateLabelIndex, offered);
    SetViewShown(view, DownloadButtonIndex, offered);
}

void OpenUpdateLink()
{
    if (IsAcceptableUpdateUrl())
        OpenLinkInBrowser(WindowRole.mainWindow, updateUrl);
}
