// The QR view: the window class procedure that paints the pairing code's symbol held in Pairing
// (window_state.h), and the two pure helpers of the pairing display, the countdown text and the symbol's
// geometry. UI thread only.
#pragma once
#include <windows.h>
#include <stdint.h>

LRESULT CALLBACK PaintQr(HWND view, UINT message, WPARAM wParam, LPARAM lParam);

// "配对码 %s  ·  剩余 %d:%02d" for remainingMs > 0 into out (100 units). Non-zero when formatted.
enum { CountdownUnits = 100 };
int FormatCountdown(const wchar_t* code, int64_t remainingMs, wchar_t* out, int units);

struct QrGeometry {
    int module;  // pixels per module; 0 when the view is too small
    int left;
    int top;
};
QrGeometry ComputeQrGeometry(int width, int height, int modules);
