#include "platform/WebServer.h"

#include "platform/LocalAddresses.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace linkmoot {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;

/// What the handler saw, copied out of the request's views.
struct Seen {
    int calls = 0;
    std::string method, path, host, origin, contentType, cookie, authorization, body;
    bool hasOrigin = false;
    bool tooLarge = false;
    uint32_t peer = 0;
};

WebServer::Handler recordingHandler(Seen& seen) {
    return [&seen](const WebRequest& request) {
        ++seen.calls;
        seen.method = request.method;
        seen.path = request.path;
        seen.host = request.host.value_or("");
        seen.hasOrigin = request.origin.has_value();
        seen.origin = request.origin.value_or("");
        seen.contentType = request.contentType.value_or("");
        seen.cookie = request.cookie.value_or("");
        seen.authorization = request.authorization.value_or("");
        seen.body = request.body;
        seen.tooLarge = request.bodyTooLarge;
        seen.peer = request.peer;
        if (request.bodyTooLarge)
            return WebResponse{413, "text/plain", {}, "too large"};
        return WebResponse{201, "application/json", {{"X-Test", "yes"}}, R"({"ok":true})"};
    };
}

int connectTo(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(kLoopback);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS) {
        close(fd);
        return -1;
    }
    return fd;
}

/// Drives the server as the owner's loop would (poll on its descriptor with
/// its time-out, then run) while the client sends `request` and reads the
/// answer up to the server's close. Gives up after 10 s.
std::string roundTrip(WebServer& server, const std::string& request) {
    int client = connectTo(server.port());
    EXPECT_GE(client, 0);
    std::size_t sent = 0;
    std::string answer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd fds[2] = {{server.fd(), POLLIN, 0},
                         {client, short(POLLIN | (sent < request.size() ? POLLOUT : 0)), 0}};
        int timeout = server.timeoutMs();
        poll(fds, 2, timeout < 0 || timeout > 50 ? 50 : timeout);
        server.run();
        if (sent < request.size()) {
            ssize_t n = send(client, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n > 0)
                sent += std::size_t(n);
        }
        char buffer[4096];
        ssize_t n = recv(client, buffer, sizeof buffer, 0);
        if (n > 0) {
            answer.append(buffer, std::size_t(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            break;
        }
    }
    close(client);
    return answer;
}

std::string post(const std::string& extraHeaders, const std::string& body) {
    return "POST /api/vote?x=1 HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
           "Content-Type: application/json\r\n" +
           extraHeaders + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST(WebServerTest, HandsTheWholeRequestToTheHandlerAndSendsItsAnswer) {
    Seen seen;
    WebServer server(recordingHandler(seen));
    std::string error;
    ASSERT_TRUE(server.start(0, error, kLoopback)) << error;
    ASSERT_NE(server.port(), 0);
    ASSERT_GE(server.fd(), 0);
    // Dial-up children must not inherit the page's descriptors.
    EXPECT_TRUE(fcntl(server.fd(), F_GETFD) & FD_CLOEXEC);

    std::string answer =
        roundTrip(server, post("Origin: http://127.0.0.1\r\nCookie: a=b; linkmoot_session=c\r\n"
                               "Authorization: Bearer pw\r\n",
                               R"({"name":"anna"})"));
    EXPECT_EQ(answer.rfind("HTTP/1.1 201", 0), 0u) << answer;
    EXPECT_NE(answer.find("X-Test: yes\r\n"), std::string::npos) << answer;
    EXPECT_NE(answer.find("Content-Type: application/json\r\n"), std::string::npos) << answer;
    EXPECT_EQ(answer.substr(answer.size() - 11), R"({"ok":true})");
    ASSERT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.path, "/api/vote");
    EXPECT_EQ(seen.host, "127.0.0.1");
    EXPECT_EQ(seen.origin, "http://127.0.0.1");
    EXPECT_EQ(seen.contentType, "application/json");
    EXPECT_EQ(seen.cookie, "a=b; linkmoot_session=c");
    EXPECT_EQ(seen.authorization, "Bearer pw");
    EXPECT_EQ(seen.body, R"({"name":"anna"})");
    EXPECT_FALSE(seen.tooLarge);
    EXPECT_EQ(seen.peer, kLoopback);

    roundTrip(server, "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(seen.calls, 2);
    EXPECT_FALSE(seen.hasOrigin) << "an absent header stays absent";
    EXPECT_EQ(seen.body, "");
}

TEST(WebServerTest, BodiesUpTo4KiBPassAndLargerOnesAreRefused) {
    Seen seen;
    WebServer server(recordingHandler(seen));
    std::string error;
    ASSERT_TRUE(server.start(0, error, kLoopback)) << error;

    const std::string limit(WebApi::kMaxBodyBytes, 'a');
    EXPECT_EQ(roundTrip(server, post("", limit)).rfind("HTTP/1.1 201", 0), 0u);
    EXPECT_EQ(seen.body, limit);

    // Announced by its length: refused before the body is read.
    EXPECT_EQ(roundTrip(server, post("", limit + "b")).rfind("HTTP/1.1 413", 0), 0u);
    EXPECT_TRUE(seen.tooLarge);
    EXPECT_EQ(seen.body, "");

    // Chunked: refused once it grows past the limit; nothing of it is kept.
    std::string chunked =
        "POST /api/vote HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
        "Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 3; ++i)
        chunked += "800\r\n" + std::string(2048, 'c') + "\r\n";
    chunked += "0\r\n\r\n";
    seen = Seen();
    EXPECT_EQ(roundTrip(server, chunked).rfind("HTTP/1.1 413", 0), 0u);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_TRUE(seen.tooLarge);
    EXPECT_EQ(seen.body, "");

    // One that goes on and on is cut off without an answer.
    std::string endless =
        chunked.substr(0, chunked.find("\r\n\r\n") + 4) + "1000\r\n" + std::string(4096, 'e');
    for (int i = 0; i < 20; ++i)
        endless += "\r\n1000\r\n" + std::string(4096, 'e');
    seen = Seen();
    EXPECT_EQ(roundTrip(server, endless), "");
    EXPECT_EQ(seen.calls, 0);
}

TEST(WebServerTest, EightConnectionsPerAddressAndASilentOneHoldsUpNobody) {
    Seen seen;
    WebServer server(recordingHandler(seen));
    std::string error;
    ASSERT_TRUE(server.start(0, error, kLoopback)) << error;

    // Seven idle connections, one that stops in the middle of its headers.
    std::vector<int> idle;
    for (int i = 0; i < 8; ++i)
        idle.push_back(connectTo(server.port()));
    const char partial[] = "GET /api/state HTTP/1.1\r\nHost: 127";
    for (int i = 0; i < 20 && send(idle[0], partial, sizeof partial - 1, MSG_NOSIGNAL) < 0; ++i) {
        poll(nullptr, 0, 10);
        server.run();
    }
    for (int i = 0; i < 20 && server.connectionCount() < 8; ++i) {
        poll(nullptr, 0, 10);
        server.run();
    }
    EXPECT_EQ(server.connectionCount(), 8u);

    // The ninth from the same address is closed at once.
    std::string refused = roundTrip(server, "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(refused, "");
    EXPECT_EQ(seen.calls, 0);

    // Freeing one place lets the next request through while the half request waits.
    close(idle.back());
    idle.pop_back();
    for (int i = 0; i < 20 && server.connectionCount() > 7; ++i) {
        poll(nullptr, 0, 10);
        server.run();
    }
    std::string served =
        roundTrip(server, "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(served.rfind("HTTP/1.1 201", 0), 0u) << served;
    EXPECT_EQ(seen.calls, 1);
    for (int fd : idle)
        close(fd);
}

TEST(WebServerTest, ATakenPortIsReportedAndStopClosesTheListener) {
    Seen seen;
    WebServer first(recordingHandler(seen));
    std::string error;
    ASSERT_TRUE(first.start(0, error, kLoopback)) << error;
    const uint16_t port = first.port();

    WebServer second(recordingHandler(seen));
    EXPECT_FALSE(second.start(port, error, kLoopback));
    EXPECT_NE(error.find(std::to_string(port)), std::string::npos) << error;
    EXPECT_NE(error.find("in use"), std::string::npos) << error;
    EXPECT_FALSE(second.isRunning());
    EXPECT_EQ(second.fd(), -1);

    first.stop();
    EXPECT_EQ(first.fd(), -1);
    EXPECT_EQ(first.port(), 0);
    first.run();  // harmless when stopped
    ASSERT_TRUE(second.start(port, error, kLoopback)) << "the port is free again: " << error;
}

TEST(WebServerTest, TheHostCheckKnowsThisComputersAddressesAndName) {
    LocalAddresses local;
    EXPECT_TRUE(local.contains(kLoopback));
    EXPECT_FALSE(local.contains(0xC63364FE));  // 198.51.100.254, a documentation address
    char name[256] = {};
    ASSERT_EQ(gethostname(name, sizeof name - 1), 0);
    std::vector<std::string> names = localHostNames();
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.front(), std::string(name).substr(0, std::string(name).find('.')));
    EXPECT_EQ(names.back(), names.front() + ".local");
}

}  // namespace
}  // namespace linkmoot
