#include "UsageRecorder.h"

#include "Clock.h"
#include "InterfaceCounters.h"
#include "LocalTime.h"
#include "ToolBox/Logger.h"
#include "UsageText.h"
#include "VoteTable.h"

namespace linkmoot {

UsageRecorder::UsageRecorder(Clock& clock, InterfaceCounters& systemCounters, LocalTime& local,
                             UsageStorage* storage, std::string problem, uint32_t writeIntervalMs)
    : clock(clock),
      systemCounters(systemCounters),
      local(local),
      storage(storage),
      problem(std::move(problem)),
      writeIntervalMs(writeIntervalMs),
      alive(std::make_shared<bool>(true)) {}

UsageRecorder::~UsageRecorder() {
    flushFailedRun(true);
    *alive = false;
}

void UsageRecorder::loadHistory() {
    if (historyAsked)
        return;
    historyAsked = true;
    if (storage == nullptr)
        return;
    const int64_t now = static_cast<int64_t>(clock.wallClock().unixMs / 1000);
    std::weak_ptr<bool> living = alive;
    storage->loadHistory(now - UsageHistory::kKeptSeconds,
                         [this, living](UsageHistory loaded, std::string loadProblem) {
                             if (living.expired())
                                 return;
                             // Disjoint: the load was queued before any write of this run.
                             history.merge(loaded);
                             ++revision;
                             historyLoaded = loadProblem.empty();
                             answered = true;
                             problem = loadProblem;
                         });
}

void UsageRecorder::save(SessionRecord record) {
    if (storage != nullptr)
        storage->save(std::move(record));
}

void UsageRecorder::dialStarted() {
    if (meter.isOpen())
        ended(EndReason::ServerStopped);
    meter.begin(nextKey++, clock.tickCount(), clock.wallClock());
    meterWritten = false;
    dialTick = clock.tickCount();
    lineUp = false;
    interfaceName.clear();
}

void UsageRecorder::step(DialService* service, DialHandle handle, bool up, const VoteTable& votes) {
    if (!meter.isOpen())
        return;
    UsageMeter::Poll poll;
    poll.now = clock.tickCount();
    poll.wall = clock.wallClock();
    poll.up = up;
    if (up && service != nullptr) {
        poll.interfaceName = service->interfaceName(handle);
        if (!poll.interfaceName.empty()) {
            InterfaceCounters* counters = service->ownCounters();
            poll.reading =
                (counters != nullptr ? *counters : systemCounters).read(poll.interfaceName);
        } else if (toldUncounted.insert(service->name()).second) {
            LM_LOG(Info,
                   "The line's bytes are not counted: the dial-up service \"%s\" names no network "
                   "interface (see docs/usage.md)",
                   service->name());
        }
    }
    meter.poll(poll, votes.entries());
    lineUp = up;
    interfaceName = poll.interfaceName;
    // Written at its start (the first step that saw the line up, or a dial
    // that lasts), then once a write interval. A dial that fails before is
    // not written apart: it may join the failed run.
    const bool due = meterWritten ? poll.now - lastWrite >= writeIntervalMs
                                  : up || poll.now - dialTick >= writeIntervalMs;
    if (due) {
        if (!meterWritten)
            flushFailedRun(true);
        failedRun.reset();
        meterWritten = true;
        lastWrite = poll.now;
        save(meter.record(true));
    }
}

void UsageRecorder::flushFailedRun(bool evenIfRecent) {
    if (!failedRun || !failedRunDirty)
        return;
    const uint32_t now = clock.tickCount();
    if (!evenIfRecent && now - failedRunWritten < writeIntervalMs)
        return;
    failedRunDirty = false;
    failedRunWritten = now;
    save(*failedRun);
}

void UsageRecorder::closeFailed(const SessionRecord& failed) {
    if (!meterWritten && failedRun && failedRun->failure == failed.failure) {
        failedRun->dials += 1;
        failedRun->diallingMs += failed.diallingMs;
        failedRun->endMs = failed.endMs;
        history.addFailedDial(failedRun->startMs);
        ++revision;
        failedRunDirty = true;
        flushFailedRun(false);
        return;
    }
    flushFailedRun(true);
    failedRun = failed;
    failedRun->buckets.clear();
    failedRunDirty = false;
    failedRunWritten = clock.tickCount();
    history.add(failed);
    ++revision;
    save(failed);
}

void UsageRecorder::ended(EndReason reason, const std::string& failure) {
    if (!meter.isOpen())
        return;
    // A failure report of a line that had been up: the line dropped.
    const bool failedDial = reason == EndReason::Failed && !meter.cameUp();
    if (reason == EndReason::Failed && !failedDial)
        reason = EndReason::DroppedByLine;
    meter.end(reason, failure);
    lineUp = false;
    if (failedDial) {
        closeFailed(meter.record(false));
        return;
    }
    failedRun.reset();
    const SessionRecord whole = meter.record(false);
    history.add(whole);
    ++revision;
    if (whole.cameUp())
        LM_LOG(Info, "%s", sessionEndedLine(whole).c_str());
    save(meter.record(true));
}

std::vector<UsageBucket> UsageRecorder::openBuckets() const {
    if (!meter.isOpen())
        return {};
    return meter.buckets();
}

UsageReport UsageRecorder::report() {
    const int64_t now = static_cast<int64_t>(clock.wallClock().unixMs / 1000);
    std::optional<SessionRecord> open;
    if (meter.isOpen() && meter.cameUp()) {
        open = meter.record(false);
        open->buckets = meter.buckets();
    }
    UsageReport figures = composeReport(history, open ? &*open : nullptr, local, now);
    figures.historyLoaded = historyLoaded;
    figures.problem = problem;
    figures.lineUp = lineUp;
    figures.interfaceName = interfaceName;
    return figures;
}

void UsageRecorder::readSessions(int64_t sinceUnixMs, UsageStorage::SessionsFormatter format,
                                 UsageStorage::TextDone done) {
    if (storage == nullptr) {
        done(format({}, problem.empty() ? "no database" : problem));
        return;
    }
    // What is open goes first, so the list is as fresh as the figures.
    if (meter.isOpen() && meterWritten) {
        lastWrite = clock.tickCount();
        save(meter.record(true));
    }
    flushFailedRun(true);
    storage->readSessions(sinceUnixMs, std::move(format), std::move(done));
}

}  // namespace linkmoot
