// The window controller: schedules status polls and user actions, interprets finished requests, runs the
// start-up grace period and closes the window when StopEvent is set. It owns ControllerState and is the
// one module that changes what the window shows: each operation below decides the view (presentation.h),
// applies it (apply_view.h) and keeps the facts it learns. UI thread only.
#pragma once
#include <stdint.h>
#include "api/status_document.h"

enum {
    PollIntervalMs = 2000,
    GraceRetryMs = 150,
    GracePeriodMs = 10000,
    ActionErrorHoldMs = 10000,
};

// The window's flags and deadlines. Deadlines are tick-count milliseconds, 0 meaning none (a nextPollAt of
// 0 lies in the past). Flags are 0 or 1. Only the controller writes it.
struct ControllerState {
    int requestInFlight;
    int connectorUnreachable;
    int deviceNameEdited;
    int suppressEditNotify;
    int phonePaired;
    int actionPending;
    int relaySwitchRequested;
    int actionBusy;
    int32_t connection;  // ConnectionState of the last accepted snapshot
    int workbenchReady;
    int32_t pendingActionKind;
    uint64_t nextPollAt;
    uint64_t startupGraceUntil;
    uint64_t actionErrorUntil;
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

// What the window shows: an accepted snapshot, the connector-unreachable view, the start controls after a
// relay change, and one tick of the pairing countdown. Called by the controller's own steps (and tests).
void ApplySnapshot(const StatusSnapshot* snapshot);
void ShowUnreachableView();
void RefreshStartControls();
void TickCountdown();

// Tests only: the controller's state, to read and to put back to rest.
ControllerState* ControllerStateForTest();
