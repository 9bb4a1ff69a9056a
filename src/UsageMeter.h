#pragma once
// The figures of the open line session, advanced once a poll: dialling and
// online time from the monotonic tick count, the interface's bytes through a
// TrafficCounter, the counts per 15 minutes of UTC, and each voter's held
// time and byte share.
//
// Time: each poll's interval (the previous poll to this one) is online when
// the line was up at the previous poll, else dialling; so online time runs
// from the first poll that saw the line up. Wall times come from the
// monotonic clock too: the session's start is the wall clock at the first
// synchronised poll less the time elapsed until then; while the clock has not
// been synchronised the counts wait, by elapsed minute, and are put in their
// UTC buckets once it is (or at the end, with the unsynchronised clock).
//
// Shares: each poll's bytes are divided among the votes held at that poll
// (the remainder to the first), or those of the poll before when none is held
// now (the last interval before the hang-up), or else "(always connected)".
// Held time is given the same way, the whole interval to each.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "TrafficCounter.h"
#include "Trust.h"
#include "UsageRecord.h"

namespace linkmoot {

struct Vote;

class UsageMeter {
public:
    /// A dial begins a new record.
    void begin(uint64_t key, uint32_t nowTick, const trust::WallClock& wall);
    bool isOpen() const { return open; }

    struct Poll {
        uint32_t now = 0;
        trust::WallClock wall;
        bool up = false;  ///< the line is up at this poll
        /// The interface the line runs on ("" unknown: not counted) and its reading.
        std::string interfaceName;
        InterfaceReading reading;
    };
    /// One poll while the record is open; `votes` are those held now.
    void poll(const Poll& poll, const std::vector<Vote>& votes);
    /// Closes the record (after this poll's figures were added).
    void end(EndReason reason, const std::string& failure = {});

    /// The record as it is now: `changedOnly` gives the buckets changed since
    /// the last such call (for a write), else all of them.
    SessionRecord record(bool changedOnly);
    /// All buckets, those still waiting for a synchronised clock placed by
    /// the clock as it is (for the views).
    std::vector<UsageBucket> buckets() const;
    uint64_t onlineMs() const { return current.onlineMs; }
    uint64_t bytesIn() const { return current.bytesIn; }
    uint64_t bytesOut() const { return current.bytesOut; }
    bool cameUp() const { return current.onlineMs > 0 || wasUp; }

private:
    /// Counts of one elapsed minute, waiting for a synchronised clock.
    struct Waiting {
        uint64_t minute;
        UsageBucket counts;
    };
    void addCounts(uint64_t bytesIn, uint64_t bytesOut, uint64_t onlineMs);
    /// The bucket's index.
    static std::size_t addTo(std::vector<UsageBucket>& buckets, int64_t start,
                             const UsageBucket& counts);
    void placeWaiting();
    std::size_t voterIndex(const std::string& name);
    void share(const std::vector<std::size_t>& holders, uint64_t bytesIn, uint64_t bytesOut);

    bool open = false;
    SessionRecord current;
    uint32_t lastTick = 0;
    uint64_t elapsedMs = 0;
    bool wasUp = false;
    bool synchronised = false;
    int64_t startWallMs = 0;  // exact once synchronised
    std::vector<Waiting> waiting;
    std::size_t changedFrom = 0;  // the first bucket changed since the last write
    TrafficCounter traffic;
    std::unordered_map<std::string, std::size_t> voterIndexes;
    std::vector<std::size_t> lastHolders;
};

}  // namespace linkmoot
