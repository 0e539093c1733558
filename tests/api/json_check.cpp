// Strict JSON reader of the tests; see json_check.h.
#include "json_check.h"

#include <stdint.h>

#include <string>

namespace {

struct Reader {
    const std::string& text;
    size_t pos;
    int sawWhitespace;
    int depth;
};

void SkipSpace(Reader& r)
{
    while (r.pos < r.text.size()) {
        char c = r.text[r.pos];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return;
        r.sawWhitespace = 1;
        ++r.pos;
    }
}

void AppendUtf8(std::string* out, uint32_t cp)
{
    if (cp < 0x80) {
        *out += (char)cp;
    } else if (cp < 0x800) {
        *out += (char)(0xC0 | (cp >> 6));
        *out += (char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out += (char)(0xE0 | (cp >> 12));
        *out += (char)(0x80 | ((cp >> 6) & 0x3F));
        *out += (char)(0x80 | (cp & 0x3F));
    } else {
        *out += (char)(0xF0 | (cp >> 18));
        *out += (char)(0x80 | ((cp >> 12) & 0x3F));
        *out += (char)(0x80 | ((cp >> 6) & 0x3F));
        *out += (char)(0x80 | (cp & 0x3F));
    }
}

// One well-formed UTF-8 sequence at r.pos (no overlong forms, no surrogates, nothing above U+10FFFF),
// appended to out.
int ReadUtf8(Reader& r, std::string* out)
{
    const unsigned char* s = (const unsigned char*)r.text.data();
    size_t n = r.text.size(), i = r.pos;
    unsigned char b0 = s[i];
    int extra;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 < 0x80) {
        extra = 0;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        extra = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        extra = 2;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        extra = 3;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    for (int k = 1; k <= extra; ++k) {
        if (i + k >= n) return 0;
        unsigned char b = s[i + k];
        unsigned char l = k == 1 ? lo : 0x80, h = k == 1 ? hi : 0xBF;
        if (b < l || b > h) return 0;
    }
    out->append(r.text, i, (size_t)extra + 1);
    r.pos += (size_t)extra + 1;
    return 1;
}

int ReadHex4(Reader& r, uint32_t* value)
{
    if (r.pos + 4 > r.text.size()) return 0;
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) {
        char c = r.text[r.pos++];
        v <<= 4;
        if (c >= '0' && c <= '9') v |= (uint32_t)(c - '0');
        else if (c >= 'a' && c <= 'f') v |= (uint32_t)(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') v |= (uint32_t)(c - 'A' + 10);
        else return 0;
    }
    *value = v;
    return 1;
}

int ReadString(Reader& r, std::string* out)
{
    if (r.pos >= r.text.size() || r.text[r.pos] != '"') return 0;
    ++r.pos;
    for (;;) {
        if (r.pos >= r.text.size()) return 0;
        unsigned char c = (unsigned char)r.text[r.pos];
        if (c == '"') {
            ++r.pos;
            return 1;
        }
        if (c < 0x20) return 0;
        if (c != '\\') {
            if (!ReadUtf8(r, out)) return 0;
            continue;
        }
        ++r.pos;
        if (r.pos >= r.text.size()) return 0;
        char e = r.text[r.pos++];
        switch (e) {
        case '"': *out += '"'; break;
        case '\\': *out += '\\'; break;
        case '/': *out += '/'; break;
        case 'b': *out += '\b'; break;
        case 'f': *out += '\f'; break;
        case 'n': *out += '\n'; break;
        case 'r': *out += '\r'; break;
        case 't': *out += '\t'; break;
        case 'u': {
            uint32_t u;
            if (!ReadHex4(r, &u)) return 0;
            if (u >= 0xDC00 && u <= 0xDFFF) return 0;  // lone low surrogate
            if (u >= 0xD800 && u <= 0xDBFF) {
                uint32_t low;
                if (r.pos + 2 > r.text.size() || r.text[r.pos] != '\\' || r.text[r.pos + 1] != 'u') return 0;
                r.pos += 2;
                if (!ReadHex4(r, &low) || low < 0xDC00 || low > 0xDFFF) return 0;
                u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
            }
            AppendUtf8(out, u);
            break;
        }
        default: return 0;
        }
    }
}

int ReadDigits(Reader& r)
{
    size_t start = r.pos;
    while (r.pos < r.text.size() && r.text[r.pos] >= '0' && r.text[r.pos] <= '9') ++r.pos;
    return r.pos > start;
}

int ReadNumber(Reader& r)
{
    if (r.pos < r.text.size() && r.text[r.pos] == '-') ++r.pos;
    if (r.pos < r.text.size() && r.text[r.pos] == '0') {
        ++r.pos;
    } else if (!ReadDigits(r)) {
        return 0;
    }
    if (r.pos < r.text.size() && r.text[r.pos] == '.') {
        ++r.pos;
        if (!ReadDigits(r)) return 0;
    }
    if (r.pos < r.text.size() && (r.text[r.pos] == 'e' || r.text[r.pos] == 'E')) {
        ++r.pos;
        if (r.pos < r.text.size() && (r.text[r.pos] == '+' || r.text[r.pos] == '-')) ++r.pos;
        if (!ReadDigits(r)) return 0;
    }
    return 1;
}

int ReadLiteral(Reader& r, const char* word)
{
    size_t n = std::char_traits<char>::length(word);
    if (r.text.compare(r.pos, n, word) != 0) return 0;
    r.pos += n;
    return 1;
}

int ReadValue(Reader& r, std::vector<JsonMember>* members);

int ReadObject(Reader& r, std::vector<JsonMember>* members)
{
    ++r.pos;  // '{'
    SkipSpace(r);
    if (r.pos < r.text.size() && r.text[r.pos] == '}') {
        ++r.pos;
        return 1;
    }
    for (;;) {
        JsonMember m;
        SkipSpace(r);
        if (!ReadString(r, &m.name)) return 0;
        SkipSpace(r);
        if (r.pos >= r.text.size() || r.text[r.pos] != ':') return 0;
        ++r.pos;
        SkipSpace(r);
        size_t valueStart = r.pos;
        m.isString = r.pos < r.text.size() && r.text[r.pos] == '"';
        if (m.isString) {
            if (!ReadString(r, &m.value)) return 0;
        } else {
            if (!ReadValue(r, nullptr)) return 0;
            m.value = r.text.substr(valueStart, r.pos - valueStart);
        }
        if (members) members->push_back(m);
        SkipSpace(r);
        if (r.pos >= r.text.size()) return 0;
        char c = r.text[r.pos++];
        if (c == '}') return 1;
        if (c != ',') return 0;
    }
}

int ReadArray(Reader& r)
{
    ++r.pos;  // '['
    SkipSpace(r);
    if (r.pos < r.text.size() && r.text[r.pos] == ']') {
        ++r.pos;
        return 1;
    }
    for (;;) {
        SkipSpace(r);
        if (!ReadValue(r, nullptr)) return 0;
        SkipSpace(r);
        if (r.pos >= r.text.size()) return 0;
        char c = r.text[r.pos++];
        if (c == ']') return 1;
        if (c != ',') return 0;
    }
}

int ReadValue(Reader& r, std::vector<JsonMember>* members)
{
    if (r.pos >= r.text.size() || ++r.depth > 64) return 0;
    int ok;
    std::string ignored;
    switch (r.text[r.pos]) {
    case '{': ok = ReadObject(r, members); break;
    case '[': ok = ReadArray(r); break;
    case '"': ok = ReadString(r, &ignored); break;
    case 't': ok = ReadLiteral(r, "true"); break;
    case 'f': ok = ReadLiteral(r, "false"); break;
    case 'n': ok = ReadLiteral(r, "null"); break;
    default: ok = ReadNumber(r); break;
    }
    --r.depth;
    return ok;
}

}  // namespace

int CheckJson(const std::string& text, std::vector<JsonMember>* members, int* sawWhitespace)
{
    Reader r{text, 0, 0, 0};
    std::vector<JsonMember> found;
    SkipSpace(r);
    int ok = ReadValue(r, &found);
    SkipSpace(r);
    if (!ok || r.pos != text.size()) return 0;
    if (members) *members = found;
    if (sawWhitespace) *sawWhitespace = r.sawWhitespace;
    return 1;
}
