#include "EventLoop.h"

#include <errno.h>
#include <poll.h>
#include <time.h>

#include <algorithm>
#include <limits>

namespace linkmoot::daemon {

int64_t monotonicMillis() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int64_t nextTickDue(int64_t due, int64_t ranAt, int64_t period) {
    int64_t next = due + period;
    return next > ranAt ? next : ranAt + period;
}

EventLoop::EventLoop(Clock clock, int64_t periodMs) : clock(std::move(clock)), period(periodMs) {}

void EventLoop::stopTicks() {
    ticking = false;
    tickHandler = nullptr;
}

void EventLoop::startTicks(Handler onTick) {
    tickHandler = std::move(onTick);
    ticking = true;
    tickDue = clock() + period;
}

void EventLoop::watch(int fd, Handler onReadable) {
    for (Watch& entry : watches) {
        if (entry.fd == fd) {
            entry.handler = std::move(onReadable);
            entry.generation = nextGeneration++;
            return;
        }
    }
    watches.push_back({fd, std::move(onReadable), nextGeneration++});
}

void EventLoop::unwatch(int fd) {
    watches.erase(std::remove_if(watches.begin(), watches.end(),
                                 [fd](const Watch& entry) { return entry.fd == fd; }),
                  watches.end());
}

void EventLoop::setTimeoutSource(std::function<int()> wait, Handler onDue) {
    timeoutWait = std::move(wait);
    timeoutDue = std::move(onDue);
}

void EventLoop::deliverTickIfDue() {
    if (!ticking)
        return;
    int64_t now = clock();
    if (now < tickDue)
        return;
    maxLateness = std::max(maxLateness, now - tickDue);
    // Reschedule before the handler runs: it may run nested loops that tick.
    tickDue = daemon::nextTickDue(tickDue, now, period);
    ++tickCount;
    tickHandler();
}

void EventLoop::runOnce() {
    if (stopped)
        return;
    int timeout = -1;
    if (ticking) {
        int64_t wait = tickDue - clock();
        if (wait < 0)
            wait = 0;
        timeout = static_cast<int>(std::min<int64_t>(wait, std::numeric_limits<int>::max()));
    }
    const int sourceWait = timeoutWait ? timeoutWait() : -1;
    const bool sourceLimits = sourceWait >= 0 && (timeout < 0 || sourceWait <= timeout);
    if (sourceLimits)
        timeout = sourceWait;
    std::vector<pollfd> entries;
    std::vector<std::pair<int, uint64_t>> polled;
    entries.reserve(watches.size());
    for (const Watch& entry : watches) {
        entries.push_back({entry.fd, POLLIN, 0});
        polled.emplace_back(entry.fd, entry.generation);
    }
    int ready = poll(entries.data(), entries.size(), timeout);
    if (ready < 0 && errno != EINTR)
        ready = 0;
    for (std::size_t i = 0; ready > 0 && i < entries.size() && !stopped; ++i) {
        if (entries[i].revents == 0)
            continue;
        // A handler may have unwatched or replaced this watch meanwhile.
        auto found = std::find_if(watches.begin(), watches.end(), [&](const Watch& entry) {
            return entry.fd == polled[i].first && entry.generation == polled[i].second;
        });
        if (found == watches.end())
            continue;
        Handler handler = found->handler;  // a copy: the handler may unwatch itself
        handler();
    }
    if (ready == 0 && sourceLimits && !stopped && timeoutDue) {
        Handler handler = timeoutDue;
        handler();
    }
    if (!stopped)
        deliverTickIfDue();
}

void EventLoop::run() {
    while (!stopped)
        runOnce();
}

}  // namespace linkmoot::daemon
