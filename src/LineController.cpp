#include "LineController.h"

#include <algorithm>

#include "Clock.h"
#include "PlanMeter.h"
#include "ToolBox/Logger.h"
#include "UsageRecorder.h"
#include "VoteTable.h"

namespace linkmoot {

// --- Backoff

void LineController::Backoff::failed(uint32_t now) {
    waitMs = waitMs == 0 ? kFirstRetryWaitMs : std::min(waitMs * 2, kLongestRetryWaitMs);
    held = true;
    until = now + waitMs;
}

bool LineController::Backoff::holds(uint32_t now) {
    if (!held)
        return false;
    if (static_cast<int32_t>(now - until) < 0)
        return true;
    held = false;
    return false;
}

uint32_t LineController::Backoff::secondsLeft(uint32_t now) const {
    if (!held)
        return 0;
    const int32_t left = static_cast<int32_t>(until - now);
    return left <= 0 ? 0 : (static_cast<uint32_t>(left) + 999) / 1000;
}

// --- RefusalLog

void LineController::RefusalLog::refused(const std::string& reason, uint32_t now) {
    if (reason != lastReason) {
        LM_LOG(Warn, "The dial-up service refused the dial: %s", reason.c_str());
        lastReason = reason;
        sinceReport = 0;
        reportAt = now + kRefusalReportMs;
        return;
    }
    LM_LOG(Debug, "The dial-up service refused the dial: %s", reason.c_str());
    sinceReport++;
    if (static_cast<int32_t>(now - reportAt) >= 0) {
        LM_LOG(Warn, "The dial-up service refused %u dials in the last %u minutes: %s",
               static_cast<unsigned>(sinceReport), static_cast<unsigned>(kRefusalReportMs / 60000),
               reason.c_str());
        sinceReport = 0;
        reportAt = now + kRefusalReportMs;
    }
}

// --- LineController

LineController::LineController(Settings settings, Clock& clock, DialServiceProvider& dialers,
                               UsageRecorder* usage, PlanMeter* plan)
    : settings(settings),
      clock(clock),
      dialers(dialers),
      inbox(std::make_shared<ThreadInbox<FailureReport>>()),
      usage(usage),
      plan(plan) {}

LineController::~LineController() {
    inbox->close();
}

void LineController::prepare() {
    dialers.prepare(settings.get(keys::Dialer));
}

void LineController::moveTo(Phase next) {
    DialService* const previous = line.service;
    switch (next) {
        case Phase::Idle:
        case Phase::Failed:
            line.handle = 0;
            line.service = nullptr;
            line.reported = LineState::Pending;
            break;
        case Phase::Dialling:
            line.reported = LineState::Pending;
            break;
        case Phase::Up:
            line.upSince = clock.tickCount();
            break;
        case Phase::Guard: {
            line.handle = 0;
            line.service = nullptr;
            line.reported = LineState::Pending;
            // A negative time means none. The wait is a deadline that the
            // steps check; the first one after it may dial again.
            const int32_t guardTime = settings.get(keys::GuardTime);
            line.guardMs = guardTime > 0 ? static_cast<uint32_t>(guardTime) : 0;
            line.guardDeadlineSet = false;
            line.hangingUp = previous;
            break;
        }
    }
    line.phase = next;
}

void LineController::applyFailureReports() {
    for (const FailureReport& report : inbox->take()) {
        if (report.handle != 0 && report.handle == line.handle && report.service == line.service) {
            // No answer had come for this dial: the service refused it after
            // asking (NetworkManager), which repeats like a refusal at once.
            if (line.reported == LineState::Pending)
                refusals.refused(report.reason, clock.tickCount());
            dialFailed(report.reason);
        } else {
            LM_LOG(Debug, "Ignoring the failure report of a connection that was already hung up");
        }
    }
}

void LineController::step(const VoteTable& votes) {
    lastVotes = &votes;
    applyFailureReports();
    const bool active = line.phase == Phase::Dialling || line.phase == Phase::Up;
    LineState answer = LineState::Pending;
    if (active) {
        answer = readLine();
        recordStep(votes);
    }
    // With this step's bytes counted: the overshoot is at most one step's.
    if (plan != nullptr)
        plan->update();
    if (active && !hangUpForTheCap()) {
        if (line.phase == Phase::Dialling)
            stepDialling(votes, answer);
        else
            stepUp(votes, answer);
    }
    if (line.phase == Phase::Dialling || line.phase == Phase::Up)
        return;
    if (guardHolds())
        return;
    if (!wanted(votes)) {
        backoff.reset();  // nobody waits for the line any more
        return;
    }
    if (plan != nullptr && plan->holdsDial()) {
        // Votes are still taken and shown; the line waits for the next
        // cycle or an allowance.
        if (!toldCapHolds)
            LM_LOG(Info, "There are votes, but the data cap holds the line: not dialling");
        toldCapHolds = true;
        return;
    }
    toldCapHolds = false;
    if (backoff.holds(clock.tickCount()))
        return;
    dial(votes);
}

bool LineController::hangUpForTheCap() {
    if (plan == nullptr || !plan->hangsUp())
        return false;
    LM_LOG(Warn, "%s: hanging up (AtCap=hangup)", plan->capText().c_str());
    hangUpWithGuard(EndReason::DataCap);
    return true;
}

void LineController::stepDialling(const VoteTable& votes, LineState answer) {
    if (answer == LineState::Dialling || answer == LineState::Connected)
        refusals.accepted();  // the service took it: the next refusal is news
    if (answer == LineState::Connected) {
        LM_LOG(Debug, "Connection established");
        moveTo(Phase::Up);
        // Only a line that came up ends the back-off: a dial that the
        // service took and then lost is a failure like any other.
        backoff.reset();
        return;
    }
    if (answer == LineState::Disconnected) {
        // The service gave the dial up without a report of its own.
        dialFailed("the dial-up service gave the dial up");
        return;
    }
    hangUpIfUnwanted(votes);
}

void LineController::stepUp(const VoteTable& votes, LineState answer) {
    // Pending is no answer yet, not a broken line.
    if (answer == LineState::Disconnected || answer == LineState::QueryFailed) {
        LM_LOG(Debug, "Connection is broken, hanging up");
        hangUpWithGuard(EndReason::DroppedByLine);
        return;
    }
    hangUpIfUnwanted(votes);
}

void LineController::hangUpIfUnwanted(const VoteTable& votes) {
    if (!wanted(votes)) {
        LM_LOG(Debug, "No more votes, hanging up");
        hangUpWithGuard(EndReason::NoMoreVotes);
        return;
    }
    // Counted from the dial request, in Dialling too.
    const std::optional<int32_t> limit = redialMinutes.get();
    if (limit && lastDialTime != 0) {
        const uint32_t minutes = ((clock.processMillis() - lastDialTime) / 1000) / 60;
        if (static_cast<int32_t>(minutes) >= *limit) {
            LM_LOG(Debug, "Auto dis- and reconnect time out, hanging up");
            hangUpWithGuard(EndReason::PeriodicRedial);
        }
    }
}

bool LineController::wanted(const VoteTable& votes) const {
    return !votes.empty() || alwaysConnected.get();
}

bool LineController::guardHolds() {
    if (line.phase != Phase::Guard)
        return false;
    const uint32_t now = clock.tickCount();
    if (!line.guardDeadlineSet) {
        // It counts from the end of the hang-up, which may outlast it.
        if (line.hangingUp != nullptr && line.hangingUp->hangingUp())
            return true;
        line.guardDeadlineSet = true;
        line.guardDeadline = now + line.guardMs;
    }
    if (static_cast<int32_t>(now - line.guardDeadline) < 0)
        return true;
    line.hangingUp = nullptr;
    moveTo(Phase::Idle);
    LM_LOG(Debug, "Hangup guard time complete");
    return false;
}

void LineController::dial(const VoteTable& votes) {
    DialRequest request;
    request.entry = settings.get(keys::Connection);
    request.userName = settings.get(keys::UserName);
    request.password = settings.get(keys::Password);
    // The service must not take down the link the voters reach us through.
    request.lanAddresses = votes.localAddresses();
    moveTo(Phase::Dialling);
    if (usage != nullptr)
        usage->dialStarted();
    // Longer values would not fit the dial parameters; refusing is better than
    // dialling a silently shortened name or password.
    const char* tooLong = request.entry.size() > kMaxDialParameterLength      ? "connection name"
                          : request.userName.size() > kMaxDialParameterLength ? "user name"
                          : request.password.size() > kMaxDialParameterLength ? "password"
                                                                              : nullptr;
    if (tooLong != nullptr) {
        LM_LOG(Warn, "Cannot dial: the %s is longer than %d characters", tooLong,
               static_cast<int>(kMaxDialParameterLength));
        dialFailed(std::string("the ") + tooLong + " is too long");
        return;
    }
    if (!votes.empty()) {
        LM_LOG(Info, "There are votes, connecting to RAS");
    } else {
        LM_LOG(Info, "AlwaysConnected is set, connecting to RAS");
    }
    lastDialTime = clock.processMillis();

    DialService& service = dialers.service(settings.get(keys::Dialer));
    std::weak_ptr<ThreadInbox<FailureReport>> weakInbox = inbox;
    const DialService* reporter = &service;
    service.setFailureCallback([weakInbox, reporter](DialHandle handle, const std::string& reason) {
        if (auto alive = weakInbox.lock())
            alive->post({reporter, handle, reason});
    });
    DialHandle handle = 0;
    std::string error;
    bool started = false;
    {
        // Refused at once last time: the service's own complaint was told
        // already (and again at Warn should its reason change).
        std::optional<toolbox::LogQuieting> quiet;
        if (lastDialRefusedAtOnce)
            quiet.emplace();
        started = service.dial(request, handle, error);
    }
    line.handle = handle;
    line.service = handle != 0 ? &service : nullptr;
    lastDialRefusedAtOnce = !started;
    if (!started) {
        refusals.refused(error, clock.tickCount());
        dialFailed(error);
    }
}

LineState LineController::readLine() {
    if (line.handle == 0 || line.service == nullptr)
        return LineState::Disconnected;
    const LineState answer = line.service->state(line.handle);
    if (answer != LineState::Pending)
        line.reported = answer;
    return answer;
}

void LineController::hangUpConnection() {
    LM_LOG(Info, "Hanging up RAS connection");
    if (line.service != nullptr)
        line.service->hangUp(line.handle);
    line.handle = 0;
    line.reported = LineState::Pending;
    LM_LOG(Debug, "Hung up RAS connection");
}

void LineController::recordStep(const VoteTable& votes) {
    if (usage != nullptr)
        usage->step(line.service, line.handle, line.reported == LineState::Connected, votes);
}

void LineController::hangUpWithGuard(EndReason reason) {
    if (usage != nullptr)
        usage->ended(reason);
    hangUpConnection();
    LM_LOG(Debug, "Waiting hangup guard time");
    moveTo(Phase::Guard);
}

void LineController::dialFailed(const std::string& reason) {
    LM_LOG(Warn, "Dialling failed");
    if (usage != nullptr)
        usage->ended(EndReason::Failed, reason);
    if (line.handle != 0)
        hangUpConnection();
    moveTo(Phase::Failed);
    if (settings.get(keys::RetryBackoff)) {
        backoff.failed(clock.tickCount());
        LM_LOG(Debug, "Next dial in %u seconds",
               static_cast<unsigned>(backoff.currentWaitMs() / 1000));
    }
}

void LineController::stop(EndReason reason) {
    if (usage != nullptr && usage->isRecording()) {
        // The time and bytes since the last step count too.
        if (lastVotes != nullptr && line.handle != 0)
            recordStep(*lastVotes);
        usage->ended(reason);
    }
    if (line.handle != 0)
        hangUpConnection();
    if (line.phase != Phase::Guard)
        moveTo(Phase::Idle);
}

bool LineController::isConnected() {
    const LineState answer = readLine();
    return answer == LineState::Dialling || answer == LineState::Connected;
}

LineStatus LineController::status() const {
    switch (line.phase) {
        case Phase::Idle:
            return LineStatus::Down;
        case Phase::Failed:
            return LineStatus::Failed;
        case Phase::Guard:
            return LineStatus::Guard;
        case Phase::Dialling:
            return LineStatus::Dialling;
        case Phase::Up:
            // Up until the service says otherwise; a service redialling on its
            // own says "dialling" again.
            return line.reported == LineState::Connected ? LineStatus::Up : LineStatus::Dialling;
    }
    return LineStatus::Down;
}

uint32_t LineController::secondsUp() const {
    if (line.phase != Phase::Up || line.reported != LineState::Connected)
        return 0;
    return (clock.tickCount() - line.upSince) / 1000;
}

uint32_t LineController::retryWaitSeconds() const {
    return backoff.secondsLeft(clock.tickCount());
}

}  // namespace linkmoot
