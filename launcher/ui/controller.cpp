// The window controller: the scheduler of the window role. It decides when the connector is polled, starts
// user actions, interprets every finished request, runs the start-up grace period and closes the window
// when StopEvent is set; and it is where the window changes: each of its steps lets a decision of
// presentation.cpp describe the whole view, applies it and keeps what the decision tells it. The main
// window procedure calls ControllerTick for every timer tick and every WM_CONNECTOR_RESULT, and routes the
// six commands below here. UI thread only.
#include "controller.h"
#include "apply_view.h"
#include "clock.h"
#include "focus.h"
#include "presentation.h"
#include "window_state.h"
#include "api/request_worker.h"

static ControllerState Controller;
// The view being decided and applied; one for the process (it is some 30 KB).
static WindowView view;

static const wchar_t UnpairQuestionText[] = L"已配对的手机会断开。你可以用新二维码重新连接。";
static const wchar_t UnpairQuestionCaption[] = L"解除手机配对？";

ControllerState* ControllerStateForTest()
{
    return &Controller;
}

// ---- What the window shows ---------------------------------------------------------------------------

static ViewInputs Inputs()
{
    ViewInputs in;
    in.deviceNameEdited = Controller.deviceNameEdited;
    in.deviceNameFocused = GetFocus() == Controls[DeviceNameEditIndex];
    in.relaySwitchRequested = Controller.relaySwitchRequested;
    in.actionBusy = Controller.actionBusy;
    in.connectorUnreachable = Controller.connectorUnreachable;
    in.connection = Controller.connection;
    in.workbenchReady = Controller.workbenchReady;
    in.tickNow = TickNow();
    in.actionErrorUntil = Controller.actionErrorUntil;
    in.wallNow = WallNowMs();
    return in;
}

// Writes the decided view to the window. The edit reports a write of the device name synchronously
// (EN_CHANGE); the flag keeps the program's own write from counting as the user's.
static void ApplyDecidedView()
{
    Controller.suppressEditNotify = 1;
    ApplyView(&view);
    Controller.suppressEditNotify = 0;
}

void ApplySnapshot(const StatusSnapshot* snapshot)
{
    KeepEverything(&view);
    ViewInputs in = Inputs();
    SnapshotFacts facts = DecideSnapshotView(snapshot, &in, &view);
    Controller.connectorUnreachable = 0;
    Controller.connection = facts.connection;
    Controller.workbenchReady = facts.workbenchReady;
    Controller.phonePaired = facts.phonePaired;
    ApplyDecidedView();
    ReturnFocus();  // the controls are back
}

void ShowUnreachableView()
{
    Controller.actionBusy = 0;
    Controller.connectorUnreachable = 1;
    KeepEverything(&view);
    DecideUnreachableView(&view);
    ApplyDecidedView();
    ReturnFocus();
}

void RefreshStartControls()
{
    KeepEverything(&view);
    ViewInputs in = Inputs();
    DecideStartControls(&in, &view);
    ApplyDecidedView();
}

void TickCountdown()
{
    KeepEverything(&view);
    if (DecideCountdownView(&Pairing, WallNowMs(), &view))
        Controller.nextPollAt = 0;  // the code expired: ask for a fresh one at once
    ApplyDecidedView();
}

// ---- Requests and results ----------------------------------------------------------------------------

// Starts one request. Start reads the device name and relay choice from the window now, so that what is
// sent is what the user sees when the request leaves, not what it was when the button was pressed.
static int StartControllerRequest(int32_t kind)
{
    wchar_t name[DeviceNameMaxUnits + 1] = {};
    int32_t thirdPartyRelay = 0;
    if (kind == Start) {
        // GetWindowTextW cuts to the buffer and always terminates; a longer name written by a snapshot
        // goes out as its first 100 units.
        GetWindowTextW(Controls[DeviceNameEditIndex], name, DeviceNameMaxUnits + 1);
        LRESULT selection = SendMessageW(Controls[RelayComboIndex], CB_GETCURSEL, 0, 0);
        thirdPartyRelay = selection == RelayThirdParty ? 1 : 0;  // the combo's items are in RelayProvider order
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
    KeepEverything(&view);
    DecideActionView(&view);
    ApplyDecidedView();
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
    KeepEverything(&view);
    DecideRestartView(&view);
    ApplyDecidedView();
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
    if (IsWindowEnabled(Controls[StartButtonIndex]) && IsWindowVisible(Controls[StartButtonIndex]))
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
