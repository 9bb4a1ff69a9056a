#include "platform/PosixNetwork.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "Client.h"
#include "Server.h"
#include "fakes/Fakes.h"

namespace linkmoot {
namespace {

/// The real network, with a fixed computer name so datagram sizes are known.
class NamedNetwork : public PosixNetwork {
public:
    bool computerName(std::string& name) override {
        name = "WS01";
        return true;
    }
};

/// A plain receiving socket on loopback (or joined to a multicast group).
class Receiver {
public:
    explicit Receiver(uint16_t port = 0, const char* group = nullptr) {
        descriptor = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(group != nullptr ? INADDR_ANY : INADDR_LOOPBACK);
        address.sin_port = htons(port);
        bound = bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (group != nullptr) {
            ip_mreq membership{};
            inet_pton(AF_INET, group, &membership.imr_multiaddr);
            membership.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
            bound = bound && setsockopt(descriptor, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership,
                                        sizeof membership) == 0;
        }
        timeval timeout{5, 0};  // a lost datagram fails the test instead of hanging it
        setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~Receiver() { close(descriptor); }
    uint16_t port() const {
        sockaddr_in address{};
        socklen_t size = sizeof address;
        getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &size);
        return ntohs(address.sin_port);
    }
    std::string next() {
        char buffer[2048];
        ssize_t length = recv(descriptor, buffer, sizeof buffer, 0);
        return length < 0 ? std::string("<nothing>")
                          : std::string(buffer, static_cast<size_t>(length));
    }
    bool bound = false;

private:
    int descriptor = -1;
};

void sendTo(uint16_t port, const std::string& payload) {
    PosixUdpSocket socket;
    ASSERT_TRUE(socket.open(0)) << socket.lastErrorText();
    ASSERT_TRUE(socket.connect("127.0.0.1", port)) << socket.lastErrorText();
    ASSERT_TRUE(socket.send(payload.data(), payload.size())) << socket.lastErrorText();
}

TEST(PosixNetworkTest, TheServerReadsRealDatagramsAndStopsAtAnOversizedOne) {
    fakes::FakeApplication app;
    app.getConfigRoot()->getParameter("Port")->setString("0");
    PosixNetwork network;
    fakes::FakeClock clock;
    fakes::FakeDialServices dialers;
    fakes::FakeShutdown shutdown;
    Server server(app, network, clock, dialers, shutdown);
    server.start();
    ASSERT_TRUE(server.isStarted());
    const uint16_t port = server.boundPort();
    ASSERT_NE(port, 0);

    sendTo(port, "vote:A");
    sendTo(port, "noise without colon");
    sendTo(port, "vote:" + std::string(300, 'x'));
    sendTo(port, "vote:B:C");
    sendTo(port, std::string("unvote:A"));
    EXPECT_TRUE(server.poll());
    ASSERT_EQ(server.getVotes().getCount(), 1);
    EXPECT_STREQ(server.getVotes().get(0)->getHost(), "A");
    EXPECT_TRUE(server.poll());
    ASSERT_EQ(server.getVotes().getCount(), 1);
    EXPECT_STREQ(server.getVotes().get(0)->getHost(), "B:C");
}

TEST(PosixNetworkTest, ASecondServerOnTheSamePortFailsAndAsks) {
    fakes::FakeApplication app;
    Receiver occupant;
    ASSERT_TRUE(occupant.bound);
    app.getConfigRoot()->getParameter("Port")->setString(std::to_string(occupant.port()).c_str());
    PosixNetwork network;
    fakes::FakeClock clock;
    fakes::FakeDialServices dialers;
    fakes::FakeShutdown shutdown;
    Server server(app, network, clock, dialers, shutdown);
    EXPECT_FALSE(server.start());  // the caller asks
    EXPECT_FALSE(server.isStarted());
}

TEST(PosixNetworkTest, TheClientSendsNineAndElevenByteDatagramsToLocalhost) {
    Receiver receiver;
    ASSERT_TRUE(receiver.bound);
    fakes::FakeApplication app;
    app.getConfigRoot()->getParameter("Mode")->setString("server");  // sends to "localhost"
    app.getConfigRoot()->getParameter("Port")->setString(std::to_string(receiver.port()).c_str());
    NamedNetwork network;
    Client client(app, network);
    client.startVoting();
    client.stopVoting();
    const std::string vote = receiver.next();
    const std::string unvote = receiver.next();
    EXPECT_EQ(vote, "vote:WS01");
    EXPECT_EQ(vote.size(), 9u);
    EXPECT_EQ(unvote, "unvote:WS01");
    EXPECT_EQ(unvote.size(), 11u);
    EXPECT_EQ(client.takeQuestion(), 0);
}

TEST(PosixNetworkTest, ErrorsCarryTheSystemText) {
    PosixUdpSocket socket;  // never opened: every call fails with EBADF
    EXPECT_FALSE(socket.connect("127.0.0.1", 9));
    EXPECT_EQ(socket.lastErrorText(), "Error 9 in facility 0: Bad file descriptor");

    PosixNetwork network;
    std::string name;
    ASSERT_TRUE(network.computerName(name));
    EXPECT_EQ(name.find('.'), std::string::npos);
}

// Wake-on-LAN leaves through the real interface outside a namespace, so its
// one real-socket test runs in a network namespace of its own.
TEST(PosixNetworkTest, WakeOnLanPacketReachesTheAllHostsGroupInsideANamespace) {
    if (getenv("LINKMOOT_INSIDE_NETNS") == nullptr) {
        char self[4096] = {};
        ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
        const std::string command =
            "unshare -n sh -c 'ip link set lo up && ip route add 224.0.0.0/4 dev lo && "
            "LINKMOOT_INSIDE_NETNS=1 exec \"" +
            std::string(self) +
            "\" "
            "--gtest_filter=PosixNetworkTest."
            "WakeOnLanPacketReachesTheAllHostsGroupInsideANamespace'"
            " > /dev/null 2>&1";
        if (system("unshare -n true > /dev/null 2>&1") != 0) {
            GTEST_SKIP() << "network namespaces are not available to this user";
        }
        EXPECT_EQ(system(command.c_str()), 0) << "the test inside the namespace failed";
        return;
    }
    Receiver receiver(Client::kWakeOnLanPort, Client::kWakeOnLanAddress);
    ASSERT_TRUE(receiver.bound);
    Receiver voteReceiver;
    fakes::FakeApplication app;
    app.getConfigRoot()->getParameter("Mode")->setString("server");
    app.getConfigRoot()->getParameter("Port")->setString(
        std::to_string(voteReceiver.port()).c_str());
    app.getConfigRoot()
        ->getSection("Client")
        ->getParameter("WakeOnLanMac")
        ->setString("00:1A:2B:3C:4D:5E");
    NamedNetwork network;
    Client client(app, network);
    client.startVoting();
    const std::string packet = receiver.next();
    const auto expected = Client::magicPacket("00:1A:2B:3C:4D:5E");
    ASSERT_EQ(packet.size(), 102u);
    EXPECT_EQ(std::memcmp(packet.data(), expected.data(), expected.size()), 0);
    EXPECT_EQ(voteReceiver.next(), "vote:WS01");
}

}  // namespace
}  // namespace linkmoot
