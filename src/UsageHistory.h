#pragma once
// The closed sessions' figures of the last weeks, kept in memory so that every
// view answers at once: per 15-minute bucket of UTC the bytes and online time
// (from the buckets) and the sessions, failed dials and uncounted sessions
// (at the bucket of their start), and per bucket of a session's start each
// voter's held time and share. The database hands it over at start; each
// session that ends is added. Its size is bounded by the buckets, not by the
// number of sessions.
#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "UsageRecord.h"

namespace linkmoot {

struct BucketTotals {
    uint64_t bytesIn = 0;
    uint64_t bytesOut = 0;
    uint64_t onlineMs = 0;
    uint32_t sessions = 0;     ///< sessions that did not fail
    uint32_t failedDials = 0;  ///< dials that failed
    uint32_t uncounted = 0;    ///< sessions that came up without counted bytes
    bool operator==(const BucketTotals&) const = default;
};

struct UsageHistory {
    /// How far back the views reach, and so what is kept: 62 days covers this
    /// month and the last 30 days in any time zone.
    static constexpr int64_t kKeptSeconds = 62 * 86400;

    std::map<int64_t, BucketTotals> buckets;
    std::map<std::pair<int64_t, std::string>, VoterUsage> voters;

    /// A session's figures (all its buckets).
    void add(const SessionRecord& session);
    /// One more failed dial of a record begun at startMs.
    void addFailedDial(int64_t startMs);
    void merge(const UsageHistory& other);
    /// Drops what lies before `unixSeconds`.
    void forgetBefore(int64_t unixSeconds);
    bool operator==(const UsageHistory&) const = default;
};

}  // namespace linkmoot
