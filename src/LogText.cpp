#include "LogText.h"

#include <cstdio>

namespace linkmoot {

std::string printable(const char* text) {
    std::string result;
    for (const char* p = text; *p != '\0'; p++) {
        const unsigned char byte = static_cast<unsigned char>(*p);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            result += escaped;
        } else {
            result += static_cast<char>(byte);
        }
    }
    return result;
}

}  // namespace linkmoot
