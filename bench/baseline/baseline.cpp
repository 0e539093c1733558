// The yardstick of the benchmarks: the least a program can do that shows the connector's state. One
// window, one static control, a 200 ms timer, and one WinHTTP GET of the status document every 2 s on a
// worker thread, showing the state of line 2 as launcher.exe's status pill does: the pill's Chinese text
// for that state, in the pill's face and size, so that both programs pay for the same CJK font.
// scripts/bench.sh measures launcher.exe as ratios against this program, run the same way in the same run.
//
// Built a second time as baseline_window.exe (BASELINE_LAUNCHER_WINDOW): the same program with
// launcher.exe's window instead of the small one. It carries the launcher's manifest (visual styles), has
// the launcher's window style and size, and creates the 22 controls of the launcher's control table in its
// four fonts, hidden and disabled as the launcher creates them; the status text is the table's status
// pill. It paints no panels and applies nothing of a document but the pill's text. Where launcher.exe and
// baseline_window.exe differ, the launcher's own code is at work; where baseline_window.exe and
// baseline.exe differ, the window that the launcher shows.
#include <windows.h>
#include <winhttp.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <atomic>
#include "api/connector_contract.h"
#ifdef BASELINE_LAUNCHER_WINDOW
#include "ui/layout.h"
#endif

enum {
    TimerPeriodMs = 200,
    PollIntervalMs = 2000,
    BodyBytes = 36001,
    StatusLineUnits = 128,
    ResultMessage = WM_APP + 1,
    PillFontSize = 14,  // the launcher's BodyFont, in pixels at 96 dpi
};

// The status pill's texts: the start-up text, then one per state; any other state reads as "error".
static const wchar_t StartingText[] = L"●  正在启动";
static const struct {
    const char* state;
    const wchar_t* text;
} StateTexts[] = {
    {"online", L"●  已连接"}, {"idle", L"●  未连接"}, {"connecting", L"●  正在连接"}, {"offline", L"●  连接中断"},
};
static const wchar_t ErrorText[] = L"●  连接失败";

// One request's result, handed from the worker to the UI thread through the mailbox.
struct PollResult {
    HWND window;
    DWORD statusCode;
    char body[BodyBytes];
};

static std::atomic<PollResult*> mailbox;
static HINTERNET session;
static HINTERNET connection;
static HWND statusLabel;
static int requestInFlight;
static uint64_t nextPollAt;

// Same rule as the launcher: 1-5 digits in 1024-65535, else 8093.
static uint16_t ReadPort()
{
    wchar_t text[6];
    DWORD n = GetEnvironmentVariableW(L"TOVIX_MOBILE_CONNECTOR_PORT", text, 6);
    if (n < 1 || n > 5)
        return DefaultConnectorPort;
    unsigned value = 0;
    for (DWORD i = 0; i < n; i++) {
        if (text[i] < L'0' || text[i] > L'9')
            return DefaultConnectorPort;
        value = value * 10 + unsigned(text[i] - L'0');
    }
    return value >= MinConnectorPort && value <= MaxConnectorPort ? uint16_t(value) : uint16_t(DefaultConnectorPort);
}

static DWORD WINAPI PollThread(void* param)
{
    PollResult* result = static_cast<PollResult*>(param);
    HINTERNET request = WinHttpOpenRequest(connection, L"GET", L"/api/connector/desktop", nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
    if (request) {
        DWORD size = sizeof(result->statusCode);
        if (WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
            WinHttpReceiveResponse(request, nullptr) &&
            WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                WINHTTP_HEADER_NAME_BY_INDEX, &result->statusCode, &size, WINHTTP_NO_HEADER_INDEX)) {
            DWORD count = 0, got = 0;
            while (count < BodyBytes - 1 &&
                   WinHttpReadData(request, result->body + count, BodyBytes - 1 - count, &got) && got)
                count += got;
        }
        WinHttpCloseHandle(request);
    }
    HWND window = result->window;
    mailbox.exchange(result);
    PostMessageW(window, ResultMessage, 0, 0);
    return 0;
}

// Shows line 2 of a finished poll, then starts the next poll when it is due.
static void Tick(HWND window)
{
    uint64_t now = GetTickCount64();
    PollResult* result = mailbox.exchange(nullptr);
    if (result) {
        requestInFlight = 0;
        nextPollAt = now + PollIntervalMs;
        const char* line2 = strchr(result->body, '\n');
        if (result->statusCode == 200 && line2) {
            line2++;
            const char* end = strchr(line2, '\n');
            size_t bytes = end ? size_t(end - line2) : strlen(line2);
            const wchar_t* text = ErrorText;
            for (const auto& row : StateTexts)
                if (strlen(row.state) == bytes && memcmp(row.state, line2, bytes) == 0)
                    text = row.text;
            wchar_t current[StatusLineUnits] = L"";
            GetWindowTextW(statusLabel, current, StatusLineUnits);
            if (wcscmp(text, current) != 0)
                SetWindowTextW(statusLabel, text);
        }
        free(result);
    }
    if (requestInFlight || now < nextPollAt)
        return;
    PollResult* next = static_cast<PollResult*>(calloc(1, sizeof(PollResult)));
    if (!next)
        return;
    next->window = window;
    HANDLE thread = CreateThread(nullptr, 0, PollThread, next, 0, nullptr);
    if (!thread) {
        free(next);
        return;
    }
    CloseHandle(thread);
    requestInFlight = 1;
}

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
    case ResultMessage:
        Tick(window);
        return 0;
    case WM_DESTROY:
        KillTimer(window, 1);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

static int ScreenDpi()
{
    int dpi = 96;
    HDC screen = GetDC(nullptr);
    if (screen) {
        dpi = GetDeviceCaps(screen, LOGPIXELSX);
        ReleaseDC(nullptr, screen);
    }
    return dpi;
}

// "Segoe UI" in a size and weight, as the launcher makes its fonts.
static HFONT MakeFont(int height, int weight)
{
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI");
}

#ifndef BASELINE_LAUNCHER_WINDOW
// One static control with the start-up text in the pill's font (BodyFont's size at the screen's dpi).
static HWND CreateStatusWindow(HINSTANCE instance, const wchar_t* className)
{
    HWND window = CreateWindowExW(0, className, L"Baseline", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 320, 120, nullptr, nullptr, instance, nullptr);
    if (!window)
        return nullptr;
    statusLabel = CreateWindowExW(0, L"STATIC", StartingText, WS_CHILD | WS_VISIBLE | SS_NOPREFIX, 12, 12, 280,
                                  24, window, nullptr, instance, nullptr);
    SendMessageW(statusLabel, WM_SETFONT, (WPARAM)MakeFont(-MulDiv(PillFontSize, ScreenDpi(), 96), FW_NORMAL),
                 FALSE);
    return window;
}
#else
// The launcher's window: its size and style, then its controls made as its creation step makes them.
static HWND CreateStatusWindow(HINSTANCE instance, const wchar_t* className)
{
    WNDCLASSW qr = {};
    qr.lpfnWndProc = DefWindowProcW;
    qr.hInstance = instance;
    qr.lpszClassName = QrViewClassName;
    RegisterClassW(&qr);
    int dpi = ScreenDpi();
    RECT outer = {0, 0, ScaleAt(ClientWidth, dpi), ScaleAt(ClientHeight, dpi)};
    AdjustWindowRectEx(&outer, MainWindowStyle, FALSE, WS_EX_CONTROLPARENT);
    HWND window = CreateWindowExW(WS_EX_CONTROLPARENT, className, L"Baseline", MainWindowStyle, CW_USEDEFAULT,
                                  CW_USEDEFAULT, outer.right - outer.left, outer.bottom - outer.top, nullptr,
                                  nullptr, instance, nullptr);
    if (!window)
        return nullptr;
    HFONT fonts[FontCount];
    for (int i = 0; i < FontCount; i++)
        fonts[i] = MakeFont(FontHeightAt(i, dpi), FontTable[i].weight);
    HWND created[ControlCount];
    for (int i = 0; i < ControlCount; i++) {
        const ControlRow& row = ControlTable[i];
        created[i] = CreateWindowExW(i == DeviceNameEditIndex ? WS_EX_CLIENTEDGE : 0, row.className, row.text,
                                     row.style | WS_CHILD | WS_VISIBLE, ScaleAt(row.x, dpi), ScaleAt(row.y, dpi),
                                     ScaleAt(row.width, dpi), ScaleAt(row.height, dpi), window,
                                     (HMENU)(INT_PTR)row.id, instance, nullptr);
        if (row.font != NoFont)
            SendMessageW(created[i], WM_SETFONT, (WPARAM)fonts[row.font], FALSE);
        if (i == DeviceNameEditIndex) {
            SendMessageW(created[i], EM_LIMITTEXT, DeviceNameMaxUnits, 0);
        } else if (i == RelayComboIndex) {
            SendMessageW(created[i], CB_ADDSTRING, 0, (LPARAM)RelayComboItems[0]);
            SendMessageW(created[i], CB_ADDSTRING, 0, (LPARAM)RelayComboItems[1]);
            SendMessageW(created[i], CB_SETCURSEL, 0, 0);
        }
    }
    for (int i = 0; i < ControlCount; i++)
        if (ControlTable[i].initialState & ControlInitiallyDisabled)
            EnableWindow(created[i], FALSE);
    for (int i = 0; i < ControlCount; i++)
        if (ControlTable[i].initialState & ControlInitiallyHidden)
            ShowWindow(created[i], SW_HIDE);
    statusLabel = created[StatusPillIndex];
    return window;
}
#endif

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
    SetProcessDPIAware();
    session = WinHttpOpen(L"Baseline", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session)
        return 1;
    WinHttpSetTimeouts(session, 500, 1000, 1000, 20000);
    connection = WinHttpConnect(session, L"127.0.0.1", ReadPort(), 0);
    if (!connection)
        return 1;

    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"TovixBaselineWindow";
    if (!RegisterClassW(&wc))
        return 1;
    HWND window = CreateStatusWindow(instance, wc.lpszClassName);
    if (!window)
        return 1;
    ShowWindow(window, show ? show : SW_SHOWNORMAL);
    UpdateWindow(window);
    SetTimer(window, 1, TimerPeriodMs, nullptr);
    Tick(window);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
