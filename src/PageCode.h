#pragma once
// What the server shows phones so they can reach its web page: the page's
// addresses on the LAN (for each interface that carries an address of the
// allowed networks, never a point-to-point uplink's, never loopback) and
// their QR codes as modules, drawn as text, in the tray or on the page.
// Pure: the encoding itself is the platform's (libqrencode).
#include <cstdint>
#include <string>
#include <vector>

#include "Trust.h"
#include "UdpSocket.h"

namespace linkmoot {

/// A QR code's modules, `size` by `size`, row by row; true is dark.
struct QrModules {
    int size = 0;
    std::vector<bool> dark;
    bool at(int x, int y) const {
        return x >= 0 && y >= 0 && x < size && y < size &&
               dark[static_cast<std::size_t>(y) * static_cast<std::size_t>(size) +
                    static_cast<std::size_t>(x)];
    }
};

/// The addresses of the interfaces the server meets its LAN on: up, not
/// loopback, not point-to-point, in the allowed networks.
std::vector<InterfaceAddress> lanAddresses(const std::vector<InterfaceAddress>& interfaces,
                                           const trust::AllowedNetworks& allowed);

/// "http://192.0.2.1:8080/" for each of those addresses.
std::vector<std::string> pageAddresses(const std::vector<InterfaceAddress>& interfaces,
                                       const trust::AllowedNetworks& allowed, uint16_t port);

/// The code as Unicode blocks, two rows of modules per line (upper half
/// block, lower half block, full block, space) with its quiet zone of 4
/// modules. The light modules are drawn in the text's colour and the dark
/// ones left blank, so on the usual light-on-dark terminal it reads as on paper.
std::string blockText(const QrModules& code);

/// The rows as text of '0' and '1' (the web page draws them).
std::vector<std::string> moduleRows(const QrModules& code);

}  // namespace linkmoot
