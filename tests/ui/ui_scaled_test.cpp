// The real window in child processes of this program, for what needs a fresh process: the layout at 120
// and 144 dpi (the screen dpi comes from the registry value that a new process reads; the parent sets
// it for the child and restores it), the show value at start, the start-up failure when the main
// window class cannot be registered, and the command routing to the real controller (against a port
// where nothing listens) up to the end of the message loop.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string>
#include "loopback_server.h"
#include "ui/controller.h"
#include "ui/layout.h"
#include "ui/main_window.h"
#include "ui/palette.h"
#include "ui_support.h"

namespace {

const wchar_t DesktopKey[] = L"Control Panel\\Desktop";

// Sets the registry dpi for new processes of this logon, and puts back what was there.
struct RegistryDpi {
    DWORD saved = 0;
    int hadValue = 0;
    explicit RegistryDpi(DWORD dpi)
    {
        HKEY key;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, DesktopKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key,
                            nullptr) != ERROR_SUCCESS)
            return;
        DWORD bytes = sizeof saved, type = 0;
        hadValue = RegQueryValueExW(key, L"LogPixels", nullptr, &type, (BYTE*)&saved, &bytes) == ERROR_SUCCESS &&
                   type == REG_DWORD;
        RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, (const BYTE*)&dpi, sizeof dpi);
        RegCloseKey(key);
    }
    ~RegistryDpi()
    {
        HKEY key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, DesktopKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
            return;
        if (hadValue)
            RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, (const BYTE*)&saved, sizeof saved);
        else
            RegDeleteValueW(key, L"LogPixels");
        RegCloseKey(key);
    }
};

// Runs this program again for the Child tests with UI_CHILD set to mode; returns its exit code.
DWORD RunChild(const char* mode)
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_filter=Child.*";
    std::wstring value(mode, mode + strlen(mode));
    SetEnvironmentVariableW(L"UI_CHILD", value.c_str());
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    BOOL started = CreateProcessW(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableW(L"UI_CHILD", nullptr);
    if (!started)
        return 1000;
    DWORD exitCode = 1001;
    if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0)
        TerminateProcess(pi.hProcess, 1002);
    WaitForSingleObject(pi.hProcess, 5000);
    GetExitCodeProcess(pi.hProcess, &exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return exitCode;
}

const char* ChildMode()
{
    return getenv("UI_CHILD");
}

int ExpectedDpi()
{
    const char* mode = ChildMode();
    return mode && !strncmp(mode, "dpi", 3) ? atoi(mode + 3) : 0;
}

}  // namespace

TEST(Scaled, LayoutAt120Dpi)
{
    RegistryDpi dpi(120);
    EXPECT_EQ(0u, RunChild("dpi120"));
}

TEST(Scaled, LayoutAt144Dpi)
{
    RegistryDpi dpi(144);
    EXPECT_EQ(0u, RunChild("dpi144"));
}

TEST(Start, HiddenShowValueOpensTheWindowNormally)
{
    EXPECT_EQ(0u, RunChild("show0"));
}

TEST(Start, MinimisingShowValueStartsMinimised)
{
    EXPECT_EQ(0u, RunChild("show7"));
}

TEST(Start, FailsWhenTheMainWindowClassCannotBeRegistered)
{
    EXPECT_EQ(0u, RunChild("classTaken"));
}

TEST(Start, CommandsReachTheirHandlersAndTheStopEndsTheLoop)
{
    EXPECT_EQ(0u, RunChild("routing"));
}

// ---- the children ----------------------------------------------------------------------------------------

TEST(Child, ScaledLayout)
{
    const int dpi = ExpectedDpi();
    if (!dpi)
        GTEST_SKIP() << "runs in a child process only";
    HWND main = MainWindow();
    ASSERT_EQ(dpi, WindowRole.dpi);
    RECT client;
    GetClientRect(main, &client);
    EXPECT_EQ(dpi == 120 ? 815 : 978, client.right);
    EXPECT_EQ(dpi == 120 ? 695 : 834, client.bottom);

    const int heights120[] = {-33, -20, -18, -16}, heights144[] = {-39, -24, -21, -20};
    HFONT fonts[] = {Fonts.TitleFont, Fonts.HeadingFont, Fonts.BodyFont, Fonts.SmallFont};
    for (int i = 0; i < 4; ++i) {
        LOGFONTW lf = {};
        GetObjectW(fonts[i], sizeof lf, &lf);
        EXPECT_EQ(dpi == 120 ? heights120[i] : heights144[i], lf.lfHeight) << i;
    }

    int i = 0;
    for (HWND c = GetWindow(main, GW_CHILD); c && i < ControlCount; c = GetWindow(c, GW_HWNDNEXT), ++i) {
        const ControlRow& row = ControlTable[i];
        RECT r = ClientRectOf(c);
        SCOPED_TRACE(i);
        EXPECT_EQ(MulDiv(row.x, dpi, 96), r.left);
        EXPECT_EQ(MulDiv(row.y, dpi, 96), r.top);
        EXPECT_EQ(MulDiv(row.width, dpi, 96), r.right - r.left);
        if (i != RelayComboIndex) {
            EXPECT_EQ(MulDiv(row.height, dpi, 96), r.bottom - r.top);
        }
        if (row.font != NoFont) {
            HFONT font = (HFONT)SendMessageW(c, WM_GETFONT, 0, 0);
            EXPECT_EQ(fonts[row.font], font);
        }
    }
    EXPECT_EQ(ControlCount, i);

    // Placement: centred where the window fits, else at the work area's edge (144 dpi is too high).
    RECT area, outer;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    GetWindowRect(main, &outer);
    int width = outer.right - outer.left, height = outer.bottom - outer.top;
    int spareX = area.right - area.left - width, spareY = area.bottom - area.top - height;
    EXPECT_EQ(area.left + (spareX > 0 ? spareX / 2 : 0), outer.left);
    EXPECT_EQ(area.top + (spareY > 0 ? spareY / 2 : 0), outer.top);
    if (dpi == 144 && area.bottom - area.top < 834) {
        EXPECT_EQ(area.top, outer.top) << "higher than the work area: at its top edge";
    }

    // The panel band scales: texts inside the panels get the panel brush, the others the window brush.
    HDC dc = CreateCompatibleDC(nullptr);
    i = 0;
    for (HWND c = GetWindow(main, GW_CHILD); c && i < ControlCount; c = GetWindow(c, GW_HWNDNEXT), ++i) {
        wchar_t className[32];
        GetClassNameW(c, className, 32);
        if (_wcsicmp(className, L"Static"))
            continue;
        int top = ClientRectOf(c).top;
        int inPanel = top >= MulDiv(92, dpi, 96) && top < MulDiv(518, dpi, 96);
        HBRUSH brush = (HBRUSH)SendMessageW(main, WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)c);
        EXPECT_EQ(inPanel ? palette.PanelBrush : palette.WindowBrush, brush) << i;
        EXPECT_EQ(ChooseStaticTextStyle(i == StatusPillIndex ? StatusPillText : i == MessageLabelIndex ? MessageText
                                        : i == QrPlaceholderIndex ? PlaceholderText : i == ProjectsLabelIndex ? ProjectsText
                                        : OrdinaryStaticText, top, dpi, &palette).colour,
                  GetTextColor(dc)) << i;
    }
    DeleteDC(dc);

    // The QR view scales too, and the symbol fills it by the same rule.
    Apply(CodeDoc(21, 600000));
    Pixels p = CaptureClient(Controls[QrViewIndex]);
    int side = MulDiv(212, dpi, 96), module = side / 29, offset = (side - 21 * module) / 2;
    ASSERT_EQ(side, p.width);
    EXPECT_EQ(0u, p.At(offset, offset)) << "top-left module is dark in the pattern";
    EXPECT_EQ(0xFFFFFFu, p.At(offset - 1, offset));
    EXPECT_EQ(PatternModule(20, 20) == '1' ? 0u : 0xFFFFFFu,
              p.At(offset + 21 * module - 1, offset + 21 * module - 1));
    EXPECT_EQ(0xFFFFFFu, p.At(offset + 21 * module, offset + 21 * module - 1));

    CreateDirectoryW(L"screenshots", nullptr);
    SaveBmp(L"screenshots\\window-dpi" + std::to_wstring(dpi) + L".bmp", CaptureWindow(main));
}

TEST(Child, ShowValue)
{
    const char* mode = ChildMode();
    if (!mode || strncmp(mode, "show", 4))
        GTEST_SKIP() << "runs in a child process only";
    int show = atoi(mode + 4);
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(0, OpenMainWindow(GetModuleHandleW(nullptr), stop, TestPort, show, []() { return 1; }));
    Pump();
    EXPECT_TRUE(IsWindowVisible(WindowRole.mainWindow));
    EXPECT_EQ(show == SW_SHOWMINNOACTIVE, IsIconic(WindowRole.mainWindow) != 0);
}

TEST(Child, ClassTaken)
{
    const char* mode = ChildMode();
    if (!mode || strcmp(mode, "classTaken"))
        GTEST_SKIP() << "runs in a child process only";
    WNDCLASSW taken = {};
    taken.lpfnWndProc = DefWindowProcW;
    taken.hInstance = GetModuleHandleW(nullptr);
    taken.lpszClassName = L"TovixMobileConnectorWindow";
    ASSERT_TRUE(RegisterClassW(&taken));
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(1, OpenMainWindow(GetModuleHandleW(nullptr), stop, TestPort, SW_SHOWNORMAL, []() { return 1; }));
    EXPECT_TRUE(WindowRole.mainWindow == nullptr);
    EXPECT_TRUE(FindWindowW(L"TovixMobileConnectorWindow", nullptr) == nullptr);
}

namespace {

int backgroundStarts;

// Lets an action or poll that a command started run to its end (nothing listens on the port, so each
// request fails at once) and puts the controller back to rest.
void Drain()
{
    for (int waited = 0; waited < 15000 && (ControllerStateForTest()->requestInFlight || ControllerStateForTest()->actionPending); waited += 20) {
        Pump();
        Sleep(20);
    }
    ASSERT_FALSE(ControllerStateForTest()->requestInFlight || ControllerStateForTest()->actionPending);
    memset(ControllerStateForTest(), 0, sizeof(ControllerState));
}

LRESULT Command(int id, int code)
{
    return SendMessageW(WindowRole.mainWindow, WM_COMMAND, MAKEWPARAM(id, code), 0);
}

}  // namespace

TEST(Child, Routing)
{
    const char* mode = ChildMode();
    if (!mode || strcmp(mode, "routing"))
        GTEST_SKIP() << "runs in a child process only";
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(0, OpenMainWindow(GetModuleHandleW(nullptr), stop, FindUnusedLoopbackPort(), SW_SHOWNORMAL,
                                []() { return ++backgroundStarts; }));
    Pump();

    Command(RelayComboId, 0);
    EXPECT_EQ(0, ControllerStateForTest()->relaySwitchRequested) << "only the selection change counts";
    Command(RelayComboId, CBN_SELCHANGE);
    EXPECT_EQ(1, ControllerStateForTest()->relaySwitchRequested);
    Drain();

    Command(DeviceNameEditId, 0);
    EXPECT_EQ(0, ControllerStateForTest()->deviceNameEdited);
    ControllerStateForTest()->suppressEditNotify = 1;
    Command(DeviceNameEditId, EN_CHANGE);
    EXPECT_EQ(0, ControllerStateForTest()->deviceNameEdited);
    ControllerStateForTest()->suppressEditNotify = 0;
    Command(DeviceNameEditId, EN_CHANGE);
    EXPECT_EQ(1, ControllerStateForTest()->deviceNameEdited);
    Drain();

    ControllerStateForTest()->connectorUnreachable = 1;
    Command(RetryButtonId, BN_SETFOCUS);
    EXPECT_EQ(0, backgroundStarts) << "notifications other than a click go nowhere";
    Command(RetryButtonId, 0);
    EXPECT_EQ(1, backgroundStarts) << "the retry in the unreachable view starts a supervisor";
    Drain();

    const int actions[] = {StopButtonId, NewQrButtonId, RetryButtonId};
    for (int id : actions) {
        Command(id, 0);
        EXPECT_EQ(1, ControllerStateForTest()->actionBusy) << id;
        EXPECT_EQ(std::string("正在处理，请稍候…"), [] {
            wchar_t text[64];
            GetWindowTextW(Controls[QrPlaceholderIndex], text, 64);
            char utf8[200];
            WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, 200, nullptr, nullptr);
            return std::string(utf8);
        }()) << id;
        Drain();
    }

    // Enter (IDOK) and StartButton start a connection only while StartButton can be pressed.
    for (int id : {int(IDOK), int(StartButtonId)}) {
        EnableWindow(Controls[StartButtonIndex], FALSE);
        Command(id, 0);
        EXPECT_EQ(0, ControllerStateForTest()->actionBusy) << id;
        EnableWindow(Controls[StartButtonIndex], TRUE);
        ShowWindow(Controls[StartButtonIndex], SW_SHOWNA);
        Command(id, 0);
        EXPECT_EQ(1, ControllerStateForTest()->actionBusy) << id;
        Drain();
    }

    // The stop event closes the window at the next timer tick, and the loop ends.
    SetEvent(stop);
    PostMessageW(WindowRole.mainWindow, WM_TIMER, RefreshTimerId, 0);
    EXPECT_EQ(0, RunMessageLoop());
    EXPECT_FALSE(IsWindow(WindowRole.mainWindow));
}
