#pragma once
#include <sys/types.h>

#include <memory>
#include <mutex>

#include "UdpSocket.h"
#include "platform/EventSource.h"

namespace linkmoot {

/// IPv4 UDP sockets over the POSIX socket API.
///
/// Given the loop it runs on, a socket knows when it is empty: a read that
/// finds nothing has the loop watch the descriptor, and the first datagram
/// to arrive ends the watch (once: a busy socket does not wake the loop for
/// every datagram). Until then mayHoldDatagrams() is false and an idle poll
/// makes no system call.
///
/// A busy socket is read and answered in batches (recvmmsg, sendmmsg): a
/// server's poll of many hundred datagrams makes a few system calls, not two
/// per datagram. receiveFrom() takes the datagrams of a batch one by one;
/// receive() reads directly, so a socket is read one way or the other.
class PosixUdpSocket : public UdpSocket {
public:
    explicit PosixUdpSocket(EventSource* events = nullptr);
    ~PosixUdpSocket() override;
    PosixUdpSocket(const PosixUdpSocket&) = delete;
    PosixUdpSocket& operator=(const PosixUdpSocket&) = delete;

    bool open(uint16_t port) override;
    bool setBroadcast() override;
    std::size_t setReceiveBuffer(std::size_t bytes) override;
    bool connect(const char* host, uint16_t port) override;
    bool send(const void* data, std::size_t length) override;
    Received receive(char* buffer, std::size_t capacity, std::size_t& length) override;
    Received receiveFrom(char* buffer, std::size_t capacity, std::size_t& length, Endpoint& source,
                         Arrival& arrival) override;
    bool sendTo(const void* data, std::size_t length, const Endpoint& destination,
                uint32_t from) override;
    void sendEach(std::span<const OutgoingDatagram> datagrams, const SendFailure& failed) override;
    bool mayHoldDatagrams() const override { return !empty; }
    void close() override;
    uint16_t localPort() const override;
    std::string lastErrorText() const override { return errorText; }

private:
    struct ReceiveBatch;

    bool fail();
    /// Reads the next batch into `batch`; false when it read nothing.
    bool readBatch();
    Received takeFromBatch(char* buffer, std::size_t capacity, std::size_t& length,
                           Endpoint& source, Arrival& arrival);
    /// A read that found no datagram: the error kept, or the socket empty.
    Received nothingRead(ssize_t received);
    /// A read found nothing: empty until the loop sees the descriptor readable.
    void foundEmpty();
    void stopWatching();

    EventSource* events;
    int descriptor = -1;
    bool empty = false;
    bool watching = false;
    std::string errorText;
    /// Made at the first datagram read: an idle server never needs it.
    std::unique_ptr<ReceiveBatch> batch;
};

/// getaddrinfo on a thread of its own per look-up. The thread is detached:
/// getaddrinfo cannot be interrupted, and a resolver behind a down uplink may
/// take many seconds, which neither the loop nor the program's exit waits for.
class PosixNameResolver : public NameResolver {
public:
    void start(const std::string& host) override;
    bool take(bool& found, uint32_t& address, std::string& error) override;

private:
    struct Lookup {
        std::mutex mutex;
        bool done = false;
        bool found = false;
        uint32_t address = 0;
        std::string error;
    };
    std::shared_ptr<Lookup> current;
};

/// Sockets and the short host name of this computer.
class PosixNetwork : public Network {
public:
    /// `events`: the loop the sockets are read from (null: none, so every
    /// socket may always hold datagrams); it outlives the sockets.
    explicit PosixNetwork(EventSource* events = nullptr) : events(events) {}
    std::unique_ptr<UdpSocket> createSocket() override;
    std::unique_ptr<NameResolver> createResolver() override;
    /// gethostname, cut at the first "." (not shortened further, so two hosts
    /// whose names share a long prefix stay two voters).
    bool computerName(std::string& name) override;
    /// getifaddrs.
    std::vector<InterfaceAddress> interfaceAddresses() override;

private:
    EventSource* events;
};

}  // namespace linkmoot
