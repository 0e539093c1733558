// The QR view: PaintQr draws the symbol that the apply step keeps in Pairing, and the pure helpers that
// the decisions use for the countdown text and that the paint uses for the symbol's place. The window
// registers PaintQr as the procedure of the QR view's class.
#include "qr_view.h"
#include <stdio.h>
#include "window_state.h"

enum { QuietZoneModules = 8 };

// Past 2^31 seconds the minutes no longer fit the format's 32-bit integers: such an expiry (decades
// away) is shown as the largest countdown that does, which still fits the label.
static const int64_t MaxCountdownSeconds = 0x7FFFFFFF;

int FormatCountdown(const wchar_t* code, int64_t remainingMs, wchar_t* out, int units)
{
    if (remainingMs <= 0 || units <= 0)
        return 0;
    int64_t seconds = remainingMs / 1000 + (remainingMs % 1000 != 0);  // rounded up: never 0:00 while time is left
    if (seconds > MaxCountdownSeconds)
        seconds = MaxCountdownSeconds;
    int minutes = (int)(seconds / 60);
    int rest = (int)(seconds % 60);
    int n = _snwprintf(out, units, L"配对码 %ls  ·  剩余 %d:%02d", code, minutes, rest);
    if (n < 0 || n >= units) {
        out[0] = 0;
        return 0;
    }
    return 1;
}

QrGeometry ComputeQrGeometry(int width, int height, int modules)
{
    QrGeometry g = {0, 0, 0};
    if (modules <= 0)
        return g;
    int side = width < height ? width : height;
    g.module = side > 0 ? side / (modules + QuietZoneModules) : 0;
    g.left = (width - modules * g.module) / 2;
    g.top = (height - modules * g.module) / 2;
    return g;
}

// One row of the symbol as a 1-bit image: a bit per module, padded to 32 bits.
enum { QrImageRowBytes = (QrMaxModules + 31) / 32 * 4 };

// Draws the whole view into dc: white, then the held symbol as a 1-bit image of one pixel per module,
// enlarged by the whole module size in one call. (A FillRect per dark module took milliseconds for the
// largest symbols, and the window answers nothing meanwhile.)
static void DrawQr(HDC dc, int width, int height)
{
    RECT all = {0, 0, width, height};
    FillRect(dc, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
    int n = Pairing.qrSize;
    if (n == 0)
        return;
    QrGeometry g = ComputeQrGeometry(width, height, n);
    if (g.module == 0)
        return;
    static unsigned char image[QrMaxModules * QrImageRowBytes];
    int rowBytes = (n + 31) / 32 * 4;
    const unsigned char* modules = Pairing.qrModules;
    for (int r = 0; r < n; ++r) {
        for (int b = 0; b < rowBytes; ++b) {
            unsigned char bits = 0xFF;  // colour 1: light, also for the padding
            for (int k = b * 8; k < b * 8 + 8 && k < n; ++k)
                if (modules[r * n + k] == '1')
                    bits &= (unsigned char)~(0x80 >> (k - b * 8));  // colour 0: dark
            image[r * rowBytes + b] = bits;
        }
    }
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[2];
    } format = {};
    format.header.biSize = sizeof format.header;
    format.header.biWidth = n;
    format.header.biHeight = -n;  // top row first
    format.header.biPlanes = 1;
    format.header.biBitCount = 1;
    format.header.biCompression = BI_RGB;
    format.colours[1] = {255, 255, 255, 0};
    StretchDIBits(dc, g.left, g.top, n * g.module, n * g.module, 0, 0, n, n, image, (BITMAPINFO*)&format,
                  DIB_RGB_COLORS, SRCCOPY);
}

LRESULT CALLBACK PaintQr(HWND view, UINT message, WPARAM wParam, LPARAM lParam)
{
    RECT client;
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(view, &ps);
        GetClientRect(view, &client);
        DrawQr(dc, client.right, client.bottom);
        EndPaint(view, &ps);
        return 0;
    }
    case WM_PRINTCLIENT:
        // Lets PrintWindow and screenshots capture the symbol as it is painted.
        GetClientRect(view, &client);
        DrawQr((HDC)wParam, client.right, client.bottom);
        return 0;
    }
    return DefWindowProcW(view, message, wParam, lParam);
}
