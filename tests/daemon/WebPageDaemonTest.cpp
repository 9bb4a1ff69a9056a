// The web page's life in the real linkmootd: a port that cannot be had is an
// Error line and a status row while the datagram votes go on, and the page
// comes once the port is free and the server starts again.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "DaemonProcess.h"
#include "support/TempFolder.h"

namespace {

using daemontest::Instance;
using daemontest::waitUntil;

/// A TCP socket listening on every address at a port the system picks.
struct PortHolder {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int port = 0;
    PortHolder() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        socklen_t length = sizeof(address);
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
            listen(fd, 1) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port = ntohs(address.sin_port);
        }
    }
    ~PortHolder() { release(); }
    void release() {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
};

bool accepts(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return connected;
}

void sendVote(int port, const std::string& datagram) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&address),
           sizeof(address));
    close(fd);
}

TEST(WebPageDaemon, ATakenPortIsAnErrorAndAStatusRowWhileVotingGoesOnUntilAStartGetsIt) {
    testsupport::TempFolder folder;
    const int votePort = daemontest::freeUdpPort();
    PortHolder taken;
    ASSERT_GT(taken.port, 0);
    const std::string problem = "Cannot serve the web page on port " + std::to_string(taken.port);

    Instance server(folder.getPath(), "server");
    server.writeConfig({"<Configured>1</>", "<Mode>server</>",
                        "<Port>" + std::to_string(votePort) + "</>", "", "<Server>",
                        "\t<Connection>Simulated modem</>", "\t<Dialer>simulated</>",
                        "\t<WebPort>" + std::to_string(taken.port) + "</>", "</Server>"});
    server.start();
    ASSERT_TRUE(server.waitUntilAnswering()) << server.errors();
    EXPECT_TRUE(waitUntil(
        [&] { return server.ctl({"status"}).out.find(problem) != std::string::npos; }, 5000))
        << server.ctl({"status"}).out;
    const std::string log = server.log();
    const std::size_t line = log.find(problem);
    ASSERT_NE(line, std::string::npos) << log;
    EXPECT_NE(log.rfind("] Error (", line), std::string::npos) << log;
    EXPECT_GT(log.rfind("] Error (", line), log.rfind('\n', line)) << "not at Error: " << log;

    sendVote(votePort, "vote:pc1");
    EXPECT_TRUE(waitUntil(
        [&] { return server.ctl({"status"}).out.find("Vote from pc1") != std::string::npos; },
        5000))
        << server.ctl({"status"}).out;

    // Not retried every second; a new start of the server tries again.
    taken.release();
    ASSERT_EQ(server.ctl({"disable"}).exitStatus, 0);
    ASSERT_EQ(server.ctl({"enable"}).exitStatus, 0);
    EXPECT_TRUE(waitUntil([&] { return accepts(taken.port); }, 5000)) << server.log();
    EXPECT_EQ(server.ctl({"status"}).out.find(problem), std::string::npos);
    ASSERT_EQ(server.ctl({"disable"}).exitStatus, 0);
    EXPECT_TRUE(waitUntil([&] { return !accepts(taken.port); }, 5000));
    ASSERT_EQ(server.ctl({"exit"}).exitStatus, 0);
    EXPECT_EQ(server.waitForExit(), 0) << server.errors();
}

}  // namespace
