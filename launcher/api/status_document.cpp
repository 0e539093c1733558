// ParseStatusDocument: splits the 15-line status document in place and decides, all or nothing, whether
// the window accepts it. Called by the controller tick for every Status result with status 200. Works in
// the response buffer itself and allocates nothing; the same file builds natively for the sanitizer
// tests, the fuzzer and the benchmark.
#include "api/status_document.h"

#include <stdint.h>
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
// most of a large document, without a second pass over it.
#if defined(__SSE2__)
// Sixteen bytes at a time, and from the first 128-byte boundary on whole aligned groups of 128 bytes
// until the group that holds the line end. SSE2 is part of every x86-64 processor, so the executable and
// the native benchmark run this same code without a processor check. No load crosses a page boundary
// (aligned ones cannot; the one unaligned load checks first), so reading past the terminating zero, up
// to the end of its group, cannot fault; the address sanitizer cannot know that and leaves the three
// functions that load alone.
enum { PageBytes = 4096, Block = 16, GroupBlocks = 8, GroupBytes = Block * GroupBlocks };

// A zero byte in the result for each byte of v that is a line feed or zero: x is one of them exactly when
// min(x, x ^ '\n') is zero.
inline __m128i LineEnds(__m128i v)
{
    return _mm_min_epu8(v, _mm_xor_si128(v, _mm_set1_epi8('\n')));
}

// Each byte minus '0': 0 or 1 for a module byte; any other byte has a bit above bit 0 set (a line end
// wraps around).
inline __m128i ModuleOffsets(__m128i v)
{
    return _mm_sub_epi8(v, _mm_set1_epi8('0'));
}

// Non-zero when every byte of the 128-byte group at g is '0' or '1'. Written out, so that every compiler
// gives the same eight independent loads.
__attribute__((no_sanitize("address"))) inline int GroupIsModules(const __m128i* g)
{
    __m128i a = _mm_or_si128(ModuleOffsets(_mm_load_si128(g)), ModuleOffsets(_mm_load_si128(g + 1)));
    __m128i b = _mm_or_si128(ModuleOffsets(_mm_load_si128(g + 2)), ModuleOffsets(_mm_load_si128(g + 3)));
    __m128i c = _mm_or_si128(ModuleOffsets(_mm_load_si128(g + 4)), ModuleOffsets(_mm_load_si128(g + 5)));
    __m128i d = _mm_or_si128(ModuleOffsets(_mm_load_si128(g + 6)), ModuleOffsets(_mm_load_si128(g + 7)));
    __m128i stray = _mm_and_si128(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d)), _mm_set1_epi8((char)0xFE));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(stray, _mm_setzero_si128())) == 0xFFFF;
}

// Non-zero when the 128-byte group at g holds a line feed or zero.
__attribute__((no_sanitize("address"))) inline int GroupHasLineEnd(const __m128i* g)
{
    __m128i a = _mm_min_epu8(LineEnds(_mm_load_si128(g)), LineEnds(_mm_load_si128(g + 1)));
    __m128i b = _mm_min_epu8(LineEnds(_mm_load_si128(g + 2)), LineEnds(_mm_load_si128(g + 3)));
    __m128i c = _mm_min_epu8(LineEnds(_mm_load_si128(g + 4)), LineEnds(_mm_load_si128(g + 5)));
    __m128i d = _mm_min_epu8(LineEnds(_mm_load_si128(g + 6)), LineEnds(_mm_load_si128(g + 7)));
    __m128i ends = _mm_min_epu8(_mm_min_epu8(a, b), _mm_min_epu8(c, d));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(ends, _mm_setzero_si128())) != 0;
}

__attribute__((no_sanitize("address"))) char* ScanLine(char* p, int* onlyModules)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i aboveBit0 = _mm_set1_epi8((char)0xFE);
    int modules = 1;
    // The first block starts at p itself, so that a short line costs one step; close to the end of a
    // page, byte by byte up to the next block instead.
    int unaligned = ((uintptr_t)p & (PageBytes - 1)) <= PageBytes - Block;
    for (; !unaligned && ((uintptr_t)p & (Block - 1)) != 0; ++p) {
        unsigned char c = (unsigned char)*p;
        if (c == '\n' || c == 0) {
            *onlyModules = modules;
            return p;
        }
        modules &= (c | 1) == '1';
    }
    for (;;) {
        if (!unaligned && ((uintptr_t)p & (GroupBytes - 1)) == 0) {
            // Whole groups of module bytes (the QR matrix), or of any other bytes, up to the group that
            // holds something else: the line end, or in a module run the first other byte.
            const __m128i* g = (const __m128i*)p;
            if (modules) {
                while (GroupIsModules(g)) g += GroupBlocks;
            } else {
                while (!GroupHasLineEnd(g)) g += GroupBlocks;
            }
            p = (char*)g;
        }
        __m128i v = unaligned ? _mm_loadu_si128((const __m128i*)p) : _mm_load_si128((const __m128i*)p);
        __m128i d = _mm_and_si128(ModuleOffsets(v), aboveBit0);
        unsigned moduleMask = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(d, zero));
        unsigned endMask = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(LineEnds(v), zero));
        if (endMask) {
            unsigned before = (endMask & (0u - endMask)) - 1;  // the bytes ahead of the first line end
            *onlyModules = modules && (moduleMask & before) == before;
            return p + __builtin_ctz(endMask);
        }
        modules = modules && moduleMask == 0xFFFF;
        if (unaligned) {
            // Go on at the next aligned block; the bytes up to it have been looked at.
            p = (char*)(((uintptr_t)p + Block) & ~(uintptr_t)(Block - 1));
            unaligned = 0;
        } else {
            p += Block;
        }
    }
}
#else
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
#endif

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
    if ((uint64_t)matrix.length != (uint64_t)(n * n) || !matrix.onlyModules) return 0;
    // 14. A positive expiry.
    snapshot->matrixSize = (int32_t)n;
    snapshot->codeExpiry = DecimalValue(expiry);
    if (snapshot->codeExpiry <= 0) return 0;
    // 15.
    return 1;
}
