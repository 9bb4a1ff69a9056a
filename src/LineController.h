#pragma once
// The line: dials the configured connection while votes are held (or always,
// with `AlwaysConnected`), reads the line once a step, hangs up when the last
// vote is gone or the line broke, waits the guard time after such a hang-up,
// re-dials every `AutoReconnectMinutes`, and after failed dials waits as the
// optional back-off says. Refusals of the dial-up service are told at Warn
// once per reason and then summed up every ten minutes.
//
// The line's state is one value (Line) and every change of it goes through
// moveTo(), which keeps its fields consistent. Everything runs on the loop's
// thread except the dial-up service's failure reports, which may come from any
// thread and are applied at the start of the next step. Nothing here waits:
// the service answers at once (DialService.h) and the guard time is a deadline.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "CachedSetting.h"
#include "DialService.h"
#include "Settings.h"
#include "StatusModel.h"
#include "ThreadInbox.h"
#include "UsageRecord.h"

namespace linkmoot {

class Clock;
class PlanMeter;
class UsageRecorder;
class VoteTable;

class LineController {
public:
    /// Dial parameters longer than this are refused.
    static constexpr std::size_t kMaxDialParameterLength = 256;
    /// The first wait of the back-off and its ceiling.
    static constexpr uint32_t kFirstRetryWaitMs = 5000;
    static constexpr uint32_t kLongestRetryWaitMs = 5 * 60 * 1000;
    /// How often repeated refusals are summed up at Warn.
    static constexpr uint32_t kRefusalReportMs = 10 * 60 * 1000;

    /// `usage` (may be null) records each session; `plan` (may be null) is
    /// the data plan whose cap may hold the line, checked every step after
    /// the usage record's. Both outlive the controller.
    LineController(Settings settings, Clock& clock, DialServiceProvider& dialers,
                   UsageRecorder* usage = nullptr, PlanMeter* plan = nullptr);
    /// Drops the reports that still come; hangs nothing up (stop() does).
    ~LineController();
    LineController(const LineController&) = delete;
    LineController& operator=(const LineController&) = delete;

    /// The server has started: lets a provider that must look around first
    /// ("auto") start now, so that the first dial finds its answer.
    void prepare();
    /// Once a poll: applies failure reports, reads the line, hangs up or dials
    /// as the votes want.
    void step(const VoteTable& votes);
    /// The server stops: a line or dial is hung up without the guard time. A
    /// guard time under way outlives it, so a Disable and Enable cannot
    /// shorten it. `reason` is how the session that was open ends.
    void stop(EndReason reason = EndReason::ServerStopped);

    /// The connection test: a connection exists and its line is not down
    /// (asks the dial-up service, which answers at once).
    bool isConnected();
    /// The line as last read; asks nobody.
    LineStatus status() const;
    /// Whole seconds since the first step that saw the line connected; 0 when not up.
    uint32_t secondsUp() const;
    /// Whole seconds the back-off still holds the next dial off; 0 when none.
    uint32_t retryWaitSeconds() const;
    bool isGuardHeld() const { return line.phase == Phase::Guard; }
    bool isDialling() const { return line.phase == Phase::Dialling; }
    DialHandle connection() const { return line.handle; }
    /// When the last dial was made, in milliseconds since the process
    /// started; 0: never.
    uint32_t dialTime() const { return lastDialTime; }

private:
    enum class Phase {
        Idle,      ///< no connection
        Failed,    ///< no connection; the last dial failed and none came up since
        Dialling,  ///< a dial the service has not reported up yet
        Up,        ///< the service said connected
        Guard,     ///< hung up; the guard time holds the next dial off
    };
    /// The line's whole state.
    struct Line {
        Phase phase = Phase::Idle;
        DialHandle handle = 0;
        DialService* service = nullptr;  // the service that owns `handle`
        LineState reported = LineState::Pending;
        uint32_t upSince = 0;  // tick count of the first step that saw it connected
        // The guard time, counted from the end of the hang-up.
        bool guardDeadlineSet = false;  // false while the hang-up is still at work
        uint32_t guardMs = 0;
        uint32_t guardDeadline = 0;        // tick count
        DialService* hangingUp = nullptr;  // the service whose hang-up the guard waits for
    };
    struct FailureReport {
        const DialService* service;
        DialHandle handle;
        std::string reason;
    };
    /// Doubles the wait after each failed dial, from 5 s up to 5 minutes.
    class Backoff {
    public:
        void failed(uint32_t now);
        void reset() { waitMs = 0, held = false; }
        bool holds(uint32_t now);
        uint32_t secondsLeft(uint32_t now) const;
        uint32_t currentWaitMs() const { return waitMs; }

    private:
        uint32_t waitMs = 0;  // 0: no failure since the line was last up
        bool held = false;
        uint32_t until = 0;  // tick count
    };
    /// Tells each new refusal at Warn; repeats at Debug, summed up every ten minutes.
    class RefusalLog {
    public:
        void refused(const std::string& reason, uint32_t now);
        void accepted() { lastReason.clear(); }

    private:
        std::string lastReason;
        uint32_t sinceReport = 0;
        uint32_t reportAt = 0;  // tick count
    };

    /// Every change of the line's phase, with what the new phase starts with.
    void moveTo(Phase next);
    void applyFailureReports();
    void stepDialling(const VoteTable& votes, LineState answer);
    void stepUp(const VoteTable& votes, LineState answer);
    /// Hangs up for the data cap (AtCap=hangup); true when it did.
    bool hangUpForTheCap();
    /// Hangs up for a want that ended (no votes, the periodic re-dial).
    void hangUpIfUnwanted(const VoteTable& votes);
    /// Hands this step's line to the usage record.
    void recordStep(const VoteTable& votes);
    bool guardHolds();
    void dial(const VoteTable& votes);
    /// Reads the line once (never waits); Pending leaves the last answer.
    LineState readLine();
    void hangUpConnection();
    void hangUpWithGuard(EndReason reason);
    void dialFailed(const std::string& reason);
    bool wanted(const VoteTable& votes) const;

    Settings settings;
    CachedSetting<OptionalKey<int32_t>> redialMinutes{settings, keys::AutoReconnectMinutes};
    CachedSetting<FlagKey> alwaysConnected{settings, keys::AlwaysConnected};
    Clock& clock;
    DialServiceProvider& dialers;
    Line line;
    uint32_t lastDialTime = 0;
    Backoff backoff;
    RefusalLog refusals;
    bool lastDialRefusedAtOnce = false;
    std::shared_ptr<ThreadInbox<FailureReport>> inbox;
    UsageRecorder* usage;
    PlanMeter* plan;
    bool toldCapHolds = false;
    const VoteTable* lastVotes = nullptr;  // the server's table, which outlives us
};

}  // namespace linkmoot
