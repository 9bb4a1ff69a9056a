#include "LogText.h"

#include <gtest/gtest.h>

namespace linkmoot {
namespace {

TEST(LogTextTest, NetworkTextsAreEscapedWithoutAmbiguity) {
    struct Case {
        const char* name;
        const char* text;
        const char* shown;
    };
    const Case cases[] = {
        {"plain", "WS01", "WS01"},
        {"backslash", "a\\x41", "a\\\\x41"},  // must not read as "aA"
        {"line break", "evil\r\nInfo", "evil\\x0D\\x0AInfo"},
        {"tab and DEL", "a\tb\x7F", "a\\x09b\\x7F"},
        {"two-byte letter", "M\xC3\xBCller", "M\xC3\xBCller"},
        {"three-byte letters", "\xE6\x9D\xB1\xE4\xBA\xAC", "\xE6\x9D\xB1\xE4\xBA\xAC"},
        {"four-byte symbol", "pc\xF0\x9F\x98\x80", "pc\xF0\x9F\x98\x80"},
        {"lone continuation byte", "a\x80z", "a\\x80z"},
        {"invalid lead byte", "\xFF\xFE", "\\xFF\\xFE"},
        {"cut off at the end", "ab\xC3", "ab\\xC3"},
        {"cut off before ASCII", "\xE6\x9Dx", "\\xE6\\x9Dx"},
        {"overlong slash", "\xC0\xAF", "\\xC0\\xAF"},
        {"overlong three bytes", "\xE0\x80\xAF", "\\xE0\\x80\\xAF"},
        {"surrogate", "\xED\xA0\x80", "\\xED\\xA0\\x80"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},
        {"C1 control NEL", "a\xC2\x85z", "a\\u0085z"},
        {"C1 control CSI", "\xC2\x9B", "\\u009B"},
        {"no-break space stays", "a\xC2\xA0z", "a\xC2\xA0z"},
        {"right-to-left override", "abc\xE2\x80\xAEgpj.exe", "abc\\u202Egpj.exe"},
        {"first isolate", "\xE2\x81\xA6x\xE2\x81\xA9", "\\u2066x\\u2069"},
        {"Arabic letter mark", "\xD8\x9C", "\\u061C"},
        {"right-to-left mark", "\xE2\x80\x8F", "\\u200F"},
        {"line separator", "a\xE2\x80\xA8z", "a\\u2028z"},
        {"en dash stays", "a\xE2\x80\x93z", "a\xE2\x80\x93z"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(printable(c.text), c.shown) << c.name;
    }
}

}  // namespace
}  // namespace linkmoot
