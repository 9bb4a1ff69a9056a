#include "EventLoop.h"

#include <errno.h>
#include <sys/epoll.h>
#include <time.h>
#include <unistd.h>

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

namespace {
int64_t threadCpuMicros() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}
}  // namespace

int64_t nextTickDue(int64_t due, int64_t ranAt, int64_t period) {
    int64_t next = due + period;
    return next > ranAt ? next : ranAt + period;
}

EventLoop::EventLoop(Clock clock, int64_t periodMs)
    : clock(std::move(clock)), period(periodMs), epollFd(epoll_create1(EPOLL_CLOEXEC)) {}

EventLoop::~EventLoop() {
    if (epollFd >= 0)
        close(epollFd);
}

bool EventLoop::subscribe(int fd) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    if (epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event) == 0)
        return true;
    // In the set already (watched again for a new handler). A file closed
    // unwatched left the set when it closed, so its number is added afresh.
    if (errno == EEXIST)
        return epoll_ctl(epollFd, EPOLL_CTL_MOD, fd, &event) == 0;
    return false;
}

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
    // Subscribed again even when known: the number may name another file now.
    const bool alwaysReady = !subscribe(fd);
    for (Watch& entry : watches) {
        if (entry.fd == fd) {
            entry.handler = std::move(onReadable);
            entry.generation = nextGeneration++;
            entry.alwaysReady = alwaysReady;
            return;
        }
    }
    watches.push_back({fd, std::move(onReadable), nextGeneration++, alwaysReady});
}

void EventLoop::unwatch(int fd) {
    // Fails harmlessly for a descriptor closed already: closing left the set.
    epoll_ctl(epollFd, EPOLL_CTL_DEL, fd, nullptr);
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

bool EventLoop::runDueTimers(int64_t now) {
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
    return !due.empty();
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

void EventLoop::deliverTickIfDue(int64_t now) {
    if (!ticking)
        return;
    if (now < tickDue)
        return;
    maxLateness = std::max(maxLateness, now - tickDue);
    // Reschedule before the handler runs: it may run nested loops that tick.
    tickDue = daemon::nextTickDue(tickDue, now, period);
    ++tickCount;
    const int64_t started = monotonicMicros();
    const int64_t cpuStarted = timingCpu ? threadCpuMicros() : 0;
    tickHandler();
    longestTick = std::max(longestTick, monotonicMicros() - started);
    if (timingCpu)
        longestTickCpu = std::max(longestTickCpu, threadCpuMicros() - cpuStarted);
}

void EventLoop::dispatchReady(int timeout) {
    for (const Watch& entry : watches) {
        if (entry.alwaysReady)
            timeout = 0;
    }
    // On the stack: a handler may run a nested round.
    constexpr int kBatch = 64;
    epoll_event events[kBatch];
    int count = epoll_wait(epollFd, events, kBatch, timeout);
    if (count < 0)
        count = 0;  // EINTR: a signal's pipe is readable at the next round
    struct Ready {
        int fd;
        uint64_t generation;
    };
    Ready ready[kBatch];
    std::size_t readyCount = 0;
    // In the order of watching, as poll() served them, and by generation: a
    // handler may unwatch or replace a watch that is ready in this round.
    for (const Watch& entry : watches) {
        bool isReady = entry.alwaysReady;
        for (int i = 0; !isReady && i < count; ++i)
            isReady = events[i].data.fd == entry.fd;
        if (isReady && readyCount < std::size(ready))
            ready[readyCount++] = {entry.fd, entry.generation};
    }
    for (std::size_t i = 0; i < readyCount && !stopped; ++i) {
        auto found = std::find_if(watches.begin(), watches.end(), [&](const Watch& entry) {
            return entry.fd == ready[i].fd && entry.generation == ready[i].generation;
        });
        if (found == watches.end())
            continue;
        Handler handler = found->handler;  // a copy: the handler may unwatch itself
        handler();
    }
}

void EventLoop::runOnce() {
    if (stopped)
        return;
    dispatchReady(waitLimit());
    if (stopped)
        return;
    // One reading serves the timers and the tick; read again only after a
    // timer's handler, which may have taken a while.
    int64_t now = clock();
    if (runDueTimers(now))
        now = clock();
    if (!stopped)
        deliverTickIfDue(now);
}

void EventLoop::run() {
    while (!stopped)
        runOnce();
}

}  // namespace linkmoot::daemon
