// Helpers of the window tests (see ui_support.h).
#include "ui_support.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <gtest/gtest.h>
#include "ui/clock.h"
#include "ui/controller.h"
#include "ui/main_window.h"
#include "ui/controller.h"

static int startBackgroundCalls;
static HANDLE testStopEvent;

static int CountStartBackground()
{
    ++startBackgroundCalls;
    return 1;
}

HWND MainWindow()
{
    if (!WindowRole.mainWindow) {
        testStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // never set: the window stays
        int result = OpenMainWindow(GetModuleHandleW(nullptr), testStopEvent, TestPort, SW_SHOWNORMAL,
                                    CountStartBackground);
        EXPECT_EQ(0, result);
        SetForegroundWindow(WindowRole.mainWindow);
        Pump();
    }
    return WindowRole.mainWindow;
}

int StartBackgroundCalls()
{
    return startBackgroundCalls;
}

void Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void PaintNow()
{
    Pump();
    RedrawWindow(MainWindow(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    Pump();
}

void ResetWindowState()
{
    MainWindow();
    memset(ControllerStateForTest(), 0, sizeof(ControllerState));
    ShiftClocksForTest(0, 0);
    SetFocus(MainWindow());
    Pump();
}

RECT ClientRectOf(HWND control)
{
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, MainWindow(), (POINT*)&r, 2);
    return r;
}

void Apply(const Doc& doc)
{
    std::string text = Render(doc);
    std::vector<char> body(text.begin(), text.end());
    body.push_back(0);
    StatusSnapshot snapshot;
    if (!ParseStatusDocument(body.data(), &snapshot)) {
        ADD_FAILURE() << "document rejected:\n" << text;
        return;
    }
    ApplySnapshot(&snapshot);
}

// ---- message counting ----------------------------------------------------------------------------------

static HHOOK setTextHook;
static std::vector<std::pair<HWND, int>> setTextCounts;

static LRESULT CALLBACK CountSetText(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* sent = (const CWPSTRUCT*)lParam;
    if (code == HC_ACTION && sent->message == WM_SETTEXT) {
        size_t i = 0;
        while (i < setTextCounts.size() && setTextCounts[i].first != sent->hwnd)
            ++i;
        if (i == setTextCounts.size())
            setTextCounts.push_back({sent->hwnd, 0});
        ++setTextCounts[i].second;
    }
    return CallNextHookEx(setTextHook, code, wParam, lParam);
}

SetTextCounter::SetTextCounter()
{
    setTextCounts.clear();
    setTextHook = SetWindowsHookExW(WH_CALLWNDPROC, CountSetText, nullptr, GetCurrentThreadId());
    EXPECT_TRUE(setTextHook != nullptr);
}

SetTextCounter::~SetTextCounter()
{
    UnhookWindowsHookEx(setTextHook);
    setTextHook = nullptr;
}

int SetTextCounter::For(HWND window) const
{
    for (const auto& entry : setTextCounts)
        if (entry.first == window)
            return entry.second;
    return 0;
}

int SetTextCounter::Total() const
{
    int total = 0;
    for (const auto& entry : setTextCounts)
        total += entry.second;
    return total;
}

int HasPendingPaint(HWND control)
{
    RECT r;
    return GetUpdateRect(control, &r, FALSE) ? 1 : 0;
}

// ---- pixels --------------------------------------------------------------------------------------------

static Pixels Capture(HDC source, int width, int height)
{
    Pixels p;
    p.width = width;
    p.height = height;
    p.rgb.assign(size_t(width) * height, 0);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC memory = CreateCompatibleDC(source);
    HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
    GdiFlush();
    const uint32_t* pixels = (const uint32_t*)bits;
    for (size_t i = 0; i < p.rgb.size(); ++i)
        p.rgb[i] = pixels[i] & 0xFFFFFF;
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return p;
}

Pixels CaptureClient(HWND window)
{
    PaintNow();
    RECT client;
    GetClientRect(window, &client);
    HDC dc = GetDC(window);
    Pixels p = Capture(dc, client.right, client.bottom);
    ReleaseDC(window, dc);
    return p;
}

Pixels CaptureWindow(HWND window)
{
    PaintNow();
    RECT outer;
    GetWindowRect(window, &outer);
    HDC dc = GetWindowDC(window);
    Pixels p = Capture(dc, outer.right - outer.left, outer.bottom - outer.top);
    ReleaseDC(window, dc);
    return p;
}

int SaveBmp(const std::wstring& path, const Pixels& p)
{
    int rowBytes = (p.width * 3 + 3) & ~3;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + DWORD(rowBytes) * p.height;
    info.biSize = sizeof info;
    info.biWidth = p.width;
    info.biHeight = p.height;  // bottom row first
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (!out)
        return 0;
    fwrite(&file, sizeof file, 1, out);
    fwrite(&info, sizeof info, 1, out);
    std::vector<unsigned char> row(rowBytes, 0);
    for (int y = p.height - 1; y >= 0; --y) {
        for (int x = 0; x < p.width; ++x) {
            uint32_t c = p.At(x, y);
            row[x * 3] = c & 0xFF;
            row[x * 3 + 1] = (c >> 8) & 0xFF;
            row[x * 3 + 2] = (c >> 16) & 0xFF;
        }
        fwrite(row.data(), 1, rowBytes, out);
    }
    return fclose(out) == 0;
}

int RunningUnderWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// ---- browser stub --------------------------------------------------------------------------------------

static const wchar_t BrowserKey[] = L"Software\\Wine\\WineBrowser";
static std::wstring savedBrowsers;
static int hadBrowsers;

static std::wstring Widen(const char* text)
{
    std::wstring wide;
    for (const char* c = text; *c; ++c)
        wide += wchar_t((unsigned char)*c);
    return wide;
}

static std::wstring LogPath()
{
    const char* log = getenv("UI_BROWSER_LOG");
    if (!log)
        return std::wstring();
    std::wstring path = L"Z:" + Widen(log);  // Wine maps the Unix root to Z:
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

BrowserStub::BrowserStub()
{
    const char* stub = getenv("UI_BROWSER_STUB");
    usable = RunningUnderWine() && stub && getenv("UI_BROWSER_LOG");
    if (!usable)
        return;
    DeleteFileW(LogPath().c_str());
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, BrowserKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        usable = 0;
        return;
    }
    wchar_t old[1024];
    DWORD bytes = sizeof old - sizeof(wchar_t);
    DWORD type = 0;
    hadBrowsers = RegQueryValueExW(key, L"Browsers", nullptr, &type, (BYTE*)old, &bytes) == ERROR_SUCCESS;
    if (hadBrowsers) {
        old[bytes / sizeof(wchar_t)] = 0;
        savedBrowsers = old;
    }
    std::wstring value = Widen(stub);
    RegSetValueExW(key, L"Browsers", 0, REG_SZ, (const BYTE*)value.c_str(), DWORD((value.size() + 1) * 2));
    RegCloseKey(key);
}

BrowserStub::~BrowserStub()
{
    if (!usable)
        return;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, BrowserKey, 0, KEY_WRITE, &key) == ERROR_SUCCESS) {
        if (hadBrowsers)
            RegSetValueExW(key, L"Browsers", 0, REG_SZ, (const BYTE*)savedBrowsers.c_str(),
                           DWORD((savedBrowsers.size() + 1) * 2));
        else
            RegDeleteValueW(key, L"Browsers");
        RegCloseKey(key);
    }
}

std::vector<std::string> BrowserStub::Links(size_t count, DWORD timeoutMs)
{
    std::vector<std::string> lines;
    for (DWORD waited = 0;; waited += 100) {
        lines.clear();
        FILE* in = _wfopen(LogPath().c_str(), L"rb");
        if (in) {
            char line[4096];
            while (fgets(line, sizeof line, in)) {
                size_t n = strlen(line);
                while (n && (line[n - 1] == '\n' || line[n - 1] == '\r'))
                    line[--n] = 0;
                lines.push_back(line);
            }
            fclose(in);
        }
        if (lines.size() >= count || waited >= timeoutMs)
            return lines;
        Pump();
        Sleep(100);
    }
}
