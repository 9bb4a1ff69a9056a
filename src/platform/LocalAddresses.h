#pragma once
// This computer's IPv4 addresses and names, for the web page's Host check.
#include <cstdint>
#include <string>
#include <vector>

namespace linkmoot {

/// Answers whether an address is one of this computer's. The list is read
/// again only when an address is not in it, so the usual answer costs no
/// system call and an address that came up later (DHCP, the uplink) is found.
class LocalAddresses {
public:
    /// `address` in host byte order.
    bool contains(uint32_t address);

private:
    void reload();

    std::vector<uint32_t> addresses;
};

/// The names a browser on the LAN may use for this computer: the host name's
/// first label (first, as the page's title), the name as the system has it, and
/// the label with ".local" (mDNS). Empty when the name cannot be read.
std::vector<std::string> localHostNames();

}  // namespace linkmoot
