#pragma once
// linkmootctl's own look at the LAN: `servers` (DNS-SD and a broadcast query
// for 2 s, no running instance needed) and `page-code` (the running
// instance's web page addresses as QR codes for phones).
#include <cstdint>
#include <string>

namespace linkmoot::ctl {

/// Lists the servers found; 0 when one or more, 3 when none.
int listServers(bool json, uint16_t port);
/// Prints a code, and the address under it, for each address of the
/// instance's `page` answer (one a line); 0, or 4 when there is none.
int printPageCodes(const std::string& addresses);

}  // namespace linkmoot::ctl
