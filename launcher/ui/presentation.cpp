// Status presentation: ApplySnapshot writes an accepted status snapshot into the window as a whole (pill,
// device name, relay choice, workbench line, message, projects, update offer, paired state, buttons and
// pairing display); ShowUnreachableView replaces it when the connector cannot be read. Called by the
// controller on the UI thread. Every text goes through SetTextIfChanged, and the pill is repainted only
// when its colour changes, so a poll that brings nothing new changes nothing on screen.
#include "presentation.h"
#include <stdio.h>
#include <string.h>
#include "clock.h"
#include "control_text.h"
#include "controller_state.h"
#include "layout.h"
#include "qr_view.h"
#include "update_offer.h"
#include "window_state.h"

enum { DeviceNameUnits = 512, WorkbenchDetailUnits = 300, MessageUnits = 512, ProjectCountUnits = 300,
       FormattedUnits = 512 };

struct StatePill {
    const char* state;
    const wchar_t* text;
    int colour;  // which colour, resolved at use: the palette entries may be high-contrast substitutes
};
enum { PillOnline, PillMuted, PillConnecting, PillError };

// Any state not listed is shown like "error".
static const StatePill StatePills[] = {
    {"online", L"●  已连接", PillOnline},
    {"idle", L"●  未连接", PillMuted},
    {"connecting", L"●  正在连接", PillConnecting},
    {"offline", L"●  连接中断", PillError},
};
static const StatePill ErrorPill = {"error", L"●  连接失败", PillError};

static COLORREF PillColour(int which)
{
    switch (which) {
    case PillOnline: return OnlineColor;
    case PillConnecting: return ConnectingColor;
    case PillError: return palette.ErrorTextColor;
    }
    return palette.MutedTextColor;
}

static int Is(const char* text, const char* keyword)
{
    return text && strcmp(text, keyword) == 0;
}

void SetStatusPill(const wchar_t* text, COLORREF colour)
{
    if (colour != palette.StatusColor) {
        palette.StatusColor = colour;
        InvalidateRect(Controls.statusPill, nullptr, TRUE);
    }
    SetTextIfChanged(Controls.statusPill, text);
}

static void Show(HWND control, int visible)
{
    ShowWindow(control, visible ? SW_SHOWNA : SW_HIDE);
}

void RefreshStartControls()
{
    const ControllerState& c = Controller;
    EnableWindow(Controls.relayCombo, !c.actionBusy && !c.connectorUnreachable && !c.stateConnecting);
    const wchar_t* startText = c.stateConnecting ? L"正在连接…"
                               : c.relaySwitchRequested ? L"切换并连接"
                               : c.stateIdle ? L"开始连接"
                                             : L"重新连接";
    SetTextIfChanged(Controls.startButton, startText);
    EnableWindow(Controls.startButton,
                 !c.actionBusy && !c.connectorUnreachable && c.workbenchReady && !c.stateConnecting);
    int startVisible = !c.stateOnline || c.relaySwitchRequested;
    Show(Controls.startButton, startVisible);
    // While the connection is up StopButton takes StartButton's place; otherwise it sits one row lower.
    int stopY = startVisible ? StopButtonLowerY : StopButtonUpperY;
    SetWindowPos(Controls.stopButton, nullptr, Scale(StopButtonX), Scale(stopY), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

static void ApplyDeviceName(const StatusSnapshot* s)
{
    if (Controller.deviceNameEdited || GetFocus() == Controls.deviceNameEdit)
        return;
    wchar_t name[DeviceNameUnits];
    DecodeUtf8Strict(s->deviceName, name, DeviceNameUnits);
    // The edit reports the write synchronously (EN_CHANGE); the flag keeps it from counting as the user's.
    Controller.suppressEditNotify = 1;
    SetTextIfChanged(Controls.deviceNameEdit, name);
    Controller.suppressEditNotify = 0;
}

static void ApplyWorkbenchLine(const StatusSnapshot* s)
{
    if (Is(s->workbenchState, "ready")) {
        wchar_t detail[WorkbenchDetailUnits];
        wchar_t text[FormattedUnits];
        DecodeUtf8Strict(s->workbenchDetail, detail, WorkbenchDetailUnits);
        int n = _snwprintf(text, FormattedUnits, L"已找到 Tovix 工作台\r\n%ls", detail);
        SetTextIfChanged(Controls.workbenchLabel, n >= 0 && n < FormattedUnits ? text : L"");
    } else if (Is(s->workbenchState, "checking")) {
        SetTextIfChanged(Controls.workbenchLabel, L"正在检测 Tovix 工作台…");
    } else {
        SetTextIfChanged(Controls.workbenchLabel, L"尚未找到可用的 Tovix\r\n请先安装或打开 Tovix 工作台。");
    }
}

static void ApplyMessage(const StatusSnapshot* s)
{
    wchar_t message[MessageUnits];
    DecodeUtf8Strict(s->message, message, MessageUnits);
    if (message[0])
        SetTextIfChanged(Controls.messageLabel, message);
    else if (TickNow() < Controller.actionErrorUntil)
        SetTextIfChanged(Controls.messageLabel, L"连接器未能完成操作，请稍后重试。");
    else
        SetTextIfChanged(Controls.messageLabel, L"");
}

static void ApplyProjects(const StatusSnapshot* s)
{
    wchar_t count[ProjectCountUnits];
    wchar_t text[FormattedUnits];
    DecodeUtf8Strict(s->projectCount, count, ProjectCountUnits);
    int n = count[0] ? _snwprintf(text, FormattedUnits, L"Tovix 工作台 · %ls 个本地项目", count) : -1;
    SetTextIfChanged(Controls.projectsLabel, n >= 0 && n < FormattedUnits ? text : L"");
}

static const wchar_t* PlaceholderText(const StatusSnapshot* s)
{
    if (Controller.phonePaired)
        return L"✓  手机已配对\r\n可在手机上继续工作";
    if (Is(s->state, "connecting"))
        return L"正在连接，稍后显示二维码…";
    if (Is(s->state, "online"))
        return L"正在生成配对二维码…";
    if (Is(s->state, "offline"))
        return L"连接恢复后可扫码";
    return L"点击「开始连接」后\r\n用手机相机或「扫一扫」扫码";
}

void ApplySnapshot(const StatusSnapshot* s)
{
    int online = Is(s->state, "online"), connecting = Is(s->state, "connecting");
    int offline = Is(s->state, "offline"), idle = Is(s->state, "idle");
    int ready = Is(s->workbenchState, "ready"), checking = Is(s->workbenchState, "checking");

    Controller.connectorUnreachable = 0;
    Controller.stateOnline = online;
    Controller.stateIdle = idle;
    Controller.stateConnecting = connecting;
    Controller.workbenchReady = ready;

    const StatePill* pill = &ErrorPill;
    for (const StatePill& row : StatePills)
        if (Is(s->state, row.state))
            pill = &row;
    SetStatusPill(pill->text, PillColour(pill->colour));

    ApplyDeviceName(s);
    EnableWindow(Controls.deviceNameEdit, !online && !connecting);

    if (!Controller.relaySwitchRequested)
        SendMessageW(Controls.relayCombo, CB_SETCURSEL, Is(s->relayProvider, "thirdparty") ? 1 : 0, 0);

    ApplyWorkbenchLine(s);
    SetTextIfChanged(Controls.retryButton, L"重新检测");
    RefreshStartControls();

    EnableWindow(Controls.stopButton, TRUE);
    EnableWindow(Controls.retryButton, TRUE);
    Show(Controls.stopButton, online || connecting || offline);
    Show(Controls.retryButton, !online && !connecting && !offline && !ready && !checking);

    ApplyMessage(s);
    ApplyProjects(s);
    ShowUpdateOffer(s);

    Controller.phonePaired = Is(s->pairingState, "paired");
    SetTextIfChanged(Controls.newQrButton, Controller.phonePaired ? L"解除配对并生成新码" : L"生成新二维码");
    EnableWindow(Controls.newQrButton, TRUE);
    Show(Controls.newQrButton, online);

    if (ShowPairing(s))
        return;
    ClearPairing();
    SetTextIfChanged(Controls.qrPlaceholder, PlaceholderText(s));
}

void ShowUnreachableView()
{
    Controller.actionBusy = 0;
    Controller.connectorUnreachable = 1;
    ClearPairing();
    SetStatusPill(L"●  服务不可用", palette.MutedTextColor);
    SetTextIfChanged(Controls.qrPlaceholder, L"暂时无法显示二维码");
    SetTextIfChanged(Controls.workbenchLabel, L"无法读取本机连接状态");
    SetTextIfChanged(Controls.messageLabel, L"请检查连接器端口或安装目录中的 connector.log，再重试。");
    SetTextIfChanged(Controls.projectsLabel, L"");
    SetTextIfChanged(Controls.retryButton, L"启动连接器");
    EnableWindow(Controls.deviceNameEdit, FALSE);
    EnableWindow(Controls.relayCombo, FALSE);
    EnableWindow(Controls.startButton, FALSE);
    EnableWindow(Controls.retryButton, TRUE);
    Show(Controls.startButton, 1);
    Show(Controls.retryButton, 1);
    Show(Controls.stopButton, 0);
    Show(Controls.newQrButton, 0);
}
