// What the window shows, as data. A decision (presentation.h) fills a WindowView for one situation; the
// apply step (apply_view.h) writes to the screen only what differs from it. Each control of the control
// table has an entry: its text, whether it is shown and whether it is enabled, each of them either a
// value or "keep what is there". Beside them: StopButton's row, the relay selection, the status pill's
// colour, the pairing display and the update link. Plain data, no window handles; the bottom of the window
// modules, which every other one may include.
#pragma once
#include <windows.h>
#include <stdint.h>
#include "layout.h"
#include "api/connector_contract.h"

enum {
    Keep = -1,              // shown, enabled, stopButtonY, relaySelection, statusColour: leave as it is
    ViewTextUnits = 512,    // every text the window writes fits, with its terminator
    PairingCodeUnits = 7,   // six digits and the terminator
    UpdateUrlUnits = 2049,  // at most 2048 code units and the terminator
};

struct ControlView {
    int setText;  // 1: the control shows text; 0: its text is left alone
    wchar_t text[ViewTextUnits];
    int shown;    // 1, 0 or Keep
    int enabled;  // 1, 0 or Keep
};

// Which colour the status pill's text takes; the apply step resolves it against the palette, whose
// entries high contrast may have replaced.
enum StatusColour { MutedStatusColour, OnlineStatusColour, ConnectingStatusColour, ErrorStatusColour };

// The pairing code on show: the QR symbol and the countdown's code and expiry.
struct PairingDisplay {
    int32_t qrSize;  // 0 when no symbol is held
    unsigned char qrModules[QrMaxModules * QrMaxModules];
    wchar_t pairingCode[PairingCodeUnits];
    int64_t pairingExpiresAt;  // wall-clock ms; 0 when no countdown runs
};

enum PairingChange { KeepPairing, ShowPairingCode, WithdrawPairing };

struct PairingView {
    int change;           // PairingChange
    int32_t size;         // ShowPairingCode: modules a side
    const char* modules;  // ShowPairingCode: size * size bytes of '0' and '1', borrowed from the snapshot
    wchar_t code[PairingCodeUnits];
    int64_t expiresAt;
};

struct WindowView {
    ControlView controls[ControlCount];  // by row of the control table
    int stopButtonY;                     // 96-dpi row of StopButton, or Keep
    int relaySelection;                  // RelayCombo's item, or Keep
    int statusColour;                    // StatusColour, or Keep
    PairingView pairing;
    int setUpdateUrl;                    // 1: the link below replaces the offered one
    wchar_t updateUrl[UpdateUrlUnits];
};

// Everything kept: a decision then states only what its situation changes.
void KeepEverything(WindowView* view);

// The entry of one control, by row.
void SetViewText(WindowView* view, int control, const wchar_t* text);
void SetViewShown(WindowView* view, int control, int shown);
void SetViewEnabled(WindowView* view, int control, int enabled);
