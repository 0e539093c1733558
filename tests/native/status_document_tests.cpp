// ParseStatusDocument under AddressSanitizer and UndefinedBehaviorSanitizer: each case starts from a
// valid document, changes some lines (or the raw bytes) and states the verdict and the derived values.
// Every buffer is allocated to the exact size of the document plus its zero byte, so that a read past the
// terminator is an ASan report.
#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "api/status_document.h"
#include "snapshot_invariants.h"
#include "status_documents.h"

namespace {

struct Parsed {
    int accepted;
    StatusSnapshot snapshot;
    std::unique_ptr<char[]> buffer;  // keeps the snapshot's texts alive
    size_t size;
};

Parsed Parse(const std::string& document)
{
    Parsed p;
    p.size = document.size();
    p.buffer.reset(new char[document.size() + 1]);
    memcpy(p.buffer.get(), document.c_str(), document.size() + 1);
    memset(&p.snapshot, 0xA5, sizeof p.snapshot);
    p.accepted = ParseStatusDocument(p.buffer.get(), &p.snapshot);
    return p;
}

enum Base { Idle, Code21 };

struct LineEdit {
    int line;  // 1..15
    std::string text;
};

struct Case {
    const char* what;
    Base base;
    std::vector<LineEdit> edits;
    int accepted;
    int32_t matrixSize;  // checked when accepted
    int64_t codeExpiry;  // checked when accepted
};

std::string Modules(size_t n, char fill = '1')
{
    return std::string(n, fill);
}

std::string WithByte(std::string s, size_t at, char c)
{
    s[at] = c;
    return s;
}

const int64_t Expiry = 1893456000000;  // the code document's line 9

const std::vector<Case>& Cases()
{
    static const std::vector<Case> cases = {
        {"valid document without a code", Idle, {}, 1, 0, 0},
        {"valid document with a 21 x 21 code", Code21, {}, 1, 21, Expiry},
        // Line 1, the format tag.
        {"tag of another version", Idle, {{1, "tovix-connector-desktop/1"}}, 0, 0, 0},
        {"tag in another case", Idle, {{1, "Tovix-connector-desktop/2"}}, 0, 0, 0},
        {"tag with a trailing space", Idle, {{1, "tovix-connector-desktop/2 "}}, 0, 0, 0},
        {"tag with a leading space", Idle, {{1, " tovix-connector-desktop/2"}}, 0, 0, 0},
        {"empty tag", Idle, {{1, ""}}, 0, 0, 0},
        // Line 2, the state.
        {"state idle", Idle, {{2, "idle"}}, 1, 0, 0},
        {"state connecting", Idle, {{2, "connecting"}}, 1, 0, 0},
        {"state online", Idle, {{2, "online"}}, 1, 0, 0},
        {"state offline", Idle, {{2, "offline"}}, 1, 0, 0},
        {"state error", Idle, {{2, "error"}}, 1, 0, 0},
        {"state in another case", Idle, {{2, "Online"}}, 0, 0, 0},
        {"unknown state", Idle, {{2, "paused"}}, 0, 0, 0},
        {"empty state", Idle, {{2, ""}}, 0, 0, 0},
        {"state with a carriage return", Idle, {{2, "idle\r"}}, 0, 0, 0},
        // Line 15, the relay.
        {"relay thirdparty", Idle, {{15, "thirdparty"}}, 1, 0, 0},
        {"relay in another case", Idle, {{15, "Quorbelapi"}}, 0, 0, 0},
        {"relay with a trailing space", Idle, {{15, "quorbelapi "}}, 0, 0, 0},
        {"relay thirdparty in capitals", Idle, {{15, "THIRDPARTY"}}, 0, 0, 0},
        {"empty relay", Idle, {{15, ""}}, 0, 0, 0},
        // Free lines.
        {"empty free lines", Idle, {{3, ""}, {4, ""}, {5, ""}, {6, ""}, {7, ""}, {13, ""}, {14, ""}}, 1, 0, 0},
        {"any workbench state", Idle, {{4, "READY"}}, 1, 0, 0},
        {"free lines with spaces, tabs and CR", Idle, {{3, " a\tb\r"}, {6, "\r"}}, 1, 0, 0},
        {"non-UTF-8 free text is not this check's business", Idle, {{3, "\xFF\xFE"}}, 1, 0, 0},
        {"empty pairing lines without a code", Idle, {{9, ""}, {10, ""}, {11, ""}, {12, ""}}, 1, 0, 0},
        {"garbage pairing lines without a code", Idle, {{9, "-1"}, {10, "x"}, {11, "1000"}, {12, "2"}}, 1, 0, 0},
        {"paired", Idle, {{8, "paired"}}, 1, 0, 0},
        // Line 8 keyword case: "Code" is just another value.
        {"Code with a capital", Code21, {{8, "Code"}}, 1, 0, 0},
        {"CODE", Code21, {{8, "CODE"}}, 1, 0, 0},
        {"code with a trailing space", Code21, {{8, "code "}}, 1, 0, 0},
        {"Code with a capital and broken pairing lines", Code21, {{8, "Code"}, {11, "17"}, {9, "0"}}, 1, 0, 0},
        // A code needs "online".
        {"code while idle", Code21, {{2, "idle"}}, 0, 0, 0},
        {"code while connecting", Code21, {{2, "connecting"}}, 0, 0, 0},
        {"code while offline", Code21, {{2, "offline"}}, 0, 0, 0},
        {"code while in error", Code21, {{2, "error"}}, 0, 0, 0},
        {"the same while connecting without a code", Code21, {{2, "connecting"}, {8, "none"}}, 1, 0, 0},
        // Line 11, the size.
        {"size 17", Code21, {{11, "17"}, {12, Modules(17 * 17)}}, 0, 0, 0},
        {"size 021", Code21, {{11, "021"}}, 1, 21, Expiry},
        {"size 22", Code21, {{11, "22"}, {12, Modules(22 * 22)}}, 0, 0, 0},
        {"size 25", Code21, {{11, "25"}, {12, Modules(25 * 25)}}, 1, 25, Expiry},
        {"size 177", Code21, {{11, "177"}, {12, ModuleMatrix(177)}}, 1, 177, Expiry},
        {"size 178", Code21, {{11, "178"}, {12, Modules(178 * 178)}}, 0, 0, 0},
        {"size 181", Code21, {{11, "181"}, {12, Modules(181 * 181)}}, 0, 0, 0},
        {"size 1000", Code21, {{11, "1000"}, {12, Modules(1000 * 1000)}}, 0, 0, 0},
        {"size 0021 (four bytes)", Code21, {{11, "0021"}}, 0, 0, 0},
        {"size 1", Code21, {{11, "1"}, {12, "1"}}, 0, 0, 0},
        {"size 0", Code21, {{11, "0"}, {12, ""}}, 0, 0, 0},
        {"empty size", Code21, {{11, ""}, {12, ""}}, 0, 0, 0},
        {"size with a plus", Code21, {{11, "+21"}}, 0, 0, 0},
        {"size with a minus", Code21, {{11, "-21"}}, 0, 0, 0},
        {"size with a leading space", Code21, {{11, " 21"}}, 0, 0, 0},
        {"size with a trailing space", Code21, {{11, "21 "}}, 0, 0, 0},
        {"size in hex", Code21, {{11, "0x15"}}, 0, 0, 0},
        // Line 12, the modules.
        {"440 modules for 21", Code21, {{12, Modules(440)}}, 0, 0, 0},
        {"442 modules for 21", Code21, {{12, Modules(442)}}, 0, 0, 0},
        {"441 zeros", Code21, {{12, Modules(441, '0')}}, 1, 21, Expiry},
        {"a 2 among the modules", Code21, {{12, WithByte(ModuleMatrix(21), 200, '2')}}, 0, 0, 0},
        {"a space among the modules", Code21, {{12, WithByte(ModuleMatrix(21), 0, ' ')}}, 0, 0, 0},
        {"a carriage return ending the modules", Code21, {{12, WithByte(ModuleMatrix(21), 440, '\r')}}, 0, 0, 0},
        {"an 0xB0 among the modules", Code21, {{12, WithByte(ModuleMatrix(21), 7, '\xB0')}}, 0, 0, 0},
        {"an 0xB1 among the modules", Code21, {{12, WithByte(ModuleMatrix(21), 9, '\xB1')}}, 0, 0, 0},
        {"a p among the modules", Code21, {{12, WithByte(ModuleMatrix(21), 9, 'p')}}, 0, 0, 0},
        {"177 x 177 minus one", Code21, {{11, "177"}, {12, Modules(177 * 177 - 1)}}, 0, 0, 0},
        {"177 x 177 plus one", Code21, {{11, "177"}, {12, Modules(177 * 177 + 1)}}, 0, 0, 0},
        // Line 9, the expiry.
        {"expiry 0", Code21, {{9, "0"}}, 0, 0, 0},
        {"expiry 000", Code21, {{9, "000"}}, 0, 0, 0},
        {"empty expiry", Code21, {{9, ""}}, 0, 0, 0},
        {"expiry in the past", Code21, {{9, "1000"}}, 1, 21, 1000},
        {"expiry 000000000000001", Code21, {{9, "000000000000001"}}, 1, 21, 1},
        {"expiry of 15 nines", Code21, {{9, "999999999999999"}}, 1, 21, 999999999999999},
        {"expiry of 16 digits", Code21, {{9, "1000000000000000"}}, 0, 0, 0},
        {"expiry of 16 zeros and a one", Code21, {{9, "0000000000000001"}}, 0, 0, 0},
        {"expiry of 20 nines", Code21, {{9, "99999999999999999999"}}, 0, 0, 0},
        {"negative expiry", Code21, {{9, "-1893456000000"}}, 0, 0, 0},
        {"expiry with a space", Code21, {{9, "1893456000000 "}}, 0, 0, 0},
        {"expiry with a decimal point", Code21, {{9, "1893456000000.5"}}, 0, 0, 0},
        // Line 10, the code.
        {"code of 5 digits", Code21, {{10, "48291"}}, 0, 0, 0},
        {"code of 7 digits", Code21, {{10, "4829130"}}, 0, 0, 0},
        {"code with a letter", Code21, {{10, "48a913"}}, 0, 0, 0},
        {"code with a space", Code21, {{10, "48291 "}}, 0, 0, 0},
        {"empty code", Code21, {{10, ""}}, 0, 0, 0},
        {"code 000000", Code21, {{10, "000000"}}, 1, 21, Expiry},
        // Lines holding a carriage return at the end look like CRLF lines.
        {"code with a carriage return", Code21, {{10, "482913\r"}}, 0, 0, 0},
    };
    return cases;
}

std::string Build(const Case& c)
{
    DocumentLines d = c.base == Idle ? IdleDocumentLines() : CodeDocumentLines(21);
    for (const LineEdit& e : c.edits) d.line[e.line - 1] = e.text;
    return JoinDocument(d);
}

void ExpectAcceptedAsStated(const std::string& document, const Parsed& p, const char* what)
{
    const char* broken = BrokenSnapshotInvariant(p.buffer.get(), p.size, p.snapshot);
    EXPECT_EQ(broken, nullptr) << what << ": " << broken;
    // The fields are the original lines.
    size_t start = 0;
    const char* const fields[15] = {p.snapshot.formatTag,      p.snapshot.state,      p.snapshot.deviceName,
                                    p.snapshot.workbenchState, p.snapshot.workbenchDetail, p.snapshot.message,
                                    p.snapshot.projectCount,   p.snapshot.pairingState, p.snapshot.codeExpiryText,
                                    p.snapshot.codeText,       p.snapshot.matrixSizeText, p.snapshot.matrixText,
                                    p.snapshot.newVersion,     p.snapshot.updateLink, p.snapshot.relayProvider};
    for (int i = 0; i < 15; ++i) {
        size_t end = document.find('\n', start);
        EXPECT_EQ(std::string(fields[i]), document.substr(start, end - start)) << what << ", line " << i + 1;
        start = end + 1;
    }
}

TEST(ParseStatusDocument, TableOfCases)
{
    for (const Case& c : Cases()) {
        std::string document = Build(c);
        Parsed p = Parse(document);
        EXPECT_EQ(p.accepted, c.accepted) << c.what;
        if (p.accepted && c.accepted) {
            EXPECT_EQ(p.snapshot.matrixSize, c.matrixSize) << c.what;
            EXPECT_EQ(p.snapshot.codeExpiry, c.codeExpiry) << c.what;
            ExpectAcceptedAsStated(document, p, c.what);
        }
    }
}

TEST(ParseStatusDocument, EveryOneOfTheFortySizesIsAccepted)
{
    int sizes = 0;
    for (int n = 1; n <= 200; ++n) {
        DocumentLines d = CodeDocumentLines(n);
        Parsed p = Parse(JoinDocument(d));
        int expected = n >= 21 && n <= 177 && n % 4 == 1;
        EXPECT_EQ(p.accepted, expected) << "size " << n;
        if (p.accepted) {
            EXPECT_EQ(p.snapshot.matrixSize, n);
            ++sizes;
        }
    }
    EXPECT_EQ(sizes, 40);
}

struct RawCase {
    const char* what;
    std::string document;
    int accepted;
};

std::string Idle15()
{
    return JoinDocument(IdleDocumentLines());
}

std::string ToCrLf(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

TEST(ParseStatusDocument, LineStructure)
{
    const std::string doc = Idle15();
    const RawCase cases[] = {
        {"the valid document", doc, 1},
        {"CRLF line ends", ToCrLf(doc), 0},
        {"14 line feeds (last line unterminated)", doc.substr(0, doc.size() - 1), 0},
        {"a sixteenth empty line", doc + "\n", 0},
        {"a sixteenth line", doc + "extra\n", 0},
        {"trailing bytes without a line feed", doc + "x", 0},
        {"a trailing space", doc + " ", 0},
        {"an empty body", "", 0},
        {"a single line feed", "\n", 0},
        {"fifteen line feeds only", std::string(15, '\n'), 0},
        {"fourteen lines", doc.substr(doc.find('\n') + 1), 0},
        {"leading line feed", "\n" + doc, 0},
        {"a byte-order mark", "\xEF\xBB\xBF" + doc, 0},
    };
    for (const RawCase& c : cases) {
        Parsed p = Parse(c.document);
        EXPECT_EQ(p.accepted, c.accepted) << c.what;
        if (p.accepted) ExpectAcceptedAsStated(c.document, p, c.what);
    }
}

TEST(ParseStatusDocument, TheLargestLegalDocumentIsAccepted)
{
    std::string document = LargestDocument();
    ASSERT_EQ(document.size(), (size_t)StatusDocumentMaxBytes);
    Parsed p = Parse(document);
    ASSERT_TRUE(p.accepted);
    EXPECT_EQ(p.snapshot.matrixSize, 177);
    EXPECT_EQ(p.snapshot.codeExpiry, Expiry);
    ExpectAcceptedAsStated(document, p, "largest");
}

// The module check rides on the split: a stray byte anywhere in the largest matrix ('/' and '2' are the
// neighbours of '0' and '1') rejects the document.
TEST(ParseStatusDocument, AStrayByteAnywhereInTheMatrixRejects)
{
    const std::string largest = LargestDocument();
    size_t matrixStart = 0;
    for (int feeds = 0; feeds < 11; ++matrixStart)
        if (largest[matrixStart] == '\n') ++feeds;
    std::vector<char> buffer(largest.size() + 1);
    for (size_t at = 0; at < 177 * 177; ++at) {
        memcpy(buffer.data(), largest.c_str(), largest.size() + 1);
        buffer[matrixStart + at] = at % 2 ? '/' : '2';
        StatusSnapshot s;
        ASSERT_FALSE(ParseStatusDocument(buffer.data(), &s)) << "stray byte at module " << at;
    }
}

// The split turns every line feed it finds into a zero byte and writes nothing else, accepted or not.
TEST(ParseStatusDocument, OnlyTheLineFeedsFoundAreOverwritten)
{
    const std::string sixteen = Idle15() + "x\n";  // rejected after the split: a sixteenth line
    const std::string wrongTag = ToCrLf(Idle15());    // rejected after the split: the tag
    const std::string fewer = Idle15().substr(0, 40);  // rejected during the split
    const std::string accepted = JoinDocument(CodeDocumentLines(25));
    for (const std::string* doc : {&sixteen, &wrongTag, &fewer, &accepted}) {
        Parsed p = Parse(*doc);
        size_t feedsSeen = 0;
        for (size_t i = 0; i < doc->size(); ++i) {
            char expected = (*doc)[i];
            if (expected == '\n' && feedsSeen < 15) {
                ++feedsSeen;
                expected = '\0';
            }
            ASSERT_EQ(p.buffer[i], expected) << "byte " << i;
        }
        EXPECT_EQ(p.buffer[doc->size()], '\0');
    }
}

TEST(ParseStatusDocument, ParsingTheSameBufferTwiceRejectsTheSecondTime)
{
    // The first parse leaves zero bytes where the line feeds were: the buffer is used once.
    std::string document = Idle15();
    std::unique_ptr<char[]> buffer(new char[document.size() + 1]);
    memcpy(buffer.get(), document.c_str(), document.size() + 1);
    StatusSnapshot s;
    EXPECT_TRUE(ParseStatusDocument(buffer.get(), &s));
    EXPECT_FALSE(ParseStatusDocument(buffer.get(), &s));
}

}  // namespace
