// Status presentation: what the window shows in each situation, decided in one place. Each decision is a
// pure function from plain inputs (a snapshot, the controller's flags it needs, the clocks) to a
// WindowView and the few facts the controller needs back; it holds no window handles and changes no state.
// The controller applies the view (apply_view.h) and keeps the facts. Tests call the decisions directly.
#pragma once
#include <stdint.h>
#include "api/status_document.h"
#include "window_view.h"

// The controller's flags and the clocks that the decisions read.
struct ViewInputs {
    int deviceNameEdited;      // the user has typed a name: snapshots no longer write it
    int deviceNameFocused;     // the name's field has the keyboard focus: not written meanwhile
    int relaySwitchRequested;  // the user changed the relay and has not connected with it yet
    int actionBusy;
    int connectorUnreachable;
    int32_t connection;        // ConnectionState of the last accepted snapshot
    int workbenchReady;        // of the last accepted snapshot
    uint64_t tickNow;          // the tick clock of the controller's deadlines
    uint64_t actionErrorUntil;
    int64_t wallNow;           // ms since 1970 UTC, the clock of pairing expiries
};

// What an accepted snapshot tells the controller.
struct SnapshotFacts {
    int32_t connection;  // ConnectionState
    int workbenchReady;
    int phonePaired;
};

// An accepted snapshot: the pill, device name, relay choice, workbench line, message, projects, update
// offer, paired state, every button, and the pairing code when one is on offer and not yet expired.
SnapshotFacts DecideSnapshotView(const StatusSnapshot* snapshot, const ViewInputs* in, WindowView* view);

// The connector cannot be read: its own texts, the code withdrawn; the name, the relay choice, the start
// button's text, StopButton's row and the update offer stay as they are.
void DecideUnreachableView(WindowView* view);

// The relay choice, StartButton (text, enabled, shown) and StopButton's row, from the flags alone.
void DecideStartControls(const ViewInputs* in, WindowView* view);

// A user action is busy: the code withdrawn, the placeholder says so, the six action controls disabled.
void DecideActionView(WindowView* view);

// The user asked for the connector to be started from the unreachable view: the start-up look.
void DecideRestartView(WindowView* view);

// One tick of the countdown of the code in held: the time left, or at expiry the code withdrawn. Returns
// non-zero when the code has just expired, so that the controller asks for a fresh status at once.
int DecideCountdownView(const PairingDisplay* held, int64_t wallNow, WindowView* view);

// The steps that the decisions share. ShowPairing puts the snapshot's code on show and returns non-zero,
// or returns 0 and changes nothing when there is none or it has expired; ClearPairing withdraws the code
// (its caller sets the placeholder's text); SetStatusPill sets the pill's text and colour.
int ShowPairing(const StatusSnapshot* snapshot, int64_t wallNow, WindowView* view);
void ClearPairing(WindowView* view);
void SetStatusPill(WindowView* view, const wchar_t* text, int colour);
