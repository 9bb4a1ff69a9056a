#pragma once
// Dotted IPv4 addresses as text: one reading and one writing for every part
// that takes them (the allowed networks, the web page's Host check, the
// client's Server key, the log lines). Addresses are numbers in host order.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace linkmoot::ipv4 {

/// Whether "010" may stand for ten. Refused where one program could read it
/// as octal and another as decimal (networks that decide whom the server
/// believes, Host names); allowed where the client always took it.
enum class LeadingZeros { Refused, Allowed };

/// A decimal number of 1 to `maxDigits` digits; false on anything else, with
/// `why` set when there is more to say than "not a number" (a leading zero).
bool parseDecimal(std::string_view text, std::size_t maxDigits, LeadingZeros zeros, unsigned& value,
                  std::string& why);

/// Four decimal parts 0 to 255 joined by dots, nothing before or after.
/// False on anything else; `why` then says what is wrong when a part was
/// nearly right ("010 has a leading zero", "256 is above 255").
bool parse(std::string_view text, uint32_t& address, LeadingZeros zeros, std::string& why);
bool parse(std::string_view text, uint32_t& address, LeadingZeros zeros = LeadingZeros::Refused);

/// "192.0.2.1" for 0xC0000201.
std::string format(uint32_t address);

}  // namespace linkmoot::ipv4
