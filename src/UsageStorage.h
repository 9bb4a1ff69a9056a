#pragma once
// Where the sessions are kept (platform/SqliteUsageStorage: the database).
// Rules:
// - Every call returns at once; the work runs in the order of the calls on a
//   thread of the storage's own, and the results reach `done` on the thread
//   that called (the loop's), at a later turn of it, exactly once.
// - save() writes a record's figures as they are (absolute values, not
//   increments): the same record (its key) saved again replaces what was
//   written of it, so a write that is lost costs only its own minute.
// - A storage that cannot keep anything (no database) still answers: with an
//   empty history or no sessions and its problem.
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "UsageHistory.h"
#include "UsageRecord.h"

namespace linkmoot {

/// What the data plan keeps for one billing cycle: the thresholds announced
/// in it and the user's correction (what the provider said was used, less
/// what was counted then), so a restart neither announces again nor loses it.
struct PlanRecord {
    int64_t cycleStart = 0;  ///< Unix seconds: the cycle's key
    int64_t bytesCorrection = 0;
    int64_t secondsCorrection = 0;
    std::set<unsigned> announced;
    bool operator==(const PlanRecord&) const = default;
};

class UsageStorage {
public:
    using HistoryDone = std::function<void(UsageHistory history, std::string problem)>;
    /// Runs on the storage's thread: it must touch nothing of the loop's.
    using SessionsFormatter = std::function<std::string(const std::vector<SessionRecord>& sessions,
                                                        const std::string& problem)>;
    using TextDone = std::function<void(std::string text)>;

    virtual ~UsageStorage() = default;
    virtual void save(SessionRecord record) = 0;
    /// Closes what a crash left open as interrupted, then hands over the
    /// figures of the sessions since `sinceUnixSeconds`.
    virtual void loadHistory(int64_t sinceUnixSeconds, HistoryDone done) = 0;
    /// The sessions begun at or after `sinceUnixMs`, oldest first, with their
    /// buckets and voters, formatted on the storage's thread.
    virtual void readSessions(int64_t sinceUnixMs, SessionsFormatter format, TextDone done) = 0;

    using PlanDone = std::function<void(std::optional<PlanRecord> latest)>;
    /// Replaces what was kept of the record's cycle. A storage that keeps no
    /// plan drops it.
    virtual void savePlan(PlanRecord record) { (void)record; }
    /// The record of the latest cycle kept (nullopt: none), to `done` later.
    virtual void loadPlan(PlanDone done) { done(std::nullopt); }
};

}  // namespace linkmoot
