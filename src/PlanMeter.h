#pragma once
// The data plan at work: once a poll it reads the `Plan` section when it
// changed (a bad value is logged at Error and its key ignored), follows the
// billing cycle, counts the cycle's use from the usage record (the closed
// sessions' 15-minute buckets and the open session's, those that begin in a
// free hour left out, plus the user's correction), announces each warning
// threshold once per cycle, and says whether the cap holds the line.
//
// What a cycle announced and its correction are kept in the usage database
// (PlanRecord): nothing is announced before that record and the history of
// earlier runs have come, so a restart does not announce again. An
// allowance over the cap lives only while the program runs.
//
// Everything runs on the loop's thread and nothing here waits.
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "PlanSettings.h"
#include "UsageStorage.h"

namespace linkmoot {

class Clock;
class LocalTime;
class UsageRecorder;

struct PlanStatus {
    bool active = false;  ///< a cap is set
    PlanConfig config;
    Cycle cycle;
    PlanFigures figures;
    /// The cap holds the line: reached, AtCap refuse or hangup, no allowance.
    bool capped = false;
    /// An allowance over the cap runs until then (Unix seconds); 0: none.
    int64_t allowedUntil = 0;
    std::set<unsigned> announced;
};

class PlanMeter {
public:
    /// All outlive the meter.
    PlanMeter(Settings settings, UsageRecorder& usage, LocalTime& local, Clock& clock);
    PlanMeter(const PlanMeter&) = delete;
    PlanMeter& operator=(const PlanMeter&) = delete;

    /// Once a poll, after the usage record's step.
    void update();
    const PlanStatus& status() const { return current; }
    /// No new dial: the cap holds the line, or (AtCap refuse or hangup) the
    /// cycle's earlier counts have not come from the database yet, so that a
    /// restart past the cap does not dial once before it knows.
    bool holdsDial() const { return current.capped || waitingForCounts; }
    /// The line that is up must go (AtCap=hangup).
    bool hangsUp() const {
        return current.capped && current.config.limits.atCap == PlanLimits::AtCap::HangUp;
    }

    /// Lets the line run over the cap for `seconds` (nullopt: until the
    /// cycle's end); `who` goes into the log line. False with why when
    /// there is no cap.
    bool allow(std::optional<int64_t> seconds, const std::string& who, std::string& error);
    /// Ends an allowance; false when none ran.
    bool cancelAllowance(const std::string& who);
    /// What the provider says was used this cycle; later counts add to it.
    bool setUsed(const UsedAmount& amount, const std::string& who, std::string& error);

    /// The warnings since the last call, for the tray's notifications.
    std::vector<std::string> takeNotices();
    /// "Data cap reached: 10.0 GB of 10.0 GB; resets 14 Jan 06:00"; "" when
    /// the cap holds nothing.
    std::string capText() const;
    /// "3.2 of 10 GB used, resets 14 Jan" style figures of the status.
    std::string usedText() const;

private:
    void readConfiguration();
    /// The cycle's counts as the buckets give them, before the correction.
    PlanUse counted(const Cycle& cycle);
    void followCycle(int64_t now);
    void announce();
    void save();

    Settings settings;
    UsageRecorder& usage;
    LocalTime& local;
    Clock& clock;
    PlanStatus current;
    std::string fingerprint = "\x01";  // nothing read yet
    bool configChanged = false;
    /// The configuration's change count when the plan was last read.
    std::optional<uint64_t> configReadAt;
    bool rearmPending = false;
    PlanRecord record;
    bool recordAsked = false;
    bool recordLoaded = false;
    std::optional<PlanRecord> loadedRecord;
    // The closed sessions' part of the cycle's counts, computed again when
    // they, the cycle or the free hours change.
    uint64_t closedRevision = ~uint64_t{0};
    Cycle closedCycle;
    std::string closedFingerprint;
    PlanUse closed;
    PlanUse countedNow;
    bool toldCapped = false;
    bool waitingForCounts = false;
    std::vector<std::string> notices;
};

/// "14 Jan 06:00" in local time (`withHour` false: "14 Jan").
std::string resetText(int64_t unixSeconds, const LocalTime& local, bool withHour = true);
/// "3.2 of 10 GB used, resets 14 Jan" (caps of 0 left out), as the client's
/// row and the server's views show the figures; whole MB and minutes.
std::string planSummary(uint64_t usedMB, uint64_t capMB, uint64_t usedMinutes, uint64_t capMinutes,
                        int64_t reset, const LocalTime& local);

}  // namespace linkmoot
