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

int64_t monotonicMicros() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
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

Loop::TimerId EventLoop::startTimer(int delayMs, Handler onDue) {
    const TimerId id = nextTimer++;
    timers.push_back({id, clock() + std::max(delayMs, 0), std::move(onDue)});
    return id;
}

void EventLoop::cancelTimer(TimerId id) {
    timers.erase(std::remove_if(timers.begin(), timers.end(),
                                [id](const Timer& timer) { return timer.id == id; }),
                 timers.end());
}

void EventLoop::runDueTimers() {
    const int64_t now = clock();
    std::vector<TimerId> due;
    for (const Timer& timer : timers) {
        if (timer.due <= now)
            due.push_back(timer.id);
    }
    // By id, since a handler may start or cancel timers (its own included).
    for (TimerId id : due) {
        auto found = std::find_if(timers.begin(), timers.end(),
                                  [id](const Timer& timer) { return timer.id == id; });
        if (found == timers.end() || stopped)
            continue;
        Handler handler = std::move(found->handler);
        timers.erase(found);
        handler();
    }
}

int EventLoop::waitLimit() {
    int64_t until = -1;
    if (ticking)
        until = tickDue;
    for (const Timer& timer : timers)
        until = until < 0 ? timer.due : std::min(until, timer.due);
    if (until < 0)
        return -1;
    const int64_t wait = std::max<int64_t>(until - clock(), 0);
    return static_cast<int>(std::min<int64_t>(wait, std::numeric_limits<int>::max()));
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
    const int64_t started = monotonicMicros();
    tickHandler();
    longestTick = std::max(longestTick, monotonicMicros() - started);
}

void EventLoop::runOnce() {
    if (stopped)
        return;
    const int timeout = waitLimit();
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
    if (!stopped)
        runDueTimers();
    if (!stopped)
        deliverTickIfDue();
}

void EventLoop::run() {
    while (!stopped)
        runOnce();
}

}  // namespace linkmoot::daemon
