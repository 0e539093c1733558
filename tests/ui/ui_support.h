// Helpers of the window tests: the real main window opened once in this process (its thread is the test
// thread, which pumps the messages), status documents parsed by the real parser, counters of the messages
// controls receive, and pixel read-back of what the window painted.
#pragma once
#include <windows.h>
#include <stdint.h>
#include <string>
#include <vector>
#include "api/status_document.h"
#include "process_util.h"
#include "status_doc.h"

enum { TestPort = 8093 };

// Opens the main window on first use (port 8093, startBackground counting its calls); returns it.
HWND MainWindow();
int StartBackgroundCalls();

// Delivers every pending message; PaintNow also lets every pending paint happen.
void Pump();
void PaintNow();

// Clears the controller flags, deadlines and clock shifts that earlier tests may have left.
void ResetWindowState();

RECT ClientRectOf(HWND control);  // window rectangle in main-window client coordinates


// Parses doc with the real parser (it must be accepted) and applies it with ApplySnapshot.
void Apply(const Doc& doc);

// Counts WM_SETTEXT sent to the windows of this thread, per window, while it lives.
struct SetTextCounter {
    SetTextCounter();
    ~SetTextCounter();
    int For(HWND window) const;
    int Total() const;
};

// Non-zero when the control has a pending update region (a repaint was requested and not yet done).
int HasPendingPaint(HWND control);

// What the screen shows of a window after every pending paint has run.
struct Pixels {
    int width = 0, height = 0;
    std::vector<uint32_t> rgb;  // 0x00RRGGBB, top row first
    uint32_t At(int x, int y) const { return rgb[size_t(y) * width + x]; }
};
Pixels CaptureClient(HWND window);
Pixels CaptureWindow(HWND window);  // frame included
int SaveBmp(const std::wstring& path, const Pixels& pixels);

int RunningUnderWine();

// Links opened through the shell, observed with a browser stub (Wine only): the stub named by the
// environment variable UI_BROWSER_STUB appends each link to the file named by UI_BROWSER_LOG (Unix paths).
struct BrowserStub {
    BrowserStub();   // registers the stub as Wine's browser and empties the log
    ~BrowserStub();  // restores the previous browser setting
    int usable;
    // Waits up to timeoutMs for the log to hold at least count lines; returns the lines.
    std::vector<std::string> Links(size_t count, DWORD timeoutMs);
};
