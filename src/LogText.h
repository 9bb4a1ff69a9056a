#pragma once
#include <string>

namespace linkmoot {

/// A text from the network made safe for a log line: bytes below 0x20 and 0x7F
/// are written as \xNN, so a datagram cannot forge log lines.
std::string printable(const char* text);

}  // namespace linkmoot
