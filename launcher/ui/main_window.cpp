// The main window of the window role: RunWindow's set-up (DPI, palette, fonts, icon, classes, connector
// session, placement), the creation step that walks the control table, painting of the panels and icon,
// the static-text colour rule, the system-menu link to the connector page, command routing to the
// controller and the message loop. Called by the window role of LauncherMain; tests call OpenMainWindow.
#include "main_window.h"
#include <stdio.h>
#include "api/request_worker.h"
#include "browser_link.h"
#include "controller.h"
#include "focus.h"
#include "layout.h"
#include "palette.h"
#include "qr_view.h"
#include "update_offer.h"
#include "api/connector_contract.h"
#include "api/connector_secret.h"
#include "res/resource.h"

// "http://127.0.0.1:65535/connect.html#token=" and the secret.
enum { ConnectorPageUnits = 128 };

static HFONT FontOf(int font)
{
    switch (font) {
    case TitleFontIndex: return Fonts.TitleFont;
    case HeadingFontIndex: return Fonts.HeadingFont;
    case BodyFontIndex: return Fonts.BodyFont;
    case SmallFontIndex: return Fonts.SmallFont;
    }
    return nullptr;
}

static HFONT MakeFont(int font)
{
    return CreateFontW(FontHeightAt(font, WindowRole.dpi), 0, 0, 0, FontTable[font].weight, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI");
}

HWND CreateControl(const wchar_t* className, const wchar_t* text, DWORD style, int id, int x, int y, int width,
                   int height, HFONT font)
{
    DWORD exStyle = id == DeviceNameEditId ? WS_EX_CLIENTEDGE : 0;
    HWND control = CreateWindowExW(exStyle, className, text, style | WS_CHILD | WS_VISIBLE, Scale(x), Scale(y),
                                   Scale(width), Scale(height), WindowRole.mainWindow, (HMENU)(INT_PTR)id,
                                   WindowRole.instance, nullptr);
    if (control && font)
        SendMessageW(control, WM_SETFONT, (WPARAM)font, FALSE);
    return control;
}

// ---- Creation step -------------------------------------------------------------------------------------

static HWND CreateRow(int index)
{
    const ControlRow* row = &ControlTable[index];
    if (index == QrViewIndex) {
        // The QR view draws itself and has no font; it is the one child not made by CreateControl.
        return CreateWindowExW(0, row->className, row->text, WS_CHILD | WS_VISIBLE, Scale(row->x), Scale(row->y),
                               Scale(row->width), Scale(row->height), WindowRole.mainWindow, (HMENU)0,
                               WindowRole.instance, nullptr);
    }
    return CreateControl(row->className, row->text, row->style, row->id, row->x, row->y, row->width, row->height,
                         FontOf(row->font));
}

static LRESULT OnCreate(HWND window)
{
    WindowRole.mainWindow = window;
    Fonts.TitleFont = MakeFont(TitleFontIndex);
    Fonts.HeadingFont = MakeFont(HeadingFontIndex);
    Fonts.BodyFont = MakeFont(BodyFontIndex);
    Fonts.SmallFont = MakeFont(SmallFontIndex);

    for (int i = 0; i < ControlCount; ++i) {
        Controls[i] = CreateRow(i);
        if (i == DeviceNameEditIndex) {
            SendMessageW(Controls[i], EM_LIMITTEXT, DeviceNameMaxUnits, 0);
        } else if (i == RelayComboIndex) {
            SendMessageW(Controls[i], CB_ADDSTRING, 0, (LPARAM)RelayComboItems[0]);
            SendMessageW(Controls[i], CB_ADDSTRING, 0, (LPARAM)RelayComboItems[1]);
            SendMessageW(Controls[i], CB_SETCURSEL, 0, 0);
        }
    }
    for (int i = 0; i < ControlCount; ++i)
        if (ControlTable[i].initialState & ControlInitiallyDisabled)
            EnableWindow(Controls[i], FALSE);
    for (int i = 0; i < ControlCount; ++i)
        if (ControlTable[i].initialState & ControlInitiallyHidden)
            ShowWindow(Controls[i], SW_HIDE);

    AppendMenuW(GetSystemMenu(window, FALSE), MF_SEPARATOR, 0, nullptr);
    AppendMenuW(GetSystemMenu(window, FALSE), MF_STRING, OpenInBrowserCommand, L"在浏览器中打开");
    return 0;
}

// ---- Painting and colours ------------------------------------------------------------------------------

static LRESULT OnPaint(HWND window)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    HPEN pen = CreatePen(PS_SOLID, 1, palette.PanelBorderColor);  // the one unscaled width
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, palette.PanelBrush);
    RoundRect(dc, Scale(PairingPanelLeft), Scale(PanelTop), Scale(PairingPanelRight), Scale(PanelBottom),
              Scale(PanelCorner), Scale(PanelCorner));
    RoundRect(dc, Scale(ConnectionPanelLeft), Scale(PanelTop), Scale(ConnectionPanelRight), Scale(PanelBottom),
              Scale(PanelCorner), Scale(PanelCorner));
    DrawIconEx(dc, Scale(IconX), Scale(IconY), WindowRole.icon, Scale(IconSize), Scale(IconSize), 0, nullptr,
               DI_NORMAL);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
    EndPaint(window, &ps);
    return 0;
}

static int StaticTextKindOf(HWND control)
{
    if (control == Controls[StatusPillIndex])
        return StatusPillText;
    if (control == Controls[MessageLabelIndex])
        return MessageText;
    if (control == Controls[QrPlaceholderIndex])
        return PlaceholderText;
    if (control == Controls[ProjectsLabelIndex])
        return ProjectsText;
    return OrdinaryStaticText;
}

static LRESULT OnCtlColorStatic(HDC dc, HWND control)
{
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, WindowRole.mainWindow, (POINT*)&r, 2);
    StaticTextStyle style = ChooseStaticTextStyle(StaticTextKindOf(control), r.top, WindowRole.dpi, &palette);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, style.colour);
    return (LRESULT)(style.onPanel ? palette.PanelBrush : palette.WindowBrush);
}

// ---- Commands ------------------------------------------------------------------------------------------

// The connector's page, with the connector secret in the fragment when one is published: browsers never
// send the fragment to the server, and the page takes the secret from there for its own requests.
static void OpenConnectorPage()
{
    wchar_t secret[ConnectorSecretUnits];
    wchar_t link[ConnectorPageUnits];
    int n = ReadConnectorSecret(secret)
                ? _snwprintf(link, ConnectorPageUnits, L"http://127.0.0.1:%u/connect.html#token=%ls",
                             (unsigned)WindowRole.port, secret)
                : _snwprintf(link, ConnectorPageUnits, L"http://127.0.0.1:%u/connect.html", (unsigned)WindowRole.port);
    if (n >= 0 && n < ConnectorPageUnits)
        OpenLinkInBrowser(WindowRole.mainWindow, link);
    SecureZeroMemory(secret, sizeof secret);
    SecureZeroMemory(link, sizeof link);
}

struct CommandRoute {
    int id;
    int code;
    void (*handler)();
    int thenDefault;  // the edit change also goes to default processing
};

// Tested in order; a command that matches no row goes to DefWindowProcW unhandled.
static const CommandRoute CommandRoutes[] = {
    {RelayComboId, CBN_SELCHANGE, OnRelayChange, 0},
    {DeviceNameEditId, EN_CHANGE, OnDeviceNameChange, 1},
    {IDOK, 0, OnStartCommand, 0},  // Enter, from the dialog-style keyboard handling
    {StartButtonId, 0, OnStartCommand, 0},
    {StopButtonId, 0, OnStopCommand, 0},
    {RetryButtonId, 0, OnRetryCommand, 0},
    {NewQrButtonId, 0, OnNewCodeCommand, 0},
    {DownloadButtonId, 0, OpenUpdateLink, 0},
};

static int RouteCommand(int id, int code)
{
    for (const CommandRoute& route : CommandRoutes) {
        if (route.id == id && route.code == code) {
            route.handler();
            return route.thenDefault ? 0 : 1;
        }
    }
    return 0;
}

// The window has one fixed size. The system would cut a window taller or wider than the screen (a high
// dpi on a small screen) down to the screen; allowing the fixed outer size keeps every control reachable
// by the layout.
static LRESULT OnGetMinMaxInfo(MINMAXINFO* limits)
{
    RECT outer = {0, 0, Scale(ClientWidth), Scale(ClientHeight)};
    AdjustWindowRectEx(&outer, MainWindowStyle, FALSE, WS_EX_CONTROLPARENT);
    if (limits->ptMaxTrackSize.x < outer.right - outer.left)
        limits->ptMaxTrackSize.x = outer.right - outer.left;
    if (limits->ptMaxTrackSize.y < outer.bottom - outer.top)
        limits->ptMaxTrackSize.y = outer.bottom - outer.top;
    return 0;
}

static LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnCreate(window);
    case WM_PAINT:
        return OnPaint(window);
    case WM_GETMINMAXINFO:
        return OnGetMinMaxInfo((MINMAXINFO*)lParam);
    case WM_CTLCOLORSTATIC:
        return OnCtlColorStatic((HDC)wParam, (HWND)lParam);
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) != OpenInBrowserCommand)
            break;
        OpenConnectorPage();
        return 0;
    case WM_COMMAND:
        if (RouteCommand(LOWORD(wParam), HIWORD(wParam)))
            return 0;
        break;
    case WM_ACTIVATE:
        OnActivate(wParam);  // the focus is the window's own business, as in a dialog box
        return 0;
    case WM_NEXTDLGCTL:
        OnNextDlgCtl(wParam, lParam);
        return 0;
    case WM_TIMER:
    case WM_CONNECTOR_RESULT:
        ControllerTick();
        return 0;
    case WM_DESTROY:
        KillTimer(window, RefreshTimerId);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// ---- Set-up and loop -----------------------------------------------------------------------------------

static int ReadScreenDpi()
{
    HDC screen = GetDC(nullptr);
    if (!screen)
        return 96;
    int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

static void SetUpPalette()
{
    PaletteColours c =
        ChoosePaletteColours(QueryHighContrast(), GetSysColor(COLOR_WINDOWTEXT), GetSysColor(COLOR_WINDOW));
    palette.TextColor = c.text;
    palette.MutedTextColor = c.mutedText;
    palette.PanelBorderColor = c.panelBorder;
    palette.StatusColor = c.status;
    palette.ErrorTextColor = c.errorText;
    palette.PanelBrush = CreateSolidBrush(c.panelFill);
    palette.WindowBrush = CreateSolidBrush(c.windowFill);
}

static int RegisterClasses(HCURSOR arrow)
{
    WNDCLASSW qr = {};
    qr.lpfnWndProc = PaintQr;
    qr.hInstance = WindowRole.instance;
    qr.hCursor = arrow;
    qr.lpszClassName = QrViewClassName;
    RegisterClassW(&qr);  // without it the window simply has no QR view

    WNDCLASSW main = {};
    main.lpfnWndProc = MainWindowProc;
    main.hInstance = WindowRole.instance;
    main.hIcon = WindowRole.icon;
    main.hCursor = arrow;
    main.hbrBackground = palette.WindowBrush;
    main.lpszClassName = MainWindowClassName;
    return RegisterClassW(&main) != 0;
}

int OpenMainWindow(HINSTANCE instance, HANDLE stopEvent, uint16_t port, int show, StartBackgroundFn startBackground)
{
    WindowRole.instance = instance;
    WindowRole.stopEvent = stopEvent;
    WindowRole.port = port;
    WindowRole.startBackground = startBackground;

    SetProcessDPIAware();
    WindowRole.dpi = ReadScreenDpi();
    SetUpPalette();

    WindowRole.icon = LoadIconW(instance, MAKEINTRESOURCEW(AppIconId));
    if (!WindowRole.icon)
        WindowRole.icon = LoadIconW(nullptr, IDI_APPLICATION);
    if (!RegisterClasses(LoadCursorW(nullptr, IDC_ARROW)))
        return 1;
    if (!OpenConnectorSession(port))
        return 1;

    RECT outer = {0, 0, Scale(ClientWidth), Scale(ClientHeight)};
    AdjustWindowRectEx(&outer, MainWindowStyle, FALSE, WS_EX_CONTROLPARENT);
    int width = outer.right - outer.left;
    int height = outer.bottom - outer.top;
    // When the work area cannot be read, centre on the primary screen instead.
    RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    POINT at = PlaceInWorkArea(area, width, height);

    HWND window = CreateWindowExW(WS_EX_CONTROLPARENT, MainWindowClassName, MainWindowTitle, MainWindowStyle, at.x,
                                  at.y, width, height, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, show == SW_HIDE ? SW_SHOWNORMAL : show);
    UpdateWindow(window);
    return 0;
}

void DispatchWindowMessage(MSG* msg)
{
    if (!IsDialogMessageW(WindowRole.mainWindow, msg)) {
        TranslateMessage(msg);
        DispatchMessageW(msg);
    }
    FollowFocus(msg->message);
}

int RunMessageLoop()
{
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchWindowMessage(&msg);
    return 0;
}

int RunWindow(HINSTANCE instance, HANDLE stopEvent, uint16_t port, int show, StartBackgroundFn startBackground)
{
    if (OpenMainWindow(instance, stopEvent, port, show, startBackground))
        return 1;
    StartController();
    return RunMessageLoop();
}
