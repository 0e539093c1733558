// Device names from a fuzzer, end to end: each name is written into the real window's device-name box,
// StartButton is clicked, and the Start body that the scripted connector receives over real WinHTTP must
// be valid compact JSON of exactly the right shape whose name decodes back to what the box held (its
// first 100 code units, controls removed, lone surrogates as U+FFFD) and whose relay is the one chosen.
#include <random>
#include "harness.h"
#include "json_check.h"
#include "start_body_expect.h"
#include "ui/window_state.h"

namespace {

std::wstring FuzzedName(std::mt19937& rng)
{
    static const wchar_t pool[] = {L'"',    L'\\',   L'/',    L'{',    L'}',    L'a',    L'Z',    L'0',
                                   L' ',    L'\t',   L'\r',   L'\n',   0x01,    0x1F,    0x7F,    0x80,
                                   0xA0,    0x4E2D,  0x6587,  0xFFFD,  0xFEFF,  0x2028,  0x2029,  0xD83D,
                                   0xDE00,  0xDBFF,  0xDC00,  L'\'',   L'<',    L'&',    L'%',    L'u'};
    std::uniform_int_distribution<int> length(0, 130), pick(0, int(sizeof pool / sizeof pool[0]) - 1);
    std::wstring name;
    for (int n = length(rng); n > 0; --n) {
        if (rng() % 5 == 0) {  // a well-formed pair now and then
            name += wchar_t(0xD83D);
            name += wchar_t(0xDE00 + rng() % 64);
        } else {
            name += pool[pick(rng)];
        }
    }
    return name;
}

}  // namespace

WINDOW_TEST(FuzzedDeviceNamesGiveWellFormedStartBodies)
{
    Doc doc;  // idle, workbench ready: StartButton is enabled
    StartConnector(doc);
    OpenWindow();
    ASSERT_TRUE(WaitApplied(L"●  未连接"));

    const uint32_t seed = 7122026;
    std::mt19937 rng(seed);
    const int names = 60;
    for (int i = 0; i < names && !::testing::Test::HasFailure(); ++i) {
        SCOPED_TRACE("name " + std::to_string(i) + " (seed " + std::to_string(seed) + ")");
        ASSERT_TRUE(PumpUntil([] { return IsEnabled(Controls[StartButtonIndex]) && IsShown(Controls[StartButtonIndex]); }, 10000));
        std::wstring name = FuzzedName(rng);
        SetWindowTextW(Controls[DeviceNameEditIndex], name.c_str());
        int relay = int(rng() % 2);
        SendMessageW(Controls[RelayComboIndex], CB_SETCURSEL, WPARAM(relay), 0);
        wchar_t held[512] = {};
        GetWindowTextW(Controls[DeviceNameEditIndex], held, 512);
        std::wstring expected(held);
        if (expected.size() > 100)
            expected.resize(100);

        size_t posts = CountSeen("POST");
        Click(Controls[StartButtonIndex]);
        ASSERT_TRUE(PumpUntil([&] { return CountSeen("POST") > posts; }, 10000)) << "no Start sent";
        SeenRequest start = Seen().back();
        for (const SeenRequest& r : Seen())
            if (r.method == "POST")
                start = r;
        EXPECT_EQ(start.path, "/api/connector/start");

        std::vector<JsonMember> members;
        int whitespace = 1;
        ASSERT_TRUE(CheckJson(start.body, &members, &whitespace)) << start.body;
        EXPECT_EQ(whitespace, 0) << start.body;
        ASSERT_EQ(members.size(), 2u) << start.body;
        EXPECT_EQ(members[0].name, "deviceName");
        EXPECT_EQ(members[1].name, "relayProvider");
        EXPECT_TRUE(members[0].isString && members[1].isString) << start.body;
        EXPECT_EQ(members[0].value, ExpectedNameUtf8(expected)) << start.body;
        EXPECT_EQ(members[1].value, relay ? "thirdparty" : "quorbelapi") << start.body;
    }
    CloseHarness();
}
