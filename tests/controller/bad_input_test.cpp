// A connector that misbehaves (slow, dripping, resetting, alternating good and bad documents, redirecting):
// the window never has two requests outstanding, answers messages about as fast as the baseline window
// meanwhile (see AnswerProbe in the harness) and never shows part of a rejected document.
#include <atomic>
#include "harness.h"
#include "texts.h"
#include "ui/window_state.h"

// Each request may begin only once the previous one has had its whole scripted answer: the window
// starts the next request only after taking the previous result.
static void ExpectOneAtATime(const std::vector<SeenRequest>& seen)
{
    for (size_t i = 1; i < seen.size(); ++i)
        EXPECT_GE(seen[i].realAt + 15, seen[i - 1].realAt + seen[i - 1].busyMs) << "request " << i;
}

static void RunMisbehaving(const std::function<void(LoopbackAnswer*)>& hook, uint64_t simulatedMs,
                           const std::function<void()>& eachStep = nullptr)
{
    {
        std::lock_guard<std::mutex> guard(H.connector.lock);
        H.connector.statusHook = hook;
    }
    AnswerProbe probe;
    StartAnswerProbe(&probe);
    RunSimulated(simulatedMs, eachStep);
    StopAnswerProbe(&probe);
    ExpectAnswersLikeTheBaseline(probe);
    {
        std::lock_guard<std::mutex> guard(H.connector.lock);
        H.connector.statusHook = nullptr;
    }
}

WINDOW_TEST(SlowAndDrippingConnector)
{
    Doc doc;
    doc.state = "online";
    StartConnector(doc);
    OpenWindow();
    ASSERT_TRUE(WaitApplied(ONLINE_PILL));
    std::atomic<int> n{0};
    size_t before = SeenCount();
    RunMisbehaving([&](LoopbackAnswer* answer) {
        if (n++ % 2) {
            answer->delayMs = 2500;
        } else {
            answer->dripChunkBytes = 64;
            answer->dripDelayMs = 40;
        }
    }, 30000);
    std::vector<SeenRequest> seen = Seen();
    seen.erase(seen.begin(), seen.begin() + before);
    EXPECT_GE(seen.size(), 4u);
    ExpectOneAtATime(seen);
    EXPECT_EQ(ONLINE_PILL, TextOf(Controls[StatusPillIndex]));
}

WINDOW_TEST(ResettingConnector)
{
    StartConnector(Doc{});
    OpenWindow();
    ASSERT_TRUE(WaitApplied(IDLE_PILL));
    std::atomic<int> n{0};
    size_t before = SeenCount();
    RunMisbehaving([&](LoopbackAnswer* answer) {
        switch (n++ % 3) {
        case 0:  // half a body, then a reset
            answer->closeAfterBodyBytes = 40;
            answer->resetOnClose = 1;
            break;
        case 1:  // reset before any answer
            answer->neverAnswer = 1;
            answer->holdMs = 0;
            answer->resetOnClose = 1;
            break;
        default:  // half a body, then an orderly close
            answer->closeAfterBodyBytes = 100;
            break;
        }
    }, 14000);
    std::vector<SeenRequest> seen = Seen();
    seen.erase(seen.begin(), seen.begin() + before);
    EXPECT_GE(seen.size(), 5u);
    ExpectOneAtATime(seen);
    EXPECT_EQ(UNREACHABLE_PILL, TextOf(Controls[StatusPillIndex]));
}

WINDOW_TEST(AlternatingGoodAndBadDocumentsNeverShowPartOfOne)
{
    Doc good;
    good.state = "online";
    good.message = "完整的状态";
    StartConnector(good);
    OpenWindow();
    ASSERT_TRUE(WaitApplied(ONLINE_PILL));
    Doc bad;
    bad.state = "error";
    bad.deviceName = "残缺的名字";
    bad.message = "不完整的状态";
    bad.relay = "thirdparty";
    const std::string full = Render(bad);
    const std::string badVariants[] = {
        full + "\n",                                      // a sixteenth line
        full.substr(0, full.size() - 1),                  // no final line feed
        "tovix-connector-desktop/2\nerror\n残缺的名字\n",  // cut short
    };
    std::atomic<int> n{0};
    int partShown = 0;
    int goodShown = 0;
    RunMisbehaving([&](LoopbackAnswer* answer) {
        int i = n++;
        if (i % 2)
            answer->body = badVariants[(i / 2) % 3];
    }, 16000, [&] {
        std::wstring message = TextOf(Controls[MessageLabelIndex]);
        partShown += TextOf(Controls[StatusPillIndex]) == ERROR_PILL || message == L"不完整的状态" ||
                     TextOf(Controls[DeviceNameEditIndex]) == L"残缺的名字" ||
                     SendMessageW(Controls[RelayComboIndex], CB_GETCURSEL, 0, 0) == 1;
        goodShown += message == L"完整的状态";
    });
    EXPECT_EQ(0, partShown);
    EXPECT_GT(goodShown, 0);
    EXPECT_GE(n.load(), 6);
}

WINDOW_TEST(RedirectingConnectorIsNotFollowed)
{
    StartConnector(Doc{});
    OpenWindow();
    ASSERT_TRUE(WaitApplied(IDLE_PILL));
    size_t before = SeenCount();
    RunMisbehaving([](LoopbackAnswer* answer) {
        answer->status = 307;
        answer->headers = "Location: /api/connector/desktop?moved=1\r\n";
    }, 10000);
    std::vector<SeenRequest> seen = Seen();
    seen.erase(seen.begin(), seen.begin() + before);
    EXPECT_GE(seen.size(), 4u);
    for (const SeenRequest& r : seen)
        EXPECT_EQ(STATUS_PATH, r.path);
    ExpectOneAtATime(seen);
    EXPECT_EQ(UNREACHABLE_PILL, TextOf(Controls[StatusPillIndex]));
}
