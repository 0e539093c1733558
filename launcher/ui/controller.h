// The window controller: schedules status polls and user actions, interprets finished requests, runs the
// start-up grace period and closes the window when StopEvent is set. UI thread only.
#pragma once
#include <stdint.h>

// One instance per window process. controller.cpp owns it; presentation.cpp writes the view flags
// (connectorUnreachable, state*, workbenchReady, phonePaired, suppressEditNotify, and clears actionBusy in
// the unreachable view) and qr_view.cpp sets nextPollAt to 0 at pairing expiry. Flags are 0 or 1.
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

enum {
    PollIntervalMs = 2000,
    GraceRetryMs = 150,
    GracePeriodMs = 10000,
    ActionErrorHoldMs = 10000,
};

void StartController();
void ControllerTick();
void BeginAction(int32_t kind);
void RestartConnector();

// The six command handlers, reached through the main window's WM_COMMAND routing.
void OnRelayChange();
void OnDeviceNameChange();
void OnStartCommand();
void OnStopCommand();
void OnRetryCommand();
void OnNewCodeCommand();
