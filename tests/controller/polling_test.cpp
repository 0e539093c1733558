// When the window asks the connector for its status: the first poll, minimised windows, the start-up
// grace period, failed and rejected documents, and the steady state.
#include "harness.h"
#include "texts.h"
#include "ui/clock.h"
#include "ui/window_state.h"

static std::vector<SeenRequest> Gets(size_t from = 0)
{
    std::vector<SeenRequest> gets;
    std::vector<SeenRequest> all = Seen();
    for (size_t i = from; i < all.size(); ++i)
        if (all[i].method == "GET")
            gets.push_back(all[i]);
    return gets;
}

// Consecutive polls in simulated time: never closer than 2 000 ms, and not much later than that either
// (one clock step and the round trip on top); over `elapsed` ms of the window's clock that makes one poll
// per 2 s.
static void ExpectPollEvery2s(const std::vector<SeenRequest>& gets, uint64_t elapsed)
{
    for (size_t i = 1; i < gets.size(); ++i) {
        uint64_t gap = gets[i].simAt - gets[i - 1].simAt;
        EXPECT_GE(gap, 2000u) << "poll " << i;
        EXPECT_LE(gap, 2600u) << "poll " << i;
    }
    EXPECT_LE(gets.size(), elapsed / 2000 + 1);
    EXPECT_GE(gets.size(), elapsed / 2600);
}

WINDOW_TEST(FirstTickPollsAtOnce)
{
    StartConnector(Doc{});
    OpenWindow();
    EXPECT_EQ(1, BackgroundCalls);
    // StartController's own tick started the poll: it reaches the connector without a message pumped.
    uint64_t end = GetTickCount64() + 3000;
    while (SeenCount() < 1 && GetTickCount64() < end)
        Sleep(10);
    std::vector<SeenRequest> seen = Seen();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ("GET", seen[0].method);
    EXPECT_EQ(STATUS_PATH, seen[0].path);
    EXPECT_TRUE(WaitApplied(IDLE_PILL));
}

WINDOW_TEST(MinimisedWindowPollsWhenRestored)
{
    StartConnector(Doc{});
    LoopbackAnswer unavailable;
    unavailable.status = 503;
    SetStatusAnswer(unavailable, 0);
    OpenWindow(SW_SHOWMINNOACTIVE);
    ASSERT_TRUE(IsIconic(H.window));
    Pump(1000);
    EXPECT_EQ(0u, SeenCount());
    // Restored long after the grace period: the very first failed poll shows the unreachable view.
    Advance(10500);
    Pump(600);
    EXPECT_EQ(0u, SeenCount());
    EXPECT_EQ(STARTING_PILL, TextOf(Controls[StatusPillIndex]));
    ShowWindow(H.window, SW_RESTORE);
    ASSERT_TRUE(WaitApplied(UNREACHABLE_PILL, 3000));
    EXPECT_EQ(1u, SeenCount());
}

WINDOW_TEST(ConnectorComingUpLateShowsOnlyStartUpTexts)
{
    uint16_t port = FindUnusedLoopbackPort();
    ASSERT_NE(0, port);
    H.server = nullptr;
    OpenWindow(SW_SHOWNORMAL, port);
    int wrongText = 0;
    auto startUpLook = [&] {
        std::wstring pill = TextOf(Controls[StatusPillIndex]);
        if (pill != STARTING_PILL && pill != IDLE_PILL)
            ++wrongText;
        if (pill == STARTING_PILL && TextOf(Controls[QrPlaceholderIndex]) != STARTING_PLACEHOLDER)
            ++wrongText;
        if (TextOf(Controls[RetryButtonIndex]) == RETRY_START_CONNECTOR)
            ++wrongText;
        return false;
    };
    PumpUntil(startUpLook, 3000);
    EXPECT_EQ(STARTING_PILL, TextOf(Controls[StatusPillIndex]));
    StartConnector(Doc{}, port);
    EXPECT_TRUE(PumpUntil([&] {
        startUpLook();
        return TextOf(Controls[StatusPillIndex]) == IDLE_PILL;
    }, 5000));
    EXPECT_EQ(0, wrongText);
}

WINDOW_TEST(NeverAnsweringConnector)
{
    StartConnector(Doc{});
    LoopbackAnswer reset;  // the connection is taken and dropped without a word
    reset.neverAnswer = 1;
    reset.holdMs = 0;
    reset.resetOnClose = 1;
    SetStatusAnswer(reset, 0);
    OpenWindow();
    // Inside the grace period failed polls are retried at the next timer tick (not at once), silently.
    uint64_t opened = GetTickCount64();
    ASSERT_TRUE(WaitSeen(3, 5000));
    EXPECT_LE(SeenCount(), (GetTickCount64() - opened) / 150 + 2);
    EXPECT_EQ(STARTING_PILL, TextOf(Controls[StatusPillIndex]));
    EXPECT_EQ(STARTING_PLACEHOLDER, TextOf(Controls[QrPlaceholderIndex]));

    // Still starting 8 s in; past 10 s the unreachable view.
    size_t seen = SeenCount();
    Advance(8000);
    ASSERT_TRUE(WaitSeen(seen + 2, 3000));
    EXPECT_EQ(STARTING_PILL, TextOf(Controls[StatusPillIndex]));
    Advance(2000);
    ASSERT_TRUE(WaitApplied(UNREACHABLE_PILL, 3000));
    EXPECT_EQ(L"无法读取本机连接状态", TextOf(Controls[WorkbenchLabelIndex]));
    EXPECT_EQ(RETRY_START_CONNECTOR, TextOf(Controls[RetryButtonIndex]));

    // Counted from the unreachable view on: the failed poll that brought it may have reached the
    // connector before the jump of 2 s above, so its time says nothing about the schedule after it.
    size_t before = SeenCount();
    uint64_t start = TickNow();
    RunSimulated(20000);
    std::vector<SeenRequest> gets = Gets(before);
    ExpectPollEvery2s(gets, TickNow() - start);
    EXPECT_EQ(UNREACHABLE_PILL, TextOf(Controls[StatusPillIndex]));
}

struct BadAnswer {
    const char* what;
    int status;
    std::string body;
    std::string headers;
};

WINDOW_TEST(AcceptedDocumentEndsGraceAndRejectedDocumentIsAFailedPoll)
{
    Doc good;
    std::string crlf = Render(good);
    for (size_t at = 0; (at = crlf.find('\n', at)) != std::string::npos; at += 2)
        crlf.insert(at, "\r");
    StartConnector(good);
    SetDocumentText(crlf);
    OpenWindow();
    ASSERT_TRUE(WaitSeen(3, 5000));
    EXPECT_EQ(STARTING_PILL, TextOf(Controls[StatusPillIndex]));
    SetDocument(good);
    ASSERT_TRUE(WaitApplied(IDLE_PILL));

    Doc codeWhileConnecting = CodeDoc(21, 60000);
    codeWhileConnecting.state = "connecting";
    Doc wrongTag;
    wrongTag.tag = "tovix-connector-desktop/1";
    Doc wrongRelay;
    wrongRelay.relay = "Thirdparty";
    std::string withZero = Render(good);
    withZero[3] = '\0';
    std::string full = Render(good);
    const BadAnswer bad[] = {
        {"carriage returns", 200, crlf, ""},
        {"14 lines", 200, full.substr(0, full.size() - 1), ""},
        {"16 lines", 200, full + "\n", ""},
        {"wrong tag", 200, Render(wrongTag), ""},
        {"relay keyword case", 200, Render(wrongRelay), ""},
        {"code while connecting", 200, Render(codeWhileConnecting), ""},
        {"empty body", 200, "", ""},
        {"zero byte", 200, withZero, ""},
        {"too long", 200, full + std::string(36001, 'x'), ""},
        {"status 404", 404, full, ""},
        {"status 500", 500, full, ""},
        {"redirect", 302, full, "Location: /api/connector/desktop?moved=1\r\n"},
    };
    // The grace period ended with the accepted document, long before its 10 s: from now on every failed
    // poll shows the unreachable view at once, and the next accepted one takes it away.
    for (const BadAnswer& row : bad) {
        SCOPED_TRACE(row.what);
        LoopbackAnswer answer;
        answer.status = row.status;
        answer.body = row.body;
        answer.headers = row.headers;
        SetStatusAnswer(answer, 0);
        Advance(2000);
        EXPECT_TRUE(WaitApplied(UNREACHABLE_PILL, 3000));
        SetStatusAnswer(LoopbackAnswer(), 1);
        Advance(2000);
        EXPECT_TRUE(WaitApplied(IDLE_PILL, 3000));
    }
    for (const SeenRequest& r : Seen())
        EXPECT_EQ(STATUS_PATH, r.path);
}

WINDOW_TEST(SteadyStateAsksEvery2sAndChangesNothing)
{
    Doc doc;
    doc.state = "online";
    doc.pairing = "paired";
    doc.message = "一切正常";
    StartConnector(doc);
    OpenWindow();
    ASSERT_TRUE(WaitApplied(ONLINE_PILL));
    RunSimulated(3000);
    size_t before = SeenCount();
    uint64_t start = TickNow();
    WatchScreen();
    RunSimulated(62000);
    std::vector<SeenRequest> gets = Gets(before);
    ExpectPollEvery2s(gets, TickNow() - start);
    EXPECT_GE(gets.size(), 30u);
    EXPECT_EQ(0, ScreenTextWrites());
    EXPECT_EQ(0, ScreenPaints());
    EXPECT_EQ(ONLINE_PILL, TextOf(Controls[StatusPillIndex]));
}
