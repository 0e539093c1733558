// Strict decoding of the connector's texts and writes that skip unchanged text (see control_text.h), so
// that a refresh that brings nothing new sets no text and causes no repaint.
#include "control_text.h"

enum { TextReadBackUnits = 512 };

int DecodeUtf8Strict(const char* utf8, wchar_t* out, int units)
{
    if (units <= 0)
        return 0;
    int n = utf8 ? MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, out, units) : 0;
    if (n <= 0) {
        out[0] = 0;  // invalid or too long: shown empty, never cut
        return 0;
    }
    return n - 1;
}

void SetTextIfChanged(HWND control, const wchar_t* text)
{
    wchar_t current[TextReadBackUnits];
    current[0] = 0;
    GetWindowTextW(control, current, TextReadBackUnits);
    if (wcscmp(current, text) != 0)
        SetWindowTextW(control, text);
}
