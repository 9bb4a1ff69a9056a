// The yardstick for bench/daemon-footprint.sh: the least a C++ daemon with a
// one-second poll can do (one bound UDP socket, a poll timeout each second and
// one non-blocking read), measured the same way as linkmootd.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    const int port = argc > 1 ? std::atoi(argv[1]) : 0;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
        return 1;
    std::string last;
    for (;;) {
        pollfd entry{fd, 0, 0};  // wakes on the timeout only, as an idle daemon does
        poll(&entry, 1, 1000);
        char buffer[257];
        const ssize_t got = recv(fd, buffer, sizeof(buffer), MSG_TRUNC);
        if (got > 0)
            last.assign(buffer, static_cast<std::size_t>(got));
    }
}
