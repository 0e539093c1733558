// Test harness of the window controller: the real main window in this process, pumped by the test thread,
// talking through the real request worker and WinHTTP to a scripted connector on 127.0.0.1.
//
// RegisterClass and the connector session happen once per process, so every window test runs in a child
// process of its own: WINDOW_TEST(name) declares a gtest case that, in the parent, starts this program
// again for that one case and reports its result; in the child it runs the body.
#pragma once
#include <windows.h>
#include <stdint.h>
#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <gtest/gtest.h>
#include "loopback_server.h"
#include "process_util.h"
#include "status_doc.h"

// ---- child processes -------------------------------------------------------------------------------

int IsWindowTestChild();
// Runs "<this program> --controller-child --gtest_filter=<fullName>" and returns its exit code; its output
// is copied to ours.
int RunWindowTestChild(const char* fullName);

#define WINDOW_TEST(name)                                                   \
    static void name##Body();                                               \
    TEST(Controller, name)                                                  \
    {                                                                       \
        if (!IsWindowTestChild()) {                                         \
            EXPECT_EQ(0, RunWindowTestChild("Controller." #name));          \
            return;                                                         \
        }                                                                   \
        name##Body();                                                       \
    }                                                                       \
    static void name##Body()


// ---- the scripted connector ------------------------------------------------------------------------

struct SeenRequest {
    std::string method;
    std::string path;
    std::string body;
    uint64_t simAt;   // the window's tick clock (TickNow) when the request arrived
    uint64_t realAt;  // GetTickCount64 when the request arrived
    uint32_t busyMs;  // how long the answer was scripted to take (delay plus dripping)
};

struct Connector {
    std::mutex lock;
    std::string document;                 // answer to GET /api/connector/desktop
    LoopbackAnswer statusTemplate;        // status, delay, faults of every GET
    int bodyIsDocument = 1;               // the GET answer's body is `document`, not the template's
    LoopbackAnswer actionAnswer;          // answer to every POST
    std::deque<LoopbackAnswer> nextStatus;  // one-off answers to the next GETs, used in order
    std::deque<LoopbackAnswer> nextAction;  // one-off answers to the next POSTs
    std::function<void(LoopbackAnswer*)> statusHook;  // may rewrite each GET's answer (connection thread)
    std::vector<SeenRequest> seen;
};

// ---- the window under test -------------------------------------------------------------------------

struct Harness {
    LoopbackServer* server;
    Connector connector;
    HANDLE stopEvent;
    HWND window;
    int quitSeen;
    uint64_t closingAt;  // GetTickCount64 when the main window began to be hidden or destroyed
};
extern Harness H;
extern int BackgroundCalls;

// Starts the scripted connector with `doc` on 127.0.0.1:port (0: a free port).
void StartConnector(const Doc& doc, uint16_t port = 0);
// Replaces how every GET is answered (bodyIsDocument 0: with the template's own body).
void SetStatusAnswer(const LoopbackAnswer& answer, int bodyIsDocument = 1);
void QueueStatusAnswer(const LoopbackAnswer& answer);
void QueueActionAnswer(const LoopbackAnswer& answer);
void SetActionAnswer(const LoopbackAnswer& answer);
void SetDocument(const Doc& doc);
void SetDocumentText(const std::string& text);
// Opens the real window on the connector's port (or `port`), then starts the controller.
void OpenWindow(int show = SW_SHOWNORMAL, uint16_t port = 0);
void CloseHarness();

std::vector<SeenRequest> Seen();
size_t SeenCount();
size_t CountSeen(const char* method);
// Waits (pumping) until the connector has seen count requests.
bool WaitSeen(size_t count, DWORD timeoutMs);

// Pumps the thread's messages like the window role's loop for ms of real time.
void Pump(DWORD ms);
// Pumps until pred() holds; false on timeout.
bool PumpUntil(const std::function<bool()>& pred, DWORD timeoutMs);
// Moves the window's clocks forward by ms (tick and, when wallToo, wall clock).
void Advance(uint64_t ms, int wallToo = 0);
// Lets ms of simulated time pass quickly: small clock steps with real pumping in between.
void RunSimulated(uint64_t ms, const std::function<void()>& eachStep = nullptr);

// BM_CLICK on a button (which must be enabled and visible for a user to press it).
void Click(HWND button);
// A WM_COMMAND as the window would receive it from a control or from the dialog keyboard handling.
void Command(int id, int code = 0);
// Waits until the status pill shows this text.
bool WaitApplied(const wchar_t* pill, DWORD timeoutMs = 5000);

// These two watch the messages sent to the window through a thread hook, which under Wine costs every
// sent message of the thread server calls; tests that time the window leave them off.
// Counts, from now on, texts written to the window or its children (WM_SETTEXT) and paints (WM_PAINT).
void WatchScreen();
// Sets H.closingAt, from now on, when the main window begins to be hidden or destroyed.
void WatchClosing();
int ScreenTextWrites();
int ScreenPaints();

// ---- answer times ----------------------------------------------------------------------------------

// How fast the window answers messages, against the benchmarks' baseline window (bench/baseline: one
// window that polls a connector of its own every 2 s and redraws nothing while the document stays the
// same) under the same load: a thread sends WM_NULL to each in turn with SendMessageTimeout (5 s) and
// times every answer. Wine on a busy machine promises no fixed answer time, so the window is judged
// against the baseline measured in the same run.
struct AnswerTimes {
    std::vector<double> ms;  // one per probe; an unanswered probe counts 5 s
    int unanswered = 0;
};

struct AnswerProbe {
    LoopbackServer* baselineServer = nullptr;
    StartedProcess baseline = {nullptr, 0};
    HWND baselineWindow = nullptr;
    std::atomic<int> running{0};
    std::atomic<int> finished{0};
    std::thread thread;
    AnswerTimes window, baselineTimes;
};

// Starts the baseline window and the probing thread.
void StartAnswerProbe(AnswerProbe* probe);
// Stops probing and the baseline window; prints median, p99 and maximum of both.
void StopAnswerProbe(AnswerProbe* probe);
double Percentile(std::vector<double> values, double fraction);
// Every probe answered, and no more probes that waited half a second or longer than the baseline window
// had, plus one. The connectors of the tests that probe hold their answers for a second and more, again
// and again, so a window thread that waited for them would keep several probes waiting that long; the
// window's own redraws, even on a busy machine, keep none (its slowest answer there was 0.2 s). The p99
// of both windows is printed: how fast the window answers is a figure for the benchmarks, which the
// load of the machine moves too much for a test.
enum { WaitedForTheConnectorMs = 500 };
void ExpectAnswersLikeTheBaseline(const AnswerProbe& probe);
