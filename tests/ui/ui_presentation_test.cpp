// Status presentation through the real window: the control states for every connection state, the pill,
// the texts of the workbench, message, projects and placeholder, the device name and relay rules, strict
// decoding of every free-text field, the unreachable view, idempotence (no text written and nothing
// repainted when nothing changed), the QR view's pixels and countdown, the update offer, and screenshots.
#include <gtest/gtest.h>
#include <string>
#include "ui/clock.h"
#include "ui/controller.h"
#include "ui/layout.h"
#include "ui/main_window.h"
#include "ui/presentation.h"
#include "ui/qr_view.h"
#include "ui/update_offer.h"
#include "process_util.h"
#include "ui_support.h"

namespace {

// A real QR symbol (29 modules, error correction M) of "https://example.invalid/pair?code=482913".
const char RealQr29[] =
    "11111110110010001011101111111100000101001011111100010000011011101000000000100100101110110111010110111101111001011101"
    "10111010010000100001001011101100000100110111011110010000011111111010101010101010111111100000000100000100110000000000"
    "10110111010111100110001001011101110010000000100011011100011100001011011010110000000011011010101010001000001001110001"
    "01010110100010001100000001100111011000010111101010010001111000101011111010000101010011101000001001101011001110010010"
    "01100010000000000010010111010011000000011010101001001011101000011111010001001000001010000110100110010001111010110100"
    "01001110010111001110111111100000000001110111010001000111111111111010011100100110101101010000010101010010000100011000"
    "10111010010000100110111110110101110101110111110111000110011011101010011100011110010010110000010000111000000101111010"
    "11111110100001000011101000010"
    ;

std::string TextU8(HWND control)
{
    return Narrow(TextOf(control));
}

int TopOf(HWND control)
{
    return ClientRectOf(control).top;
}

// Counts the paints of the QR view (it is subclassed for the life of the program).
int qrPaints;
WNDPROC qrProcedure;

LRESULT CALLBACK CountQrPaints(HWND view, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT)
        ++qrPaints;
    return CallWindowProcW(qrProcedure, view, message, wParam, lParam);
}

// Watches the main window's commands: what suppressEditNotify was at each EN_CHANGE of the device name,
// and whether any CBN_SELCHANGE came from the relay combo.
std::vector<int> editChangeSuppressed;
int relaySelectionChanges;
WNDPROC mainProcedure;

LRESULT CALLBACK WatchCommands(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && LOWORD(wParam) == DeviceNameEditId && HIWORD(wParam) == EN_CHANGE)
        editChangeSuppressed.push_back(Controller.suppressEditNotify);
    if (message == WM_COMMAND && LOWORD(wParam) == RelayComboId && HIWORD(wParam) == CBN_SELCHANGE)
        ++relaySelectionChanges;
    return CallWindowProcW(mainProcedure, window, message, wParam, lParam);
}

class Presentation : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        MainWindow();
        qrProcedure = (WNDPROC)SetWindowLongPtrW(Controls.qrView, GWLP_WNDPROC, (LONG_PTR)CountQrPaints);
        mainProcedure = (WNDPROC)SetWindowLongPtrW(MainWindow(), GWLP_WNDPROC, (LONG_PTR)WatchCommands);
    }
    void SetUp() override
    {
        ResetWindowState();
        Apply(Doc());  // a known starting point: idle, workbench ready, nothing edited
        PaintNow();
        qrPaints = 0;
        editChangeSuppressed.clear();
        relaySelectionChanges = 0;
    }
    void TearDown() override { ShiftClocksForTest(0, 0); }
};

struct StateRow {
    const char* name;
    const char* state;
    const char* workbench;
    int relaySwitch;
    // expected
    int editEnabled, comboEnabled, startShown, startEnabled;
    const wchar_t* startText;
    int stopShown, stopY, retryShown, newQrShown;
    const wchar_t* pill;
    COLORREF pillColour;
    const wchar_t* placeholder;
};

const COLORREF Muted = RGB(83, 88, 104), Error = RGB(161, 50, 64);
const wchar_t* const IdleHint = L"点击「开始连接」后\r\n用手机相机或「扫一扫」扫码";

const StateRow StateRows[] = {
    {"online", "online", "ready", 0, 0, 1, 0, 1, L"重新连接", 1, 310, 0, 1, L"●  已连接", RGB(25, 123, 77),
     L"正在生成配对二维码…"},
    {"online, relay switched", "online", "ready", 1, 0, 1, 1, 1, L"切换并连接", 1, 344, 0, 1, L"●  已连接",
     RGB(25, 123, 77), L"正在生成配对二维码…"},
    {"online, no workbench", "online", "", 0, 0, 1, 0, 0, L"重新连接", 1, 310, 0, 1, L"●  已连接", RGB(25, 123, 77),
     L"正在生成配对二维码…"},
    {"connecting", "connecting", "ready", 0, 0, 0, 1, 0, L"正在连接…", 1, 344, 0, 0, L"●  正在连接",
     RGB(144, 85, 21), L"正在连接，稍后显示二维码…"},
    {"connecting, relay switched", "connecting", "ready", 1, 0, 0, 1, 0, L"正在连接…", 1, 344, 0, 0, L"●  正在连接",
     RGB(144, 85, 21), L"正在连接，稍后显示二维码…"},
    {"offline", "offline", "ready", 0, 1, 1, 1, 1, L"重新连接", 1, 344, 0, 0, L"●  连接中断", Error, L"连接恢复后可扫码"},
    {"offline, no workbench", "offline", "missing", 0, 1, 1, 1, 0, L"重新连接", 1, 344, 0, 0, L"●  连接中断", Error,
     L"连接恢复后可扫码"},
    {"offline, relay switched", "offline", "ready", 1, 1, 1, 1, 1, L"切换并连接", 1, 344, 0, 0, L"●  连接中断", Error,
     L"连接恢复后可扫码"},
    {"idle, ready", "idle", "ready", 0, 1, 1, 1, 1, L"开始连接", 0, 344, 0, 0, L"●  未连接", Muted, IdleHint},
    {"idle, not ready", "idle", "", 0, 1, 1, 1, 0, L"开始连接", 0, 344, 1, 0, L"●  未连接", Muted, IdleHint},
    {"idle, checking", "idle", "checking", 0, 1, 1, 1, 0, L"开始连接", 0, 344, 0, 0, L"●  未连接", Muted, IdleHint},
    {"idle, relay switched", "idle", "ready", 1, 1, 1, 1, 1, L"切换并连接", 0, 344, 0, 0, L"●  未连接", Muted, IdleHint},
    {"error, ready", "error", "ready", 0, 1, 1, 1, 1, L"重新连接", 0, 344, 0, 0, L"●  连接失败", Error, IdleHint},
    {"error, not ready", "error", "Ready", 0, 1, 1, 1, 0, L"重新连接", 0, 344, 1, 0, L"●  连接失败", Error, IdleHint},
    {"error, checking", "error", "checking", 0, 1, 1, 1, 0, L"重新连接", 0, 344, 0, 0, L"●  连接失败", Error, IdleHint},
};

}  // namespace

TEST_F(Presentation, ControlStatesForEveryConnectionState)
{
    for (const StateRow& row : StateRows) {
        SCOPED_TRACE(row.name);
        Controller.relaySwitchRequested = row.relaySwitch;
        Doc d;
        d.state = row.state;
        d.workbench = row.workbench;
        Apply(d);
        EXPECT_EQ(0, Controller.connectorUnreachable);
        EXPECT_EQ(!strcmp(row.state, "online"), Controller.stateOnline);
        EXPECT_EQ(!strcmp(row.state, "idle"), Controller.stateIdle);
        EXPECT_EQ(!strcmp(row.state, "connecting"), Controller.stateConnecting);
        EXPECT_EQ(!strcmp(row.workbench, "ready"), Controller.workbenchReady);

        EXPECT_EQ(row.editEnabled, IsEnabled(Controls.deviceNameEdit));
        EXPECT_EQ(row.comboEnabled, IsEnabled(Controls.relayCombo));
        EXPECT_EQ(row.startShown, IsShown(Controls.startButton));
        EXPECT_EQ(row.startEnabled, IsEnabled(Controls.startButton));
        EXPECT_EQ(Narrow(row.startText), TextU8(Controls.startButton));
        EXPECT_EQ(row.stopShown, IsShown(Controls.stopButton));
        EXPECT_TRUE(IsEnabled(Controls.stopButton));
        EXPECT_EQ(row.stopY, TopOf(Controls.stopButton));
        EXPECT_EQ(342, ClientRectOf(Controls.stopButton).left);
        EXPECT_EQ(268, ClientRectOf(Controls.stopButton).right - 342);
        EXPECT_EQ(row.retryShown, IsShown(Controls.retryButton));
        EXPECT_TRUE(IsEnabled(Controls.retryButton));
        EXPECT_EQ(Narrow(L"重新检测"), TextU8(Controls.retryButton));
        EXPECT_EQ(344, TopOf(Controls.retryButton));
        EXPECT_EQ(row.newQrShown, IsShown(Controls.newQrButton));
        EXPECT_TRUE(IsEnabled(Controls.newQrButton));
        EXPECT_EQ(Narrow(L"生成新二维码"), TextU8(Controls.newQrButton));
        EXPECT_EQ(Narrow(row.pill), TextU8(Controls.statusPill));
        EXPECT_EQ(row.pillColour, palette.StatusColor);
        EXPECT_EQ(Narrow(row.placeholder), TextU8(Controls.qrPlaceholder));
        EXPECT_TRUE(IsShown(Controls.qrPlaceholder));
        EXPECT_FALSE(IsShown(Controls.qrView));
        EXPECT_FALSE(IsShown(Controls.stopButton) && IsShown(Controls.retryButton));
    }
}

TEST_F(Presentation, PillColourChangeRepaintsThePillOnlyWhenTheColourChanges)
{
    Doc d;
    d.state = "offline";
    Apply(d);
    EXPECT_TRUE(HasPendingPaint(Controls.statusPill));
    PaintNow();
    d.state = "error";  // another text, the same colour
    Apply(d);
    EXPECT_EQ(Narrow(L"●  连接失败"), TextU8(Controls.statusPill));
    PaintNow();
    SetStatusPill(L"●  连接失败", Error);
    EXPECT_FALSE(HasPendingPaint(Controls.statusPill));
    SetStatusPill(L"●  正在启动", Muted);
    EXPECT_TRUE(HasPendingPaint(Controls.statusPill));
    EXPECT_EQ(Muted, palette.StatusColor);
    EXPECT_EQ(Narrow(L"●  正在启动"), TextU8(Controls.statusPill));
}

TEST_F(Presentation, PillIsDrawnInItsStateColour)
{
    const struct {
        const char* state;
        COLORREF colour;
    } rows[] = {{"online", RGB(25, 123, 77)}, {"connecting", RGB(144, 85, 21)}, {"offline", Error}, {"idle", Muted}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.state);
        Doc d;
        d.state = row.state;
        Apply(d);
        Pixels p = CaptureClient(Controls.statusPill);
        uint32_t rgb = (GetRValue(row.colour) << 16) | (GetGValue(row.colour) << 8) | GetBValue(row.colour);
        int count = 0;
        for (uint32_t pixel : p.rgb)
            count += pixel == rgb;
        EXPECT_GT(count, 10);
        EXPECT_EQ(0xF7F7FBu, p.At(0, 0)) << "on the window background";
    }
}

TEST_F(Presentation, WorkbenchLine)
{
    Doc d;
    d.detail = "Tovix 3.2 · D:\\Tovix";
    Apply(d);
    EXPECT_EQ("已找到 Tovix 工作台\r\nTovix 3.2 · D:\\Tovix", TextU8(Controls.workbenchLabel));
    d.workbench = "checking";
    Apply(d);
    EXPECT_EQ("正在检测 Tovix 工作台…", TextU8(Controls.workbenchLabel));
    for (const char* other : {"", "missing", "READY", "ready "}) {
        d.workbench = other;
        Apply(d);
        EXPECT_EQ("尚未找到可用的 Tovix\r\n请先安装或打开 Tovix 工作台。", TextU8(Controls.workbenchLabel)) << other;
    }
}

TEST_F(Presentation, ConnectorMessageWinsAndTheFailureTextFillsOnlyAnEmptyOneInsideTheHold)
{
    const std::string failure = "连接器未能完成操作，请稍后重试。";
    Doc d;
    Apply(d);
    EXPECT_EQ("", TextU8(Controls.messageLabel));
    Controller.actionErrorUntil = TickNow() + ActionErrorHoldMs;
    Apply(d);
    EXPECT_EQ(failure, TextU8(Controls.messageLabel));
    ShiftClocksForTest(4000, 0);
    Apply(d);
    EXPECT_EQ(failure, TextU8(Controls.messageLabel)) << "4 s after the failure";
    d.message = "中继暂时不可用";
    Apply(d);
    EXPECT_EQ("中继暂时不可用", TextU8(Controls.messageLabel));
    d.message = "";
    ShiftClocksForTest(11000, 0);
    Apply(d);
    EXPECT_EQ("", TextU8(Controls.messageLabel)) << "11 s after the failure";
    d.message = "中继暂时不可用";
    Apply(d);
    EXPECT_EQ("中继暂时不可用", TextU8(Controls.messageLabel));
}

TEST_F(Presentation, ProjectCountShownAsSent)
{
    Doc d;
    d.projects = "3";
    Apply(d);
    EXPECT_EQ("Tovix 工作台 · 3 个本地项目", TextU8(Controls.projectsLabel));
    d.projects = "约 12";
    Apply(d);
    EXPECT_EQ("Tovix 工作台 · 约 12 个本地项目", TextU8(Controls.projectsLabel));
    d.projects = "";
    Apply(d);
    EXPECT_EQ("", TextU8(Controls.projectsLabel));
}

TEST_F(Presentation, PairedPhone)
{
    Doc d;
    d.pairing = "paired";
    Apply(d);
    EXPECT_EQ(1, Controller.phonePaired);
    EXPECT_EQ("✓  手机已配对\r\n可在手机上继续工作", TextU8(Controls.qrPlaceholder));
    EXPECT_EQ("解除配对并生成新码", TextU8(Controls.newQrButton));
    EXPECT_FALSE(IsShown(Controls.newQrButton));
    d.state = "online";
    Apply(d);
    EXPECT_TRUE(IsShown(Controls.newQrButton));
    EXPECT_EQ("✓  手机已配对\r\n可在手机上继续工作", TextU8(Controls.qrPlaceholder));
    d.pairing = "Paired";
    Apply(d);
    EXPECT_EQ(0, Controller.phonePaired);
    EXPECT_EQ("生成新二维码", TextU8(Controls.newQrButton));
}

TEST_F(Presentation, DeviceNameWrittenByTheProgramIsNotAnEdit)
{
    Doc d;
    d.deviceName = "客厅的电脑";
    Apply(d);
    EXPECT_EQ("客厅的电脑", TextU8(Controls.deviceNameEdit));
    ASSERT_FALSE(editChangeSuppressed.empty()) << "the edit reports the write";
    for (int suppressed : editChangeSuppressed)
        EXPECT_EQ(1, suppressed);
    EXPECT_EQ(0, Controller.suppressEditNotify);
    EXPECT_EQ(0, Controller.deviceNameEdited);
}

TEST_F(Presentation, DeviceNameTypedByTheUserIsKept)
{
    Doc d;
    d.deviceName = "旧名字";
    Apply(d);
    SetFocus(Controls.deviceNameEdit);
    SendMessageW(Controls.deviceNameEdit, EM_SETSEL, 3, 3);
    SendMessageW(Controls.deviceNameEdit, WM_CHAR, L'x', 0);
    SetFocus(MainWindow());
    EXPECT_EQ(1, Controller.deviceNameEdited) << "the controller counts the user's typing";
    d.deviceName = "新名字";
    Apply(d);
    EXPECT_EQ("旧名字x", TextU8(Controls.deviceNameEdit));
}

TEST_F(Presentation, DeviceNameNotOverwrittenOnceEditedOrWhileFocused)
{
    Doc d;
    d.deviceName = "旧名字";
    Apply(d);
    Controller.deviceNameEdited = 1;
    d.deviceName = "新名字";
    Apply(d);
    EXPECT_EQ("旧名字", TextU8(Controls.deviceNameEdit));
    EXPECT_TRUE(IsEnabled(Controls.deviceNameEdit));

    Controller.deviceNameEdited = 0;
    SetFocus(Controls.deviceNameEdit);
    ASSERT_EQ(Controls.deviceNameEdit, GetFocus());
    Apply(d);
    EXPECT_EQ("旧名字", TextU8(Controls.deviceNameEdit));
    d.state = "online";
    Apply(d);
    EXPECT_FALSE(IsEnabled(Controls.deviceNameEdit)) << "disabled even when not written";
    SetFocus(MainWindow());
    d.state = "idle";
    Apply(d);
    EXPECT_EQ("新名字", TextU8(Controls.deviceNameEdit));
}

TEST_F(Presentation, ThirdPartyRelaySelectedWithoutCountingAsTheUsersChoice)
{
    Doc d;
    d.relay = "thirdparty";
    Apply(d);
    EXPECT_EQ(1, SendMessageW(Controls.relayCombo, CB_GETCURSEL, 0, 0));
    EXPECT_EQ(0, relaySelectionChanges);
    EXPECT_EQ(0, Controller.relaySwitchRequested);
    d.relay = "quorbelapi";
    Apply(d);
    EXPECT_EQ(0, SendMessageW(Controls.relayCombo, CB_GETCURSEL, 0, 0));
    // Once the user has switched, snapshots leave the combo alone.
    SendMessageW(Controls.relayCombo, CB_SETCURSEL, 1, 0);
    Controller.relaySwitchRequested = 1;
    Apply(d);
    EXPECT_EQ(1, SendMessageW(Controls.relayCombo, CB_GETCURSEL, 0, 0));
}

TEST_F(Presentation, InvalidOrOverlongUtf8InEveryFreeTextFieldIsShownEmpty)
{
    Doc good;
    good.deviceName = "书房电脑";
    good.message = "消息";
    good.projects = "3";
    good.newVersion = "3.3.0";
    good.link = "https://example.com/x";
    Apply(good);
    ASSERT_EQ("书房电脑", TextU8(Controls.deviceNameEdit));
    ASSERT_TRUE(IsShown(Controls.updateLabel));

    const std::string bad = "ab\xE4\xB8";  // cut inside a character
    Doc d = good;
    d.deviceName = bad;
    d.detail = "\xC0\xAF";
    d.message = "\xFF";
    d.projects = "\xED\xA0\x80";
    Apply(d);
    EXPECT_EQ("", TextU8(Controls.deviceNameEdit));
    EXPECT_EQ("已找到 Tovix 工作台\r\n", TextU8(Controls.workbenchLabel));
    EXPECT_EQ("", TextU8(Controls.messageLabel));
    EXPECT_EQ("", TextU8(Controls.projectsLabel));
    EXPECT_TRUE(IsShown(Controls.updateLabel));

    d = good;
    d.newVersion = bad;
    Apply(d);
    EXPECT_FALSE(IsShown(Controls.updateLabel));
    EXPECT_FALSE(IsShown(Controls.downloadButton));
    EXPECT_STREQ(L"", updateUrl);
    Apply(good);
    d.link = "https://example.com/\xFF";
    Apply(d);
    EXPECT_FALSE(IsShown(Controls.downloadButton));
    EXPECT_STREQ(L"", updateUrl);

    // Longest texts that fit their buffers, and one unit more.
    d = good;
    d.deviceName = std::string(511, 'n');
    d.detail = std::string(299, 'd');
    d.message = std::string(511, 'm');
    d.projects = std::string(299, '9');
    Apply(d);
    EXPECT_EQ(size_t(511), TextOf(Controls.deviceNameEdit).size());
    EXPECT_EQ("已找到 Tovix 工作台\r\n" + d.detail, TextU8(Controls.workbenchLabel));
    EXPECT_EQ(d.message, TextU8(Controls.messageLabel));
    EXPECT_EQ("Tovix 工作台 · " + d.projects + " 个本地项目", TextU8(Controls.projectsLabel));
    d.deviceName += 'n';
    d.detail += 'd';
    d.message += 'm';
    d.projects += '9';
    Apply(d);
    EXPECT_EQ("", TextU8(Controls.deviceNameEdit));
    EXPECT_EQ("已找到 Tovix 工作台\r\n", TextU8(Controls.workbenchLabel));
    EXPECT_EQ("", TextU8(Controls.messageLabel));
    EXPECT_EQ("", TextU8(Controls.projectsLabel));
}

TEST_F(Presentation, UnreachableViewAndWhatItLeavesAlone)
{
    Doc d = CodeDoc(21, 120000);
    d.deviceName = "书房电脑";
    d.relay = "thirdparty";
    d.newVersion = "3.3.0";
    d.link = "https://example.com/x";
    d.message = "旧消息";
    Apply(d);
    Controller.relaySwitchRequested = 1;  // as the relay change does: StartButton back as the switch command
    RefreshStartControls();
    ASSERT_TRUE(IsShown(Controls.qrView));
    const std::string startText = TextU8(Controls.startButton);
    const int stopY = TopOf(Controls.stopButton);
    Controller.actionBusy = 1;

    ShowUnreachableView();
    EXPECT_EQ(0, Controller.actionBusy);
    EXPECT_EQ(1, Controller.connectorUnreachable);
    EXPECT_EQ("●  服务不可用", TextU8(Controls.statusPill));
    EXPECT_EQ(Muted, palette.StatusColor);
    EXPECT_FALSE(IsShown(Controls.qrView));
    EXPECT_TRUE(IsShown(Controls.qrPlaceholder));
    EXPECT_EQ(0, Pairing.qrSize);
    EXPECT_EQ("", TextU8(Controls.pairingCodeLabel));
    EXPECT_EQ("暂时无法显示二维码", TextU8(Controls.qrPlaceholder));
    EXPECT_EQ("无法读取本机连接状态", TextU8(Controls.workbenchLabel));
    EXPECT_EQ("请检查连接器端口或安装目录中的 connector.log，再重试。", TextU8(Controls.messageLabel));
    EXPECT_EQ("", TextU8(Controls.projectsLabel));
    EXPECT_EQ("启动连接器", TextU8(Controls.retryButton));
    EXPECT_FALSE(IsEnabled(Controls.deviceNameEdit));
    EXPECT_FALSE(IsEnabled(Controls.relayCombo));
    EXPECT_FALSE(IsEnabled(Controls.startButton));
    EXPECT_TRUE(IsEnabled(Controls.retryButton));
    EXPECT_TRUE(IsShown(Controls.startButton));
    EXPECT_TRUE(IsShown(Controls.retryButton));
    EXPECT_FALSE(IsShown(Controls.stopButton));
    EXPECT_FALSE(IsShown(Controls.newQrButton));
    // Left alone:
    EXPECT_EQ(startText, TextU8(Controls.startButton));
    EXPECT_EQ(stopY, TopOf(Controls.stopButton));
    EXPECT_EQ("书房电脑", TextU8(Controls.deviceNameEdit));
    EXPECT_EQ(1, SendMessageW(Controls.relayCombo, CB_GETCURSEL, 0, 0));
    EXPECT_TRUE(IsShown(Controls.updateLabel));
    EXPECT_TRUE(IsShown(Controls.downloadButton));
    EXPECT_TRUE(IsEnabled(Controls.downloadButton));
    EXPECT_STREQ(L"https://example.com/x", updateUrl);

    // The next accepted snapshot recomputes everything the view changed.
    Controller.relaySwitchRequested = 0;
    Apply(Doc());
    EXPECT_EQ(0, Controller.connectorUnreachable);
    EXPECT_EQ("重新检测", TextU8(Controls.retryButton));
    EXPECT_TRUE(IsEnabled(Controls.startButton));
    EXPECT_EQ("●  未连接", TextU8(Controls.statusPill));
}

TEST_F(Presentation, SameSnapshotTwiceWritesNoTextAndRepaintsNothing)
{
    Doc rich = CodeDoc(25, 600000);
    rich.message = "消息";
    rich.newVersion = "3.3.0";
    rich.link = "https://example.com/x";
    Doc docs[] = {Doc(), rich};
    docs[0].state = "offline";
    for (const Doc& d : docs) {
        SCOPED_TRACE(d.state);
        Apply(d);
        PaintNow();
        qrPaints = 0;
        SetTextCounter counter;
        Apply(d);
        EXPECT_EQ(0, counter.Total());
        EXPECT_FALSE(HasPendingPaint(Controls.statusPill));
        EXPECT_FALSE(HasPendingPaint(Controls.qrView));
        PaintNow();
        EXPECT_EQ(0, qrPaints);
    }
    ShowUnreachableView();
    PaintNow();
    SetTextCounter counter;
    ShowUnreachableView();
    EXPECT_EQ(0, counter.Total());
    EXPECT_FALSE(HasPendingPaint(Controls.statusPill));
}

TEST_F(Presentation, OneChangedModuleOrSizeCausesExactlyOneQrRepaint)
{
    Doc d = CodeDoc(21, 600000);
    Apply(d);
    PaintNow();
    qrPaints = 0;
    d.matrix[230] = d.matrix[230] == '1' ? '0' : '1';
    Apply(d);
    EXPECT_TRUE(HasPendingPaint(Controls.qrView));
    PaintNow();
    EXPECT_EQ(1, qrPaints);
    EXPECT_EQ(d.matrix[230], char(Pairing.qrModules[230]));

    qrPaints = 0;
    Doc bigger = CodeDoc(25, 600000);
    Apply(bigger);
    EXPECT_TRUE(HasPendingPaint(Controls.qrView));
    PaintNow();
    EXPECT_EQ(1, qrPaints);
    EXPECT_EQ(25, Pairing.qrSize);
}

TEST_F(Presentation, AfterClearPairingTheSameSymbolIsCopiedAgain)
{
    Doc d = CodeDoc(21, 600000);
    Apply(d);
    ClearPairing();
    EXPECT_EQ(0, Pairing.qrSize);
    EXPECT_FALSE(IsShown(Controls.qrView));
    EXPECT_TRUE(IsShown(Controls.qrPlaceholder));
    EXPECT_EQ("", TextU8(Controls.pairingCodeLabel));
    memset(Pairing.qrModules, 'x', 441);  // would survive if the copy were skipped
    PaintNow();
    qrPaints = 0;
    Apply(d);
    EXPECT_EQ(0, memcmp(Pairing.qrModules, d.matrix.data(), 441));
    PaintNow();
    EXPECT_GE(qrPaints, 1);
}

namespace {

struct GeometryRow {
    int n, module, offset;
};

// Compares every pixel of the view with the symbol drawn at the given module size and offset.
int WrongPixels(const Pixels& p, const std::string& matrix, int n, int module, int offset)
{
    int wrong = 0;
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            int dark = 0;
            if (module && x >= offset && y >= offset && x < offset + n * module && y < offset + n * module)
                dark = matrix[size_t((y - offset) / module) * n + (x - offset) / module] == '1';
            wrong += p.At(x, y) != (dark ? 0u : 0xFFFFFFu);
        }
    }
    return wrong;
}

}  // namespace

TEST_F(Presentation, QrPixelsFor21To177ModulesIn212Pixels)
{
    const GeometryRow rows[] = {{21, 7, 32}, {29, 5, 33}, {97, 2, 9}, {177, 1, 17}};
    for (const GeometryRow& row : rows) {
        SCOPED_TRACE(row.n);
        Doc d = CodeDoc(row.n, 600000);
        Apply(d);
        ASSERT_TRUE(IsShown(Controls.qrView));
        Pixels p = CaptureClient(Controls.qrView);
        ASSERT_EQ(212, p.width);
        ASSERT_EQ(212, p.height);
        EXPECT_EQ(0, WrongPixels(p, d.matrix, row.n, row.module, row.offset));
        // The margin below and right of the symbol is one pixel wider when the spare is odd.
        int end = row.offset + row.n * row.module;
        EXPECT_EQ(212 - end - row.offset, (212 - row.n * row.module) % 2);
    }
}

TEST_F(Presentation, AViewSmallerThanTheSymbolPlusMarginStaysWhite)
{
    Doc d = CodeDoc(21, 600000, std::string(441, '1'));
    Apply(d);
    SetWindowPos(Controls.qrView, nullptr, 0, 0, 28, 40, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(Controls.qrView, nullptr, FALSE);
    Pixels p = CaptureClient(Controls.qrView);
    SetWindowPos(Controls.qrView, nullptr, 0, 0, 212, 212, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ASSERT_EQ(28, p.width);
    EXPECT_EQ(0, WrongPixels(p, d.matrix, 21, 0, 0));
    p = CaptureClient(Controls.qrView);
    EXPECT_EQ(0, WrongPixels(p, d.matrix, 21, 7, 32)) << "full size again";
}

TEST_F(Presentation, ExpiredOrExpiringNowCodeIsNotShown)
{
    for (int64_t in : {int64_t(0), int64_t(-5000)}) {
        Apply(CodeDoc(21, in));
        EXPECT_FALSE(IsShown(Controls.qrView)) << in;
        EXPECT_EQ(0, Pairing.qrSize);
        EXPECT_EQ(0, Pairing.pairingExpiresAt);
        EXPECT_EQ("正在生成配对二维码…", TextU8(Controls.qrPlaceholder));
        EXPECT_EQ("", TextU8(Controls.pairingCodeLabel));
    }
}

TEST_F(Presentation, CountdownAndExpiry)
{
    Apply(CodeDoc(21, 90500));
    EXPECT_TRUE(IsShown(Controls.qrView));
    EXPECT_FALSE(IsShown(Controls.qrPlaceholder));
    EXPECT_STREQ(L"482913", Pairing.pairingCode);
    EXPECT_EQ("配对码 482913  ·  剩余 1:31", TextU8(Controls.pairingCodeLabel));
    ShiftClocksForTest(0, 30000);
    TickCountdown();
    EXPECT_EQ("配对码 482913  ·  剩余 1:01", TextU8(Controls.pairingCodeLabel));

    // The first tick at or after the expiry, minimised or not, withdraws the code and asks for a poll.
    ShowWindow(MainWindow(), SW_MINIMIZE);
    Controller.nextPollAt = TickNow() + 1500;
    ShiftClocksForTest(0, 90500);
    TickCountdown();
    EXPECT_FALSE(IsShown(Controls.qrView));
    EXPECT_TRUE(IsShown(Controls.qrPlaceholder));
    EXPECT_EQ("二维码已过期，正在更新…", TextU8(Controls.qrPlaceholder));
    EXPECT_EQ("", TextU8(Controls.pairingCodeLabel));
    EXPECT_EQ(0u, Controller.nextPollAt);
    EXPECT_EQ(0, Pairing.qrSize);
    ShowWindow(MainWindow(), SW_RESTORE);

    // With no countdown running a tick touches nothing.
    SetWindowTextW(Controls.pairingCodeLabel, L"x");
    Controller.nextPollAt = 77;
    TickCountdown();
    EXPECT_EQ("x", TextU8(Controls.pairingCodeLabel));
    EXPECT_EQ(77u, Controller.nextPollAt);
    SetWindowTextW(Controls.pairingCodeLabel, L"");
}

TEST_F(Presentation, HugeExpiryShowsACountdownThatFitsTheLabel)
{
    Doc d = CodeDoc(21, 0);
    d.expiry = "999999999999999";
    Apply(d);
    ASSERT_TRUE(IsShown(Controls.qrView));
    std::wstring text = TextOf(Controls.pairingCodeLabel);
    EXPECT_EQ("配对码 482913  ·  剩余 35791394:07", Narrow(text));
    HDC dc = GetDC(Controls.pairingCodeLabel);
    HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageW(Controls.pairingCodeLabel, WM_GETFONT, 0, 0));
    SIZE extent;
    GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(Controls.pairingCodeLabel, dc);
    RECT label;
    GetClientRect(Controls.pairingCodeLabel, &label);
    EXPECT_LT(extent.cx, label.right);
}

TEST_F(Presentation, UpdateOfferEdgeCases)
{
    const std::string host = "https://example.com/";
    struct {
        const char* name;
        std::string version, link;
        int offered;
    } rows[] = {
        {"https with host and path", "3.3.0", host + "download/tovix.exe", 1},
        {"empty version", "", host + "download/tovix.exe", 0},
        {"http", "3.3.0", "http://example.com/x", 0},
        {"ftp", "3.3.0", "ftp://example.com/x", 0},
        {"no scheme", "3.3.0", "example.com/x", 0},
        {"user name", "3.3.0", "https://user@example.com/x", 0},
        {"user name and password", "3.3.0", "https://user:pw@example.com/x", 0},
        {"space", "3.3.0", host + "a b", 0},
        {"tab", "3.3.0", host + "a\tb", 0},
        {"carriage return", "3.3.0", host + "a\rb", 0},
        {"backslash", "3.3.0", "https://example.com\\x", 0},
        {"DEL", "3.3.0", host + "a\x7F", 0},
        {"non-ASCII path", "3.3.0", host + "下载/新版本.exe", 1},
        {"2048 units", "3.3.0", host + std::string(2048 - host.size(), 'a'), 1},
        {"2049 units", "3.3.0", host + std::string(2049 - host.size(), 'a'), 0},
        {"299-unit version", std::string(299, 'v'), host + "x", 1},
        {"300-unit version", std::string(300, 'v'), host + "x", 0},
        {"empty link", "3.3.0", "", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Doc d;
        d.newVersion = "1.0";
        d.link = host + "previous";
        Apply(d);  // an offer on show before each case
        ASSERT_TRUE(IsShown(Controls.downloadButton));
        d.newVersion = row.version;
        d.link = row.link;
        Apply(d);
        EXPECT_EQ(row.offered, IsShown(Controls.updateLabel));
        EXPECT_EQ(row.offered, IsShown(Controls.downloadButton));
        if (row.offered) {
            EXPECT_EQ("发现新版本 " + row.version, TextU8(Controls.updateLabel));
            EXPECT_EQ(row.link, Narrow(updateUrl));
        } else {
            EXPECT_STREQ(L"", updateUrl);
            EXPECT_EQ("发现新版本 1.0", TextU8(Controls.updateLabel)) << "a hidden label keeps its text";
        }
    }
}

TEST_F(Presentation, SameOfferTwiceKeepsTheLabelText)
{
    Doc d;
    d.newVersion = "3.3.0";
    d.link = "https://example.com/x";
    Apply(d);
    SetTextCounter counter;
    Apply(d);
    EXPECT_EQ(0, counter.For(Controls.updateLabel));
    EXPECT_TRUE(IsShown(Controls.updateLabel));
    EXPECT_TRUE(IsShown(Controls.downloadButton));
}

namespace {

void Screenshot(const wchar_t* name)
{
    CreateDirectoryW(L"screenshots", nullptr);
    Pixels p = CaptureWindow(MainWindow());
    EXPECT_TRUE(SaveBmp(std::wstring(L"screenshots\\") + name + L".bmp", p)) << Narrow(name);
}

}  // namespace

TEST_F(Presentation, Screenshots)
{
    Doc idle;
    idle.detail = "Tovix 3.2 · C:\\Users\\me\\Tovix";
    idle.projects = "12";
    Apply(idle);
    Screenshot(L"window-idle");

    Doc connecting = idle;
    connecting.state = "connecting";
    Apply(connecting);
    Screenshot(L"window-connecting");

    Doc online = CodeDoc(29, 272000, RealQr29);
    online.detail = idle.detail;
    online.projects = "12";
    online.newVersion = "3.3.0";
    online.link = "https://example.com/download/tovix-3.3.0.exe";
    Apply(online);
    Screenshot(L"window-online-qr");

    Doc offline = idle;
    offline.state = "offline";
    offline.message = "中继连接中断，正在重试。";
    Apply(offline);
    Screenshot(L"window-offline");

    Doc error = idle;
    error.state = "error";
    error.workbench = "missing";
    Apply(error);
    Screenshot(L"window-error");

    Doc paired = idle;
    paired.state = "online";
    paired.pairing = "paired";
    Apply(paired);
    Screenshot(L"window-online-paired");

    ShowUnreachableView();
    Screenshot(L"window-unreachable");
}
