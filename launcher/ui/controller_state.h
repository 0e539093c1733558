// ControllerState: the window's flags and deadlines. Kept apart from the controller's operations so that
// the views below the controller can read and set their flags without including the controller.
#pragma once
#include <stdint.h>

// One instance per window process, defined in controller.cpp, which owns it; presentation.cpp writes the
// view flags (connectorUnreachable, state*, workbenchReady, phonePaired, suppressEditNotify, and clears
// actionBusy in the unreachable view) and qr_view.cpp sets nextPollAt to 0 at pairing expiry. Flags are
// 0 or 1.
struct ControllerState {
    int requestInFlight;
    int connectorUnreachable;
    int deviceNameEdited;
    int suppressEditNotify;
    int phonePaired;
    int actionPending;
    int relaySwitchRequested;
    int actionBusy;
    int stateOnline;
    int stateIdle;
    int stateConnecting;
    int workbenchReady;
    int32_t pendingActionKind;
    uint64_t nextPollAt;         // tick-count ms; 0 = none (poll may start at once)
    uint64_t startupGraceUntil;  // tick-count ms; 0 = none
    uint64_t actionErrorUntil;   // tick-count ms; 0 = none
};

extern ControllerState Controller;
