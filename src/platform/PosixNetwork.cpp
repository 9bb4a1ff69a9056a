#include "platform/PosixNetwork.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <thread>

#include "ToolBox/String.h"

namespace linkmoot {

PosixUdpSocket::PosixUdpSocket(EventSource* events) : events(events) {}

PosixUdpSocket::~PosixUdpSocket() {
    close();
}

bool PosixUdpSocket::fail() {
    errorText = toolbox::systemErrorText(static_cast<uint32_t>(errno)).c_str();
    return false;
}

bool PosixUdpSocket::open(uint16_t port) {
    close();
    descriptor = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (descriptor < 0)
        return fail();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    if (::bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        fail();
        close();
        return false;
    }
    // Each datagram then says which local address it reached, so the answer
    // can leave from there (see sendTo).
    int on = 1;
    if (::setsockopt(descriptor, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
        fail();
        close();
        return false;
    }
    return true;
}

bool PosixUdpSocket::setBroadcast() {
    int on = 1;
    if (::setsockopt(descriptor, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        return fail();
    return true;
}

std::size_t PosixUdpSocket::setReceiveBuffer(std::size_t bytes) {
    // The kernel doubles what it is asked for (its bookkeeping), up to twice
    // net.core.rmem_max, and reports the doubled size.
    int asked = static_cast<int>(std::min<std::size_t>(bytes / 2, INT_MAX));
    if (::setsockopt(descriptor, SOL_SOCKET, SO_RCVBUF, &asked, sizeof asked) != 0)
        fail();
    int granted = 0;
    socklen_t size = sizeof granted;
    if (::getsockopt(descriptor, SOL_SOCKET, SO_RCVBUF, &granted, &size) != 0 || granted < 0)
        return 0;
    return static_cast<std::size_t>(granted);
}

bool PosixUdpSocket::connect(const char* host, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (::inet_pton(AF_INET, host, &address.sin_addr) != 1) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* found = nullptr;
        const int result = ::getaddrinfo(host, nullptr, &hints, &found);
        if (result != 0) {
            if (result == EAI_SYSTEM)
                return fail();
            toolbox::String text;
            text.format("Error %d in facility 0: %s", -result, ::gai_strerror(result));
            errorText = text.c_str();
            return false;
        }
        address.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
        ::freeaddrinfo(found);
    }
    if (::connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return fail();
    }
    return true;
}

bool PosixUdpSocket::send(const void* data, std::size_t length) {
    if (::send(descriptor, data, length, 0) < 0)
        return fail();
    return true;
}

UdpSocket::Received PosixUdpSocket::receive(char* buffer, std::size_t capacity,
                                            std::size_t& length) {
    length = 0;
    // MSG_TRUNC makes recv report the datagram's real length, so a longer one
    // is recognised (and consumed) instead of being read cut short.
    const ssize_t received = ::recv(descriptor, buffer, capacity, MSG_TRUNC);
    if (received <= 0)
        return nothingRead(received);
    empty = false;
    if (static_cast<std::size_t>(received) > capacity)
        return Received::Oversized;
    length = static_cast<std::size_t>(received);
    return Received::Datagram;
}

namespace {

/// How many datagrams a batch holds, and how long each may be read.
constexpr std::size_t kBatchDatagrams = 32;
constexpr std::size_t kBatchSlotBytes = 512;  // twice a protocol datagram's limit
constexpr std::size_t kSendChunk = 64;
constexpr std::size_t kPacketInfoSpace = CMSG_SPACE(sizeof(in_pktinfo));

void readOrigin(const msghdr& message, const sockaddr_in& address, Endpoint& source,
                Arrival& arrival) {
    source.address = ntohl(address.sin_addr.s_addr);
    source.port = ntohs(address.sin_port);
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(const_cast<msghdr*>(&message), header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(header), sizeof info);
            // ipi_spec_dst: the destination of a unicast datagram, the
            // interface's own address for a broadcast one; ipi_addr: the
            // destination the datagram carried.
            arrival.local = ntohl(info.ipi_spec_dst.s_addr);
            arrival.broadcast = info.ipi_addr.s_addr != info.ipi_spec_dst.s_addr;
        }
    }
}

/// A message for recvmsg: the address, the data and the packet information.
void prepareReceive(msghdr& message, sockaddr_in& address, iovec& part, char* control) {
    message = msghdr{};
    message.msg_name = &address;
    message.msg_namelen = sizeof address;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = kPacketInfoSpace;
}

/// A message for sendmsg; `control` (kPacketInfoSpace bytes) holds the source
/// address when there is one.
void prepareSend(const OutgoingDatagram& datagram, msghdr& message, sockaddr_in& address,
                 iovec& part, char* control) {
    address = sockaddr_in{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(datagram.destination.address);
    address.sin_port = htons(datagram.destination.port);
    part = iovec{const_cast<char*>(datagram.data.data()), datagram.data.size()};
    message = msghdr{};
    message.msg_name = &address;
    message.msg_namelen = sizeof address;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (datagram.from == 0)
        return;
    // The source address alone; the routing table still picks the interface.
    std::memset(control, 0, kPacketInfoSpace);
    message.msg_control = control;
    message.msg_controllen = kPacketInfoSpace;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = htonl(datagram.from);
    std::memcpy(CMSG_DATA(header), &info, sizeof info);
}

}  // namespace

struct PosixUdpSocket::ReceiveBatch {
    mmsghdr headers[kBatchDatagrams];
    sockaddr_in addresses[kBatchDatagrams];
    iovec parts[kBatchDatagrams];
    alignas(cmsghdr) char controls[kBatchDatagrams][kPacketInfoSpace];
    char slots[kBatchDatagrams][kBatchSlotBytes];
    std::size_t count = 0;  ///< read by the last recvmmsg
    std::size_t next = 0;   ///< the next one to hand out
};

UdpSocket::Received PosixUdpSocket::receiveFrom(char* buffer, std::size_t capacity,
                                                std::size_t& length, Endpoint& source,
                                                Arrival& arrival) {
    length = 0;
    arrival = Arrival();
    if (batch && batch->next < batch->count)
        return takeFromBatch(buffer, capacity, length, source, arrival);
    if (batch && capacity <= kBatchSlotBytes) {
        if (!readBatch())
            return Received::Nothing;
        return takeFromBatch(buffer, capacity, length, source, arrival);
    }
    sockaddr_in address{};
    iovec part{buffer, capacity};
    alignas(cmsghdr) char control[kPacketInfoSpace];
    msghdr message;
    prepareReceive(message, address, part, control);
    // MSG_TRUNC makes recvmsg report the datagram's real length, so a longer
    // one is recognised (and consumed) instead of being read cut short.
    const ssize_t received = ::recvmsg(descriptor, &message, MSG_TRUNC);
    if (received <= 0)
        return nothingRead(received);
    empty = false;
    readOrigin(message, address, source, arrival);
    // Datagrams come in crowds or not at all: the next read takes a batch.
    if (!batch)
        batch = std::make_unique<ReceiveBatch>();
    if (static_cast<std::size_t>(received) > capacity)
        return Received::Oversized;
    length = static_cast<std::size_t>(received);
    return Received::Datagram;
}

bool PosixUdpSocket::readBatch() {
    ReceiveBatch& read = *batch;
    for (std::size_t i = 0; i < kBatchDatagrams; i++) {
        read.parts[i] = iovec{read.slots[i], kBatchSlotBytes};
        prepareReceive(read.headers[i].msg_hdr, read.addresses[i], read.parts[i], read.controls[i]);
    }
    read.count = read.next = 0;
    const int received =
        ::recvmmsg(descriptor, read.headers, kBatchDatagrams, MSG_TRUNC | MSG_DONTWAIT, nullptr);
    if (received <= 0) {
        nothingRead(received);
        return false;
    }
    empty = false;
    read.count = static_cast<std::size_t>(received);
    return true;
}

UdpSocket::Received PosixUdpSocket::takeFromBatch(char* buffer, std::size_t capacity,
                                                  std::size_t& length, Endpoint& source,
                                                  Arrival& arrival) {
    const std::size_t i = batch->next++;
    const mmsghdr& header = batch->headers[i];
    readOrigin(header.msg_hdr, batch->addresses[i], source, arrival);
    // msg_len is the datagram's real length (MSG_TRUNC): a longer one than
    // the slot was cut, and is longer than any capacity a batch is read for.
    const std::size_t received = header.msg_len;
    if (received > capacity || received > kBatchSlotBytes)
        return Received::Oversized;
    std::memcpy(buffer, batch->slots[i], received);
    length = received;
    return Received::Datagram;
}

bool PosixUdpSocket::sendTo(const void* data, std::size_t length, const Endpoint& destination,
                            uint32_t from) {
    const OutgoingDatagram datagram{{static_cast<const char*>(data), length}, destination, from};
    msghdr message;
    sockaddr_in address;
    iovec part;
    alignas(cmsghdr) char control[kPacketInfoSpace];
    prepareSend(datagram, message, address, part, control);
    if (::sendmsg(descriptor, &message, MSG_DONTWAIT) < 0)
        return fail();
    return true;
}

void PosixUdpSocket::sendEach(std::span<const OutgoingDatagram> datagrams,
                              const SendFailure& failed) {
    mmsghdr headers[kSendChunk];
    sockaddr_in addresses[kSendChunk];
    iovec parts[kSendChunk];
    alignas(cmsghdr) char controls[kSendChunk][kPacketInfoSpace];
    for (std::size_t done = 0; done < datagrams.size();) {
        const std::size_t count = std::min(kSendChunk, datagrams.size() - done);
        for (std::size_t i = 0; i < count; i++) {
            headers[i].msg_len = 0;
            prepareSend(datagrams[done + i], headers[i].msg_hdr, addresses[i], parts[i],
                        controls[i]);
        }
        // sendmmsg stops at a datagram that cannot be sent, and says so only
        // when it is the first: that one is reported and skipped, and the
        // rest are sent by the next call.
        for (std::size_t start = 0; start < count;) {
            const int sent = ::sendmmsg(descriptor, headers + start,
                                        static_cast<unsigned>(count - start), MSG_DONTWAIT);
            if (sent > 0) {
                start += static_cast<std::size_t>(sent);
                continue;
            }
            fail();
            failed(done + start, errorText);
            start++;
        }
        done += count;
    }
}

UdpSocket::Received PosixUdpSocket::nothingRead(ssize_t received) {
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        foundEmpty();
    else if (received < 0)
        fail();
    return Received::Nothing;
}

void PosixUdpSocket::foundEmpty() {
    if (events == nullptr)
        return;
    empty = true;
    if (watching)
        return;
    watching = true;
    events->watch(descriptor, [this] {
        // Watched once per empty spell: the reads that follow see to the rest.
        empty = false;
        stopWatching();
    });
}

void PosixUdpSocket::stopWatching() {
    if (!watching)
        return;
    watching = false;
    events->unwatch(descriptor);
}

void PosixUdpSocket::close() {
    // Before the descriptor goes: its number may name another file next.
    stopWatching();
    empty = false;
    batch.reset();
    if (descriptor >= 0) {
        ::close(descriptor);
        descriptor = -1;
    }
}

uint16_t PosixUdpSocket::localPort() const {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (descriptor < 0 ||
        ::getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

void PosixNameResolver::start(const std::string& host) {
    auto lookup = std::make_shared<Lookup>();
    current = lookup;
    std::thread([lookup, host] {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* found = nullptr;
        const int result = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
        std::string error;
        uint32_t address = 0;
        if (result == 0) {
            address = ntohl(reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
            ::freeaddrinfo(found);
        } else if (result == EAI_SYSTEM) {
            error = toolbox::systemErrorText(static_cast<uint32_t>(errno)).c_str();
        } else {
            toolbox::String text;
            text.format("Error %d in facility 0: %s", -result, ::gai_strerror(result));
            error = text.c_str();
        }
        std::lock_guard<std::mutex> lock(lookup->mutex);
        lookup->found = result == 0;
        lookup->address = address;
        lookup->error = std::move(error);
        lookup->done = true;
    }).detach();
}

bool PosixNameResolver::take(bool& found, uint32_t& address, std::string& error) {
    if (!current)
        return false;
    {
        std::lock_guard<std::mutex> lock(current->mutex);
        if (!current->done)
            return false;
        found = current->found;
        address = current->address;
        error = current->error;
    }
    current.reset();
    return true;
}

std::unique_ptr<UdpSocket> PosixNetwork::createSocket() {
    return std::make_unique<PosixUdpSocket>(events);
}

std::unique_ptr<NameResolver> PosixNetwork::createResolver() {
    return std::make_unique<PosixNameResolver>();
}

std::vector<InterfaceAddress> PosixNetwork::interfaceAddresses() {
    std::vector<InterfaceAddress> found;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return found;
    auto ipv4 = [](const sockaddr* address) {
        return address != nullptr && address->sa_family == AF_INET
                   ? ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr)
                   : 0u;
    };
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        InterfaceAddress address;
        address.name = entry->ifa_name;
        address.index = ::if_nametoindex(entry->ifa_name);
        address.address = ipv4(entry->ifa_addr);
        address.netmask = ipv4(entry->ifa_netmask);
        address.up = (entry->ifa_flags & IFF_UP) != 0 && (entry->ifa_flags & IFF_RUNNING) != 0;
        address.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
        address.pointToPoint = (entry->ifa_flags & IFF_POINTOPOINT) != 0;
        if ((entry->ifa_flags & IFF_BROADCAST) != 0) {
            address.broadcast = ipv4(entry->ifa_broadaddr);
            // An address added without one ("ip addr add" without "brd"
            // reads as the address itself): the block's last address is
            // the one its hosts listen on.
            if ((address.broadcast == 0 || address.broadcast == address.address) &&
                address.netmask != 0 && address.netmask != 0xFFFFFFFF)
                address.broadcast = address.address | ~address.netmask;
        }
        found.push_back(std::move(address));
    }
    ::freeifaddrs(list);
    return found;
}

namespace {

// The kernel's name for this host, from /proc first: gethostname lies in a
// page of libc that nothing else an idle server runs needs, and that page
// would then stay resident.
bool readHostName(char* buffer, std::size_t size) {
    const int file = ::open("/proc/sys/kernel/hostname", O_RDONLY | O_CLOEXEC);
    if (file >= 0) {
        const ssize_t length = ::read(file, buffer, size - 1);
        ::close(file);
        if (length > 0) {
            buffer[length] = '\0';
            if (char* end = static_cast<char*>(std::memchr(buffer, '\n', length)))
                *end = '\0';
            return true;
        }
    }
    return ::gethostname(buffer, size - 1) == 0;
}

}  // namespace

bool PosixNetwork::computerName(std::string& name) {
    char buffer[HOST_NAME_MAX + 1] = {};
    if (!readHostName(buffer, sizeof buffer))
        return false;
    name = buffer;
    const std::size_t dot = name.find('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return true;
}

}  // namespace linkmoot
