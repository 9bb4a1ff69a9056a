#pragma once
#include "UdpSocket.h"

namespace linkmoot {

/// IPv4 UDP sockets over the POSIX socket API.
class PosixUdpSocket : public UdpSocket {
public:
    PosixUdpSocket() = default;
    ~PosixUdpSocket() override;
    PosixUdpSocket(const PosixUdpSocket&) = delete;
    PosixUdpSocket& operator=(const PosixUdpSocket&) = delete;

    bool open(uint16_t port) override;
    bool setBroadcast() override;
    bool connect(const char* host, uint16_t port) override;
    bool send(const void* data, std::size_t length) override;
    Received receive(char* buffer, std::size_t capacity, std::size_t& length) override;
    void close() override;
    uint16_t localPort() const override;
    std::string lastErrorText() const override { return errorText; }

private:
    bool fail();

    int descriptor = -1;
    std::string errorText;
};

/// Sockets and the short host name of this computer.
class PosixNetwork : public Network {
public:
    std::unique_ptr<UdpSocket> createSocket() override;
    /// gethostname, cut at the first "." (not shortened further, so two hosts
    /// whose names share a long prefix stay two voters).
    bool computerName(std::string& name) override;
};

}  // namespace linkmoot
