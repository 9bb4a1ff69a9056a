#pragma once
// What the process-level tests need to play the other end of a vote on
// loopback: this machine's short host name (as a client sends it) and a UDP
// socket that stands in for a server and collects the datagrams.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace testsupport {

/// The host name cut at the first dot, as in "vote:<name>".
inline std::string shortHostName() {
    char name[256] = {};
    gethostname(name, sizeof(name) - 1);
    const std::string text = name;
    return text.substr(0, text.find('.'));
}

/// A UDP socket bound to 127.0.0.1 on a port the system picks.
class VoteListener {
public:
    VoteListener() {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        socklen_t length = sizeof(address);
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~VoteListener() { close(fd); }
    VoteListener(const VoteListener&) = delete;
    VoteListener& operator=(const VoteListener&) = delete;

    /// The next datagram, or "" when none comes in time.
    std::string next(int timeoutMs) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, timeoutMs) <= 0)
            return "";
        char buffer[512];
        const ssize_t got = recv(fd, buffer, sizeof(buffer), 0);
        return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : "";
    }

    int port = 0;

private:
    int fd = -1;
};

}  // namespace testsupport
