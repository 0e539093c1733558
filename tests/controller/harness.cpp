// The controller tests' harness: child processes per window test, the scripted connector, the message
// pump and the simulated clock. See harness.h.
#include "harness.h"
#include <string.h>
#include <stdio.h>
#include <algorithm>
#include "api/request_worker.h"
#include "ui/clock.h"
#include "ui/controller.h"
#include "ui/main_window.h"
#include "ui/window_state.h"

Harness H;
int BackgroundCalls;

static uint64_t tickShift;
static int64_t wallShift;

// ---- child processes -------------------------------------------------------------------------------

int IsWindowTestChild()
{
    return wcsstr(GetCommandLineW(), L"--controller-child") != nullptr;
}

int RunWindowTestChild(const char* fullName)
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    wchar_t temp[MAX_PATH], outputPath[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    GetTempFileNameW(temp, L"ctl", 0, outputPath);

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileW(outputPath, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    wchar_t commandLine[2 * MAX_PATH];
    swprintf(commandLine, 2 * MAX_PATH, L"\"%ls\" --controller-child --gtest_filter=%hs", self, fullName);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process = {};
    int result = 99;
    if (CreateProcessW(self, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        DWORD code = 99;
        if (WaitForSingleObject(process.hProcess, 180000) != WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, 98);
            WaitForSingleObject(process.hProcess, 5000);
            ADD_FAILURE() << fullName << " did not finish within 180 s";
        }
        GetExitCodeProcess(process.hProcess, &code);
        result = int(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        ADD_FAILURE() << "cannot start the child for " << fullName;
    }
    CloseHandle(output);

    FILE* file = _wfopen(outputPath, L"rb");
    if (file) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
            fwrite(buffer, 1, n, stdout);
        fclose(file);
        fflush(stdout);
    }
    DeleteFileW(outputPath);
    return result;
}

// ---- status documents ------------------------------------------------------------------------------

// ---- the scripted connector ------------------------------------------------------------------------

static void AnswerConnector(const LoopbackRequest& request, LoopbackAnswer* answer, void* context)
{
    Connector* c = static_cast<Connector*>(context);
    std::lock_guard<std::mutex> guard(c->lock);
    if (request.method == "GET") {
        if (!c->nextStatus.empty()) {
            *answer = c->nextStatus.front();
            c->nextStatus.pop_front();
        } else {
            *answer = c->statusTemplate;
            if (c->bodyIsDocument)
                answer->body = c->document;
        }
        if (c->statusHook)
            c->statusHook(answer);
    } else {
        if (!c->nextAction.empty()) {
            *answer = c->nextAction.front();
            c->nextAction.pop_front();
        } else {
            *answer = c->actionAnswer;
        }
    }
    uint32_t busy = answer->delayMs;
    if (answer->dripChunkBytes)
        busy += uint32_t((answer->body.size() + answer->dripChunkBytes - 1) / answer->dripChunkBytes) *
                answer->dripDelayMs;
    c->seen.push_back({request.method, request.path, request.body, TickNow(), request.arrivedAt, busy});
}

void StartConnector(const Doc& doc, uint16_t port)
{
    H.server = StartLoopbackServer(port);
    ASSERT_NE(nullptr, H.server);
    SetDocument(doc);
    SetLoopbackHandler(H.server, AnswerConnector, &H.connector);
}

void SetDocument(const Doc& doc)
{
    SetDocumentText(Render(doc));
}

void SetDocumentText(const std::string& text)
{
    std::lock_guard<std::mutex> guard(H.connector.lock);
    H.connector.document = text;
}

void SetStatusAnswer(const LoopbackAnswer& answer, int bodyIsDocument)
{
    std::lock_guard<std::mutex> guard(H.connector.lock);
    H.connector.statusTemplate = answer;
    H.connector.bodyIsDocument = bodyIsDocument;
}

void QueueStatusAnswer(const LoopbackAnswer& answer)
{
    std::lock_guard<std::mutex> guard(H.connector.lock);
    H.connector.nextStatus.push_back(answer);
}

void QueueActionAnswer(const LoopbackAnswer& answer)
{
    std::lock_guard<std::mutex> guard(H.connector.lock);
    H.connector.nextAction.push_back(answer);
}

void SetActionAnswer(const LoopbackAnswer& answer)
{
    std::lock_guard<std::mutex> guard(H.connector.lock);
    H.connector.actionAnswer = answer;
}

static void HookSentMessages();

static int CountBackground()
{
    ++BackgroundCalls;
    return 1;
}

void OpenWindow(int show, uint16_t port)
{
    H.stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!port)
        port = LoopbackPort(H.server);
    ASSERT_EQ(0, OpenMainWindow(GetModuleHandleW(nullptr), H.stopEvent, port, show, CountBackground));
    H.window = WindowRole.mainWindow;
    ASSERT_TRUE(IsWindow(H.window));
    StartController();
}

void CloseHarness()
{
    // The window goes with the process: under Wine without a window manager DestroyWindow waits about
    // 2 s for the X server, which every test would pay again.
    if (H.server)
        StopLoopbackServer(H.server);
    H.server = nullptr;
}

std::vector<SeenRequest> Seen()
{
    std::lock_guard<std::mutex> guard(H.connector.lock);
    return H.connector.seen;
}

size_t SeenCount()
{
    std::lock_guard<std::mutex> guard(H.connector.lock);
    return H.connector.seen.size();
}

size_t CountSeen(const char* method)
{
    size_t n = 0;
    for (const SeenRequest& r : Seen())
        n += r.method == method;
    return n;
}

bool WaitSeen(size_t count, DWORD timeoutMs)
{
    return PumpUntil([&] { return SeenCount() >= count; }, timeoutMs);
}

// ---- watching the screen ---------------------------------------------------------------------------

static int watchingScreen;
static int textWrites;
static int paints;
static HHOOK sentHook;

static bool OfWindow(HWND hwnd)
{
    return hwnd && IsWindow(H.window) && (hwnd == H.window || IsChild(H.window, hwnd));
}

static LRESULT CALLBACK WatchSent(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && sent->hwnd == H.window && !H.closingAt) {
        // DestroyWindow hides the window first; under Wine without a window manager the call then waits
        // about 2 s for the X server, so the start of the destruction is what tells when it was asked for.
        if (sent->message == WM_DESTROY ||
            (sent->message == WM_WINDOWPOSCHANGING &&
             (reinterpret_cast<const WINDOWPOS*>(sent->lParam)->flags & SWP_HIDEWINDOW)))
            H.closingAt = GetTickCount64();
    }
    if (code == HC_ACTION && watchingScreen && OfWindow(sent->hwnd)) {
        if (sent->message == WM_SETTEXT)
            ++textWrites;
        if (sent->message == WM_PAINT)
            ++paints;
    }
    return CallNextHookEx(sentHook, code, wParam, lParam);
}

static void HookSentMessages()
{
    if (!sentHook)
        sentHook = SetWindowsHookExW(WH_CALLWNDPROC, WatchSent, nullptr, GetCurrentThreadId());
}

void WatchClosing()
{
    HookSentMessages();
}

void WatchScreen()
{
    HookSentMessages();
    textWrites = 0;
    paints = 0;
    watchingScreen = 1;
}

int ScreenTextWrites()
{
    return textWrites;
}

int ScreenPaints()
{
    return paints;
}

// ---- pumping and time ------------------------------------------------------------------------------

static void PumpPending()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            H.quitSeen = 1;
            continue;
        }
        if (msg.message == WM_PAINT && watchingScreen && OfWindow(msg.hwnd))
            ++paints;
        // The window role's own handling of a message, so that Tab and Enter behave as for a user.
        if (IsWindow(H.window)) {
            DispatchWindowMessage(&msg);
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void Pump(DWORD ms)
{
    uint64_t end = GetTickCount64() + ms;
    for (;;) {
        PumpPending();
        uint64_t now = GetTickCount64();
        if (now >= end)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(end - now), QS_ALLINPUT);
    }
}

bool PumpUntil(const std::function<bool()>& pred, DWORD timeoutMs)
{
    uint64_t end = GetTickCount64() + timeoutMs;
    for (;;) {
        PumpPending();
        if (pred())
            return true;
        uint64_t now = GetTickCount64();
        if (now >= end)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(end - now < 10 ? end - now : 10), QS_ALLINPUT);
    }
}

void Advance(uint64_t ms, int wallToo)
{
    tickShift += ms;
    if (wallToo)
        wallShift += int64_t(ms);
    ShiftClocksForTest(tickShift, wallShift);
}

void RunSimulated(uint64_t ms, const std::function<void()>& eachStep)
{
    // 100 ms of clock per 20 ms of real pumping: a simulated minute takes about ten real seconds.
    // Each step also ticks the controller, as a timer tick would, so that a deadline is noticed within one
    // step of clock rather than within the 200 ms of real time between the timer's own ticks. The clock
    // stands still while a request is outstanding: how long a request takes in real time depends on the
    // machine's load and must not show in the window's schedule.
    const uint64_t step = 100;
    for (uint64_t done = 0; done < ms;) {
        if (!ControllerStateForTest()->requestInFlight || !IsWindow(H.window)) {
            Advance(step);
            done += step;
        }
        if (IsWindow(H.window))
            PostMessageW(H.window, WM_TIMER, RefreshTimerId, 0);
        Pump(20);
        if (eachStep)
            eachStep();
    }
}

// ---- controls --------------------------------------------------------------------------------------

void Click(HWND button)
{
    ASSERT_TRUE(IsEnabled(button));
    ASSERT_TRUE(IsShown(button));
    SendMessageW(button, BM_CLICK, 0, 0);
}

void Command(int id, int code)
{
    SendMessageW(H.window, WM_COMMAND, MAKEWPARAM(id, code), LPARAM(GetDlgItem(H.window, id)));
}

bool WaitApplied(const wchar_t* pill, DWORD timeoutMs)
{
    return PumpUntil([&] { return TextOf(Controls[StatusPillIndex]) == pill; }, timeoutMs);
}

// Every child ends its window and server, whatever the test did; a failed assertion leaves them behind.
class HarnessCleanup : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo&) override
    {
        if (IsWindowTestChild())
            CloseHarness();
    }
};

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new HarnessCleanup);
    return RUN_ALL_TESTS();
}

// ---- answer times ----------------------------------------------------------------------------------

static void Probe(HWND window, AnswerTimes* times)
{
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    DWORD_PTR result;
    if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result))
        ++times->unanswered;
    QueryPerformanceCounter(&after);
    times->ms.push_back(double(after.QuadPart - before.QuadPart) * 1000.0 / double(frequency.QuadPart));
}

void StartAnswerProbe(AnswerProbe* probe)
{
    probe->baselineServer = StartLoopbackServer(0);
    ASSERT_NE(probe->baselineServer, nullptr);
    LoopbackAnswer answer;
    answer.body = Render(Doc{});
    SetLoopbackDefaultAnswer(probe->baselineServer, answer);
    std::wstring port = std::to_wstring(LoopbackPort(probe->baselineServer));
    probe->baseline = StartWithTail(TestProgramDirectory() + L"\\baseline.exe", L"",
                                    {{L"TOVIX_MOBILE_CONNECTOR_PORT", port.c_str()}});
    probe->baselineWindow = FindTopWindow(L"TovixBaselineWindow", probe->baseline.pid, 15000);
    ASSERT_NE(probe->baselineWindow, nullptr);
    probe->running = 1;
    probe->thread = std::thread([probe] {
        while (probe->running) {
            Probe(H.window, &probe->window);
            Sleep(12);
            Probe(probe->baselineWindow, &probe->baselineTimes);
            Sleep(12);
        }
        probe->finished = 1;
    });
}

static void PrintAnswerTimes(const char* who, const AnswerTimes& t)
{
    printf("%s: %zu probes, answered in median %.2f ms, p99 %.2f ms, max %.2f ms\n", who, t.ms.size(),
           Percentile(t.ms, 0.5), Percentile(t.ms, 0.99), Percentile(t.ms, 1.0));
}

void StopAnswerProbe(AnswerProbe* probe)
{
    // The window's thread pumps until the prober has ended: a probe of the window sent meanwhile would
    // otherwise wait out its 5 s.
    probe->running = 0;
    PumpUntil([probe] { return probe->finished.load() != 0; }, 15000);
    if (probe->thread.joinable())
        probe->thread.join();
    KillAndClose(&probe->baseline);
    if (probe->baselineServer)
        StopLoopbackServer(probe->baselineServer);
    probe->baselineServer = nullptr;
    PrintAnswerTimes("window", probe->window);
    PrintAnswerTimes("baseline window", probe->baselineTimes);
}

double Percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(fraction * double(values.size())))];
}

void ExpectAnswersLikeTheBaseline(const AnswerProbe& probe)
{
    EXPECT_EQ(0, probe.window.unanswered) << "the window left a SendMessageTimeout of 5 s unanswered";
    EXPECT_GT(probe.window.ms.size(), 20u);
    auto waits = [](const std::vector<double>& ms) {
        return std::count_if(ms.begin(), ms.end(), [](double m) { return m >= WaitedForTheConnectorMs; });
    };
    EXPECT_LE(waits(probe.window.ms), waits(probe.baselineTimes.ms) + 1)
        << "the window kept messages waiting as long as a connector holds an answer";
}
