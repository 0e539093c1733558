// A strict JSON reader for the tests (they run under Wine, where no JSON library is at hand): accepts
// exactly RFC 8259 texts in strict UTF-8, and hands back the members of a top-level object with their
// string values decoded to UTF-8.
#pragma once
#include <string>
#include <vector>

struct JsonMember {
    std::string name;   // decoded, UTF-8
    std::string value;  // decoded UTF-8 for a string; the raw text of any other value
    int isString;
};

// 1 when text is one valid JSON value and nothing else. For an object, *members gets its members in order
// (duplicates kept); *sawWhitespace tells whether any whitespace stood between tokens.
int CheckJson(const std::string& text, std::vector<JsonMember>* members, int* sawWhitespace);
