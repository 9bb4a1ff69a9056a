#pragma once
// The server's vote table: who wants the line now. Two kinds of vote share it:
// a computer's, renewed by its datagram every ten seconds and gone 22 seconds
// after the last, and the web page's, which carries its own lifetime (a
// phone's browser sleeps and cannot renew). A name is held at most once; a
// renewed vote moves to the end, so the table stands in the order the latest
// votes came. Names are compared byte for byte.
//
// Times are the tick count in milliseconds, compared as unsigned differences,
// so a count that passes 2^31 or wraps does not age every vote at once.
#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace linkmoot {

/// The names of the web page's votes begin with this; datagrams for such a
/// name change nothing, so the two kinds cannot be confused.
inline constexpr const char* kWebNamePrefix = "web:";

/// One held vote.
struct Vote {
    std::string host;      ///< exactly as the datagram or the page named it
    uint32_t time = 0;     ///< tick count of the poll that read it (a web vote: when it was cast)
    uint32_t address = 0;  ///< a datagram vote's source address (host order); 0 for a web vote
    uint32_t local = 0;    ///< the local address a datagram vote reached; 0 when unknown
    std::optional<uint32_t> lifetime;  ///< a web vote's milliseconds from `time`

    bool isTimed() const { return lifetime.has_value(); }
    /// Milliseconds left at `now` (0 once ended): a web vote's own lifetime,
    /// a datagram vote's 22 seconds.
    uint32_t millisLeft(uint32_t now) const;
};

class VoteTable {
public:
    VoteTable() = default;
    // The index holds positions in this table's own list.
    VoteTable(const VoteTable&) = delete;
    VoteTable& operator=(const VoteTable&) = delete;

    /// A datagram vote older than this many milliseconds is dropped.
    static constexpr uint32_t kVoteTimeoutMs = 22000;
    /// The longest web vote, whatever the settings say.
    static constexpr uint32_t kMaxWebVoteMinutes = 24 * 60;

    /// Drops the votes whose time is over (a datagram vote exactly 22 s old
    /// stays); true when one went.
    bool expire(uint32_t now);
    /// A web vote is held: it keeps the computer up although nothing renews it.
    bool holdsTimedVote() const;

    /// A computer's vote: replaces the name's entry and goes to the end.
    void vote(const std::string& name, uint32_t now, uint32_t address, uint32_t local);
    enum class Unvote { Removed, NotHeld, OtherAddress };
    /// A computer's unvote. Without `anyAddress` (no shared secret proves the
    /// name) it counts only from the address of the name's vote.
    Unvote unvote(const std::string& name, uint32_t address, bool anyAddress);
    /// A web vote for `minutes` (at most a day): enters or renews it.
    void webVote(const std::string& name, uint32_t now, uint32_t minutes);
    /// Ends the web vote `name`; false when no web vote of that name is held.
    bool webUnvote(const std::string& name);

    bool holds(const std::string& name) const { return index.count(name) != 0; }
    std::size_t size() const { return votes.size(); }
    bool empty() const { return votes.empty(); }
    /// In table order; valid until the table changes.
    const std::vector<Vote>& entries() const;
    /// The local addresses the held datagram votes reached, each once.
    std::vector<uint32_t> localAddresses() const;
    void clear();

private:
    /// Enters the vote at the end, or moves the name's entry there.
    void place(Vote vote);
    void erase(std::list<Vote>::iterator held);

    // A list and an index by name: a crowd renews hundreds of votes a second,
    // and each renewal moves its entry to the end without a scan of the table
    // or a shift of the entries behind it.
    std::list<Vote> votes;
    std::unordered_map<std::string, std::list<Vote>::iterator> index;
    // The entries as a vector, made again at the first reading after a change
    // (the tick reads them once).
    mutable std::vector<Vote> ordered;
    mutable bool orderedStale = false;
};

}  // namespace linkmoot
