#pragma once
// Checks a text that printable() made of a name from the network: nothing in
// it can end a line or move text around, and reading its escapes back gives
// the name again, so two names never look the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzzcheck {

[[noreturn]] inline void fail(const char* what, std::string_view detail) {
    std::fprintf(stderr, "%s: '%.*s'\n", what, static_cast<int>(detail.size()), detail.data());
    std::abort();
}

/// The length of the well-formed UTF-8 sequence at text[at] (Unicode's table of
/// well-formed byte sequences), 0 when there is none; codePoint gets its value.
inline int wellFormedLength(std::string_view text, std::size_t at, uint32_t& codePoint) {
    struct Row {
        unsigned char first, last, second, secondLast;
        int length;
    };
    static const Row kRows[] = {
        {0x00, 0x7F, 0, 0, 1},       {0xC2, 0xDF, 0x80, 0xBF, 2}, {0xE0, 0xE0, 0xA0, 0xBF, 3},
        {0xE1, 0xEC, 0x80, 0xBF, 3}, {0xED, 0xED, 0x80, 0x9F, 3}, {0xEE, 0xEF, 0x80, 0xBF, 3},
        {0xF0, 0xF0, 0x90, 0xBF, 4}, {0xF1, 0xF3, 0x80, 0xBF, 4}, {0xF4, 0xF4, 0x80, 0x8F, 4},
    };
    const auto byte = [&](std::size_t index) { return static_cast<unsigned char>(text[index]); };
    for (const Row& row : kRows) {
        if (byte(at) < row.first || byte(at) > row.last)
            continue;
        if (at + static_cast<std::size_t>(row.length) > text.size())
            return 0;
        static const unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
        codePoint = byte(at) & kLeadMask[row.length];
        for (int index = 1; index < row.length; index++) {
            unsigned char next = byte(at + static_cast<std::size_t>(index));
            unsigned char low = index == 1 ? row.second : 0x80;
            unsigned char high = index == 1 ? row.secondLast : 0xBF;
            if (next < low || next > high)
                return 0;
            codePoint = (codePoint << 6) | (next & 0x3Fu);
        }
        return row.length;
    }
    return 0;
}

inline void appendUtf8(std::string& out, uint32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

inline uint32_t hexValue(std::string_view digits) {
    uint32_t value = 0;
    for (char digit : digits) {
        value <<= 4;
        if (digit >= '0' && digit <= '9') {
            value |= static_cast<uint32_t>(digit - '0');
        } else if (digit >= 'A' && digit <= 'F') {
            value |= static_cast<uint32_t>(digit - 'A' + 10);
        } else {
            fail("not an upper-case hexadecimal digit", digits);
        }
    }
    return value;
}

/// Aborts unless shown is a safe and faithful picture of original.
inline void checkPrintable(std::string_view original, std::string_view shown) {
    std::string decoded;
    for (std::size_t at = 0; at < shown.size();) {
        uint32_t codePoint = 0;
        int length = wellFormedLength(shown, at, codePoint);
        if (length == 0)
            fail("shown text is not well-formed UTF-8", shown);
        if (codePoint < 0x20 || codePoint == 0x7F || (codePoint >= 0x80 && codePoint <= 0x9F) ||
            codePoint == 0x061C || codePoint == 0x200E || codePoint == 0x200F ||
            (codePoint >= 0x2028 && codePoint <= 0x202E) ||
            (codePoint >= 0x2066 && codePoint <= 0x2069)) {
            fail("shown text holds a control", shown);
        }
        if (shown[at] != '\\') {
            decoded.append(shown.substr(at, static_cast<std::size_t>(length)));
            at += static_cast<std::size_t>(length);
            continue;
        }
        std::string_view escape = shown.substr(at);
        if (escape.substr(0, 2) == "\\\\") {
            decoded += '\\';
            at += 2;
        } else if (escape.substr(0, 2) == "\\x" && escape.size() >= 4) {
            decoded += static_cast<char>(hexValue(escape.substr(2, 2)));
            at += 4;
        } else if (escape.substr(0, 2) == "\\u" && escape.size() >= 6) {
            appendUtf8(decoded, hexValue(escape.substr(2, 4)));
            at += 6;
        } else {
            fail("a backslash that starts no escape", shown);
        }
    }
    if (decoded != original)
        fail("the escapes do not give the name back", shown);
}

}  // namespace fuzzcheck
