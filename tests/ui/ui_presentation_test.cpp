// The apply step through the real window (what each situation shows is decided and tested without a
// window in ui_logic_test): the window shows what a view says and keeps what it keeps; applying the same
// snapshot twice writes no text and repaints nothing; the pill and the QR view repaint only when their
// colour or symbol changes; the program's own write of the device name is not the user's, and the user's
// typing stays; the QR view's pixels; the countdown's expiry through the controller; and screenshots.
#include <gtest/gtest.h>
#include <string>
#include "ui/apply_view.h"
#include "ui/clock.h"
#include "ui/controller.h"
#include "ui/layout.h"
#include "ui/main_window.h"
#include "ui/presentation.h"
#include "ui/window_state.h"
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
        editChangeSuppressed.push_back(ControllerStateForTest()->suppressEditNotify);
    if (message == WM_COMMAND && LOWORD(wParam) == RelayComboId && HIWORD(wParam) == CBN_SELCHANGE)
        ++relaySelectionChanges;
    return CallWindowProcW(mainProcedure, window, message, wParam, lParam);
}

class Presentation : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        MainWindow();
        qrProcedure = (WNDPROC)SetWindowLongPtrW(Controls[QrViewIndex], GWLP_WNDPROC, (LONG_PTR)CountQrPaints);
        mainProcedure = (WNDPROC)SetWindowLongPtrW(MainWindow(), GWLP_WNDPROC, (LONG_PTR)WatchCommands);
    }
    void SetUp() override
    {
        ResetWindowState();
        Apply(Doc());  // a known starting point: idle, workbench ready, nothing edited
        // The window put the focus into the name's field, where snapshots leave the name alone.
        SetFocus(Controls[StartButtonIndex]);
        PaintNow();
        qrPaints = 0;
        editChangeSuppressed.clear();
        relaySelectionChanges = 0;
    }
    void TearDown() override { ShiftClocksForTest(0, 0); }
};

const COLORREF Muted = RGB(83, 88, 104), Error = RGB(161, 50, 64);

}  // namespace

TEST_F(Presentation, TheWindowShowsWhatTheViewSaysAndKeepsTheRest)
{
    static WindowView view;
    KeepEverything(&view);
    const std::string nameBefore = TextU8(Controls[DeviceNameEditIndex]);
    {
        SetTextCounter counter;
        ApplyView(&view);
        EXPECT_EQ(0, counter.Total()) << "a view that keeps everything writes nothing";
    }
    SetViewText(&view, WorkbenchLabelIndex, L"工作台行");
    SetViewShown(&view, RetryButtonIndex, 1);
    SetViewEnabled(&view, RetryButtonIndex, 0);
    SetViewShown(&view, StartButtonIndex, 0);
    view.stopButtonY = StopButtonUpperY;
    view.relaySelection = 1;
    view.statusColour = OnlineStatusColour;
    view.setUpdateUrl = 1;
    wcscpy(view.updateUrl, L"https://example.com/x");
    SetTextCounter counter;
    ApplyView(&view);
    EXPECT_EQ(1, counter.Total());
    EXPECT_EQ("工作台行", TextU8(Controls[WorkbenchLabelIndex]));
    EXPECT_TRUE(IsShown(Controls[RetryButtonIndex]));
    EXPECT_FALSE(IsEnabled(Controls[RetryButtonIndex]));
    EXPECT_FALSE(IsShown(Controls[StartButtonIndex]));
    EXPECT_EQ(310, TopOf(Controls[StopButtonIndex]));
    EXPECT_EQ(342, ClientRectOf(Controls[StopButtonIndex]).left);
    EXPECT_EQ(268, ClientRectOf(Controls[StopButtonIndex]).right - 342);
    EXPECT_EQ(1, SendMessageW(Controls[RelayComboIndex], CB_GETCURSEL, 0, 0));
    EXPECT_EQ(RGB(25, 123, 77), palette.StatusColor);
    EXPECT_STREQ(L"https://example.com/x", updateUrl);
    // What the view keeps is left as it was.
    EXPECT_EQ(nameBefore, TextU8(Controls[DeviceNameEditIndex]));
    EXPECT_EQ("●  未连接", TextU8(Controls[StatusPillIndex]));
    EXPECT_TRUE(IsEnabled(Controls[StartButtonIndex]));
    EXPECT_EQ(0, relaySelectionChanges) << "the program's selection is not the user's";
}

TEST_F(Presentation, PillColourChangeRepaintsThePillOnlyWhenTheColourChanges)
{
    Doc d;
    d.state = "offline";
    Apply(d);
    EXPECT_TRUE(HasPendingPaint(Controls[StatusPillIndex]));
    EXPECT_EQ(Error, palette.StatusColor);
    PaintNow();
    static WindowView view;
    KeepEverything(&view);
    view.statusColour = ErrorStatusColour;  // the colour it has
    ApplyView(&view);
    EXPECT_FALSE(HasPendingPaint(Controls[StatusPillIndex]));
    view.statusColour = MutedStatusColour;  // another colour, the same text
    ApplyView(&view);
    EXPECT_TRUE(HasPendingPaint(Controls[StatusPillIndex]));
    EXPECT_EQ(Muted, palette.StatusColor);
    EXPECT_EQ(Narrow(L"●  连接中断"), TextU8(Controls[StatusPillIndex]));
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
        Pixels p = CaptureClient(Controls[StatusPillIndex]);
        uint32_t rgb = (GetRValue(row.colour) << 16) | (GetGValue(row.colour) << 8) | GetBValue(row.colour);
        int count = 0;
        for (uint32_t pixel : p.rgb)
            count += pixel == rgb;
        EXPECT_GT(count, 10);
        EXPECT_EQ(0xF7F7FBu, p.At(0, 0)) << "on the window background";
    }
}

TEST_F(Presentation, DeviceNameWrittenByTheProgramIsNotAnEdit)
{
    Doc d;
    d.deviceName = "客厅的电脑";
    Apply(d);
    EXPECT_EQ("客厅的电脑", TextU8(Controls[DeviceNameEditIndex]));
    ASSERT_FALSE(editChangeSuppressed.empty()) << "the edit reports the write";
    for (int suppressed : editChangeSuppressed)
        EXPECT_EQ(1, suppressed);
    EXPECT_EQ(0, ControllerStateForTest()->suppressEditNotify);
    EXPECT_EQ(0, ControllerStateForTest()->deviceNameEdited);
}

TEST_F(Presentation, DeviceNameTypedByTheUserIsKept)
{
    Doc d;
    d.deviceName = "旧名字";
    Apply(d);
    SetFocus(Controls[DeviceNameEditIndex]);
    SendMessageW(Controls[DeviceNameEditIndex], EM_SETSEL, 3, 3);
    SendMessageW(Controls[DeviceNameEditIndex], WM_CHAR, L'x', 0);
    SetFocus(MainWindow());
    EXPECT_EQ(1, ControllerStateForTest()->deviceNameEdited) << "the controller counts the user's typing";
    d.deviceName = "新名字";
    Apply(d);
    EXPECT_EQ("旧名字x", TextU8(Controls[DeviceNameEditIndex]));
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
        EXPECT_FALSE(HasPendingPaint(Controls[StatusPillIndex]));
        EXPECT_FALSE(HasPendingPaint(Controls[QrViewIndex]));
        PaintNow();
        EXPECT_EQ(0, qrPaints);
    }
    ShowUnreachableView();
    PaintNow();
    SetTextCounter counter;
    ShowUnreachableView();
    EXPECT_EQ(0, counter.Total());
    EXPECT_FALSE(HasPendingPaint(Controls[StatusPillIndex]));
}

TEST_F(Presentation, OneChangedModuleOrSizeCausesExactlyOneQrRepaint)
{
    Doc d = CodeDoc(21, 600000);
    Apply(d);
    PaintNow();
    qrPaints = 0;
    d.matrix[230] = d.matrix[230] == '1' ? '0' : '1';
    Apply(d);
    EXPECT_TRUE(HasPendingPaint(Controls[QrViewIndex]));
    PaintNow();
    EXPECT_EQ(1, qrPaints);
    EXPECT_EQ(d.matrix[230], char(Pairing.qrModules[230]));

    qrPaints = 0;
    Doc bigger = CodeDoc(25, 600000);
    Apply(bigger);
    EXPECT_TRUE(HasPendingPaint(Controls[QrViewIndex]));
    PaintNow();
    EXPECT_EQ(1, qrPaints);
    EXPECT_EQ(25, Pairing.qrSize);
}

TEST_F(Presentation, AfterTheCodeWasWithdrawnTheSameSymbolIsCopiedAgain)
{
    Doc d = CodeDoc(21, 600000);
    Apply(d);
    ShowUnreachableView();
    EXPECT_EQ(0, Pairing.qrSize);
    EXPECT_FALSE(IsShown(Controls[QrViewIndex]));
    EXPECT_TRUE(IsShown(Controls[QrPlaceholderIndex]));
    EXPECT_EQ("", TextU8(Controls[PairingCodeLabelIndex]));
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
        ASSERT_TRUE(IsShown(Controls[QrViewIndex]));
        Pixels p = CaptureClient(Controls[QrViewIndex]);
        ASSERT_EQ(212, p.width);
        ASSERT_EQ(212, p.height);
        EXPECT_EQ(0, WrongPixels(p, d.matrix, row.n, row.module, row.offset));
        // The margin below and right of the symbol is one pixel wider when the spare is odd.
        int end = row.offset + row.n * row.module;
        EXPECT_EQ(212 - end - row.offset, (212 - row.n * row.module) % 2);
    }
}

TEST_F(Presentation, TheCountdownRunsOnTheTickAndItsExpiryAsksForAPollEvenWhileMinimised)
{
    Apply(CodeDoc(21, 90500));
    EXPECT_TRUE(IsShown(Controls[QrViewIndex]));
    EXPECT_FALSE(IsShown(Controls[QrPlaceholderIndex]));
    EXPECT_STREQ(L"482913", Pairing.pairingCode);
    EXPECT_EQ("配对码 482913  ·  剩余 1:31", TextU8(Controls[PairingCodeLabelIndex]));
    ShiftClocksForTest(0, 30000);
    TickCountdown();
    EXPECT_EQ("配对码 482913  ·  剩余 1:01", TextU8(Controls[PairingCodeLabelIndex]));

    ShowWindow(MainWindow(), SW_MINIMIZE);
    ControllerStateForTest()->nextPollAt = TickNow() + 1500;
    ShiftClocksForTest(0, 90500);
    TickCountdown();
    EXPECT_FALSE(IsShown(Controls[QrViewIndex]));
    EXPECT_EQ("二维码已过期，正在更新…", TextU8(Controls[QrPlaceholderIndex]));
    EXPECT_EQ(0u, ControllerStateForTest()->nextPollAt);
    EXPECT_EQ(0, Pairing.qrSize);
    EXPECT_EQ(0, Pairing.pairingExpiresAt);
    ShowWindow(MainWindow(), SW_RESTORE);

    // With no countdown running a tick touches nothing.
    ControllerStateForTest()->nextPollAt = 77;
    SetTextCounter counter;
    TickCountdown();
    EXPECT_EQ(0, counter.Total());
    EXPECT_EQ(77u, ControllerStateForTest()->nextPollAt);
}

TEST_F(Presentation, HugeExpiryShowsACountdownThatFitsTheLabel)
{
    Doc d = CodeDoc(21, 0);
    d.expiry = "999999999999999";
    Apply(d);
    ASSERT_TRUE(IsShown(Controls[QrViewIndex]));
    std::wstring text = TextOf(Controls[PairingCodeLabelIndex]);
    EXPECT_EQ("配对码 482913  ·  剩余 35791394:07", Narrow(text));
    HDC dc = GetDC(Controls[PairingCodeLabelIndex]);
    HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageW(Controls[PairingCodeLabelIndex], WM_GETFONT, 0, 0));
    SIZE extent;
    GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(Controls[PairingCodeLabelIndex], dc);
    RECT label;
    GetClientRect(Controls[PairingCodeLabelIndex], &label);
    EXPECT_LT(extent.cx, label.right);
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
