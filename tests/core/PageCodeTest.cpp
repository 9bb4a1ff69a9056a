#include "PageCode.h"

#include <gtest/gtest.h>

namespace linkmoot {
namespace {

// Phones reach the page only on the LAN: never loopback, never the uplink (a
// point-to-point link), never a link that is down, never outside the allowed
// networks; one address per interface address.
TEST(PageCodeTest, ThePagesAddressesAreThoseOfTheLanInterfaces) {
    const std::vector<InterfaceAddress> interfaces = {
        {"lo", 1, 0x7F000001, 0xFF000000, 0, true, true, false},
        {"eth0", 2, 0xC0000201, 0xFFFFFF00, 0xC00002FF, true, false, false},
        {"eth0", 2, 0xC0000281, 0xFFFFFF80, 0xC00002FF, true, false, false},   // a second address
        {"eth1", 3, 0xC6336401, 0xFFFFFF00, 0xC63364FF, false, false, false},  // down
        {"ppp0", 4, 0xC0000205, 0xFFFFFFFF, 0, true, false, true},             // the uplink
        {"wlan0", 5, 0xCB007101, 0xFFFFFF00, 0xCB0071FF, true, false, false},  // not allowed
    };
    trust::AllowedNetworks allowed;
    std::string error;
    ASSERT_TRUE(trust::AllowedNetworks::parse("192.0.2.0/24, 198.51.100.0/24", allowed, error));
    EXPECT_EQ(pageAddresses(interfaces, allowed, 8080),
              (std::vector<std::string>{"http://192.0.2.1:8080/", "http://192.0.2.129:8080/"}));
}

// Two rows of modules a line, light ones drawn, in a quiet zone of 4.
TEST(PageCodeTest, BlockTextDrawsTheLightModulesTwoRowsALine) {
    QrModules code;
    code.size = 2;
    code.dark = {true, false, false, true};
    const std::string text = blockText(code);
    const std::string full = "\u2588";
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    ASSERT_EQ(lines.size(), 5u);  // 10 rows of modules
    std::string quiet;
    for (int i = 0; i < 10; i++)
        quiet += full;
    EXPECT_EQ(lines[0], quiet);
    // The code's row 0 (dark, light) over its row 1 (light, dark): lower half, upper half.
    EXPECT_EQ(lines[2],
              full + full + full + full + "\u2584" + "\u2580" + full + full + full + full);
    EXPECT_EQ(moduleRows(code), (std::vector<std::string>{"10", "01"}));
}

}  // namespace
}  // namespace linkmoot
