#pragma once
// Finding Linkmoot servers on the LAN, for a client that was not told the
// server's address: what DNS-SD announces (through ServiceBrowser, the
// system's multicast DNS), and the answers to a `query:` datagram sent to
// every broadcast address of this computer (the fallback without Avahi).
// Finding a server never makes it trusted: with a shared secret only a server
// whose signed answer verifies can be chosen, and the secret never travels.
// Nothing here waits: a round sends its queries and reads the answers at the
// caller's polls, for 2 s.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Protocol.h"
#include "UdpSocket.h"

namespace linkmoot {

class Clock;
class KeyStore;

/// The service type Linkmoot servers announce.
inline constexpr const char* kServiceType = "_linkmoot._udp";

/// One service DNS-SD resolved (IPv4).
struct AnnouncedServer {
    std::string instance;  ///< "Linkmoot on gw1", or the name Avahi chose on a collision
    std::string host;      ///< the host name as announced, without ".local"
    uint32_t address = 0;
    uint16_t port = 0;
    /// The TXT record as key=value pairs (txtvers, v, secret, web).
    std::map<std::string, std::string> txt;
    bool operator==(const AnnouncedServer&) const = default;
};

/// The system's DNS-SD browser. Rules: every call on the caller's thread,
/// none waits; results change only between the caller's calls (the loop
/// delivers them). Without a DNS-SD daemon it finds nothing and says so once
/// in the log.
class ServiceBrowser {
public:
    virtual ~ServiceBrowser() = default;
    /// Starts (true) or stops browsing for kServiceType; repeating a state
    /// does nothing. Stopping forgets what was found.
    virtual void browse(bool on) = 0;
    /// The services resolved now.
    virtual std::vector<AnnouncedServer> announced() const = 0;
};

/// A server as the client's lists show it.
struct FoundServer {
    /// Its short host name (from its answer's `host=` or its announcement),
    /// else its announced instance name, else its address.
    std::string name;
    std::string instance;  ///< the announced instance name; empty when not announced
    uint32_t address = 0;
    uint16_t port = 0;
    bool secret = false;  ///< takes only signed votes (announced so, or answered signed)
    std::optional<uint16_t> webPort;
    bool announced = false;  ///< found by DNS-SD
    bool answered = false;   ///< answered the latest broadcast query
    bool verified = false;   ///< its signed answer verified under this client's key
    bool operator==(const FoundServer&) const = default;
};

/// "gw1 (192.0.2.1, port 9005, signed votes)", as the dialog and the prompt list it.
std::string describe(const FoundServer& server);

class ServerFinder {
public:
    static constexpr uint32_t kRoundMs = 2000;
    /// Answers read per poll at most, so a flood cannot hold the loop.
    static constexpr int kMaxReadsPerPoll = 64;

    /// `keys`: the shared secret (null: none); `counter`: the client's own, so
    /// the server's replay guard sees one rising counter per name; `browser`:
    /// null when there is no DNS-SD. All outlive the finder.
    ServerFinder(Network& network, Clock& clock, KeyStore* keys, protocol::Counter& counter,
                 ServiceBrowser* browser);
    ~ServerFinder();
    ServerFinder(const ServerFinder&) = delete;
    ServerFinder& operator=(const ServerFinder&) = delete;

    /// Browses DNS-SD while on.
    void browse(bool on);
    /// Sends `query:NAME` to the broadcast address of every interface that is
    /// up and has one, on `port`; the answers count for 2 s. Nothing when a
    /// round runs, or when no query can be sent (logged at Debug).
    void startRound(uint16_t port, const std::string& name);
    /// Reads answers; ends the round once its 2 s are over. True when what
    /// servers() lists changed.
    bool poll();
    bool searching() const { return socket != nullptr; }
    /// Rounds ended since the finder was made.
    unsigned roundsDone() const { return rounds; }
    /// The answers of the latest ended round merged with what DNS-SD knows
    /// now (one entry per address and port), sorted by name.
    std::vector<FoundServer> servers() const;
    /// Those a client may vote to: with a key, the servers whose signed answer
    /// verified; without, those that do not demand signed votes.
    std::vector<FoundServer> choosable() const;

private:
    void endRound();
    void readAnswers();

    Network& network;
    Clock& clock;
    KeyStore* keys;
    protocol::Counter& counter;
    ServiceBrowser* browser;
    std::unique_ptr<UdpSocket> socket;
    uint32_t roundStart = 0;
    std::vector<uint64_t> sentCounters;   // the signed queries' t of this round
    std::vector<FoundServer> collecting;  // answers of the running round
    std::vector<FoundServer> answeredLast;
    unsigned rounds = 0;
};

}  // namespace linkmoot
