// What the connector must read back as the device name of a Start body: the UTF-16 name decoded code
// point by code point (a surrogate without its partner is U+FFFD), without U+0001..U+001F, in UTF-8.
// Written independently of the product's conversion so that the tests compare two implementations.
#pragma once
#include <stdint.h>
#include <string>

inline std::string ExpectedNameUtf8(const std::wstring& name)
{
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        uint32_t u = (uint16_t)name[i];
        uint32_t cp = u;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < name.size() && (uint16_t)name[i + 1] >= 0xDC00 &&
            (uint16_t)name[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((u - 0xD800) << 10) + ((uint16_t)name[i + 1] - 0xDC00);
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp >= 0x01 && cp <= 0x1F) continue;
        if (cp < 0x80) {
            out += (char)cp;
        } else if (cp < 0x800) {
            out += (char)(0xC0 | (cp >> 6));
            out += (char)(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += (char)(0xE0 | (cp >> 12));
            out += (char)(0x80 | ((cp >> 6) & 0x3F));
            out += (char)(0x80 | (cp & 0x3F));
        } else {
            out += (char)(0xF0 | (cp >> 18));
            out += (char)(0x80 | ((cp >> 12) & 0x3F));
            out += (char)(0x80 | ((cp >> 6) & 0x3F));
            out += (char)(0x80 | (cp & 0x3F));
        }
    }
    return out;
}
