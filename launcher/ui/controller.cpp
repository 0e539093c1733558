// The window controller: the scheduler of the window role. It decides when the connector is polled, starts
// user actions, interprets every finished request, runs the start-up grace period and closes the window
// when StopEvent is set. The main window procedure calls ControllerTick for every timer tick and every
// WM_CONNECTOR_RESULT, and routes the six commands below here. UI thread only.
#include "controller.h"
#include "clock.h"
#include "control_text.h"
#include "presentation.h"
#include "qr_view.h"
#include "window_state.h"
#include "api/request_worker.h"
#include "api/status_document.h"

ControllerState Controller;

static const wchar_t PendingActionText[] = L"正在处理，请稍候…";
static const wchar_t StartingPillText[] = L"●  正在启动";
static const wchar_t StartingConnectorText[] = L"正在启动连接器…";
static const wchar_t UnpairQuestionText[] = L"已配对的手机会断开。你可以用新二维码重新连接。";
static const wchar_t UnpairQuestionCaption[] = L"解除手机配对？";

enum { RelayComboThirdPartyItem = 1 };

// Starts one request. Start reads the device name and relay choice from the window now, so that what is
// sent is what the user sees when the request leaves, not what it was when the button was pressed.
static int StartControllerRequest(int32_t kind)
{
    wchar_t name[DeviceNameMaxUnits + 1] = {};
    int32_t thirdPartyRelay = 0;
    if (kind == Start) {
        // GetWindowTextW cuts to the buffer and always terminates; a longer name written by a snapshot
        // goes out as its first 100 units.
        GetWindowTextW(Controls.deviceNameEdit, name, DeviceNameMaxUnits + 1);
        LRESULT selection = SendMessageW(Controls.relayCombo, CB_GETCURSEL, 0, 0);
        thirdPartyRelay = selection == RelayComboThirdPartyItem ? 1 : 0;
    }
    if (!StartRequest(WindowRole.mainWindow, kind, name, thirdPartyRelay))
        return 0;
    Controller.requestInFlight = 1;
    return 1;
}

// Interprets a finished record taken out of the mailbox; the caller frees it afterwards.
static void HandleResult(WorkerRequest* record)
{
    uint64_t now = TickNow();
    if (record->kind != Status) {
        // Nothing is shown here: the poll that follows at once brings the window up to date.
        Controller.actionBusy = 0;
        if (record->statusCode == 200) {
            if (record->kind == Start)
                Controller.relaySwitchRequested = 0;
            Controller.actionErrorUntil = 0;
        } else {
            Controller.actionErrorUntil = now + ActionErrorHoldMs;
        }
        Controller.nextPollAt = 0;
        return;
    }
    StatusSnapshot snapshot;
    if (record->statusCode == 200 && ParseStatusDocument(record->body, &snapshot)) {
        Controller.startupGraceUntil = 0;
        Controller.nextPollAt = now + PollIntervalMs;
        ApplySnapshot(&snapshot);
        return;
    }
    if (now < Controller.startupGraceUntil) {
        // Still starting up: retry at the next timer tick and keep the start-up texts on screen.
        Controller.nextPollAt = now + GraceRetryMs;
        return;
    }
    ShowUnreachableView();
    Controller.nextPollAt = now + PollIntervalMs;
}

// Runs when the mailbox is empty: starts the pending action, or the next poll when one is due.
static void StartDueRequest()
{
    TickCountdown();
    if (!Controller.requestInFlight && Controller.actionPending) {
        Controller.actionPending = 0;
        if (!StartControllerRequest(Controller.pendingActionKind))
            ShowUnreachableView();  // also ends the busy state
        return;
    }
    if (Controller.requestInFlight)
        return;
    if (IsIconic(WindowRole.mainWindow))
        return;
    if (TickNow() < Controller.nextPollAt)
        return;
    if (!StartControllerRequest(Status)) {
        ShowUnreachableView();
        Controller.nextPollAt = TickNow() + PollIntervalMs;
    }
}

void ControllerTick()
{
    for (;;) {
        if (WaitForSingleObject(WindowRole.stopEvent, 0) == WAIT_OBJECT_0) {
            // A request still outstanding is never waited for; its result is never taken.
            DestroyWindow(WindowRole.mainWindow);
            return;
        }
        WorkerRequest* record = ResultMailbox.exchange(nullptr);
        if (!record) {
            StartDueRequest();
            return;
        }
        Controller.requestInFlight = 0;
        // While an action waits, only a poll can have been outstanding: its result is stale, and the
        // action starts in the next pass of this same call.
        if (!Controller.actionPending)
            HandleResult(record);
        // The snapshot borrowed the record's body, so the record goes only after ApplySnapshot returned.
        FreeWorkerRequest(record);
    }
}

void StartController()
{
    Controller.startupGraceUntil = TickNow() + GracePeriodMs;
    if (WindowRole.startBackground)
        WindowRole.startBackground();
    SetTimer(WindowRole.mainWindow, RefreshTimerId, RefreshTimerPeriodMs, nullptr);
    ControllerTick();
}

void BeginAction(int32_t kind)
{
    if (Controller.actionBusy)
        return;  // ignored, never queued
    Controller.actionBusy = 1;
    Controller.actionErrorUntil = 0;
    ClearPairing();
    SetTextIfChanged(Controls.qrPlaceholder, PendingActionText);
    // Only the next snapshot (or the unreachable view) enables them again.
    HWND actionControls[] = {Controls.deviceNameEdit, Controls.relayCombo, Controls.startButton,
                             Controls.stopButton,     Controls.retryButton, Controls.newQrButton};
    for (HWND control : actionControls)
        EnableWindow(control, FALSE);
    Controller.pendingActionKind = kind;
    Controller.actionPending = 1;
    ControllerTick();
}

void RestartConnector()
{
    if (WindowRole.startBackground)
        WindowRole.startBackground();
    Controller.startupGraceUntil = TickNow() + GracePeriodMs;
    Controller.nextPollAt = 0;
    SetStatusPill(StartingPillText, palette.MutedTextColor);
    SetTextIfChanged(Controls.messageLabel, L"");
    SetTextIfChanged(Controls.qrPlaceholder, StartingConnectorText);
    ShowWindow(Controls.retryButton, SW_HIDE);
    // connectorUnreachable stays set: the rest of the unreachable view remains until a document is
    // accepted, and comes back in full if none is within the new grace period.
    ControllerTick();
}

void OnRelayChange()
{
    Controller.relaySwitchRequested = 1;
    Controller.actionErrorUntil = 0;
    RefreshStartControls();
}

void OnDeviceNameChange()
{
    if (!Controller.suppressEditNotify)
        Controller.deviceNameEdited = 1;
}

void OnStartCommand()
{
    // Enter reaches here as IDOK whatever has the focus: it may start a connection only when the
    // button itself could be pressed.
    if (IsWindowEnabled(Controls.startButton) && IsWindowVisible(Controls.startButton))
        BeginAction(Start);
}

void OnStopCommand()
{
    BeginAction(Stop);
}

void OnRetryCommand()
{
    if (Controller.connectorUnreachable)
        RestartConnector();
    else
        BeginAction(Detect);
}

void OnNewCodeCommand()
{
    if (Controller.phonePaired) {
        // The box runs a modal loop: timer ticks and results keep reaching the window meanwhile, so the
        // flags may have changed by the time it returns; BeginAction acts on them as they are then.
        int answer = MessageBoxW(WindowRole.mainWindow, UnpairQuestionText, UnpairQuestionCaption,
                                 MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2);
        if (answer != IDOK)
            return;
        // StopEvent may have closed the window while the box was open.
        if (!IsWindow(WindowRole.mainWindow))
            return;
    }
    BeginAction(PairingReset);
}
