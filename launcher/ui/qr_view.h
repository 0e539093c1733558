// The QR view and the pairing countdown: the window's copy of the pairing code and its symbol, the view
// that draws the symbol, and the countdown in PairingCodeLabel. UI thread only.
#pragma once
#include <windows.h>
#include <stdint.h>
#include "api/status_document.h"

enum { QrMaxModules = 177 };

struct PairingDisplay {
    int32_t qrSize;  // 0 when no symbol is held
    unsigned char qrModules[QrMaxModules * QrMaxModules];
    wchar_t pairingCode[7];
    int64_t pairingExpiresAt;  // wall-clock ms; 0 when no countdown runs
};

extern PairingDisplay Pairing;

int ShowPairing(const StatusSnapshot* snapshot);
void ClearPairing();
void TickCountdown();
LRESULT CALLBACK PaintQr(HWND view, UINT message, WPARAM wParam, LPARAM lParam);

// Pure helpers, tested directly.
// "配对码 %s  ·  剩余 %d:%02d" for remainingMs > 0 into out (100 units). Non-zero when formatted.
int FormatCountdown(const wchar_t* code, int64_t remainingMs, wchar_t* out, int units);
struct QrGeometry {
    int module;  // pixels per module; 0 when the view is too small
    int left;
    int top;
};
QrGeometry ComputeQrGeometry(int width, int height, int modules);
