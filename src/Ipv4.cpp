#include "Ipv4.h"

#include <algorithm>

namespace linkmoot::ipv4 {

bool parseDecimal(std::string_view text, std::size_t maxDigits, LeadingZeros zeros, unsigned& value,
                  std::string& why) {
    if (text.empty() || text.size() > maxDigits ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    if (zeros == LeadingZeros::Refused && text.size() > 1 && text[0] == '0') {
        why = std::string(text) + " has a leading zero";
        return false;
    }
    value = 0;
    for (char c : text)
        value = value * 10 + static_cast<unsigned>(c - '0');
    return true;
}

bool parse(std::string_view text, uint32_t& address, LeadingZeros zeros, std::string& why) {
    uint32_t value = 0;
    for (int part = 0; part < 4; part++) {
        const std::size_t dot = text.find('.');
        if ((part < 3) == (dot == std::string_view::npos))
            return false;
        unsigned octet = 0;
        if (!parseDecimal(text.substr(0, dot), 3, zeros, octet, why))
            return false;
        if (octet > 255) {
            why = std::to_string(octet) + " is above 255";
            return false;
        }
        value = (value << 8) | octet;
        text = part < 3 ? text.substr(dot + 1) : std::string_view();
    }
    address = value;
    return true;
}

bool parse(std::string_view text, uint32_t& address, LeadingZeros zeros) {
    std::string why;
    return parse(text, address, zeros, why);
}

std::string format(uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

}  // namespace linkmoot::ipv4
