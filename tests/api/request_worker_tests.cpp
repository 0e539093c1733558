// The request worker end to end: real WinHTTP against the scripted loopback server on 127.0.0.1. Each
// request goes through StartRequest, a worker thread, ResultMailbox and a WM_CONNECTOR_RESULT posted to a
// message-only window of the test thread, exactly as the window controller receives it.
#include <gtest/gtest.h>

#include <windows.h>

#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "../native/status_documents.h"
#include "api/connector_secret.h"
#include "api/request_worker.h"
#include "api/status_document.h"
#include "json_check.h"
#include "loopback_server.h"
#include "start_body_expect.h"

namespace {

const char UserAgent[] = "Tovix Mobile Connector";

struct Outcome {
    WorkerRequest* record;  // taken out of ResultMailbox when the message came; null otherwise
    int messages;           // WM_CONNECTOR_RESULT messages seen
    uint64_t elapsedMs;     // from StartRequest to the message
};

class RequestWorker : public ::testing::Test {
protected:
    static LoopbackServer* server;
    static HWND window;

    static void SetUpTestSuite()
    {
        server = StartLoopbackServer(0);
        ASSERT_NE(server, nullptr);
        ASSERT_TRUE(OpenConnectorSession(LoopbackPort(server)));
        window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        ASSERT_NE(window, nullptr);
    }

    static void TearDownTestSuite()
    {
        DestroyWindow(window);
        StopLoopbackServer(server);
        server = nullptr;
    }

    void SetUp() override
    {
        ASSERT_NE(server, nullptr);
        SetLoopbackDefaultAnswer(server, LoopbackAnswer());
        ClearLoopbackRequests(server);
        ASSERT_EQ(ResultMailbox.load(), nullptr);
    }

    void TearDown() override
    {
        // Every test takes its results; a leftover would be another test's.
        EXPECT_EQ(ResultMailbox.exchange(nullptr), nullptr);
    }

    // Starts one request and pumps the test thread's messages until the worker's message arrives.
    static Outcome Perform(int32_t kind, const wchar_t* name = L"", int32_t relay = 0, uint32_t timeoutMs = 10000)
    {
        Outcome o = {nullptr, 0, 0};
        uint64_t start = GetTickCount64();
        if (!StartRequest(window, kind, name, relay)) {
            ADD_FAILURE() << "StartRequest failed";
            return o;
        }
        while (!o.messages) {
            uint64_t now = GetTickCount64();
            if (now - start >= timeoutMs) break;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, (DWORD)(timeoutMs - (now - start)), QS_ALLINPUT);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.hwnd == window && msg.message == WM_CONNECTOR_RESULT) {
                    EXPECT_EQ(msg.wParam, 0u);
                    EXPECT_EQ(msg.lParam, 0);
                    // The record is published before the message is posted.
                    o.record = ResultMailbox.exchange(nullptr);
                    EXPECT_NE(o.record, nullptr);
                    o.messages++;
                    o.elapsedMs = GetTickCount64() - start;
                } else {
                    DispatchMessageW(&msg);
                }
            }
        }
        if (!o.messages) ADD_FAILURE() << "no WM_CONNECTOR_RESULT within " << timeoutMs << " ms";
        return o;
    }

    static LoopbackRequest OnlyRequest()
    {
        EXPECT_TRUE(WaitForLoopbackRequests(server, 1, 2000));
        std::vector<LoopbackRequest> seen = LoopbackRequests(server);
        EXPECT_EQ(seen.size(), 1u);
        return seen.empty() ? LoopbackRequest() : seen[0];
    }

    static std::string Origin() { return "http://127.0.0.1:" + std::to_string(LoopbackPort(server)); }
};

LoopbackServer* RequestWorker::server = nullptr;
HWND RequestWorker::window = nullptr;

int AllZero(const char* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (p[i]) return 0;
    return 1;
}

LoopbackAnswer Answer(int status, const std::string& body)
{
    LoopbackAnswer a;
    a.status = status;
    a.body = body;
    return a;
}

// Distinct non-zero bytes, so that a lost, doubled or moved piece shows.
std::string PatternBody(size_t size)
{
    std::string s(size, 'x');
    for (size_t i = 0; i < size; ++i) s[i] = (char)(1 + (i * 131 + i / 251) % 255);
    return s;
}

TEST_F(RequestWorker, StatusIsAPlainGetWithTheAgentAndNothingAdded)
{
    QueueLoopbackAnswer(server, Answer(200, JoinDocument(IdleDocumentLines())));
    Outcome o = Perform(Status);
    ASSERT_NE(o.record, nullptr);
    EXPECT_EQ(o.record->statusCode, 200u);
    StatusSnapshot snapshot;
    EXPECT_TRUE(ParseStatusDocument(o.record->body, &snapshot));
    FreeWorkerRequest(o.record);

    LoopbackRequest r = OnlyRequest();
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.path, "/api/connector/desktop");
    ASSERT_NE(FindLoopbackHeader(r, "User-Agent"), nullptr);
    EXPECT_EQ(*FindLoopbackHeader(r, "User-Agent"), UserAgent);
    EXPECT_EQ(FindLoopbackHeader(r, "Content-Type"), nullptr);
    EXPECT_EQ(FindLoopbackHeader(r, "Origin"), nullptr);
    EXPECT_EQ(FindLoopbackHeader(r, "Authorization"), nullptr) << "no secret is published";
    const std::string* length = FindLoopbackHeader(r, "Content-Length");
    EXPECT_TRUE(length == nullptr || *length == "0") << r.rawHead;
    EXPECT_EQ(FindLoopbackHeader(r, "Transfer-Encoding"), nullptr);
    EXPECT_TRUE(r.body.empty());
}

struct PostCase {
    int32_t kind;
    const char* path;
};

const PostCase EmptyBodyPosts[] = {
    {Stop, "/api/connector/stop"},
    {Detect, "/api/connector/desktop/detect"},
    {PairingReset, "/api/connector/pairing/reset"},
};

TEST_F(RequestWorker, StopDetectAndPairingResetPostExactlyAnEmptyObjectWithTheTwoHeaders)
{
    for (const PostCase& c : EmptyBodyPosts) {
        ClearLoopbackRequests(server);
        // A large answer body: POST answers are never read, so it must neither matter nor show up.
        QueueLoopbackAnswer(server, Answer(200, std::string(100000, 'z')));
        Outcome o = Perform(c.kind);
        ASSERT_NE(o.record, nullptr);
        EXPECT_EQ(o.record->statusCode, 200u) << c.path;
        EXPECT_TRUE(AllZero(o.record->body, sizeof o.record->body)) << c.path;
        FreeWorkerRequest(o.record);

        LoopbackRequest r = OnlyRequest();
        EXPECT_EQ(r.method, "POST");
        EXPECT_EQ(r.path, c.path);
        EXPECT_EQ(r.body, "{}") << c.path;
        ASSERT_NE(FindLoopbackHeader(r, "User-Agent"), nullptr);
        EXPECT_EQ(*FindLoopbackHeader(r, "User-Agent"), UserAgent);
        EXPECT_EQ(CountLoopbackHeader(r, "Content-Type"), 1u) << r.rawHead;
        EXPECT_EQ(CountLoopbackHeader(r, "Origin"), 1u) << r.rawHead;
        ASSERT_NE(FindLoopbackHeader(r, "Content-Type"), nullptr);
        EXPECT_EQ(*FindLoopbackHeader(r, "Content-Type"), "application/json");
        ASSERT_NE(FindLoopbackHeader(r, "Origin"), nullptr);
        EXPECT_EQ(*FindLoopbackHeader(r, "Origin"), Origin()) << "the port of the connection";
        ASSERT_NE(FindLoopbackHeader(r, "Content-Length"), nullptr);
        EXPECT_EQ(*FindLoopbackHeader(r, "Content-Length"), "2");
    }
}

// While a connector secret is published (as a supervisor publishes it), every kind of request carries
// it as one Bearer Authorization header, beside the headers of its kind; once it is withdrawn, none does.
// The secret is compared, never printed.
TEST_F(RequestWorker, EveryRequestCarriesThePublishedSecret)
{
    wchar_t secret[ConnectorSecretUnits];
    HANDLE published = PublishNewConnectorSecret(secret);
    ASSERT_NE(published, nullptr);
    const std::string expected = "Bearer " + std::string(secret, secret + ConnectorSecretChars);
    for (int32_t kind : {Status, Start, Stop, Detect, PairingReset}) {
        SCOPED_TRACE(kind);
        ClearLoopbackRequests(server);
        QueueLoopbackAnswer(server, Answer(404, ""));
        FreeWorkerRequest(Perform(kind).record);
        LoopbackRequest r = OnlyRequest();
        EXPECT_EQ(CountLoopbackHeader(r, "Authorization"), 1u);
        const std::string* authorization = FindLoopbackHeader(r, "Authorization");
        EXPECT_TRUE(authorization && *authorization == expected);
        EXPECT_EQ(CountLoopbackHeader(r, "Origin"), kind == Status ? 0u : 1u);
    }
    CloseHandle(published);
    SecureZeroMemory(secret, sizeof secret);
    ClearLoopbackRequests(server);
    QueueLoopbackAnswer(server, Answer(404, ""));
    FreeWorkerRequest(Perform(Stop).record);
    EXPECT_EQ(FindLoopbackHeader(OnlyRequest(), "Authorization"), nullptr) << "withdrawn";
}

struct StartCase {
    const wchar_t* name;
    int32_t relay;
    const char* body;
};

std::wstring Repeat(const wchar_t* unit, int times)
{
    std::wstring s;
    for (int i = 0; i < times; ++i) s += unit;
    return s;
}

const StartCase StartCases[] = {
    {L"Ann's \"PC\"", 0, "{\"deviceName\":\"Ann's \\\"PC\\\"\",\"relayProvider\":\"quorbelapi\"}"},
    {L"C:\\Users\\ann", 1, "{\"deviceName\":\"C:\\\\Users\\\\ann\",\"relayProvider\":\"thirdparty\"}"},
    {L"a\tb", 0, "{\"deviceName\":\"ab\",\"relayProvider\":\"quorbelapi\"}"},
    {L"line\r\nbreak\n", 0, "{\"deviceName\":\"linebreak\",\"relayProvider\":\"quorbelapi\"}"},
    {L"\x01\x1F\x7F", 0, "{\"deviceName\":\"\x7F\",\"relayProvider\":\"quorbelapi\"}"},
    {L"", 0, "{\"deviceName\":\"\",\"relayProvider\":\"quorbelapi\"}"},
    {L"", 1, "{\"deviceName\":\"\",\"relayProvider\":\"thirdparty\"}"},
    {L"\x5F20\x4E09\x7684\x7535\x8111", 1,
     "{\"deviceName\":\"\xE5\xBC\xA0\xE4\xB8\x89\xE7\x9A\x84\xE7\x94\xB5\xE8\x84\x91\",\"relayProvider\":\"thirdparty\"}"},
    {L"caf\xE9 \xD83D\xDE00", 0, "{\"deviceName\":\"caf\xC3\xA9 \xF0\x9F\x98\x80\",\"relayProvider\":\"quorbelapi\"}"},
};

TEST_F(RequestWorker, StartSendsTheNameEscapedAndTheRelay)
{
    for (const StartCase& c : StartCases) {
        ClearLoopbackRequests(server);
        Outcome o = Perform(Start, c.name, c.relay);
        ASSERT_NE(o.record, nullptr);
        EXPECT_EQ(o.record->statusCode, 200u);
        FreeWorkerRequest(o.record);

        LoopbackRequest r = OnlyRequest();
        EXPECT_EQ(r.method, "POST");
        EXPECT_EQ(r.path, "/api/connector/start");
        EXPECT_EQ(r.body, c.body);
        EXPECT_TRUE(CheckJson(r.body, nullptr, nullptr)) << r.body;
        ASSERT_NE(FindLoopbackHeader(r, "Content-Type"), nullptr);
        EXPECT_EQ(*FindLoopbackHeader(r, "Content-Type"), "application/json");
        ASSERT_NE(FindLoopbackHeader(r, "Origin"), nullptr);
        EXPECT_EQ(*FindLoopbackHeader(r, "Origin"), Origin());
    }
}

TEST_F(RequestWorker, StartCutsTheNameToHundredUnitsAndACutPairBecomesReplacement)
{
    const std::wstring longName = Repeat(L"x", 150);
    Outcome o = Perform(Start, longName.c_str(), 0);
    ASSERT_NE(o.record, nullptr);
    FreeWorkerRequest(o.record);
    EXPECT_EQ(OnlyRequest().body, "{\"deviceName\":\"" + std::string(100, 'x') + "\",\"relayProvider\":\"quorbelapi\"}");

    // 99 units and then a pair: the cut at 100 keeps only its high surrogate.
    const std::wstring pairCut = Repeat(L"y", 99) + L"\xD83D\xDE00";
    ClearLoopbackRequests(server);
    o = Perform(Start, pairCut.c_str(), 1);
    ASSERT_NE(o.record, nullptr);
    FreeWorkerRequest(o.record);
    EXPECT_EQ(OnlyRequest().body,
              "{\"deviceName\":\"" + std::string(99, 'y') + "\xEF\xBF\xBD\",\"relayProvider\":\"thirdparty\"}");
}

// The in-process property test covers thousands of names; these go over the wire as well, with names of
// up to 130 units so that the cut to 100 is part of it.
TEST_F(RequestWorker, RandomNamesArriveAsValidJsonThatDecodesBack)
{
    std::mt19937 rng(7);
    const wchar_t pool[] = {L'a', L'Z', L' ', L'"', L'\\', L'\t', L'\r', L'\n', 0x01, 0x7F, 0xE9, 0x4E2D,
                            0xD83D, 0xDE00, 0xDBFF, 0xDC00, 0xFFFD, 0xFEFF};
    for (int i = 0; i < 12; ++i) {
        std::wstring name;
        size_t length = std::uniform_int_distribution<size_t>(0, 130)(rng);
        for (size_t k = 0; k < length; ++k)
            name += pool[std::uniform_int_distribution<size_t>(0, sizeof pool / sizeof pool[0] - 1)(rng)];
        ClearLoopbackRequests(server);
        Outcome o = Perform(Start, name.c_str(), i & 1);
        ASSERT_NE(o.record, nullptr);
        FreeWorkerRequest(o.record);
        LoopbackRequest r = OnlyRequest();
        std::vector<JsonMember> members;
        ASSERT_TRUE(CheckJson(r.body, &members, nullptr)) << r.body;
        ASSERT_EQ(members.size(), 2u);
        EXPECT_EQ(members[0].name, "deviceName");
        EXPECT_EQ(members[0].value, ExpectedNameUtf8(name.substr(0, DeviceNameMaxUnits)));
        EXPECT_EQ(members[1].name, "relayProvider");
        EXPECT_EQ(members[1].value, (i & 1) ? "thirdparty" : "quorbelapi");
    }
}

TEST_F(RequestWorker, RedirectsAreNotFollowedAndReachTheCallerAsTheirStatus)
{
    const int codes[] = {301, 302, 307};
    const int32_t kinds[] = {Status, Start, Stop};
    SetLoopbackDefaultAnswer(server, Answer(200, JoinDocument(IdleDocumentLines())));
    for (int code : codes) {
        for (int32_t kind : kinds) {
            ClearLoopbackRequests(server);
            LoopbackAnswer redirect = Answer(code, "moved");
            redirect.headers = "Location: " + Origin() + "/api/connector/desktop\r\n";
            QueueLoopbackAnswer(server, redirect);
            Outcome o = Perform(kind, L"pc", 0);
            ASSERT_NE(o.record, nullptr);
            EXPECT_EQ(o.record->statusCode, (uint32_t)code) << "kind " << kind;
            EXPECT_TRUE(AllZero(o.record->body, sizeof o.record->body));
            FreeWorkerRequest(o.record);
            Sleep(200);  // a followed redirect would have arrived by now
            EXPECT_EQ(LoopbackRequestCount(server), 1u) << code << " was followed";
        }
    }
}

TEST_F(RequestWorker, NotFoundLeavesTheBodyUnread)
{
    QueueLoopbackAnswer(server, Answer(404, JoinDocument(IdleDocumentLines())));
    Outcome o = Perform(Status);
    ASSERT_NE(o.record, nullptr);
    EXPECT_EQ(o.record->statusCode, 404u);
    EXPECT_TRUE(AllZero(o.record->body, sizeof o.record->body));
    FreeWorkerRequest(o.record);
}

struct BodyCase {
    const char* what;
    size_t size;
    int contentLength;      // 0: the body ends with the connection
    size_t dripChunkBytes;  // 0: all at once
    uint32_t expected;      // the status the worker reports
};

const BodyCase BodyCases[] = {
    {"36 000 bytes", 36000, 1, 0, 200},
    {"36 000 bytes without a length", 36000, 0, 0, 200},
    {"36 000 bytes in small slow pieces", 36000, 1, 4500, 200},
    {"1 byte", 1, 1, 0, 200},
    {"36 001 bytes", 36001, 1, 0, 0},
    {"36 001 bytes without a length", 36001, 0, 0, 0},
    {"36 001 bytes in pieces", 36001, 1, 3000, 0},
    {"200 000 bytes", 200000, 1, 0, 0},
};

TEST_F(RequestWorker, StatusBodyIsReadUpToTheLimitAndTerminated)
{
    for (const BodyCase& c : BodyCases) {
        std::string body = PatternBody(c.size);
        LoopbackAnswer a = Answer(200, body);
        a.sendContentLength = c.contentLength;
        a.dripChunkBytes = c.dripChunkBytes;
        a.dripDelayMs = c.dripChunkBytes ? 30 : 0;
        QueueLoopbackAnswer(server, a);
        Outcome o = Perform(Status);
        ASSERT_NE(o.record, nullptr) << c.what;
        EXPECT_EQ(o.record->statusCode, c.expected) << c.what;
        if (c.expected == 200) {
            EXPECT_EQ(memcmp(o.record->body, body.data(), c.size), 0) << c.what;
            EXPECT_EQ(o.record->body[c.size], 0) << c.what;
            EXPECT_EQ(strlen(o.record->body), c.size) << c.what;
        }
        FreeWorkerRequest(o.record);
    }
}

TEST_F(RequestWorker, TheLargestLegalDocumentArrivesAndIsAccepted)
{
    std::string document = LargestDocument();
    ASSERT_EQ(document.size(), 36000u);
    QueueLoopbackAnswer(server, Answer(200, document));
    Outcome o = Perform(Status);
    ASSERT_NE(o.record, nullptr);
    EXPECT_EQ(o.record->statusCode, 200u);
    StatusSnapshot snapshot;
    EXPECT_TRUE(ParseStatusDocument(o.record->body, &snapshot));
    EXPECT_EQ(snapshot.matrixSize, 177);
    FreeWorkerRequest(o.record);
}

TEST_F(RequestWorker, AZeroByteAnywhereInTheStatusBodyGivesStatusZero)
{
    std::string document = JoinDocument(IdleDocumentLines());
    const size_t positions[] = {0, 30, document.size() - 1};
    for (size_t at : positions) {
        std::string body = document;
        body[at] = '\0';
        QueueLoopbackAnswer(server, Answer(200, body));
        Outcome o = Perform(Status);
        ASSERT_NE(o.record, nullptr);
        EXPECT_EQ(o.record->statusCode, 0u) << "zero at " << at;
        FreeWorkerRequest(o.record);
    }
}

TEST_F(RequestWorker, AnEmptyStatusBodyIsStatus200AndAnEmptyText)
{
    QueueLoopbackAnswer(server, Answer(200, ""));
    Outcome o = Perform(Status);
    ASSERT_NE(o.record, nullptr);
    EXPECT_EQ(o.record->statusCode, 200u);
    EXPECT_EQ(o.record->body[0], 0);
    StatusSnapshot snapshot;
    EXPECT_FALSE(ParseStatusDocument(o.record->body, &snapshot));
    FreeWorkerRequest(o.record);
}

TEST_F(RequestWorker, AConnectionResetInTheMiddleOfTheBodyGivesStatusZero)
{
    LoopbackAnswer a = Answer(200, PatternBody(20000));
    a.dripChunkBytes = 5000;
    a.dripDelayMs = 20;
    a.closeAfterBodyBytes = 10000;
    a.resetOnClose = 1;
    QueueLoopbackAnswer(server, a);
    Outcome o = Perform(Status);
    ASSERT_NE(o.record, nullptr);
    // Windows reports the reset as a failed read (status 0). Wine, when the reset overtakes data it has
    // already buffered, may report a plain end of data instead; the record then holds only the part that
    // arrived, which no complete document can be, so the parser rejects it. Never the whole body.
    if (o.record->statusCode != 0u) {
        EXPECT_EQ(o.record->statusCode, 200u);
        EXPECT_LT(strlen(o.record->body), 20000u);
    }
    FreeWorkerRequest(o.record);
}

TEST_F(RequestWorker, NothingListeningEndsInStatusZeroAtOnceAndStillPublishes)
{
    uint16_t unused = FindUnusedLoopbackPort();
    ASSERT_NE(unused, 0);
    ASSERT_TRUE(OpenConnectorSession(unused));
    const int32_t kinds[] = {Status, Start, PairingReset};
    for (int32_t kind : kinds) {
        Outcome o = Perform(kind, L"pc", 0, 5000);
        ASSERT_NE(o.record, nullptr) << "kind " << kind;
        EXPECT_EQ(o.messages, 1);
        EXPECT_EQ(o.record->statusCode, 0u);
        EXPECT_LE(o.elapsedMs, 1500u) << "kind " << kind;
        EXPECT_TRUE(AllZero(o.record->body, sizeof o.record->body));
        FreeWorkerRequest(o.record);
    }
    ASSERT_TRUE(OpenConnectorSession(LoopbackPort(server)));
}

TEST_F(RequestWorker, AServerThatNeverAnswersIsGivenUpAfterTheReceiveLimit)
{
    LoopbackAnswer silent;
    silent.neverAnswer = 1;
    silent.holdMs = 60000;
    QueueLoopbackAnswer(server, silent);
    Outcome o = Perform(Status, L"", 0, 40000);
    ASSERT_NE(o.record, nullptr);
    EXPECT_EQ(o.record->statusCode, 0u);
    EXPECT_GE(o.elapsedMs, 19000u);
    EXPECT_LE(o.elapsedMs, 26000u);
    FreeWorkerRequest(o.record);
    EXPECT_EQ(LoopbackRequestCount(server), 1u);
}

}  // namespace
