#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace linkmoot {

/// An IPv4 address and port, both in host order.
struct Endpoint {
    uint32_t address = 0;
    uint16_t port = 0;
    bool operator==(const Endpoint&) const = default;
};

/// Where a received datagram arrived.
struct Arrival {
    /// The local address it reached: the unicast destination, or for a
    /// datagram sent to a broadcast address the receiving interface's address
    /// (0: unknown).
    uint32_t local = 0;
    /// It was sent to a broadcast address (its destination is not `local`).
    bool broadcast = false;
};

/// One datagram for UdpSocket::sendEach(): as sendTo() takes it.
struct OutgoingDatagram {
    std::string_view data;
    Endpoint destination;
    uint32_t from = 0;
};

/// One IPv4 address of a network interface, numbers in host order.
struct InterfaceAddress {
    std::string name;
    unsigned index = 0;
    uint32_t address = 0;
    uint32_t netmask = 0;
    /// The interface's broadcast address; 0 when it has none.
    uint32_t broadcast = 0;
    bool up = false;
    bool loopback = false;
    /// A point-to-point link: the uplink of a dial-up or PPPoE line, a tunnel.
    bool pointToPoint = false;
};

/// One IPv4 UDP socket. Created closed; open() makes it. Every failing
/// operation keeps its error for lastErrorText(). The destructor closes it.
class UdpSocket {
public:
    /// What receive() found.
    enum class Received { Datagram, Nothing, Oversized };
    /// A datagram of sendEach() that could not be sent: its index, the error text.
    using SendFailure = std::function<void(std::size_t index, const std::string& error)>;

    virtual ~UdpSocket() = default;
    /// Creates a non-blocking socket bound to all local addresses and the port
    /// (0: the system picks one).
    virtual bool open(uint16_t port) = 0;
    /// SO_BROADCAST on.
    virtual bool setBroadcast() = 0;
    /// Asks for a receive buffer of `bytes` (as the kernel counts them, its
    /// own bookkeeping included) and returns what was granted, which the
    /// system's limit may make less.
    virtual std::size_t setReceiveBuffer(std::size_t bytes) = 0;
    /// Fixes the destination of later sends. A dotted address is taken as it
    /// is; a name is resolved for IPv4 and its first address used.
    virtual bool connect(const char* host, uint16_t port) = 0;
    /// Sends one datagram to the connected destination; the result is not looked at.
    virtual bool send(const void* data, std::size_t length) = 0;
    /// Reads one pending datagram of at most `capacity` bytes without waiting.
    /// A longer datagram is consumed and reported as Oversized.
    virtual Received receive(char* buffer, std::size_t capacity, std::size_t& length) = 0;
    /// As receive(), and says where the datagram came from and where it arrived.
    virtual Received receiveFrom(char* buffer, std::size_t capacity, std::size_t& length,
                                 Endpoint& source, Arrival& arrival) = 0;
    /// False only when the socket is known to hold no datagram: nothing has
    /// arrived since a read found it empty. Reading then would find Nothing,
    /// so an idle poll may skip the read (and its system call). A socket that
    /// cannot know says true.
    virtual bool mayHoldDatagrams() const { return true; }
    /// Sends one datagram to `destination` (an unconnected socket) from the
    /// local address `from` (0: the one the system picks); never waits. An
    /// answer leaves from the address its request reached, so that a client
    /// whose socket is connected to that address accepts it.
    virtual bool sendTo(const void* data, std::size_t length, const Endpoint& destination,
                        uint32_t from) = 0;
    /// Sends each datagram as sendTo() would, in order, in as few system
    /// calls as the system allows: a server answers a poll's requests at
    /// once. One that cannot be sent is passed to `failed` with its error
    /// text, and the rest are still sent.
    virtual void sendEach(std::span<const OutgoingDatagram> datagrams, const SendFailure& failed) {
        for (std::size_t i = 0; i < datagrams.size(); i++) {
            const OutgoingDatagram& datagram = datagrams[i];
            if (!sendTo(datagram.data.data(), datagram.data.size(), datagram.destination,
                        datagram.from)) {
                failed(i, lastErrorText());
            }
        }
    }
    virtual void close() = 0;
    /// The port the socket is bound to (after open), for tests and logs.
    virtual uint16_t localPort() const = 0;
    /// The error of the last failed call: "Error n in facility f: text".
    virtual std::string lastErrorText() const = 0;
};

/// Looks a host name up for IPv4 away from the caller's thread, one name at a
/// time: the caller starts a look-up and collects its answer on a later tick.
class NameResolver {
public:
    virtual ~NameResolver() = default;
    /// Starts looking `host` up; the answer of a look-up still under way is
    /// then thrown away when it comes.
    virtual void start(const std::string& host) = 0;
    /// Without waiting: true when the latest look-up has answered (once per
    /// look-up); then `found` and `address`, or the failure in `error`
    /// ("Error n in facility f: text").
    virtual bool take(bool& found, uint32_t& address, std::string& error) = 0;
};

/// The network as the client and server reach it.
class Network {
public:
    virtual ~Network() = default;
    virtual std::unique_ptr<UdpSocket> createSocket() = 0;
    virtual std::unique_ptr<NameResolver> createResolver() = 0;
    /// This computer's short host name; false when it cannot be read.
    virtual bool computerName(std::string& name) = 0;
    /// The IPv4 addresses of this computer's interfaces, read now (empty when
    /// they cannot be read).
    virtual std::vector<InterfaceAddress> interfaceAddresses() = 0;
};

}  // namespace linkmoot
