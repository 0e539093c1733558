// The window controller: schedules status polls and user actions, interprets finished requests, runs the
// start-up grace period and closes the window when StopEvent is set. UI thread only.
#pragma once
#include <stdint.h>
#include "controller_state.h"

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
