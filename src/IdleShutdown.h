#pragma once
// Powers the computer off when no vote has said for `Server`/`ShutDownMinutes`
// minutes that the server is needed (0 or less: never). The idle clock is the
// time of the last accepted vote; it starts at construction, goes on while the
// server is stopped, and is disarmed once a power-off has been asked for, so
// at most one request is made per idle period whatever its outcome. The
// request leaves the loop at once; its outcome is logged at a later check.
#include <cstdint>
#include <memory>

#include "CachedSetting.h"
#include "Settings.h"
#include "ShutdownService.h"
#include "ThreadInbox.h"

namespace linkmoot {

class Clock;

class IdleShutdown {
public:
    /// The idle clock's disarmed mark.
    static constexpr uint32_t kDisarmed = 0xFFFFFFFFu;

    IdleShutdown(Settings settings, Clock& clock, ShutdownService& shutdown);
    ~IdleShutdown();
    IdleShutdown(const IdleShutdown&) = delete;
    IdleShutdown& operator=(const IdleShutdown&) = delete;

    /// A vote was accepted (or a web vote is held): the idle time starts again.
    void rearm();
    /// Once a poll, last: requests the power-off when the idle time is reached,
    /// and logs the outcomes that have come.
    void check();
    /// The tick count of the last vote, or kDisarmed.
    uint32_t lastVoteTime() const { return lastVote; }

private:
    void logOutcomes();

    Settings settings;
    CachedSetting<NumberKey> minutesLimit{settings, keys::ShutDownMinutes};
    Clock& clock;
    ShutdownService& shutdown;
    uint32_t lastVote;
    std::shared_ptr<ThreadInbox<ShutdownOutcome>> outcomes;
};

}  // namespace linkmoot
