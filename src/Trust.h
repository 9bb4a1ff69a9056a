#pragma once
// Which datagrams the server believes and whom it answers: the allowed
// networks, the replay guard and time window of signed datagrams, the answer
// rate limit against reflection, and the drop counter behind the Warn lines.
// Addresses are IPv4 in host order as plain numbers, times are the tick count
// in milliseconds (compared as unsigned differences), so no OS header is needed.
#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Protocol.h"

namespace linkmoot {

class ProtocolKey;

namespace trust {

/// The system's wall clock and whether it is synchronised to a time source.
struct WallClock {
    uint64_t unixMs = 0;
    bool synchronised = false;
};

/// The source networks whose datagrams the server reads.
class AllowedNetworks {
public:
    struct Block {
        uint32_t network;
        uint32_t mask;
    };

    /// The private networks and the link-local one.
    AllowedNetworks();
    /// Reads comma-separated IPv4 blocks such as "192.168.1.0/24, 10.0.0.0/8";
    /// a bare address is one host. Empty text (or spaces only) is the default.
    /// On a malformed entry returns false, leaves `networks` alone and says
    /// what is wrong in `error`.
    static bool parse(std::string_view text, AllowedNetworks& networks, std::string& error);
    /// 127.0.0.0/8 is always allowed.
    bool allows(uint32_t address) const;
    const std::vector<Block>& blocks() const { return list; }

private:
    std::vector<Block> list;
};

/// The last counter accepted per name, so a recorded datagram cannot be sent
/// again. A name is forgotten 600 s after its last accepted datagram; of more
/// than 4096 names the least recently used goes.
class ReplayGuard {
public:
    static constexpr uint32_t kKeepMs = 600000;
    static constexpr std::size_t kMaxNames = 4096;

    /// True (and t recorded) when t is above the name's last accepted one.
    bool accept(std::string_view name, uint64_t t, uint32_t nowTick);
    /// Forgets names unused for more than 600 s; once a poll is enough.
    void expire(uint32_t nowTick);
    std::size_t size() const { return names.size(); }

private:
    struct Entry {
        uint64_t t;
        uint32_t lastUse;
        std::list<std::string>::iterator order;
    };
    std::list<std::string> byUse;  // least recently used first
    std::unordered_map<std::string, Entry> names;
};

/// A signed datagram's t must lie within 300 s of a synchronised clock.
inline constexpr uint64_t kTimeWindowMs = 300000;
bool withinTimeWindow(uint64_t t, uint64_t nowUnixMs);

/// Answers could be turned against a forged source, so at most one goes to
/// each source address a second and 400 a second in all. The 400 are shared
/// fairly: when a poll has more answers due than the second has left, the
/// sources answered longest ago (or never) go first, so one held back wins
/// the next time, whenever in the second it asks.
class AnswerLimiter {
public:
    static constexpr uint32_t kWindowMs = 1000;
    static constexpr std::size_t kMaxPerWindow = 400;
    /// Sources whose last answer is remembered; beyond this the stalest are
    /// forgotten and count as never answered (first in line).
    static constexpr std::size_t kMaxSources = 8192;

    /// Of one poll's requests (their sources, in the order read), which may
    /// be answered now; those are counted as answered.
    std::vector<bool> admit(const std::vector<uint32_t>& sources, uint32_t nowTick);
    /// One request alone.
    bool allow(uint32_t source, uint32_t nowTick) { return admit({source}, nowTick)[0]; }

private:
    void forgetStalest(uint32_t nowTick);
    void refill(uint32_t nowTick);

    // A bucket of kMaxPerWindow answers that fills at kMaxPerWindow a second:
    // never more at once, 400 a second in the long run, and a poll that comes
    // a little early after a full one is not refused what the second before
    // it left unused (a sliding window refused a LAN at half the limit when
    // its senders bunched up).
    double tokens = kMaxPerWindow;
    uint32_t lastRefill = 0;
    bool refilled = false;
    std::unordered_map<uint32_t, uint32_t> lastAnswer;  // source -> tick
};

/// Why a datagram was dropped.
enum class DropReason {
    NotAllowed,     ///< the source is outside the allowed networks
    Malformed,      ///< over 256 bytes, or a broken extension block
    Unsigned,       ///< a server with a secret got no valid signature
    WrongMac,       ///< the mac does not verify
    Replayed,       ///< t not above the name's last accepted t
    OutsideWindow,  ///< t more than 300 s off the synchronised clock
};
const char* dropReasonText(DropReason reason);

/// Counts drops per source (at most 64 sources, the rest together) and says
/// when to Warn: at the first drop, then at most once an hour with the counts.
class DropLog {
public:
    static constexpr std::size_t kMaxSources = 64;
    static constexpr uint32_t kReportIntervalMs = 3600000;

    void count(uint32_t source, DropReason reason, uint32_t nowTick);
    /// The Warn line due now, or empty. Call once a poll.
    std::string due(uint32_t nowTick);
    uint64_t total() const { return sinceReport; }

private:
    struct Source {
        uint32_t address;
        uint64_t count;
        DropReason lastReason;
    };
    std::vector<Source> sources;
    uint64_t others = 0;
    uint64_t sinceReport = 0;
    bool warnedOnce = false;
    std::string first;  // the first drop's line, until due() hands it out
    uint32_t lastReport = 0;
    bool intervalOver = false;
};

/// One accepted request, kept until the poll answers it (after the controller
/// step, when the answer can tell the new state).
struct PendingAnswer {
    uint32_t address = 0;
    uint16_t port = 0;
    uint32_t local = 0;  ///< the local address the request reached: the answer leaves from it
    std::string name;
    uint64_t echo = 0;  ///< the request's t when signed
};

/// The server's side of the protocol's trust, in poll order: sourceAllowed()
/// for every datagram read, check() for those, answer() after the controller
/// step, housekeeping() once a poll.
class ServerGate {
public:
    enum class Verdict {
        Accepted,  ///< enter it in the table (or just answer a query)
        Ignored,   ///< not a request (no ":", another verb): as always, no answer
        Dropped,   ///< counted; no table entry, no answer, no idle-clock effect
    };

    void setAllowedNetworks(const AllowedNetworks& networks) { allowed = networks; }
    const AllowedNetworks& allowedNetworks() const { return allowed; }

    /// Before anything else: false means dropped and counted.
    bool sourceAllowed(uint32_t source, uint32_t nowTick);
    /// Parses the datagram and, with a key (a secret is set), demands a valid
    /// mac, a t above the name's last and, while the clock is synchronised,
    /// within 300 s of it. Without a key a signed datagram counts as an
    /// ordinary one. `request` views `datagram`.
    Verdict check(std::string_view datagram, uint32_t source, const ProtocolKey* key,
                  const WallClock& wall, uint32_t nowTick, protocol::Request& request);
    /// Which of one poll's accepted requests are answered; the rest were
    /// still served, only not answered (see AnswerLimiter).
    std::vector<bool> admit(const std::vector<PendingAnswer>& pending, uint32_t nowTick);
    /// The answer to one admitted request, signed with the key when there is
    /// one; `report.you` is the caller's. Empty when a counter does not fit.
    std::string answer(const PendingAnswer& pending, const protocol::LineReport& report,
                       const ProtocolKey* key, const WallClock& wall);
    /// Once a poll: forgets stale replay entries and returns the Warn lines due.
    std::vector<std::string> housekeeping(uint32_t nowTick);

    const DropLog& drops() const { return dropLog; }
    const ReplayGuard& replays() const { return replayGuard; }

private:
    Verdict drop(uint32_t source, DropReason reason, uint32_t nowTick);

    AllowedNetworks allowed;
    ReplayGuard replayGuard;
    AnswerLimiter limiter;
    DropLog dropLog;
    protocol::Counter counter;
    bool unsynchronisedSaid = false;
    std::vector<std::string> warnings;
};

}  // namespace trust
}  // namespace linkmoot
