#include "PageCode.h"

#include "Ipv4.h"

namespace linkmoot {

namespace {

constexpr int kQuietZone = 4;

}  // namespace

std::vector<InterfaceAddress> lanAddresses(const std::vector<InterfaceAddress>& interfaces,
                                           const trust::AllowedNetworks& allowed) {
    std::vector<InterfaceAddress> lan;
    for (const InterfaceAddress& interface : interfaces) {
        // Loopback is always allowed, yet no phone reaches it.
        if (interface.up && !interface.loopback && !interface.pointToPoint &&
            allowed.allows(interface.address)) {
            lan.push_back(interface);
        }
    }
    return lan;
}

std::vector<std::string> pageAddresses(const std::vector<InterfaceAddress>& interfaces,
                                       const trust::AllowedNetworks& allowed, uint16_t port) {
    std::vector<std::string> addresses;
    for (const InterfaceAddress& interface : lanAddresses(interfaces, allowed)) {
        addresses.push_back("http://" + ipv4::format(interface.address) + ":" +
                            std::to_string(port) + "/");
    }
    return addresses;
}

std::string blockText(const QrModules& code) {
    // Light (drawn) where the code is light or outside it.
    auto light = [&code](int x, int y) { return !code.at(x, y); };
    std::string text;
    for (int y = -kQuietZone; y < code.size + kQuietZone; y += 2) {
        for (int x = -kQuietZone; x < code.size + kQuietZone; x++) {
            const bool upper = light(x, y);
            const bool lower = y + 1 < code.size + kQuietZone && light(x, y + 1);
            text += upper && lower ? "\u2588" : upper ? "\u2580" : lower ? "\u2584" : " ";
        }
        text += '\n';
    }
    return text;
}

std::vector<std::string> moduleRows(const QrModules& code) {
    std::vector<std::string> rows;
    for (int y = 0; y < code.size; y++) {
        std::string row;
        for (int x = 0; x < code.size; x++)
            row += code.at(x, y) ? '1' : '0';
        rows.push_back(row);
    }
    return rows;
}

}  // namespace linkmoot
