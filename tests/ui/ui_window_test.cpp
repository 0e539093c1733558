// The real main window at 96 dpi, straight after creation: the window itself, every control's place,
// class, id, style, font, text, visibility and enabled state, the combo items and the edit limit, the
// colours that WM_CTLCOLORSTATIC yields and what reaches the screen, the system-menu item and the links
// it and DownloadButton open.
#include <gtest/gtest.h>
#include <string>
#include "ui/control_text.h"
#include "ui/layout.h"
#include "ui/update_offer.h"
#include "ui/window_state.h"
#include "process_util.h"
#include "ui_support.h"

namespace {

enum { Hidden = 1, Disabled = 2 };

struct ExpectedControl {
    const wchar_t* className;
    const wchar_t* text;
    DWORD style;  // besides WS_CHILD
    int id;
    int x, y, width, height;
    int fontSize, fontWeight;  // 0: no font
    int state;
};

// The control table as the user sees it at 96 dpi, in creation (Z and Tab) order.
const ExpectedControl Expected[] = {
    {L"Static", L"连接这台电脑", SS_NOPREFIX, 0, 74, 19, 390, 34, 26, 600, 0},
    {L"Static", L"在手机上继续使用这台电脑的 Tovix", SS_NOPREFIX, 0, 75, 54, 386, 21, 13, 400, 0},
    {L"Static", L"●  正在启动", SS_NOPREFIX | SS_CENTER, 0, 500, 36, 128, 24, 14, 400, 0},
    {L"Static", L"手机扫码连接", SS_NOPREFIX | SS_CENTER, 0, 36, 106, 262, 23, 16, 600, 0},
    {L"TovixMobileConnectorQR", L"手机连接这台电脑的二维码", 0, 0, 61, 188, 212, 212, 0, 0, Hidden},
    {L"Static", L"正在启动连接器…", SS_NOPREFIX | SS_CENTER, 0, 38, 266, 258, 65, 14, 400, 0},
    {L"Static", L"", SS_NOPREFIX | SS_CENTER, 0, 30, 404, 274, 20, 13, 400, 0},
    {L"Button", L"生成新二维码", WS_TABSTOP, 103, 61, 426, 212, 26, 14, 400, Hidden},
    {L"Static", L"本机连接", SS_NOPREFIX, 0, 342, 107, 268, 23, 16, 600, 0},
    {L"Static", L"电脑名称", SS_NOPREFIX, 0, 342, 140, 268, 19, 13, 400, 0},
    {L"Edit", L"", WS_TABSTOP | ES_AUTOHSCROLL, 104, 342, 160, 268, 26, 14, 400, Disabled},
    {L"Static", L"连接服务", SS_NOPREFIX, 0, 342, 201, 268, 19, 13, 400, 0},
    {L"ComboBox", nullptr, WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 106, 342, 221, 268, 100, 14, 400, Disabled},
    {L"Static", L"等待检测 Tovix 工作台…", SS_NOPREFIX, 0, 342, 257, 268, 45, 14, 400, 0},
    {L"Button", L"开始连接", WS_TABSTOP | BS_DEFPUSHBUTTON, 100, 342, 310, 268, 28, 14, 400, Disabled},
    {L"Button", L"停止远程连接", WS_TABSTOP, 101, 342, 310, 268, 28, 14, 400, Hidden},
    {L"Button", L"重新检测", WS_TABSTOP, 102, 342, 344, 268, 27, 14, 400, Hidden},
    {L"Static", L"", SS_NOPREFIX, 0, 342, 377, 268, 51, 13, 400, 0},
    {L"Static", L"", SS_NOPREFIX, 0, 342, 431, 268, 20, 13, 400, Hidden},
    {L"Button", L"下载更新", WS_TABSTOP, 105, 342, 455, 268, 28, 14, 400, Hidden},
    {L"Static", L"", SS_NOPREFIX, 0, 342, 491, 268, 20, 13, 400, 0},
    {L"Static", L"使用手机时，请让电脑保持开机联网。", SS_NOPREFIX | SS_CENTER, 0, 24, 529, 604, 19, 13, 400, 0},
};

std::vector<HWND> ChildrenInZOrder()
{
    std::vector<HWND> children;
    for (HWND child = GetWindow(MainWindow(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

}  // namespace

// Must run first: every later test changes the controls.
TEST(MainWindow, AllControlsAsCreated)
{
    HWND main = MainWindow();
    ASSERT_TRUE(main != nullptr);
    ASSERT_EQ(96, WindowRole.dpi) << "this program checks the 96-dpi layout";
    EXPECT_EQ(0, StartBackgroundCalls()) << "the controller, not the window, starts the supervisor";

    std::vector<HWND> children = ChildrenInZOrder();
    ASSERT_EQ(size_t(22), children.size());
    for (size_t i = 0; i < children.size(); ++i) {
        const ExpectedControl& e = Expected[i];
        HWND c = children[i];
        SCOPED_TRACE(testing::Message() << "control " << i + 1);
        EXPECT_EQ(c, Controls[i]) << "the window addresses each control by its row";
        wchar_t className[64];
        GetClassNameW(c, className, 64);
        EXPECT_EQ(0, _wcsicmp(e.className, className)) << Narrow(className);
        if (e.text) {
            EXPECT_EQ(Narrow(e.text), Narrow(TextOf(c)));
        }
        EXPECT_EQ(e.id, GetDlgCtrlID(c));

        DWORD style = GetWindowLongW(c, GWL_STYLE);
        // A combo box hands WS_VSCROLL on to its drop-down list (Wine drops it from the combo itself).
        DWORD kept = e.id == RelayComboId ? e.style & ~DWORD(WS_VSCROLL) : e.style;
        EXPECT_EQ(kept | WS_CHILD, style & (kept | WS_CHILD)) << std::hex << style;
        if (!_wcsicmp(e.className, L"Static")) {
            EXPECT_EQ(e.style & SS_TYPEMASK, style & SS_TYPEMASK);
        } else if (!_wcsicmp(e.className, L"Button")) {
            EXPECT_EQ(e.style & BS_TYPEMASK, style & BS_TYPEMASK);
        } else if (e.style == 0) {
            EXPECT_EQ(DWORD(WS_CHILD), style & ~DWORD(WS_VISIBLE | WS_CLIPSIBLINGS));
        }
        DWORD exStyle = GetWindowLongW(c, GWL_EXSTYLE);
        EXPECT_EQ(e.id == 104, (exStyle & WS_EX_CLIENTEDGE) != 0);
        EXPECT_EQ(!(e.state & Hidden), IsShown(c));
        EXPECT_EQ(!(e.state & Disabled), IsEnabled(c));

        RECT r = ClientRectOf(c);
        EXPECT_EQ(e.x, r.left);
        EXPECT_EQ(e.y, r.top);
        EXPECT_EQ(e.width, r.right - r.left);
        if (e.id == RelayComboId) {
            RECT dropped;
            SendMessageW(c, CB_GETDROPPEDCONTROLRECT, 0, (LPARAM)&dropped);
            // The created height includes the list: Windows reports it whole, Wine the list below the
            // closed box.
            int droppedHeight = dropped.bottom - dropped.top, closedHeight = r.bottom - r.top;
            EXPECT_TRUE(droppedHeight == e.height || droppedHeight + closedHeight == e.height)
                << droppedHeight << " + " << closedHeight;
        } else {
            EXPECT_EQ(e.height, r.bottom - r.top);
        }

        HFONT font = (HFONT)SendMessageW(c, WM_GETFONT, 0, 0);
        if (!e.fontSize) {
            EXPECT_TRUE(font == nullptr);
            continue;
        }
        LOGFONTW lf = {};
        ASSERT_TRUE(font && GetObjectW(font, sizeof lf, &lf));
        EXPECT_EQ(-e.fontSize, lf.lfHeight);
        EXPECT_EQ(0, lf.lfWidth);
        EXPECT_EQ(e.fontWeight, lf.lfWeight);
        EXPECT_STREQ(L"Segoe UI", lf.lfFaceName);
        EXPECT_EQ(DEFAULT_CHARSET, lf.lfCharSet);
        EXPECT_EQ(CLEARTYPE_QUALITY, lf.lfQuality);
        EXPECT_FALSE(lf.lfItalic || lf.lfUnderline || lf.lfStrikeOut);
    }
}

TEST(MainWindow, FixedSizeWindowCentredInTheWorkArea)
{
    HWND main = MainWindow();
    wchar_t className[64], title[64];
    GetClassNameW(main, className, 64);
    GetWindowTextW(main, title, 64);
    EXPECT_STREQ(L"TovixMobileConnectorWindow", className);
    EXPECT_EQ(Narrow(L"Tovix 随行连接器"), Narrow(title));
    DWORD style = GetWindowLongW(main, GWL_STYLE);
    EXPECT_EQ(DWORD(0x2CA0000), style & 0x2CA0000);
    EXPECT_EQ(DWORD(0), style & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_CHILD | WS_POPUP));
    EXPECT_TRUE(style & WS_VISIBLE);
    EXPECT_TRUE(GetWindowLongW(main, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
    EXPECT_TRUE(GetMenu(main) == nullptr);
    EXPECT_TRUE(GetParent(main) == nullptr);

    RECT client;
    GetClientRect(main, &client);
    EXPECT_EQ(652, client.right);
    EXPECT_EQ(556, client.bottom);

    RECT area, outer;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0));
    GetWindowRect(main, &outer);
    int width = outer.right - outer.left, height = outer.bottom - outer.top;
    EXPECT_EQ(area.left + (area.right - area.left - width) / 2, outer.left);
    EXPECT_EQ(area.top + (area.bottom - area.top - height) / 2, outer.top);
}

TEST(MainWindow, ComboItemsAndEditLimit)
{
    EXPECT_EQ(2, SendMessageW(Controls[RelayComboIndex], CB_GETCOUNT, 0, 0));
    wchar_t item[64];
    SendMessageW(Controls[RelayComboIndex], CB_GETLBTEXT, 0, (LPARAM)item);
    EXPECT_EQ(Narrow(L"QuorbelAPI（默认）"), Narrow(item));
    SendMessageW(Controls[RelayComboIndex], CB_GETLBTEXT, 1, (LPARAM)item);
    EXPECT_EQ(Narrow(L"三方中继"), Narrow(item));
    EXPECT_EQ(0, SendMessageW(Controls[RelayComboIndex], CB_GETCURSEL, 0, 0));
    EXPECT_EQ(100, SendMessageW(Controls[DeviceNameEditIndex], EM_GETLIMITTEXT, 0, 0));
}

TEST(MainWindow, TypingIntoTheDeviceNameStopsAt100Characters)
{
    ResetWindowState();
    EnableWindow(Controls[DeviceNameEditIndex], TRUE);
    SetFocus(Controls[DeviceNameEditIndex]);
    for (int i = 0; i < 130; ++i)
        SendMessageW(Controls[DeviceNameEditIndex], WM_CHAR, L'a' + i % 26, 0);
    EXPECT_EQ(size_t(100), TextOf(Controls[DeviceNameEditIndex]).size());
    SetWindowTextW(Controls[DeviceNameEditIndex], L"");
    ResetWindowState();
}

namespace {

struct ColourCase {
    int index;
    COLORREF colour;
    int onPanel;
};

COLORREF BrushColour(HBRUSH brush)
{
    LOGBRUSH lb = {};
    GetObjectW(brush, sizeof lb, &lb);
    return lb.lbColor;
}

}  // namespace

TEST(Colours, WmCtlColorStaticForEveryStaticText)
{
    HWND main = MainWindow();
    const COLORREF text = GetSysColor(COLOR_WINDOWTEXT);
    const COLORREF muted = RGB(83, 88, 104), error = RGB(161, 50, 64);
    const ColourCase cases[] = {
        {TitleLabelIndex, text, 0},         {SubtitleLabelIndex, muted, 0},     {StatusPillIndex, palette.StatusColor, 0},
        {QrHeadingIndex, text, 1},          {QrPlaceholderIndex, muted, 1},     {PairingCodeLabelIndex, text, 1},
        {ConnectionHeadingIndex, text, 1},  {DeviceNameCaptionIndex, text, 1},  {DeviceNameEditIndex, text, 1},
        {RelayCaptionIndex, text, 1},       {WorkbenchLabelIndex, text, 1},     {MessageLabelIndex, error, 1},
        {UpdateLabelIndex, text, 1},        {ProjectsLabelIndex, muted, 1},     {FooterLabelIndex, muted, 0},
    };
    EXPECT_EQ(RGB(83, 88, 104), palette.StatusColor) << "start-up pill colour";
    EXPECT_EQ(RGB(255, 255, 255), BrushColour(palette.PanelBrush));
    EXPECT_EQ(RGB(247, 247, 251), BrushColour(palette.WindowBrush));
    std::vector<HWND> children = ChildrenInZOrder();
    HDC dc = CreateCompatibleDC(nullptr);
    for (const ColourCase& c : cases) {
        SCOPED_TRACE(c.index);
        SetTextColor(dc, RGB(1, 1, 1));
        SetBkMode(dc, OPAQUE);
        HBRUSH brush = (HBRUSH)SendMessageW(main, WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)children[c.index]);
        EXPECT_EQ(c.colour, GetTextColor(dc));
        EXPECT_EQ(TRANSPARENT, GetBkMode(dc));
        EXPECT_EQ(c.onPanel ? palette.PanelBrush : palette.WindowBrush, brush);
    }
    DeleteDC(dc);
}

namespace {

int CountColour(const Pixels& p, RECT r, COLORREF colour)
{
    uint32_t rgb = (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
    int count = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            count += p.At(x, y) == rgb;
    return count;
}

uint32_t Rgb(COLORREF c)
{
    return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

}  // namespace

TEST(Colours, PanelsBackgroundAndTextColoursReachTheScreen)
{
    ResetWindowState();
    HWND main = MainWindow();
    SetTextIfChanged(Controls[MessageLabelIndex], L"■■■■");
    Pixels p = CaptureClient(main);
    ASSERT_EQ(652, p.width);
    EXPECT_EQ(Rgb(RGB(247, 247, 251)), p.At(5, 5)) << "window background";
    EXPECT_EQ(Rgb(RGB(247, 247, 251)), p.At(317, 300)) << "between the panels";
    EXPECT_EQ(Rgb(RGB(255, 255, 255)), p.At(40, 200)) << "pairing panel";
    EXPECT_EQ(Rgb(RGB(255, 255, 255)), p.At(620, 300)) << "connection panel";
    EXPECT_EQ(Rgb(RGB(223, 224, 231)), p.At(24, 300)) << "pairing panel outline, left";
    EXPECT_EQ(Rgb(RGB(223, 224, 231)), p.At(309, 300)) << "pairing panel outline, right";
    EXPECT_EQ(Rgb(RGB(223, 224, 231)), p.At(400, 92)) << "connection panel outline, top";
    EXPECT_EQ(Rgb(RGB(223, 224, 231)), p.At(400, 517)) << "connection panel outline, bottom";
    EXPECT_EQ(Rgb(RGB(247, 247, 251)), p.At(24, 92)) << "rounded corner";
    EXPECT_GT(CountColour(p, ClientRectOf(Controls[StatusPillIndex]), RGB(83, 88, 104)), 10) << "pill text";
    EXPECT_GT(CountColour(p, ClientRectOf(Controls[MessageLabelIndex]), RGB(161, 50, 64)), 20) << "message text";
    RECT icon = {24, 24, 63, 63};
    EXPECT_LT(CountColour(p, icon, RGB(247, 247, 251)), 39 * 39) << "the icon is drawn";
    SetTextIfChanged(Controls[MessageLabelIndex], L"");
}

TEST(SystemMenu, EndsWithSeparatorAndOpenInBrowser)
{
    HMENU menu = GetSystemMenu(MainWindow(), FALSE);
    int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    MENUITEMINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE;
    ASSERT_TRUE(GetMenuItemInfoW(menu, count - 2, TRUE, &info));
    EXPECT_TRUE(info.fType & MFT_SEPARATOR);
    EXPECT_EQ(UINT(0x1000), GetMenuItemID(menu, count - 1));
    wchar_t text[64];
    GetMenuStringW(menu, count - 1, text, 64, MF_BYPOSITION);
    EXPECT_EQ(Narrow(L"在浏览器中打开"), Narrow(text));
}

TEST(Links, SystemMenuItemOpensTheConnectorPageWithThePort)
{
    BrowserStub stub;
    if (!stub.usable)
        GTEST_SKIP() << "opened links are observed through Wine's browser setting only";
    SendMessageW(MainWindow(), WM_SYSCOMMAND, 0x1000, 0);
    std::vector<std::string> links = stub.Links(1, 15000);
    ASSERT_EQ(size_t(1), links.size());
    EXPECT_EQ("http://127.0.0.1:8093/connect.html", links[0]);
}

TEST(Links, DownloadButtonOpensTheOfferedLinkAndNothingOnceReplacedByAnUnacceptableOne)
{
    BrowserStub stub;
    if (!stub.usable)
        GTEST_SKIP() << "opened links are observed through Wine's browser setting only";
    ResetWindowState();
    Doc d;
    d.newVersion = "3.3.0";
    d.link = "https://example.com/download/tovix-3.3.0.exe";
    Apply(d);
    ASSERT_TRUE(IsShown(Controls[DownloadButtonIndex]));
    SendMessageW(Controls[DownloadButtonIndex], BM_CLICK, 0, 0);
    std::vector<std::string> links = stub.Links(1, 15000);
    ASSERT_EQ(size_t(1), links.size());
    EXPECT_EQ(d.link, links[0]);

    // The link is tested again at the click: a link that no longer passes opens nothing.
    wcscpy(updateUrl, L"http://example.com/download/tovix-3.3.0.exe");
    SendMessageW(Controls[DownloadButtonIndex], BM_CLICK, 0, 0);
    wcscpy(updateUrl, L"https://user:pw@example.com/x");
    SendMessageW(MainWindow(), WM_COMMAND, MAKEWPARAM(DownloadButtonId, 0), (LPARAM)Controls[DownloadButtonIndex]);
    // A following acceptable click shows the two before it opened nothing.
    wcscpy(updateUrl, L"https://example.com/second");
    SendMessageW(MainWindow(), WM_COMMAND, MAKEWPARAM(DownloadButtonId, 0), (LPARAM)Controls[DownloadButtonIndex]);
    links = stub.Links(2, 15000);
    Sleep(1000);
    links = stub.Links(2, 0);
    ASSERT_EQ(size_t(2), links.size());
    EXPECT_EQ("https://example.com/second", links[1]);
}
