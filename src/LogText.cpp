#include "LogText.h"

#include <cstdint>
#include <cstdio>

namespace linkmoot {

namespace {

/// The length of the valid UTF-8 sequence at text (1 to 4) and its code point;
/// 0 when the bytes there are not one (overlong forms, surrogates, code points
/// beyond U+10FFFF and cut-off sequences included).
int decodeUtf8(const unsigned char* text, uint32_t& codePoint) {
    const unsigned char lead = text[0];
    int length;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0Fu;
        if (lead == 0xE0)
            low = 0xA0;  // overlong
        if (lead == 0xED)
            high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07u;
        if (lead == 0xF0)
            low = 0x90;  // overlong
        if (lead == 0xF4)
            high = 0x8F;  // beyond U+10FFFF
    } else {
        return 0;
    }
    for (int index = 1; index < length; index++) {
        const unsigned char byte = text[index];  // a NUL ends the loop as a bad byte
        if (byte < (index == 1 ? low : 0x80) || byte > (index == 1 ? high : 0xBF))
            return 0;
        codePoint = (codePoint << 6) | (byte & 0x3Fu);
    }
    return length;
}

/// Code points that would make a name look like another or move text around.
bool isHidden(uint32_t codePoint) {
    return (codePoint >= 0x80 && codePoint <= 0x9F)          // C1 controls
           || codePoint == 0x061C                            // Arabic letter mark
           || codePoint == 0x200E || codePoint == 0x200F     // LRM, RLM
           || (codePoint >= 0x2028 && codePoint <= 0x202E)   // separators, embeddings, overrides
           || (codePoint >= 0x2066 && codePoint <= 0x2069);  // isolates
}

}  // namespace

std::string printable(const char* text) {
    std::string result;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != '\0') {
        char escaped[8];
        uint32_t codePoint = 0;
        const int length = decodeUtf8(p, codePoint);
        if (*p == '\\') {
            result += "\\\\";
        } else if (length == 0 || *p < 0x20 || *p == 0x7F) {
            std::snprintf(escaped, sizeof escaped, "\\x%02X", *p);
            result += escaped;
        } else if (isHidden(codePoint)) {
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(codePoint));
            result += escaped;
        } else {
            result.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(length));
        }
        p += length > 0 ? length : 1;
    }
    return result;
}

}  // namespace linkmoot
