// ParseStatusDocument: splits the 15-line status document in place and decides, all or nothing, whether
// the window accepts it. Called by the controller tick for every Status result with status 200. Works in
// the response buffer itself and allocates nothing; the same file builds natively for the sanitizer
// tests, the fuzzer and the benchmark.
#include "api/status_document.h"

#include <stdint.h>
#include <string.h>

#include "api/connector_contract.h"

namespace {

enum { LineCount = 15 };

// Line numbers (1-based) of the lines that the checks look at.
enum {
    LineFormatTag = 1,
    LineState = 2,
    LineWorkbenchState = 4,
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
};

struct Line {
    const char* text;
    size_t length;
    int onlyModules;  // every byte is '0' or '1' (the empty line too)
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

// The first line feed or the terminating zero at or after p. *onlyModules tells whether every byte
// before it is '0' or '1', so that the split also decides the module check of the QR matrix, which is
// most of a large document, without a second pass over it. A plain loop: the document arrives once every
// two seconds, and the benchmark prints what one parse of the largest costs.
char* ScanLine(char* p, int* onlyModules)
{
    int modules = 1;
    for (;; ++p) {
        unsigned char c = (unsigned char)*p;
        if (c == '\n' || c == 0) {
            *onlyModules = modules;
            return p;
        }
        modules &= (c | 1) == '1';
    }
}

// The index of the keyword that the line equals, or -1.
int KeywordIndex(const Line& line, const char* const* keywords, int count)
{
    for (int i = 0; i < count; ++i)
        if (line.length == strlen(keywords[i]) && memcmp(line.text, keywords[i], line.length) == 0) return i;
    return -1;
}

}  // namespace

int ParseStatusDocument(char* body, StatusSnapshot* snapshot)
{
    // 1. Split. The scan stops at the terminating zero byte by itself, so each byte is searched once; a
    //    length (and a strlen pass) is not needed.
    Line lines[LineCount];
    char* cursor = body;
    for (int i = 0; i < LineCount; ++i) {
        char* feed = ScanLine(cursor, &lines[i].onlyModules);
        if (*feed != '\n') return 0;
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
    // 3.-5. Format tag, relay and connection state, compared exactly.
    if (!LINE_IS(formatTag, StatusFormatTag)) return 0;
    snapshot->relay = KeywordIndex(lines[LineRelay - 1], RelayKeywords, RelayProviderCount);
    if (snapshot->relay < 0) return 0;
    snapshot->connection = KeywordIndex(lines[LineState - 1], ConnectionKeywords, ConnectionStateCount);
    if (snapshot->connection < 0) return 0;
    const Line& workbench = lines[LineWorkbenchState - 1];
    snapshot->workbench = LINE_IS(workbench, WorkbenchReadyKeyword)      ? WorkbenchReady
                          : LINE_IS(workbench, WorkbenchCheckingKeyword) ? WorkbenchChecking
                                                                         : WorkbenchMissing;
    const Line& pairing = lines[LinePairingState - 1];
    snapshot->pairing = LINE_IS(pairing, PairingCodeKeyword)     ? PairingCode
                        : LINE_IS(pairing, PairingPairedKeyword) ? PairingPaired
                                                                 : PairingNone;
    // 6.-7. Without a pairing code the remaining lines are free.
    snapshot->matrixSize = 0;
    snapshot->codeExpiry = 0;
    if (snapshot->pairing != PairingCode) return 1;

    const Line& expiry = lines[LineCodeExpiry - 1];
    const Line& code = lines[LineCode - 1];
    const Line& sizeText = lines[LineMatrixSize - 1];
    const Line& matrix = lines[LineMatrix - 1];
    // 8. A code is only offered while online.
    if (snapshot->connection != ConnectionOnline) return 0;
    // 9.-11. The digit lines.
    if (sizeText.length > MatrixSizeMaxDigits || !AllDigits(sizeText)) return 0;
    if (expiry.length > CodeExpiryMaxDigits || !AllDigits(expiry)) return 0;
    if (code.length != CodeDigits || !AllDigits(code)) return 0;
    // 12. One of the 40 QR sizes 21, 25, ..., 177.
    int64_t n = DecimalValue(sizeText);
    if (n < QrMinModules || n > QrMaxModules || n % 4 != 1) return 0;
    // 13. N x N modules.
    if ((uint64_t)matrix.length != (uint64_t)(n * n) || !matrix.onlyModules) return 0;
    // 14. A positive expiry.
    snapshot->matrixSize = (int32_t)n;
    snapshot->codeExpiry = DecimalValue(expiry);
    if (snapshot->codeExpiry <= 0) return 0;
    // 15.
    return 1;
}
