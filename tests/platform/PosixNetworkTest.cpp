#include "platform/PosixNetwork.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

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

/// A server on real sockets with fake services; it binds any free port
/// unless the test sets `Port` before starting it.
struct RealServer {
    RealServer() { app.getConfigRoot()->getParameter("Port")->setString("0"); }
    fakes::FakeApplication app;
    PosixNetwork network;
    fakes::FakeClock clock;
    fakes::FakeDialServices dialers;
    fakes::FakeShutdown shutdown;
    Server server{app, network, clock, dialers, shutdown};
};

void sendTo(uint16_t port, const std::string& payload) {
    PosixUdpSocket socket;
    ASSERT_TRUE(socket.open(0)) << socket.lastErrorText();
    ASSERT_TRUE(socket.connect("127.0.0.1", port)) << socket.lastErrorText();
    ASSERT_TRUE(socket.send(payload.data(), payload.size())) << socket.lastErrorText();
}

TEST(PosixNetworkTest, TheServerReadsRealDatagramsAndDropsAnOversizedOne) {
    RealServer real;
    Server& server = real.server;
    server.start();
    ASSERT_TRUE(server.isStarted());
    const uint16_t port = server.boundPort();
    ASSERT_NE(port, 0);

    sendTo(port, "vote:A");
    sendTo(port, "noise without colon");
    sendTo(port, "vote:" + std::string(300, 'x'));
    sendTo(port, "vote:B:C");
    sendTo(port, std::string("unvote:A"));  // from the address of A's vote
    EXPECT_TRUE(server.poll());
    ASSERT_EQ(server.getVotes().size(), 1u);
    EXPECT_EQ(server.getVotes().entries()[0].host, "B:C");
}

// A poll of a crowd reads batches and answers in batches: every datagram
// comes in order with its source, the long ones (longer than the reader
// asks, or than a batch's slot) are Oversized, and a datagram that cannot be
// sent is reported without losing the ones after it.
TEST(PosixNetworkTest, ACrowdIsReadAndAnsweredInBatches) {
    PosixUdpSocket server;
    ASSERT_TRUE(server.open(0)) << server.lastErrorText();
    PosixUdpSocket client;
    ASSERT_TRUE(client.open(0));
    ASSERT_TRUE(client.connect("127.0.0.1", server.localPort()));
    std::vector<std::string> sent;
    for (int i = 0; i < 70; i++) {  // more than two batches
        sent.push_back(i == 20   ? std::string(300, 'a')
                       : i == 45 ? std::string(600, 'b')
                                 : "vote:host-" + std::to_string(i));
        ASSERT_TRUE(client.send(sent.back().data(), sent.back().size()));
    }
    for (const std::string& expected : sent) {
        char buffer[protocol::kMaxDatagramLength];
        std::size_t length = 0;
        Endpoint source;
        Arrival arrival;
        const UdpSocket::Received received =
            server.receiveFrom(buffer, sizeof buffer, length, source, arrival);
        EXPECT_EQ(source.port, client.localPort());
        EXPECT_EQ(arrival.local, 0x7F000001u);
        if (expected.size() > sizeof buffer) {
            EXPECT_EQ(received, UdpSocket::Received::Oversized) << expected.size();
        } else {
            ASSERT_EQ(received, UdpSocket::Received::Datagram);
            EXPECT_EQ(std::string(buffer, length), expected);
        }
    }
    char buffer[protocol::kMaxDatagramLength];
    std::size_t length = 0;
    Endpoint source;
    Arrival arrival;
    EXPECT_EQ(server.receiveFrom(buffer, sizeof buffer, length, source, arrival),
              UdpSocket::Received::Nothing);

    Receiver first;
    Receiver last;
    std::vector<OutgoingDatagram> answers;
    for (int i = 0; i < 100; i++)  // more than one call's worth
        answers.push_back({"to first", {0x7F000001, first.port()}, 0});
    answers[50] = {"to nowhere", {0x7F000001, 0}, 0};  // port 0 cannot be sent to
    answers.push_back({"to last", {0x7F000001, last.port()}, 0x7F000001});
    std::vector<std::size_t> failed;
    server.sendEach(answers, [&failed](std::size_t index, const std::string& error) {
        failed.push_back(index);
        EXPECT_NE(error.find("Error "), std::string::npos) << error;
    });
    EXPECT_EQ(failed, std::vector<std::size_t>{50});
    for (int i = 0; i < 99; i++)
        ASSERT_EQ(first.next(), "to first") << i;
    EXPECT_EQ(last.next(), "to last");
}

// The loop's side of a socket's watch, turned by hand: it runs a handler
// once the kernel says its descriptor is readable.
class HandTurnedLoop : public EventSource {
public:
    void watch(int fd, Handler onReadable) override { watches[fd] = std::move(onReadable); }
    void unwatch(int fd) override { watches.erase(fd); }
    TimerId startTimer(int, Handler) override { return 0; }
    void cancelTimer(TimerId) override {}
    bool turn(int fd) {
        pollfd entry{fd, POLLIN, 0};
        if (watches.count(fd) == 0 || ::poll(&entry, 1, 2000) != 1)
            return false;
        Handler handler = watches[fd];
        handler();
        return true;
    }
    std::map<int, Handler> watches;
};

// An idle poll skips the read only while the socket is truly empty: a
// datagram that arrives after an empty read is seen through the watch, and
// the watch ends with the socket.
TEST(PosixNetworkTest, AnEmptySocketIsWatchedUntilADatagramArrives) {
    HandTurnedLoop loop;
    PosixUdpSocket socket(&loop);
    ASSERT_TRUE(socket.open(0)) << socket.lastErrorText();
    char buffer[64];
    std::size_t length = 0;
    EXPECT_TRUE(socket.mayHoldDatagrams());
    EXPECT_EQ(socket.receive(buffer, sizeof buffer, length), UdpSocket::Received::Nothing);
    EXPECT_FALSE(socket.mayHoldDatagrams());
    ASSERT_EQ(loop.watches.size(), 1u);
    const int fd = loop.watches.begin()->first;

    sendTo(socket.localPort(), "vote:A");
    ASSERT_TRUE(loop.turn(fd));
    EXPECT_TRUE(socket.mayHoldDatagrams());
    EXPECT_TRUE(loop.watches.empty());  // once: a busy socket does not wake the loop each time
    ASSERT_EQ(socket.receive(buffer, sizeof buffer, length), UdpSocket::Received::Datagram);
    EXPECT_EQ(std::string(buffer, length), "vote:A");

    EXPECT_EQ(socket.receive(buffer, sizeof buffer, length), UdpSocket::Received::Nothing);
    EXPECT_FALSE(socket.mayHoldDatagrams());
    EXPECT_EQ(loop.watches.size(), 1u);
    socket.close();
    EXPECT_TRUE(loop.watches.empty());
    EXPECT_TRUE(socket.mayHoldDatagrams());
}

// Compatibility both ways over real sockets: a plain "vote:NAME" sender is
// served and answered (after the controller step, so the first answer already
// says dialling), and the client shows what the answer says.
TEST(PosixNetworkTest, PlainVotesAreAnsweredAndTheClientReadsTheAnswer) {
    RealServer real;
    Server& server = real.server;
    ASSERT_TRUE(server.start());
    const uint16_t port = server.boundPort();

    // The old client's datagram, from a socket that then waits for the answer.
    PosixUdpSocket oldClient;
    ASSERT_TRUE(oldClient.open(0));
    ASSERT_TRUE(oldClient.connect("127.0.0.1", port));
    ASSERT_TRUE(oldClient.send("vote:OLD", 8));
    server.poll();
    char buffer[300];
    std::size_t length = 0;
    UdpSocket::Received received = UdpSocket::Received::Nothing;
    for (int i = 0; i < 200 && received == UdpSocket::Received::Nothing; i++) {
        received = oldClient.receive(buffer, sizeof buffer, length);
        if (received == UdpSocket::Received::Nothing)
            usleep(10000);
    }
    ASSERT_EQ(received, UdpSocket::Received::Datagram);
    std::string name;
    PosixNetwork().computerName(name);
    const std::string host = protocol::answerHostName(name);
    EXPECT_EQ(std::string(buffer, length),
              "state:v=2,line=dialling,votes=1,you=1,up=0" + (host.empty() ? "" : ",host=" + host));

    fakes::FakeApplication& app = real.app;
    app.getConfigRoot()->getParameter("Mode")->setString("client");
    app.getConfigRoot()->getParameter("Port")->setString(std::to_string(port).c_str());
    app.getConfigRoot()->getSection("Client")->getParameter("Server")->setString("127.0.0.1");
    NamedNetwork clientNetwork;
    Client client(app, clientNetwork, real.clock);
    client.startVoting();
    real.clock.advance(1000);
    server.poll();  // the line is up now
    bool changed = false;
    for (int i = 0; i < 200 && !changed; i++) {
        changed = client.tick();
        if (!changed)
            usleep(10000);
    }
    ASSERT_TRUE(changed);
    EXPECT_EQ(client.serverLineText(),
              "Server 127.0.0.1: line up for 0 s, 2 votes (yours among them)");
}

// A client that votes to a second address of the server (127.0.0.2 here, an
// alias or a second LAN elsewhere) accepts on its connected socket only what
// comes from that address: the answer must leave from where the vote arrived.
TEST(PosixNetworkTest, TheAnswerLeavesFromTheAddressTheRequestReached) {
    RealServer real;
    ASSERT_TRUE(real.server.start());
    PosixUdpSocket client;
    ASSERT_TRUE(client.open(0));
    ASSERT_TRUE(client.connect("127.0.0.2", real.server.boundPort()));
    ASSERT_TRUE(client.send("query:ALIAS", 11));
    std::size_t length = 0;
    UdpSocket::Received received = UdpSocket::Received::Nothing;
    char buffer[300];
    for (int i = 0; i < 200 && received == UdpSocket::Received::Nothing; i++) {
        real.server.poll();
        received = client.receive(buffer, sizeof buffer, length);
        if (received == UdpSocket::Received::Nothing)
            usleep(10000);
    }
    ASSERT_EQ(received, UdpSocket::Received::Datagram);
    EXPECT_EQ(std::string(buffer, length).rfind("state:v=2,", 0), 0u);
}

TEST(PosixNetworkTest, ASecondServerOnTheSamePortFailsAndAsks) {
    Receiver occupant;
    ASSERT_TRUE(occupant.bound);
    RealServer real;
    real.app.getConfigRoot()->getParameter("Port")->setString(
        std::to_string(occupant.port()).c_str());
    EXPECT_FALSE(real.server.start());  // the caller asks
    EXPECT_FALSE(real.server.isStarted());
}

TEST(PosixNetworkTest, TheClientSendsNineAndElevenByteDatagramsToLocalhost) {
    Receiver receiver;
    ASSERT_TRUE(receiver.bound);
    fakes::FakeApplication app;
    app.getConfigRoot()->getParameter("Mode")->setString("server");  // sends to "localhost"
    app.getConfigRoot()->getParameter("Port")->setString(std::to_string(receiver.port()).c_str());
    NamedNetwork network;
    fakes::FakeClock clock;
    Client client(app, network, clock);
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

/// Sends one datagram from `from` (an address of this namespace) to `to`.
bool sendFrom(const char* from, const char* to, uint16_t port, const std::string& payload) {
    const int descriptor = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in source{};
    source.sin_family = AF_INET;
    inet_pton(AF_INET, from, &source.sin_addr);
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(port);
    inet_pton(AF_INET, to, &destination.sin_addr);
    const bool sent = bind(descriptor, reinterpret_cast<sockaddr*>(&source), sizeof source) == 0 &&
                      sendto(descriptor, payload.data(), payload.size(), 0,
                             reinterpret_cast<sockaddr*>(&destination),
                             sizeof destination) == static_cast<ssize_t>(payload.size());
    close(descriptor);
    return sent;
}

/// Runs this test again inside a network namespace set up by `setup`.
bool runInNamespace(const char* test, const char* setup, bool& inside) {
    inside = getenv("LINKMOOT_INSIDE_NETNS") != nullptr;
    if (inside)
        return true;
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return false;
    const std::string command = std::string("unshare -n sh -c '") + setup +
                                " && LINKMOOT_INSIDE_NETNS=1 exec \"" + self +
                                "\" --gtest_filter=PosixNetworkTest." + test + "' > /dev/null 2>&1";
    return system(command.c_str()) == 0;
}

// Real outside and inside hosts, on a veth pair of a namespace of our own: the
// outside sender's vote is dropped before anything else (no entry, no answer,
// no idle-clock effect, not one of the poll's 10), the inside one's is read.
TEST(PosixNetworkTest, AnOutsideSourceIsDroppedOverARealVethPair) {
    if (system("unshare -n true > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "network namespaces are not available to this user";
    bool inside = false;
    const bool passed =
        runInNamespace("AnOutsideSourceIsDroppedOverARealVethPair",
                       "ip link set lo up && ip link add lm0 type veth peer name lm1 && "
                       "ip addr add 192.0.2.1/24 dev lm0 && ip addr add 203.0.113.5/24 dev lm1 && "
                       "ip link set lm0 up && ip link set lm1 up",
                       inside);
    if (!inside) {
        EXPECT_TRUE(passed) << "the test inside the namespace failed";
        return;
    }
    RealServer real;
    real.app.getConfigRoot()
        ->getSection("Server")
        ->getParameter("AllowedNetworks")
        ->setString("192.0.2.0/24");
    Server& server = real.server;
    ASSERT_TRUE(server.start());
    const uint16_t port = server.boundPort();
    const uint32_t idle = server.idleShutdown().lastVoteTime();

    struct Case {
        const char* from;
        int votes;
    };
    for (const Case& c : {Case{"203.0.113.5", 0}, Case{"192.0.2.1", 1}}) {
        for (int i = 0; i < 12; i++)
            ASSERT_TRUE(sendFrom(c.from, "192.0.2.1", port, "vote:H" + std::to_string(i)));
        usleep(50000);
        real.clock.advance(1000);
        server.poll();
        // The 12 dropped ones changed nothing; the inside sender's 12 all count.
        EXPECT_EQ(server.getVotes().size(), static_cast<std::size_t>(c.votes * 12)) << c.from;
        EXPECT_EQ(server.idleShutdown().lastVoteTime() == idle, c.votes == 0) << c.from;
    }
}

TEST(PosixNetworkTest, TheResolverAnswersOnALaterCall) {
    PosixNameResolver resolver;
    resolver.start("localhost");
    bool found = false;
    uint32_t address = 0;
    std::string error;
    bool answered = false;
    for (int i = 0; i < 500 && !answered; i++) {
        answered = resolver.take(found, address, error);
        if (!answered)
            usleep(10000);
    }
    ASSERT_TRUE(answered);
    EXPECT_TRUE(found) << error;
    EXPECT_EQ(address, 0x7F000001u);
    EXPECT_FALSE(resolver.take(found, address, error));  // once per look-up
}

TEST(PosixNetworkTest, ErrorsCarryTheSystemText) {
    PosixUdpSocket socket;  // never opened: every call fails with EBADF
    EXPECT_FALSE(socket.connect("127.0.0.1", 9));
    EXPECT_EQ(socket.lastErrorText(), "Error 9 in facility 0: Bad file descriptor");

    PosixNetwork network;
    std::string name;
    ASSERT_TRUE(network.computerName(name));
    // The kernel's name without its domain and without the line end of /proc.
    char full[256] = {};
    ASSERT_EQ(gethostname(full, sizeof full - 1), 0);
    EXPECT_EQ(name, std::string(full).substr(0, std::string(full).find('.')));
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
    fakes::FakeClock clock;
    Client client(app, network, clock);
    client.startVoting();
    const std::string packet = receiver.next();
    const auto expected = Client::magicPacket("00:1A:2B:3C:4D:5E");
    ASSERT_EQ(packet.size(), 102u);
    EXPECT_EQ(std::memcmp(packet.data(), expected.data(), expected.size()), 0);
    EXPECT_EQ(voteReceiver.next(), "vote:WS01");
}

}  // namespace
}  // namespace linkmoot
