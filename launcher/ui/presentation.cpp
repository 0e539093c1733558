// The decisions of the window (see presentation.h): for each situation, the whole of what the window
// shows as a WindowView. The window is recomputed from the snapshot and the flags each time; the apply
// step then writes only what differs, so a poll that brings nothing new changes nothing on screen.
#include "presentation.h"
#include <stdio.h>
#include <string.h>
#include "control_text.h"
#include "layout.h"
#include "qr_view.h"
#include "update_offer.h"

enum { DeviceNameUnits = 512, WorkbenchDetailUnits = 300, MessageUnits = 512, ProjectCountUnits = 300,
       FormattedUnits = 512 };

// The pill by connection state, indexed by ConnectionState.
static const struct {
    const wchar_t* text;
    int colour;
} StatePills[ConnectionStateCount] = {
    {L"●  未连接", MutedStatusColour},       // idle
    {L"●  正在连接", ConnectingStatusColour},  // connecting
    {L"●  已连接", OnlineStatusColour},        // online
    {L"●  连接中断", ErrorStatusColour},       // offline
    {L"●  连接失败", ErrorStatusColour},       // error
};

// What the controls said when the window opened, for the situations that bring them back.
static const wchar_t* InitialText(int control)
{
    return ControlTable[control].text;
}

static const int ActionControls[] = {DeviceNameEditIndex, RelayComboIndex, StartButtonIndex,
                                     StopButtonIndex,     RetryButtonIndex, NewQrButtonIndex};

void SetStatusPill(WindowView* view, const wchar_t* text, int colour)
{
    view->statusColour = colour;
    SetViewText(view, StatusPillIndex, text);
}

void ClearPairing(WindowView* view)
{
    view->pairing.change = WithdrawPairing;
    SetViewShown(view, QrViewIndex, 0);
    SetViewShown(view, QrPlaceholderIndex, 1);
    SetViewText(view, PairingCodeLabelIndex, L"");
}

// The countdown's label for a code with remainingMs left (more than 0).
static void SetCountdown(WindowView* view, const wchar_t* code, int64_t remainingMs)
{
    wchar_t text[CountdownUnits];
    if (FormatCountdown(code, remainingMs, text, CountdownUnits))
        SetViewText(view, PairingCodeLabelIndex, text);
}

int ShowPairing(const StatusSnapshot* snapshot, int64_t wallNow, WindowView* view)
{
    if (snapshot->matrixSize == 0 || snapshot->codeExpiry <= wallNow)
        return 0;
    PairingView& p = view->pairing;
    p.change = ShowPairingCode;
    p.size = snapshot->matrixSize;
    p.modules = snapshot->matrixText;
    DecodeUtf8Strict(snapshot->codeText, p.code, PairingCodeUnits);  // empty when not six units of UTF-8
    p.expiresAt = snapshot->codeExpiry;
    SetViewShown(view, QrPlaceholderIndex, 0);
    SetViewShown(view, QrViewIndex, 1);
    SetCountdown(view, p.code, p.expiresAt - wallNow);
    return 1;
}

int DecideCountdownView(const PairingDisplay* held, int64_t wallNow, WindowView* view)
{
    if (held->pairingExpiresAt == 0)
        return 0;
    int64_t remaining = held->pairingExpiresAt - wallNow;
    if (remaining > 0) {
        SetCountdown(view, held->pairingCode, remaining);
        return 0;
    }
    ClearPairing(view);
    SetViewText(view, QrPlaceholderIndex, L"二维码已过期，正在更新…");
    return 1;
}

void DecideStartControls(const ViewInputs* in, WindowView* view)
{
    const int connecting = in->connection == ConnectionConnecting;
    SetViewEnabled(view, RelayComboIndex, !in->actionBusy && !in->connectorUnreachable && !connecting);
    const wchar_t* startText = connecting                         ? L"正在连接…"
                               : in->relaySwitchRequested           ? L"切换并连接"
                               : in->connection == ConnectionIdle ? InitialText(StartButtonIndex)
                                                                    : L"重新连接";
    SetViewText(view, StartButtonIndex, startText);
    SetViewEnabled(view, StartButtonIndex,
                   !in->actionBusy && !in->connectorUnreachable && in->workbenchReady && !connecting);
    const int startShown = in->connection != ConnectionOnline || in->relaySwitchRequested;
    SetViewShown(view, StartButtonIndex, startShown);
    // While the connection is up StopButton takes StartButton's place; otherwise it sits one row lower.
    view->stopButtonY = startShown ? StopButtonLowerY : StopButtonUpperY;
}

static void DecideWorkbenchLine(const StatusSnapshot* s, WindowView* view)
{
    if (s->workbench == WorkbenchReady) {
        wchar_t detail[WorkbenchDetailUnits];
        wchar_t text[FormattedUnits];
        DecodeUtf8Strict(s->workbenchDetail, detail, WorkbenchDetailUnits);
        int n = _snwprintf(text, FormattedUnits, L"已找到 Tovix 工作台\r\n%ls", detail);
        SetViewText(view, WorkbenchLabelIndex, n >= 0 && n < FormattedUnits ? text : L"");
    } else if (s->workbench == WorkbenchChecking) {
        SetViewText(view, WorkbenchLabelIndex, L"正在检测 Tovix 工作台…");
    } else {
        SetViewText(view, WorkbenchLabelIndex, L"尚未找到可用的 Tovix\r\n请先安装或打开 Tovix 工作台。");
    }
}

// The connector's own message always wins; the generic failure text of a failed action fills only an
// empty one, while the hold lasts.
static void DecideMessage(const StatusSnapshot* s, const ViewInputs* in, WindowView* view)
{
    wchar_t message[MessageUnits];
    DecodeUtf8Strict(s->message, message, MessageUnits);
    if (message[0])
        SetViewText(view, MessageLabelIndex, message);
    else if (in->tickNow < in->actionErrorUntil)
        SetViewText(view, MessageLabelIndex, L"连接器未能完成操作，请稍后重试。");
    else
        SetViewText(view, MessageLabelIndex, L"");
}

static void DecideProjects(const StatusSnapshot* s, WindowView* view)
{
    wchar_t count[ProjectCountUnits];
    wchar_t text[FormattedUnits];
    DecodeUtf8Strict(s->projectCount, count, ProjectCountUnits);
    int n = count[0] ? _snwprintf(text, FormattedUnits, L"Tovix 工作台 · %ls 个本地项目", count) : -1;
    SetViewText(view, ProjectsLabelIndex, n >= 0 && n < FormattedUnits ? text : L"");
}

static const wchar_t* PlaceholderText(const StatusSnapshot* s)
{
    if (s->pairing == PairingPaired)
        return L"✓  手机已配对\r\n可在手机上继续工作";
    switch (s->connection) {
    case ConnectionConnecting: return L"正在连接，稍后显示二维码…";
    case ConnectionOnline: return L"正在生成配对二维码…";
    case ConnectionOffline: return L"连接恢复后可扫码";
    }
    return L"点击「开始连接」后\r\n用手机相机或「扫一扫」扫码";
}

SnapshotFacts DecideSnapshotView(const StatusSnapshot* s, const ViewInputs* in, WindowView* view)
{
    SnapshotFacts facts;
    facts.connection = s->connection;
    facts.workbenchReady = s->workbench == WorkbenchReady;
    facts.phonePaired = s->pairing == PairingPaired;
    const int online = s->connection == ConnectionOnline, connecting = s->connection == ConnectionConnecting;
    const int offline = s->connection == ConnectionOffline;

    SetStatusPill(view, StatePills[s->connection].text, StatePills[s->connection].colour);

    if (!in->deviceNameEdited && !in->deviceNameFocused) {
        wchar_t name[DeviceNameUnits];
        DecodeUtf8Strict(s->deviceName, name, DeviceNameUnits);
        SetViewText(view, DeviceNameEditIndex, name);
    }
    SetViewEnabled(view, DeviceNameEditIndex, !online && !connecting);
    if (!in->relaySwitchRequested)
        view->relaySelection = s->relay;  // RelayCombo lists the relays in RelayProvider order

    DecideWorkbenchLine(s, view);
    SetViewText(view, RetryButtonIndex, InitialText(RetryButtonIndex));  // undoes the unreachable view's text

    // The start controls as they follow from this snapshot; an applied snapshot ends the unreachable view.
    ViewInputs now = *in;
    now.connection = facts.connection;
    now.workbenchReady = facts.workbenchReady;
    now.connectorUnreachable = 0;
    DecideStartControls(&now, view);

    SetViewEnabled(view, StopButtonIndex, 1);
    SetViewEnabled(view, RetryButtonIndex, 1);
    SetViewShown(view, StopButtonIndex, online || connecting || offline);
    SetViewShown(view, RetryButtonIndex, !online && !connecting && !offline && s->workbench == WorkbenchMissing);

    DecideMessage(s, in, view);
    DecideProjects(s, view);
    DecideUpdateOffer(s, view);

    SetViewText(view, NewQrButtonIndex, facts.phonePaired ? L"解除配对并生成新码" : InitialText(NewQrButtonIndex));
    SetViewEnabled(view, NewQrButtonIndex, 1);
    SetViewShown(view, NewQrButtonIndex, online);

    if (!ShowPairing(s, in->wallNow, view)) {
        ClearPairing(view);
        SetViewText(view, QrPlaceholderIndex, PlaceholderText(s));
    }
    return facts;
}

void DecideUnreachableView(WindowView* view)
{
    ClearPairing(view);
    SetStatusPill(view, L"●  服务不可用", MutedStatusColour);
    SetViewText(view, QrPlaceholderIndex, L"暂时无法显示二维码");
    SetViewText(view, WorkbenchLabelIndex, L"无法读取本机连接状态");
    SetViewText(view, MessageLabelIndex, L"请检查连接器端口或安装目录中的 connector.log，再重试。");
    SetViewText(view, ProjectsLabelIndex, L"");
    SetViewText(view, RetryButtonIndex, L"启动连接器");  // pressing it now starts a supervisor
    SetViewEnabled(view, DeviceNameEditIndex, 0);
    SetViewEnabled(view, RelayComboIndex, 0);
    SetViewEnabled(view, StartButtonIndex, 0);
    SetViewEnabled(view, RetryButtonIndex, 1);
    SetViewShown(view, StartButtonIndex, 1);
    SetViewShown(view, RetryButtonIndex, 1);
    SetViewShown(view, StopButtonIndex, 0);
    SetViewShown(view, NewQrButtonIndex, 0);
}

void DecideActionView(WindowView* view)
{
    ClearPairing(view);
    SetViewText(view, QrPlaceholderIndex, L"正在处理，请稍候…");
    // Only the next snapshot (or the unreachable view) enables them again.
    for (int control : ActionControls)
        SetViewEnabled(view, control, 0);
}

void DecideRestartView(WindowView* view)
{
    SetStatusPill(view, InitialText(StatusPillIndex), MutedStatusColour);
    SetViewText(view, MessageLabelIndex, L"");
    SetViewText(view, QrPlaceholderIndex, InitialText(QrPlaceholderIndex));
    SetViewShown(view, RetryButtonIndex, 0);
}
