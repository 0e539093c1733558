// ParseStatusDocument: splits the 15-line status document in place and decides, all or nothing, whether
// the window accepts it. Called by the controller tick for every Status result with status 200. Works in
// the response buffer itself and allocates nothing; the same file builds natively for the sanitizer
// tests, the fuzzer and the benchmark.
#include "api/status_document.h"

#include <string.h>

#include "api/connector_contract.h"

namespace {

enum { LineCount = 15 };

// Line numbers (1-based) of the lines that the checks look at.
enum {
    LineFormatTag = 1,
    LineState = 2,
    LinePairingState = 8,
    LineCodeExpiry = 9,
    LineCode = 10,
    LineMatrixSize = 11,
    LineMatrix = 12,
    LineRelay = 15,
};

enum {
    MatrixSizeMaxDigits = 3,
    CodeExpiryMaxDigits = 15,  // fifteen digits always fit a signed 64-bit value
    CodeDigits = 6,
    MatrixSizeMin = 21,
    MatrixSizeMax = 177,
};

struct Line {
    const char* text;
    size_t length;
};

int LineIs(const Line& line, const char* keyword, size_t keywordLength)
{
    return line.length == keywordLength && memcmp(line.text, keyword, keywordLength) == 0;
}

#define LINE_IS(line, keyword) LineIs((line), (keyword), sizeof(keyword) - 1)

int AllDigits(const Line& line)
{
    for (size_t i = 0; i < line.length; ++i)
        if (line.text[i] < '0' || line.text[i] > '9') return 0;
    return 1;
}

// Only for lines that AllDigits accepted and that are at most 15 digits long.
int64_t DecimalValue(const Line& line)
{
    int64_t value = 0;
    for (size_t i = 0; i < line.length; ++i) value = value * 10 + (line.text[i] - '0');
    return value;
}

// Bits of (byte XOR '0') ORed over the text. '0' and '1' differ from 0x30 only in bit 0, so the result
// has nothing above bit 0 exactly when every byte is '0' or '1'. Eight bytes at a time without a branch,
// so that the compiler vectorises the loop for whatever instruction set the function is compiled for.
inline __attribute__((always_inline)) uint64_t StrayModuleBits(const char* p, size_t length)
{
    const uint64_t zeros = 0x3030303030303030u;
    size_t words = length / 8;
    uint64_t stray = 0;
    for (size_t i = 0; i < words; ++i) {
        uint64_t w;
        memcpy(&w, p + i * 8, 8);
        stray |= w ^ zeros;
    }
    for (size_t i = words * 8; i < length; ++i) stray |= (uint64_t)((unsigned char)p[i] ^ '0');
    return stray;
}

uint64_t StrayModuleBitsBaseline(const char* p, size_t length)
{
    return StrayModuleBits(p, length);
}

// A 177 x 177 matrix is most of the document, and its check would cost several line searches with the
// baseline 16-byte vectors; with wider ones it stays close to one. Not on Windows: there GCC cannot keep
// 32-byte values aligned on the stack, and one check per 2-second poll needs no speed anyway.
#if defined(__x86_64__) && !defined(_WIN32)
#define WIDE_MODULE_CHECK 1
__attribute__((target("avx2"))) uint64_t StrayModuleBitsAvx2(const char* p, size_t length)
{
    return StrayModuleBits(p, length);
}

__attribute__((target("avx512f,avx512bw"))) uint64_t StrayModuleBitsAvx512(const char* p, size_t length)
{
    return StrayModuleBits(p, length);
}
#endif

// Every byte of the line is '0' or '1'.
int AllModules(const Line& line)
{
    const uint64_t lowBits = 0x0101010101010101u;
    uint64_t stray;
#ifdef WIDE_MODULE_CHECK
    static const int wide = __builtin_cpu_supports("avx512bw") ? 2 : __builtin_cpu_supports("avx2") ? 1 : 0;
    if (wide == 2) stray = StrayModuleBitsAvx512(line.text, line.length);
    else if (wide == 1) stray = StrayModuleBitsAvx2(line.text, line.length);
    else stray = StrayModuleBitsBaseline(line.text, line.length);
#else
    stray = StrayModuleBitsBaseline(line.text, line.length);
#endif
    return (stray & ~lowBits) == 0;
}

}  // namespace

int ParseStatusDocument(char* body, StatusSnapshot* snapshot)
{
    // 1. Split. strchr stops at the terminating zero byte by itself, so each byte is searched once and no
    //    search reads past the end; a length (and a strlen pass) is not needed.
    Line lines[LineCount];
    char* cursor = body;
    for (int i = 0; i < LineCount; ++i) {
        char* feed = strchr(cursor, '\n');
        if (!feed) return 0;
        *feed = '\0';
        lines[i].text = cursor;
        lines[i].length = (size_t)(feed - cursor);
        cursor = feed + 1;
    }
    // 2. Nothing after the fifteenth line feed.
    if (*cursor != '\0') return 0;

    const char** const fields[LineCount] = {
        &snapshot->formatTag,       &snapshot->state,      &snapshot->deviceName,     &snapshot->workbenchState,
        &snapshot->workbenchDetail, &snapshot->message,    &snapshot->projectCount,   &snapshot->pairingState,
        &snapshot->codeExpiryText,  &snapshot->codeText,   &snapshot->matrixSizeText, &snapshot->matrixText,
        &snapshot->newVersion,      &snapshot->updateLink, &snapshot->relayProvider,
    };
    for (int i = 0; i < LineCount; ++i) *fields[i] = lines[i].text;

    const Line& formatTag = lines[LineFormatTag - 1];
    const Line& state = lines[LineState - 1];
    const Line& relay = lines[LineRelay - 1];
    // 3.-5. Format tag, relay and connection state, compared exactly.
    if (!LINE_IS(formatTag, StatusFormatTag)) return 0;
    if (!LINE_IS(relay, RelayDefault) && !LINE_IS(relay, RelayThirdParty)) return 0;
    if (!LINE_IS(state, StateIdle) && !LINE_IS(state, StateConnecting) && !LINE_IS(state, StateOnline) &&
        !LINE_IS(state, StateOffline) && !LINE_IS(state, StateError))
        return 0;
    // 6.-7. Without a pairing code the remaining lines are free.
    snapshot->matrixSize = 0;
    snapshot->codeExpiry = 0;
    if (!LINE_IS(lines[LinePairingState - 1], PairingStateCode)) return 1;

    const Line& expiry = lines[LineCodeExpiry - 1];
    const Line& code = lines[LineCode - 1];
    const Line& sizeText = lines[LineMatrixSize - 1];
    const Line& matrix = lines[LineMatrix - 1];
    // 8. A code is only offered while online.
    if (!LINE_IS(state, StateOnline)) return 0;
    // 9.-11. The digit lines.
    if (sizeText.length > MatrixSizeMaxDigits || !AllDigits(sizeText)) return 0;
    if (expiry.length > CodeExpiryMaxDigits || !AllDigits(expiry)) return 0;
    if (code.length != CodeDigits || !AllDigits(code)) return 0;
    // 12. One of the 40 QR sizes 21, 25, ..., 177.
    int64_t n = DecimalValue(sizeText);
    if (n < MatrixSizeMin || n > MatrixSizeMax || n % 4 != 1) return 0;
    // 13. N x N modules.
    if ((uint64_t)matrix.length != (uint64_t)(n * n) || !AllModules(matrix)) return 0;
    // 14. A positive expiry.
    snapshot->matrixSize = (int32_t)n;
    snapshot->codeExpiry = DecimalValue(expiry);
    if (snapshot->codeExpiry <= 0) return 0;
    // 15.
    return 1;
}
