// BuildStartBody checked in-process against a strict JSON reader: many random UTF-16 device names (lone
// surrogates, control characters, quotes, backslashes, characters outside the BMP) must each give a compact
// JSON object with exactly "deviceName" and "relayProvider", in that order, whose name decodes back to the
// original with the control characters removed and every lone surrogate replaced by U+FFFD.
#include <gtest/gtest.h>

#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "api/request_worker.h"
#include "json_check.h"
#include "start_body_expect.h"

namespace {

// First the reader itself: the property below is only as good as its refusals.
struct JsonCase {
    const char* text;
    int valid;
};

const JsonCase JsonCases[] = {
    {"{\"a\":\"b\"}", 1},
    {"{\"a\":\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\ud83d\\ude00\"}", 1},
    {" {\"a\" : [1, -0.5e+3, true, false, null, {}]} ", 1},
    {"\"\xE4\xB8\xAD\xF0\x9F\x98\x80\"", 1},
    {"{\"a\":\"b\"", 0},                  // unclosed
    {"{\"a\":\"b\"}x", 0},                // trailing bytes
    {"{\"a\":\"b\",}", 0},                // trailing comma
    {"{\"a\":\"b\tc\"}", 0},              // raw tab in a string
    {"{\"a\":\"b\nc\"}", 0},              // raw line feed in a string
    {"{\"a\":\"b\\x\"}", 0},              // unknown escape
    {"{\"a\":\"b\\\"}", 0},               // escaped closing quote leaves the string open
    {"{\"a\":\"\\ud83d\"}", 0},           // lone high surrogate escape
    {"{\"a\":\"\\ude00\"}", 0},           // lone low surrogate escape
    {"{\"a\":\"\xED\xA0\xBD\"}", 0},      // surrogate encoded in UTF-8
    {"{\"a\":\"\xC0\xA2\"}", 0},          // overlong quote
    {"{\"a\":\"\xE4\xB8\"}", 0},          // truncated sequence
    {"{\"a\":\"\xF4\x90\x80\x80\"}", 0},  // above U+10FFFF
    {"{\"a\":\"\xFF\"}", 0},
    {"{\"a\":01}", 0},                    // leading zero
    {"{a:\"b\"}", 0},                     // unquoted name
    {"{'a':'b'}", 0},
    {"", 0},
};

TEST(JsonCheck, AcceptsValidAndRefusesInvalidTexts)
{
    for (const JsonCase& c : JsonCases) EXPECT_EQ(CheckJson(c.text, nullptr, nullptr), c.valid) << c.text;
}

// One random code unit of a chosen class; never 0, which would end the name.
wchar_t RandomUnit(std::mt19937& rng)
{
    switch (std::uniform_int_distribution<int>(0, 9)(rng)) {
    case 0: return (wchar_t)std::uniform_int_distribution<int>(1, 0x1F)(rng);        // controls
    case 1: return L'"';
    case 2: return L'\\';
    case 3: return (wchar_t)std::uniform_int_distribution<int>(0xD800, 0xDBFF)(rng);  // high surrogate
    case 4: return (wchar_t)std::uniform_int_distribution<int>(0xDC00, 0xDFFF)(rng);  // low surrogate
    case 5: return (wchar_t)std::uniform_int_distribution<int>(0x80, 0xD7FF)(rng);
    case 6: return (wchar_t)std::uniform_int_distribution<int>(0xE000, 0xFFFF)(rng);
    case 7: return (wchar_t)0x7F;
    default: return (wchar_t)std::uniform_int_distribution<int>(0x20, 0x7E)(rng);
    }
}

// A name of 0..100 units; about a third of the characters come as proper surrogate pairs (non-BMP).
std::wstring RandomName(std::mt19937& rng)
{
    std::wstring name;
    size_t length = std::uniform_int_distribution<size_t>(0, DeviceNameMaxUnits)(rng);
    while (name.size() < length) {
        if (std::uniform_int_distribution<int>(0, 2)(rng) == 0 && name.size() + 2 <= length) {
            uint32_t cp = std::uniform_int_distribution<uint32_t>(0x10000, 0x10FFFF)(rng) - 0x10000;
            name += (wchar_t)(0xD800 + (cp >> 10));
            name += (wchar_t)(0xDC00 + (cp & 0x3FF));
        } else {
            name += RandomUnit(rng);
        }
    }
    return name;
}

TEST(StartBody, RandomNamesGiveValidJsonThatDecodesBackToTheName)
{
    const uint32_t seed = 20261209;
    std::mt19937 rng(seed);
    WorkerRequest* record = new WorkerRequest();
    for (int i = 0; i < 20000; ++i) {
        std::wstring name = RandomName(rng);
        int relay = i & 1;
        memset(record, 0, sizeof *record);
        record->kind = Start;
        wcsncpy(record->deviceName, name.c_str(), DeviceNameMaxUnits);
        record->thirdPartyRelay = relay;
        char out[StartBodyBytes];
        memset(out, 0x55, sizeof out);  // BuildStartBody must terminate what it writes
        BuildStartBody(record, out);
        ASSERT_NE(memchr(out, 0, sizeof out), nullptr) << "case " << i << " (seed " << seed << ")";
        std::string body(out);

        std::vector<JsonMember> members;
        int whitespace = 1;
        ASSERT_TRUE(CheckJson(body, &members, &whitespace)) << "case " << i << ": " << body;
        EXPECT_EQ(whitespace, 0) << body;
        ASSERT_EQ(members.size(), 2u) << body;
        EXPECT_EQ(members[0].name, "deviceName");
        EXPECT_EQ(members[1].name, "relayProvider");
        EXPECT_TRUE(members[0].isString && members[1].isString);
        EXPECT_EQ(members[0].value, ExpectedNameUtf8(name)) << "case " << i << " (seed " << seed << ")";
        EXPECT_EQ(members[1].value, relay ? "thirdparty" : "quorbelapi");
        if (HasFailure()) break;
    }
    delete record;
}

// 100 units of the widest kinds (escaped quotes and backslashes, 3-byte characters, lone surrogates that
// become the 3-byte U+FFFD) give the longest bodies; they stay within 15 + 300 + 31 bytes and stay valid.
TEST(StartBody, LongestNamesStayWellInsideTheBuffer)
{
    const wchar_t fills[] = {L'"', L'\\', 0x4E2D, 0xD83D};
    for (wchar_t fill : fills) {
        WorkerRequest* record = new WorkerRequest();
        for (int i = 0; i < DeviceNameMaxUnits; ++i) record->deviceName[i] = fill;
        char out[StartBodyBytes];
        BuildStartBody(record, out);
        std::vector<JsonMember> members;
        ASSERT_TRUE(CheckJson(out, &members, nullptr)) << out;
        EXPECT_LE(strlen(out), 346u);
        ASSERT_EQ(members.size(), 2u);
        EXPECT_EQ(members[0].value, ExpectedNameUtf8(std::wstring(DeviceNameMaxUnits, fill)));
        delete record;
    }
}

}  // namespace
