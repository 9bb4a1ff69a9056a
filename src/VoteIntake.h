#pragma once
// The server's side of the network: its UDP socket, the trust gate every
// datagram passes, the vote table's changes the accepted ones make, and the
// answers, sent once the controller has acted on them so that they tell the
// new state. Reading never waits: the socket is non-blocking and a poll reads
// a bounded number of datagrams; what is left waits in the socket.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Protocol.h"
#include "Trust.h"
#include "UdpSocket.h"

namespace linkmoot {

class Clock;
class KeyStore;
class VoteTable;

class VoteIntake {
public:
    /// Every datagram waiting at a poll is served, up to this many read per
    /// poll in all (dropped ones included), so a flood cannot hold the loop.
    static constexpr int kMaxDatagramsPerPoll = 1000;
    /// The receive buffer asked for: one second of 2000 clients' datagrams
    /// should they all send at once (a small datagram costs the kernel about
    /// 832 bytes of it), within the kernel's net.core.rmem_max.
    static constexpr std::size_t kReceiveBufferBytes = 2000 * 832;

    /// `keys`: the shared secret's key store (null: no secret), owned by the caller.
    VoteIntake(Network& network, Clock& clock, KeyStore* keys);
    ~VoteIntake();
    VoteIntake(const VoteIntake&) = delete;
    VoteIntake& operator=(const VoteIntake&) = delete;

    /// Binds the port and takes the allowed networks (their default, with an
    /// Error line, when the text cannot be read). False, with the Error lines
    /// logged, when the socket cannot be had.
    bool open(int32_t port, const std::string& allowedNetworks);
    void close();
    bool isOpen() const { return socket != nullptr; }
    uint16_t boundPort() const;
    /// Whether requests sent to a broadcast address are answered (they are
    /// served either way); on until set.
    void answerBroadcasts(bool on) { answersBroadcasts = on; }

    struct Served {
        bool any = false;    ///< a datagram was served (accepted or ignored)
        bool voted = false;  ///< a vote was accepted: the idle clock starts again
    };
    /// Reads the datagrams of one poll into the table and keeps what is to
    /// be answered. With a secret whose key is still being derived nothing is
    /// read: the datagrams wait for a later poll.
    Served read(VoteTable& votes, uint32_t now);
    /// Answers what read() accepted, with the report (its `you` set per
    /// request from the table); at most one answer a second to each source.
    void answer(protocol::LineReport report, const VoteTable& votes, uint32_t now);
    /// Whether read() left requests to answer: without any the report is not made.
    bool hasPending() const { return !pending.empty(); }
    /// Once a poll: the trust rules' Warn lines that are due.
    void housekeeping(uint32_t now);

    /// The trust rules (tests read the drop counts).
    const trust::ServerGate& gate() const { return trustGate; }

private:
    void apply(const protocol::Request& request, const Endpoint& source, uint32_t local,
               VoteTable& votes, uint32_t now, Served& served);
    const ProtocolKey* key() const;
    void askForReceiveBuffer();

    Network& network;
    Clock& clock;
    KeyStore* keys;
    std::unique_ptr<UdpSocket> socket;
    trust::ServerGate trustGate;
    trust::WallClock wall;  // read once a poll that has datagrams; answers are made in it
    bool smallBufferSaid = false;
    std::vector<trust::PendingAnswer> pending;
    bool answersBroadcasts = true;
};

}  // namespace linkmoot
