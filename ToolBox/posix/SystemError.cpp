#include <cerrno>
#include <climits>
#include <cstring>

#include "ToolBox/posix/Os.h"

namespace toolbox::os {

bool systemErrorMessage(uint32_t code, char* buffer, std::size_t size) {
    if (size == 0)
        return false;
    buffer[0] = '\0';
    if (code > INT_MAX)
        return false;
    int number = static_cast<int>(code);
    // strerror_r invents "Unknown error N" for codes it does not know; the
    // description table answers null for those instead.
    if (strerrordesc_np(number) == nullptr)
        return false;
    char scratch[256];
    const char* text = strerror_r(number, scratch, sizeof scratch);
    if (text == nullptr)
        return false;
    std::strncpy(buffer, text, size - 1);
    buffer[size - 1] = '\0';
    return buffer[0] != '\0';
}

}  // namespace toolbox::os
