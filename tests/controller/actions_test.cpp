// User actions: what each command sends, when it is sent, what a result changes, the new-code
// confirmation, the retry command, minimised windows and StopEvent.
#include <atomic>
#include <thread>
#include "harness.h"
#include "texts.h"
#include "ui/clock.h"
#include "ui/controller.h"
#include "ui/window_state.h"

static Doc Idle()
{
    return Doc{};
}

static Doc Online()
{
    Doc doc;
    doc.state = "online";
    return doc;
}

static Doc NoWorkbench()
{
    Doc doc;
    doc.workbench = "missing";
    return doc;
}

static Doc Paired()
{
    Doc doc = Online();
    doc.pairing = "paired";
    return doc;
}

static LoopbackAnswer Answer(int status, uint32_t delayMs = 0)
{
    LoopbackAnswer answer;
    answer.status = status;
    answer.delayMs = delayMs;
    return answer;
}

// Serves doc from the next poll on and waits until the window shows it.
static void ShowDocument(const Doc& doc, const wchar_t* pill)
{
    SetDocument(doc);
    Advance(2000);
    size_t n = SeenCount();
    ASSERT_TRUE(WaitSeen(n + 1, 3000));
    ASSERT_TRUE(WaitApplied(pill));
    Pump(100);
}

static std::string StartBody(const char* name, const char* relay)
{
    return std::string("{\"deviceName\":\"") + name + "\",\"relayProvider\":\"" + relay + "\"}";
}

static SeenRequest LastPost()
{
    std::vector<SeenRequest> seen = Seen();
    for (size_t i = seen.size(); i-- > 0;)
        if (seen[i].method == "POST")
            return seen[i];
    return SeenRequest();
}

static void StopTimer()
{
    KillTimer(H.window, RefreshTimerId);
}

static void RestartTimer()
{
    SetTimer(H.window, RefreshTimerId, RefreshTimerPeriodMs, nullptr);
}

struct ButtonRow {
    const char* what;
    Doc doc;
    const wchar_t* pill;
    HWND* button;
    const char* path;
    std::string body;
};

WINDOW_TEST(EachButtonSendsItsRequestAndAPollFollowsAtOnce)
{
    StartConnector(Idle());
    OpenWindow();
    ASSERT_TRUE(WaitApplied(IDLE_PILL));
    const ButtonRow rows[] = {
        {"start", Idle(), IDLE_PILL, &Controls[StartButtonIndex], "/api/connector/start",
         StartBody("书房电脑", "quorbelapi")},
        {"stop", Online(), ONLINE_PILL, &Controls[StopButtonIndex], "/api/connector/stop", "{}"},
        {"detect", NoWorkbench(), IDLE_PILL, &Controls[RetryButtonIndex], "/api/connector/desktop/detect", "{}"},
        {"new code", Online(), ONLINE_PILL, &Controls[NewQrButtonIndex], "/api/connector/pairing/reset", "{}"},
    };
    for (const ButtonRow& row : rows) {
        SCOPED_TRACE(row.what);
        ShowDocument(row.doc, row.pill);
        // Without the timer, only the ticks of the click and of the result can send anything.
        StopTimer();
        Pump(300);
        size_t n = SeenCount();
        Click(*row.button);
        ASSERT_TRUE(WaitSeen(n + 2, 3000));
        std::vector<SeenRequest> seen = Seen();
        EXPECT_EQ("POST", seen[n].method);
        EXPECT_EQ(row.path, seen[n].path);
        EXPECT_EQ(row.body, seen[n].body);
        EXPECT_EQ("GET", seen[n + 1].method);
        Pump(300);
        EXPECT_EQ(n + 2, SeenCount());
        RestartTimer();
    }
}

WINDOW_TEST(StopWhilePollOutstandingDropsThePollAndSendsStopInTheSameTick)
{
    StartConnector(Online());
    OpenWindow();
    ASSERT_TRUE(WaitApplied(ONLINE_PILL));
    Pump(300);
    StopTimer();
    Doc stale = Online();
    stale.message = "过期的状态";
    LoopbackAnswer slowPoll = Answer(200, 1000);
    slowPoll.body = Render(stale);
    QueueStatusAnswer(slowPoll);
    size_t n = SeenCount();
    Advance(2000);
    SendMessageW(H.window, WM_TIMER, RefreshTimerId, 0);
    ASSERT_TRUE(WaitSeen(n + 1, 2000));
    Click(Controls[StopButtonIndex]);
    Pump(300);
    EXPECT_EQ(n + 1, SeenCount()) << "Stop must wait for the outstanding poll";
    int staleShown = 0;
    ASSERT_TRUE(PumpUntil([&] {
        staleShown |= TextOf(Controls[MessageLabelIndex]) == L"过期的状态";
        return SeenCount() >= n + 3;
    }, 4000));
    std::vector<SeenRequest> seen = Seen();
    EXPECT_EQ("/api/connector/stop", seen[n + 1].path);
    EXPECT_GE(seen[n + 1].realAt + 20, seen[n].realAt + 1000);
    EXPECT_EQ("GET", seen[n + 2].method);
    PumpUntil([&] {
        staleShown |= TextOf(Controls[MessageLabelIndex]) == L"过期的状态";
        return false;
    }, 500);
    EXPECT_EQ(0, staleShown);
}

WINDOW_TEST(SecondCommandWhileBusyDoesNothingAndControlsWaitForTheSnapshot)
{
    StartConnector(Idle());
    OpenWindow();
    ASSERT_TRUE(WaitApplied(IDLE_PILL));
    Pump(300);
    QueueActionAnswer(Answer(200, 800));
    size_t n = SeenCount();
    Click(Controls[StartButtonIndex]);
    HWND actionControls[] = {Controls[DeviceNameEditIndex], Controls[RelayComboIndex], Controls[StartButtonIndex],
                             Controls[StopButtonIndex],     Controls[RetryButtonIndex], Controls[NewQrButtonIndex]};
    for (HWND control : actionControls)
        EXPECT_FALSE(IsEnabled(control));
    EXPECT_EQ(BUSY_PLACEHOLDER, TextOf(Controls[QrPlaceholderIndex]));
    const int ids[] = {IDOK, StartButtonId, StopButtonId, RetryButtonId, NewQrButtonId};
    for (int id : ids)
        Command(id);
    Pump(400);
    for (int id : ids)
        Command(id);
    // The result leaves the controls alone; the poll that follows restores them.
    ASSERT_TRUE(PumpUntil([&] { return IsEnabled(Controls[StartButtonIndex]); }, 4000));
    EXPECT_TRUE(IsEnabled(Controls[DeviceNameEditIndex]));
    EXPECT_TRUE(IsEnabled(Controls[RelayComboIndex]));
    Pump(500);
    std::vector<SeenRequest> seen = Seen();
    int posts = 0;
    for (size_t i = n; i < seen.size(); ++i)
        posts += seen[i].method == "POST";
    EXPECT_EQ(1, posts);
    EXPECT_EQ("/api/connector/start", seen[n].path);
}

// A key as the keyboard delivers it: to the focused control (or the window), through the window's loop.
static void Press(UINT key)
{
    HWND focus = GetFocus();
    if (!focus || (focus != H.window && !IsChild(H.window, focus))) {
        SetFocus(H.window);
        focus = H.window;
    }
    PostMessageW(focus, WM_KEYDOWN, key, 1);
    PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
    Pump(0);
}

static void PressEnter()
{
    Press(VK_RETURN);
}

struct EnterRow {
    const char* what;
    Doc doc;
    const wchar_t* pill;
    int sends;
};

WINDOW_TEST(EnterStartsOnlyWhileStartButtonIsEnabledAndVisible)
{
    StartConnector(Idle());
    OpenWindow();
    ASSERT_TRUE(WaitApplied(IDLE_PILL));
    const EnterRow rows[] = {
        {"enabled and visible", Idle(), IDLE_PILL, 1},
        {"disabled: no workbench", NoWorkbench(), IDLE_PILL, 0},
        {"hidden: online", Online(), ONLINE_PILL, 0},
    };
    for (const EnterRow& row : rows) {
        SCOPED_TRACE(row.what);
        ShowDocument(row.doc, row.pill);
        EXPECT_EQ(row.sends == 1, IsEnabled(Controls[StartButtonIndex]) && IsShown(Controls[StartButtonIndex]));
        size_t posts = CountSeen("POST");
        PressEnter();
        Pump(600);
        EXPECT_EQ(posts + row.sends, CountSeen("POST"));
        if (row.sends) {
            EXPECT_EQ("/api/connector/start", LastPost().path);
        }
        Pump(300);
    }
}

// The focus is on a control that can take it, and exactly one push button has the default look: the
// focused one, or StartButton when the focus is on another kind of control.
static bool FocusOnAControl()
{
    HWND focus = GetFocus();
    return focus && IsChild(H.window, focus) && IsEnabled(focus) && IsShown(focus);
}

static HWND DefaultButton()
{
    HWND found = nullptr;
    int count = 0;
    for (int i : {NewQrButtonIndex, StartButtonIndex, StopButtonIndex, RetryButtonIndex, DownloadButtonIndex})
        if ((GetWindowLongW(Controls[i], GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
            found = Controls[i];
            ++count;
        }
    return count == 1 ? found : nullptr;
}

static bool TabTo(HWND control)
{
    for (int i = 0; i < 10 && GetFocus() != control; ++i)
        Press(VK_TAB);
    return GetFocus() == control;
}

struct KeyRow {
    const char* what;
    Doc doc;
    const wchar_t* pill;
    int button;
    const char* path;
    Doc after;      // the connector's state once the action is done
    int focusBack;  // the control that then has the focus
    int tabTo;      // and where Tab takes it from there
};

WINDOW_TEST(KeyboardFocusSurvivesEveryActionAndOneButtonLooksDefault)
{
    StartConnector(Idle());
    OpenWindow();
    ASSERT_TRUE(WaitApplied(IDLE_PILL));
    Pump(100);
    EXPECT_TRUE(FocusOnAControl()) << "at start the focus is on the first control that takes it";
    EXPECT_EQ(Controls[DeviceNameEditIndex], GetFocus());
    EXPECT_EQ(Controls[StartButtonIndex], DefaultButton());
    Doc connecting = Idle();
    connecting.state = "connecting";
    const KeyRow rows[] = {
        {"start", Idle(), IDLE_PILL, StartButtonIndex, "/api/connector/start", Idle(), StartButtonIndex,
         DeviceNameEditIndex},
        // StartButton stays disabled while connecting: the focus goes on to the next control that takes it,
        // the only one.
        {"start, then connecting", Idle(), IDLE_PILL, StartButtonIndex, "/api/connector/start", connecting,
         StopButtonIndex, StopButtonIndex},
        {"stop", Online(), ONLINE_PILL, StopButtonIndex, "/api/connector/stop", Online(), StopButtonIndex,
         NewQrButtonIndex},
        {"detect", NoWorkbench(), IDLE_PILL, RetryButtonIndex, "/api/connector/desktop/detect", NoWorkbench(),
         RetryButtonIndex, DeviceNameEditIndex},
    };
    for (const KeyRow& row : rows) {
        SCOPED_TRACE(row.what);
        ShowDocument(row.doc, row.pill);
        ASSERT_TRUE(TabTo(Controls[row.button]));
        EXPECT_EQ(Controls[row.button], DefaultButton());
        size_t n = SeenCount();
        SetDocument(row.after);
        Press(VK_SPACE);
        ASSERT_TRUE(WaitSeen(n + 2, 3000));
        EXPECT_EQ(row.path, Seen()[n].path);
        // The next document brings the controls back, and the focus with them.
        ASSERT_TRUE(PumpUntil([&] { return GetFocus() == Controls[row.focusBack]; }, 3000));
        EXPECT_EQ(Controls[row.focusBack], DefaultButton());
        Press(VK_TAB);
        EXPECT_EQ(Controls[row.tabTo], GetFocus()) << "Tab moves the focus on";
        EXPECT_EQ(row.tabTo == DeviceNameEditIndex ? Controls[StartButtonIndex] : Controls[row.tabTo], DefaultButton());
    }

    // Another program in front and back again: the focus returns to the control that had it.
    ShowDocument(Online(), ONLINE_PILL);
    ASSERT_TRUE(TabTo(Controls[StopButtonIndex]));
    HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                 nullptr, nullptr);
    SetForegroundWindow(other);
    Pump(0);
    EXPECT_NE(Controls[StopButtonIndex], GetFocus());
    DestroyWindow(other);
    SetForegroundWindow(H.window);
    ASSERT_TRUE(PumpUntil([] { return GetFocus() == Controls[StopButtonIndex]; }, 3000));
}

WINDOW_TEST(FailedActionHoldsItsTextFor10s)
{
    StartConnector(Idle());
    OpenWindow();
    ASSERT_TRUE(WaitApplied(IDLE_PILL));
    Pump(300);
    QueueActionAnswer(Answer(500));
    Click(Controls[StartButtonIndex]);
    ASSERT_TRUE(PumpUntil([] { return TextOf(Controls[MessageLabelIndex]) == ACTION_FAILED_TEXT; }, 3000));
    // Still held by the poll 9.5 s after the failure.
    size_t n = SeenCount();
    Advance(9500);
    ASSERT_TRUE(WaitSeen(n + 1, 3000));
    Pump(300);
    EXPECT_EQ(ACTION_FAILED_TEXT, TextOf(Controls[MessageLabelIndex]));
    // The connector's own message wins while it has one.
    Doc withMessage = Idle();
    withMessage.message = "工作台未响应";
    SetDocument(withMessage);
    n = SeenCount();
    Advance(200);
    ASSERT_TRUE(WaitSeen(n + 1, 3000));
    EXPECT_TRUE(PumpUntil([] { return TextOf(Controls[MessageLabelIndex]) == L"工作台未响应"; }, 2000));
    // Past 10 s from the failure an empty message is empty again.
    SetDocument(Idle());
    n = SeenCount();
    Advance(2000);
    ASSERT_TRUE(WaitSeen(n + 1, 3000));
    EXPECT_TRUE(PumpUntil([] { return TextOf(Controls[MessageLabelIndex]).empty(); }, 2000));

    // A dropped connection is a failure too; a following success clears the text at once.
    QueueActionAnswer(Answer(200, 0));
    LoopbackAnswer dropped;
    dropped.neverAnswer = 1;
    dropped.holdMs = 0;
    dropped.resetOnClose = 1;
    SetActionAnswer(dropped);
    Click(Controls[StartButtonIndex]);  // answered 200 by the queued answer
    ASSERT_TRUE(PumpUntil([] { return IsEnabled(Controls[StartButtonIndex]); }, 3000));
    EXPECT_TRUE(TextOf(Controls[MessageLabelIndex]).empty());
    Click(Controls[StartButtonIndex]);  // dropped connection
    ASSERT_TRUE(PumpUntil([] { return TextOf(Controls[MessageLabelIndex]) == ACTION_FAILED_TEXT; }, 3000));
    SetActionAnswer(Answer(200));
    ASSERT_TRUE(PumpUntil([] { return IsEnabled(Controls[StartButtonIndex]); }, 3000));
    Click(Controls[StartButtonIndex]);
    EXPECT_TRUE(PumpUntil([] { return TextOf(Controls[MessageLabelIndex]).empty(); }, 3000));
}

WINDOW_TEST(StartReadsNameAndRelayWhenTheRequestStarts)
{
    Doc longName = Idle();
    longName.deviceName.clear();
    for (int i = 0; i < 150; ++i)
        longName.deviceName += "电";
    StartConnector(longName);
    OpenWindow();
    ASSERT_TRUE(WaitApplied(IDLE_PILL));
    ASSERT_EQ(150u, TextOf(Controls[DeviceNameEditIndex]).size());
    std::string hundred;
    for (int i = 0; i < 100; ++i)
        hundred += "电";

    // A snapshot's name of 150 units goes out cut to 100; with nothing selected the relay is the default.
    SendMessageW(Controls[RelayComboIndex], CB_SETCURSEL, WPARAM(-1), 0);
    size_t n = SeenCount();
    Click(Controls[StartButtonIndex]);
    ASSERT_TRUE(WaitSeen(n + 2, 3000));
    EXPECT_EQ(StartBody(hundred.c_str(), "quorbelapi"), Seen()[n].body);
    ASSERT_TRUE(PumpUntil([] { return IsEnabled(Controls[StartButtonIndex]); }, 3000));

    // The name typed while a poll holds the action back is the one sent.
    StopTimer();
    LoopbackAnswer slowPoll = Answer(200, 800);
    slowPoll.body = Render(longName);
    QueueStatusAnswer(slowPoll);
    n = SeenCount();
    Advance(2000);
    SendMessageW(H.window, WM_TIMER, RefreshTimerId, 0);
    ASSERT_TRUE(WaitSeen(n + 1, 2000));
    Click(Controls[StartButtonIndex]);
    SetWindowTextW(Controls[DeviceNameEditIndex], L"客厅 \"主机\"\\");
    ASSERT_TRUE(WaitSeen(n + 3, 3000));
    EXPECT_EQ("/api/connector/start", Seen()[n + 1].path);
    EXPECT_EQ(StartBody("客厅 \\\"主机\\\"\\\\", "quorbelapi"), Seen()[n + 1].body);
    RestartTimer();
    ASSERT_TRUE(PumpUntil([] { return IsEnabled(Controls[StartButtonIndex]); }, 3000));
    // Typed once, the name is no longer replaced by snapshots.
    EXPECT_EQ(L"客厅 \"主机\"\\", TextOf(Controls[DeviceNameEditIndex]));

    // The user's choice of "三方中继".
    SendMessageW(Controls[RelayComboIndex], CB_SETCURSEL, 1, 0);
    Command(RelayComboId, CBN_SELCHANGE);
    EXPECT_EQ(START_RELAY_SWITCH, TextOf(Controls[StartButtonIndex]));
    n = SeenCount();
    Click(Controls[StartButtonIndex]);
    ASSERT_TRUE(WaitSeen(n + 1, 3000));
    EXPECT_EQ(StartBody("客厅 \\\"主机\\\"\\\\", "thirdparty"), Seen()[n].body);
}

WINDOW_TEST(RelaySwitchSurvivesAFailedStartAndEndsWithASuccessfulOne)
{
    StartConnector(Idle());
    OpenWindow();
    ASSERT_TRUE(WaitApplied(IDLE_PILL));
    Pump(300);
    SendMessageW(Controls[RelayComboIndex], CB_SETCURSEL, 1, 0);
    Command(RelayComboId, CBN_SELCHANGE);
    EXPECT_EQ(START_RELAY_SWITCH, TextOf(Controls[StartButtonIndex]));

    QueueActionAnswer(Answer(500));
    size_t n = SeenCount();
    Click(Controls[StartButtonIndex]);
    ASSERT_TRUE(WaitSeen(n + 2, 3000));
    ASSERT_TRUE(PumpUntil([] { return IsEnabled(Controls[StartButtonIndex]); }, 3000));
    EXPECT_EQ(START_RELAY_SWITCH, TextOf(Controls[StartButtonIndex]));
    EXPECT_EQ(1, SendMessageW(Controls[RelayComboIndex], CB_GETCURSEL, 0, 0));

    n = SeenCount();
    Click(Controls[StartButtonIndex]);
    ASSERT_TRUE(WaitSeen(n + 2, 3000));
    EXPECT_TRUE(PumpUntil([] { return TextOf(Controls[StartButtonIndex]) == START_IDLE; }, 3000));
    // The connector's relay applies again once the switch is done.
    EXPECT_EQ(0, SendMessageW(Controls[RelayComboIndex], CB_GETCURSEL, 0, 0));
}

// What a watcher thread saw of the confirmation box and what it did with it.
struct BoxWatch {
    int answer;  // IDOK, IDCANCEL, or 0 for closing the box
    int found = 0;
    int textRight = 0;
    int ownedByWindow = 0;
    int cancelIsDefault = 0;
    int pollsWhileOpen = 0;
};

static void WatchBox(BoxWatch* watch)
{
    HWND box = nullptr;
    for (int i = 0; i < 1000 && !box; ++i) {
        box = FindWindowW(L"#32770", UNPAIR_CAPTION);
        if (!box)
            Sleep(10);
    }
    if (!box)
        return;
    watch->found = 1;
    wchar_t text[256] = {};
    GetWindowTextW(GetDlgItem(box, 0xFFFF), text, 256);
    watch->textRight = wcscmp(text, UNPAIR_TEXT) == 0;
    watch->ownedByWindow = GetWindow(box, GW_OWNER) == H.window;
    DWORD_PTR defId = 0;
    SendMessageTimeoutW(box, DM_GETDEFID, 0, 0, SMTO_NORMAL, 2000, &defId);
    LONG cancelStyle = GetWindowLongW(GetDlgItem(box, IDCANCEL), GWL_STYLE);
    watch->cancelIsDefault = (HIWORD(defId) == DC_HASDEFID && LOWORD(defId) == IDCANCEL) ||
                             (cancelStyle & 0x0F) == BS_DEFPUSHBUTTON;
    // The box's modal loop still runs the window's ticks: a poll falls due and is made.
    size_t gets = CountSeen("GET");
    Advance(2100);
    for (int i = 0; i < 300 && CountSeen("GET") == gets; ++i)
        Sleep(10);
    watch->pollsWhileOpen = CountSeen("GET") > gets;
    if (watch->answer)
        PostMessageW(box, WM_COMMAND, watch->answer, 0);
    else
        PostMessageW(box, WM_CLOSE, 0, 0);
}

WINDOW_TEST(NewCodeAsksOnlyWhenAPhoneIsPaired)
{
    StartConnector(Online());
    OpenWindow();
    ASSERT_TRUE(WaitApplied(ONLINE_PILL));
    Pump(300);
    // No phone paired: sent at once, no box.
    size_t n = SeenCount();
    Click(Controls[NewQrButtonIndex]);
    EXPECT_EQ(nullptr, FindWindowW(L"#32770", UNPAIR_CAPTION));
    ASSERT_TRUE(WaitSeen(n + 1, 3000));
    EXPECT_EQ("/api/connector/pairing/reset", Seen()[n].path);

    struct Row {
        const char* what;
        int answer;
        int sends;
    } rows[] = {{"cancel", IDCANCEL, 0}, {"closed", 0, 0}, {"ok", IDOK, 1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ShowDocument(Paired(), ONLINE_PILL);
        ASSERT_TRUE(PumpUntil([] { return IsEnabled(Controls[NewQrButtonIndex]); }, 3000));
        size_t posts = CountSeen("POST");
        BoxWatch watch;
        watch.answer = row.answer;
        std::thread watcher(WatchBox, &watch);
        Click(Controls[NewQrButtonIndex]);  // returns when the box has closed
        watcher.join();
        EXPECT_TRUE(watch.found);
        EXPECT_TRUE(watch.textRight);
        EXPECT_TRUE(watch.ownedByWindow);
        EXPECT_TRUE(watch.cancelIsDefault);
        EXPECT_TRUE(watch.pollsWhileOpen);
        Pump(500);
        EXPECT_EQ(posts + row.sends, CountSeen("POST"));
        if (row.sends) {
            EXPECT_EQ("/api/connector/pairing/reset", LastPost().path);
        }
    }
}

WINDOW_TEST(RetryInUnreachableViewStartsSupervisorAndNewGracePeriod)
{
    StartConnector(Idle());
    SetStatusAnswer(Answer(503), 0);
    OpenWindow();
    Advance(10500);
    ASSERT_TRUE(WaitApplied(UNREACHABLE_PILL, 3000));
    ASSERT_EQ(RETRY_START_CONNECTOR, TextOf(Controls[RetryButtonIndex]));
    Pump(300);
    StopTimer();
    Pump(300);
    size_t n = SeenCount();
    int calls = BackgroundCalls;
    Click(Controls[RetryButtonIndex]);
    EXPECT_EQ(calls + 1, BackgroundCalls);
    EXPECT_EQ(STARTING_PILL, TextOf(Controls[StatusPillIndex]));
    EXPECT_EQ(STARTING_PLACEHOLDER, TextOf(Controls[QrPlaceholderIndex]));
    EXPECT_TRUE(TextOf(Controls[MessageLabelIndex]).empty());
    EXPECT_FALSE(IsShown(Controls[RetryButtonIndex]));
    // Its own tick polls at once (no timer runs); nothing else is sent.
    ASSERT_TRUE(WaitSeen(n + 1, 2000));
    EXPECT_EQ("GET", Seen()[n].method);
    RestartTimer();
    // Failed polls of the new grace period are silent again...
    ASSERT_TRUE(WaitSeen(n + 3, 5000));
    EXPECT_EQ(STARTING_PILL, TextOf(Controls[StatusPillIndex]));
    EXPECT_EQ(0u, CountSeen("POST"));
    // ...until it runs out.
    Advance(10000);
    EXPECT_TRUE(WaitApplied(UNREACHABLE_PILL, 3000));
}

WINDOW_TEST(MinimisedWindowSendsActionsButNoPolls)
{
    StartConnector(Online());
    OpenWindow();
    ASSERT_TRUE(WaitApplied(ONLINE_PILL));
    Pump(300);
    // Stop clicked while a poll is outstanding, then the window is minimised: Stop still goes out.
    LoopbackAnswer slowPoll = Answer(200, 700);
    slowPoll.body = Render(Online());
    QueueStatusAnswer(slowPoll);
    size_t n = SeenCount();
    Advance(2000);
    ASSERT_TRUE(WaitSeen(n + 1, 2000));
    Click(Controls[StopButtonIndex]);
    ShowWindow(H.window, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(H.window));
    ASSERT_TRUE(WaitSeen(n + 2, 3000));
    EXPECT_EQ("/api/connector/stop", Seen()[n + 1].path);
    // Its result asks for a poll at once, but not while minimised.
    Pump(800);
    Advance(5000);
    Pump(800);
    EXPECT_EQ(n + 2, SeenCount());
    ShowWindow(H.window, SW_RESTORE);
    EXPECT_TRUE(WaitSeen(n + 3, 1500));
    EXPECT_EQ("GET", Seen()[n + 2].method);
}

WINDOW_TEST(CountdownRunsAndExpiresWhileMinimised)
{
    StartConnector(CodeDoc(21, 65000));
    OpenWindow();
    ASSERT_TRUE(WaitApplied(ONLINE_PILL));
    ASSERT_TRUE(PumpUntil([] { return TextOf(Controls[PairingCodeLabelIndex]).find(L"482913") != std::wstring::npos; },
                          3000));
    ASSERT_TRUE(IsShown(Controls[QrViewIndex]));
    ShowWindow(H.window, SW_MINIMIZE);
    Pump(300);
    size_t n = SeenCount();
    Advance(30000, 1);
    Pump(500);
    std::wstring label = TextOf(Controls[PairingCodeLabelIndex]);
    EXPECT_NE(std::wstring::npos, label.find(L"剩余 0:3")) << "label after 30 s";
    Advance(40000, 1);
    Pump(500);
    EXPECT_TRUE(TextOf(Controls[PairingCodeLabelIndex]).empty());
    EXPECT_EQ(EXPIRED_PLACEHOLDER, TextOf(Controls[QrPlaceholderIndex]));
    EXPECT_FALSE(IsShown(Controls[QrViewIndex]));
    EXPECT_EQ(n, SeenCount());
    EXPECT_EQ(0u, ControllerStateForTest()->nextPollAt);
    SetDocument(Online());
    ShowWindow(H.window, SW_RESTORE);
    EXPECT_TRUE(WaitSeen(n + 1, 1500));
}

WINDOW_TEST(StopEventWhileActionOutstandingClosesAtNextTick)
{
    StartConnector(Online());
    OpenWindow();
    ASSERT_TRUE(WaitApplied(ONLINE_PILL));
    Pump(300);
    QueueActionAnswer(Answer(200, 3000));
    size_t n = SeenCount();
    Click(Controls[StopButtonIndex]);
    ASSERT_TRUE(WaitSeen(n + 1, 2000));
    WatchClosing();
    uint64_t setAt = GetTickCount64();
    SetEvent(H.stopEvent);
    ASSERT_TRUE(PumpUntil([] { return !IsWindow(H.window) && H.quitSeen; }, 5000));
    ASSERT_NE(0u, H.closingAt);
    EXPECT_LT(H.closingAt - setAt, 500u);
    EXPECT_EQ(n + 1, SeenCount());
}
