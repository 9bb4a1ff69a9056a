#pragma once
// A small poll(2) loop for what linkmootctl drives itself (DNS-SD while it
// looks for servers): watches and one-shot timers, run for a given time.
#include <chrono>
#include <functional>
#include <map>
#include <vector>

#include "platform/EventSource.h"

namespace linkmoot::ctl {

class PollEvents : public EventSource {
public:
    void watch(int fd, Handler onReadable) override;
    void unwatch(int fd) override;
    TimerId startTimer(int delayMs, Handler onDue) override;
    void cancelTimer(TimerId id) override;
    /// Runs watches and timers for `milliseconds`, calling `between` at least
    /// every 100 ms.
    void runFor(int milliseconds, const std::function<void()>& between);

private:
    using Clock = std::chrono::steady_clock;
    struct Timer {
        Clock::time_point due;
        Handler handler;
    };
    std::map<int, Handler> watches;
    std::map<TimerId, Timer> timers;
    TimerId nextId = 1;
};

}  // namespace linkmoot::ctl
