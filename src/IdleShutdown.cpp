#include "IdleShutdown.h"

#include "Clock.h"
#include "Strings.h"
#include "ToolBox/Logger.h"

namespace linkmoot {

IdleShutdown::IdleShutdown(Settings settings, Clock& clock, ShutdownService& shutdown)
    : settings(settings),
      clock(clock),
      shutdown(shutdown),
      lastVote(0),
      outcomes(std::make_shared<ThreadInbox<ShutdownOutcome>>()) {
    rearm();
}

IdleShutdown::~IdleShutdown() {
    outcomes->close();
}

void IdleShutdown::rearm() {
    lastVote = clock.tickCount();
    // The disarmed mark must not be reached by a real reading.
    if (lastVote == kDisarmed)
        lastVote--;
}

void IdleShutdown::check() {
    logOutcomes();
    const int32_t limit = minutesLimit.get();
    if (limit <= 0 || lastVote == kDisarmed)
        return;
    const uint32_t now = clock.tickCount();
    // An unsigned difference keeps the idle time right across the 32-bit wrap.
    const uint32_t idleMinutes = ((now - lastVote) / 1000) / 60;
    if (idleMinutes < static_cast<uint32_t>(limit))
        return;

    lastVote = kDisarmed;
    LM_LOG(Info, "Exiting windows due to no votes for a while");
    std::weak_ptr<ThreadInbox<ShutdownOutcome>> inbox = outcomes;
    shutdown.requestPowerOff(loadString(StringId::ShutdownMessage), 60,
                             [inbox](ShutdownOutcome outcome) {
                                 if (auto alive = inbox.lock())
                                     alive->post(std::move(outcome));
                             });
    logOutcomes();  // one that answered at once
}

void IdleShutdown::logOutcomes() {
    for (const ShutdownOutcome& outcome : outcomes->take()) {
        if (outcome.rightRefused)
            LM_LOG(Error, "Cannot exit windows: Cannot set privileges: %s", outcome.error.c_str());
        else if (outcome.issued)
            LM_LOG(Debug, "Exiting windows issued");
        else
            LM_LOG(Error, "Cannot exit windows: %s", outcome.error.c_str());
    }
}

}  // namespace linkmoot
