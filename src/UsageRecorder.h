#pragma once
// Records what the line is used for: the line controller tells it when a dial
// begins, calls it once a step while the dial or line lasts, and tells it how
// the session ended. It keeps the open session (UsageMeter), writes it to the
// storage at its start, every minute and at its end, keeps the figures of
// the last weeks in memory for the views (loaded from the storage at start),
// and logs the Info line at each session's end.
//
// Failed dials in a row with the same reason share one record (with a count),
// so a line refused every second does not write a row every second; such a
// record is written when it begins and then at most once a minute.
//
// Everything runs on the loop's thread; the storage does its work elsewhere
// and nothing here waits for it.
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "DialService.h"
#include "UsageHistory.h"
#include "UsageMeter.h"
#include "UsageReport.h"
#include "UsageStorage.h"

namespace linkmoot {

class Clock;
class InterfaceCounters;
class LocalTime;
class VoteTable;

class UsageRecorder {
public:
    static constexpr uint32_t kWriteIntervalMs = 60000;

    /// `storage` may be null (nothing is kept beyond the run; `problem` says
    /// why). All outlive the recorder.
    UsageRecorder(Clock& clock, InterfaceCounters& systemCounters, LocalTime& local,
                  UsageStorage* storage, std::string problem = {},
                  uint32_t writeIntervalMs = kWriteIntervalMs);
    ~UsageRecorder();
    UsageRecorder(const UsageRecorder&) = delete;
    UsageRecorder& operator=(const UsageRecorder&) = delete;

    /// Asks the storage for the earlier figures (once; at start).
    void loadHistory();

    // The line controller's calls.
    /// A dial begins (a new record).
    void dialStarted();
    /// Once a step while a dial or line lasts, before the step decides:
    /// `up` the line is up at this step.
    void step(DialService* service, DialHandle handle, bool up, const VoteTable& votes);
    /// The session ended, after its last step.
    void ended(EndReason reason, const std::string& failure = {});
    bool isRecording() const { return meter.isOpen(); }

    /// The figures of every view, at once.
    UsageReport report();
    /// The sessions since `sinceUnixMs`, formatted off the loop, to `done` later.
    void readSessions(int64_t sinceUnixMs, UsageStorage::SessionsFormatter format,
                      UsageStorage::TextDone done);
    bool hasStorage() const { return storage != nullptr; }
    UsageStorage* usageStorage() const { return storage; }

    /// For the data plan: the closed sessions' buckets, a number that
    /// changes whenever they do, and the open session's buckets.
    const UsageHistory& closedHistory() const { return history; }
    uint64_t historyRevision() const { return revision; }
    /// The history of earlier runs has come, or there is none to wait for.
    bool historyAnswered() const { return answered || (historyAsked && storage == nullptr); }
    std::vector<UsageBucket> openBuckets() const;
    const std::string& storageProblem() const { return problem; }

private:
    void save(SessionRecord record);
    void flushFailedRun(bool evenIfRecent);
    void closeFailed(const SessionRecord& failed);

    Clock& clock;
    InterfaceCounters& systemCounters;
    LocalTime& local;
    UsageStorage* storage;
    std::string problem;
    uint32_t writeIntervalMs;
    UsageMeter meter;
    uint64_t nextKey = 1;
    bool meterWritten = false;
    uint32_t dialTick = 0;
    uint32_t lastWrite = 0;
    bool lineUp = false;
    std::string interfaceName;
    /// The last failed record while no other began since: the next failure
    /// of the same reason joins it.
    std::optional<SessionRecord> failedRun;
    bool failedRunDirty = false;
    uint32_t failedRunWritten = 0;
    UsageHistory history;
    uint64_t revision = 0;
    bool historyLoaded = false;
    bool historyAsked = false;
    bool answered = false;
    /// The services whose uncounted line was told already.
    std::set<std::string> toldUncounted;
    std::shared_ptr<bool> alive;
};

}  // namespace linkmoot
