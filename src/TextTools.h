#pragma once
// Small helpers for reading texts typed by people (configuration values,
// HTTP header fields).
#include <string_view>

namespace linkmoot {

/// The text without the blanks (spaces and tabs) at either end.
inline std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

}  // namespace linkmoot
