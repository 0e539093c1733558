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

// Every byte '0' or '1'. Those two differ from 0x30 only in bit 0, so XOR with 0x30 and OR over the line
// leave nothing above bit 0 exactly when the line is clean; the loop has no branch and vectorises.
int AllModules(const Line& line)
{
    const unsigned char* p = (const unsigned char*)line.text;
    unsigned char stray = 0;
    for (size_t i = 0; i < line.length; ++i) stray |= (unsigned char)(p[i] ^ '0');
    return (stray & ~1u) == 0;
}

}  // namespace

int ParseStatusDocument(char* body, StatusSnapshot* snapshot)
{
    // 1. Split. The body's length bounds every line search, so no search reads past its zero byte.
    Line lines[LineCount];
    char* cursor = body;
    char* const end = body + strlen(body);
    for (int i = 0; i < LineCount; ++i) {
        char* feed = (char*)memchr(cursor, '\n', (size_t)(end - cursor));
        if (!feed) return 0;
        *feed = '\0';
        lines[i].text = cursor;
        lines[i].length = (size_t)(feed - cursor);
        cursor = feed + 1;
    }
    // 2. Nothing after the fifteenth line feed.
    if (cursor != end) return 0;

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
