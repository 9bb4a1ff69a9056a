#include "VoteIntake.h"

#include "Clock.h"
#include "Ipv4.h"
#include "LogText.h"
#include "SharedSecret.h"
#include "ToolBox/Logger.h"
#include "VoteTable.h"

namespace linkmoot {

VoteIntake::VoteIntake(Network& network, Clock& clock, KeyStore* keys)
    : network(network), clock(clock), keys(keys) {}

VoteIntake::~VoteIntake() {
    close();
}

const ProtocolKey* VoteIntake::key() const {
    return keys != nullptr ? keys->key() : nullptr;
}

bool VoteIntake::open(int32_t port, const std::string& allowedNetworks) {
    if (socket)
        return true;
    std::unique_ptr<UdpSocket> created = network.createSocket();
    bool opened = false;
    if (port < 0 || port > 65535) {
        LM_LOG(Error, "The port %d is not a UDP port number (0 to 65535)", static_cast<int>(port));
    } else {
        opened = created->open(static_cast<uint16_t>(port));
        if (!opened)
            LM_LOG(Error, "Server socket error: %s", created->lastErrorText().c_str());
    }
    if (!opened) {
        LM_LOG(Error, "Cannot create server socket");
        return false;
    }
    socket = std::move(created);
    askForReceiveBuffer();
    trust::AllowedNetworks allowed;
    std::string error;
    if (!trust::AllowedNetworks::parse(allowedNetworks, allowed, error)) {
        LM_LOG(Error, "The allowed networks cannot be read (%s): the private networks are used",
               error.c_str());
    }
    trustGate.setAllowedNetworks(allowed);
    return true;
}

void VoteIntake::askForReceiveBuffer() {
    const std::size_t granted = socket->setReceiveBuffer(kReceiveBufferBytes);
    // Said once: a small LAN does not need the room, a large one should know.
    if (granted < kReceiveBufferBytes && !smallBufferSaid) {
        smallBufferSaid = true;
        LM_LOG(Info,
               "The vote socket got a receive buffer of %zu KiB, less than the %zu KiB asked "
               "for: a burst of more than about %zu datagrams is dropped by the kernel; raise "
               "net.core.rmem_max (see the README) for a LAN of many hundred clients",
               granted / 1024, kReceiveBufferBytes / 1024, granted / 832);
    }
}

void VoteIntake::close() {
    pending.clear();
    if (!socket)
        return;
    LM_LOG(Debug, "Closing server socket");
    socket->close();
    socket.reset();
    LM_LOG(Debug, "Server socket closed");
}

uint16_t VoteIntake::boundPort() const {
    return socket ? socket->localPort() : 0;
}

VoteIntake::Served VoteIntake::read(VoteTable& votes, uint32_t now) {
    Served served;
    if (!socket || (keys != nullptr && keys->configured() && keys->key() == nullptr))
        return served;
    // The idle poll: nothing arrived since the last read found the socket empty.
    if (!socket->mayHoldDatagrams())
        return served;
    bool wallRead = false;
    for (int read = 0; read < kMaxDatagramsPerPoll; read++) {
        char buffer[protocol::kMaxDatagramLength + 1];
        std::size_t length = 0;
        Endpoint source;
        Arrival arrival;
        const UdpSocket::Received received =
            socket->receiveFrom(buffer, protocol::kMaxDatagramLength, length, source, arrival);
        if (received == UdpSocket::Received::Nothing)
            break;
        // Once a poll, and only for a poll with datagrams: asking whether the
        // clock is synchronised is a system call an idle server need not make.
        if (!wallRead) {
            wall = clock.wallClock();
            wallRead = true;
        }
        // Outside senders are dropped before anything else, uncounted.
        if (!trustGate.sourceAllowed(source.address, now))
            continue;
        // An oversized datagram is shown to the gate at one byte over the
        // limit, which it drops as malformed.
        const std::string_view bytes(
            buffer, received == UdpSocket::Received::Oversized ? sizeof buffer : length);
        protocol::Request request;
        switch (trustGate.check(bytes, source.address, key(), wall, now, request)) {
            case trust::ServerGate::Verdict::Dropped:
                break;
            case trust::ServerGate::Verdict::Ignored:
                served.any = true;
                break;
            case trust::ServerGate::Verdict::Accepted:
                served.any = true;
                apply(request, source, arrival.local, votes, now, served);
                // Answers to broadcasts are how clients find servers: off
                // with the announcement.
                if (!arrival.broadcast || answersBroadcasts) {
                    pending.push_back({source.address, source.port, arrival.local,
                                       std::string(request.name), request.t});
                }
                break;
        }
    }
    return served;
}

void VoteIntake::apply(const protocol::Request& request, const Endpoint& source, uint32_t local,
                       VoteTable& votes, uint32_t now, Served& served) {
    const std::string host(request.name);
    const std::string shown = printable(host.c_str());
    // The web page's names belong to its timed votes; a datagram must not end one.
    if (host.rfind(kWebNamePrefix, 0) == 0) {
        LM_LOG(Debug, "Ignoring a datagram for the web vote '%s'", shown.c_str());
        return;
    }
    switch (request.verb) {
        case protocol::Verb::Query:
            LM_LOG(Debug, "Received a query from host '%s'", shown.c_str());
            return;
        case protocol::Verb::Vote:
            votes.vote(host, now, source.address, local);
            served.voted = true;
            LM_LOG(Debug, "Received a vote from host '%s'", shown.c_str());
            return;
        case protocol::Verb::Unvote:
            // Without a secret an unvote counts only from the address of the
            // name's last vote (not its port: older clients send from a new
            // one each time). With one, the mac proves the name wherever it
            // comes from.
            if (votes.unvote(host, source.address, key() != nullptr) ==
                VoteTable::Unvote::OtherAddress) {
                LM_LOG(Debug,
                       "Ignoring an unvote for host '%s' from %s, not the address of its vote",
                       shown.c_str(), ipv4::format(source.address).c_str());
            }
            LM_LOG(Debug, "Received an unvote from host '%s'", shown.c_str());
            return;
    }
}

void VoteIntake::answer(protocol::LineReport report, const VoteTable& votes, uint32_t now) {
    if (pending.empty() || !socket)
        return;
    const std::vector<bool> admitted = trustGate.admit(pending, now);
    std::vector<std::string> answers;
    std::vector<OutgoingDatagram> datagrams;
    answers.reserve(pending.size());
    datagrams.reserve(pending.size());
    for (std::size_t i = 0; i < pending.size(); i++) {
        if (!admitted[i])
            continue;  // served, only not answered
        const trust::PendingAnswer& request = pending[i];
        report.you = votes.holds(request.name);
        std::string answer = trustGate.answer(request, report, key(), wall);
        if (answer.empty())
            continue;
        answers.push_back(std::move(answer));
        datagrams.push_back({{}, {request.address, request.port}, request.local});
    }
    // The texts are in place now: a vector that grows would move them.
    for (std::size_t i = 0; i < datagrams.size(); i++)
        datagrams[i].data = answers[i];
    socket->sendEach(datagrams, [&datagrams](std::size_t index, const std::string& error) {
        LM_LOG(Debug, "Cannot answer %s: %s",
               ipv4::format(datagrams[index].destination.address).c_str(), error.c_str());
    });
    pending.clear();
}

void VoteIntake::housekeeping(uint32_t now) {
    for (const std::string& warning : trustGate.housekeeping(now))
        LM_LOG(Warn, "%s", warning.c_str());
}

}  // namespace linkmoot
