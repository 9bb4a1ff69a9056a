#pragma once
// What is kept of the line's use: one record per line session (and per run
// of failed dials), its counts per 15 minutes of UTC, and who held it. The
// database (platform/UsageDatabase) stores exactly these; every view is
// computed from them.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace linkmoot {

/// How a session ended. The numbers are the rows of the database's
/// end_reasons table: never renumbered, new reasons get new numbers.
enum class EndReason : int {
    NoMoreVotes = 1,
    PeriodicRedial = 2,
    Failed = 3,         ///< the dial failed (the record's `failure` says why)
    DroppedByLine = 4,  ///< the service said the line went down
    ServerStopped = 5,  ///< disabled, reconfigured or reloaded
    Exit = 6,
    IdleShutdown = 7,  ///< the server powered its computer off
    Interrupted = 8,   ///< the program ended without closing it (a crash, a power cut)
    DataCap = 9,       ///< the data plan's cap hung it up (AtCap=hangup)
};
inline constexpr EndReason kLastEndReason = EndReason::DataCap;
/// The name stored in end_reasons and shown by the views ("no more votes").
const char* endReasonName(EndReason reason);
/// The reason of a stored number; nullopt for one this program does not know.
std::optional<EndReason> endReasonOf(int number);

/// Counts are kept per 15 minutes of UTC: days and billing cycles in any
/// time zone (all offsets are whole quarter hours) and free hours are sums of them.
inline constexpr int64_t kBucketSeconds = 15 * 60;
inline int64_t bucketOf(int64_t unixSeconds) {
    const int64_t floor = unixSeconds >= 0
                              ? unixSeconds / kBucketSeconds
                              : -((-unixSeconds + kBucketSeconds - 1) / kBucketSeconds);
    return floor * kBucketSeconds;
}

struct UsageBucket {
    int64_t start = 0;  ///< Unix seconds, a multiple of kBucketSeconds
    uint64_t bytesIn = 0;
    uint64_t bytesOut = 0;
    uint64_t onlineMs = 0;
    bool operator==(const UsageBucket&) const = default;
};

/// The name under which the bytes of an always-connected line with no vote
/// held are kept.
inline constexpr const char* kAlwaysConnectedVoter = "(always connected)";
/// Where a session's voters beyond kMaxVotersPerSession go.
inline constexpr const char* kOtherVoters = "(others)";
inline constexpr std::size_t kMaxVotersPerSession = 64;

/// One voter of a session: how long its vote was held while the line was
/// up, and its share of the bytes (the bytes of each poll divided among the
/// votes held then; a share, not a measurement of the voter's own traffic).
struct VoterUsage {
    std::string name;
    uint64_t heldMs = 0;
    uint64_t shareIn = 0;
    uint64_t shareOut = 0;
    bool operator==(const VoterUsage&) const = default;
};

struct SessionRecord {
    /// The row in the database; 0 for a record not read from it.
    int64_t id = 0;
    /// Tells the writes of one record apart from another's in this run.
    uint64_t key = 0;
    int64_t startMs = 0;  ///< Unix milliseconds, UTC
    int64_t endMs = 0;    ///< 0 while open
    /// False when the wall clock was never synchronised during the session:
    /// its times are the unsynchronised clock's.
    bool clockSynchronised = false;
    uint64_t diallingMs = 0;
    uint64_t onlineMs = 0;
    uint64_t bytesIn = 0;
    uint64_t bytesOut = 0;
    /// Dials in this record: failed dials in a row with the same reason
    /// share one record.
    uint32_t dials = 1;
    std::optional<EndReason> ended;  ///< nullopt while open
    std::string failure;             ///< why the dial failed, for Failed
    std::string interfaceName;       ///< "" when the bytes were not counted
    /// A write carries the buckets changed since the last write of the record;
    /// a read carries all of them. Oldest first.
    std::vector<UsageBucket> buckets;
    std::vector<VoterUsage> voters;  ///< all of them, in every write

    bool isOpen() const { return !ended.has_value(); }
    bool cameUp() const { return onlineMs > 0; }
    bool counted() const { return !interfaceName.empty(); }
};

}  // namespace linkmoot
