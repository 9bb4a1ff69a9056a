#pragma once
#include <string>

namespace linkmoot {

/// A text from the network made printable without ambiguity, for log lines and
/// status answers: the backslash becomes \\, control bytes (below 0x20 and 0x7F)
/// and bytes that are not part of valid UTF-8 become \xNN, and C1 controls,
/// bidirectional controls and the Unicode line and paragraph separators become
/// \uNNNN. Any other valid UTF-8 stays as it is. A datagram can thus neither
/// forge a line nor reorder what a terminal shows, and two different names
/// never look the same.
std::string printable(const char* text);

}  // namespace linkmoot
