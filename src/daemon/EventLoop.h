#pragma once
// The daemon's one loop: one epoll instance holds the watched descriptors, and
// a wait on it lasts up to the next one-second tick. (An idle daemon wakes once
// a second: one wait on a set kept in the kernel costs less there than poll()
// handing the kernel every descriptor again each time.) A descriptor epoll
// cannot watch (a regular file, /dev/null) counts as always readable, as
// poll() has it. Ready handlers run in the order the descriptors were watched.
//
// Ticks are scheduled on a monotonic clock: each is
// due one period after the due time of the one before, so they do not drift;
// a tick that runs more than a period late (the machine was suspended, or a
// handler ran long) is delivered once, and the next is due one period
// after it, so missed ticks are not replayed in a burst.
//
// runOnce() may be called from inside a handler (a prompt waiting for its
// answer keeps ticks and the control socket going); handlers must allow that.
// One-shot timers run on the same monotonic clock; the wait ends at the
// earliest of the next tick and the next timer.
#include <cstdint>
#include <functional>
#include <vector>

#include "app/Loop.h"

namespace linkmoot::daemon {

/// Milliseconds of CLOCK_MONOTONIC.
int64_t monotonicMillis();
int64_t monotonicMicros();

/// When the tick after one that was due at `due` and ran at `ranAt` is due.
int64_t nextTickDue(int64_t due, int64_t ranAt, int64_t period);

class EventLoop : public Loop {
public:
    using Clock = std::function<int64_t()>;

    explicit EventLoop(Clock clock = monotonicMillis, int64_t periodMs = 1000);
    ~EventLoop() override;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    /// Starts the ticks: the first is due one period from now.
    void startTicks(Handler onTick);
    /// Stops the ticks and drops their handler (before what it calls is gone).
    void stopTicks();
    /// Calls the handler whenever the descriptor is readable (or hung up).
    /// Watching a watched descriptor again replaces its handler.
    void watch(int fd, Handler onReadable) override;
    void unwatch(int fd) override;
    void setTick(Handler onTick) override {
        if (onTick)
            startTicks(std::move(onTick));
        else
            stopTicks();
    }
    TimerId startTimer(int delayMs, Handler onDue) override;
    void cancelTimer(TimerId id) override;
    void quit() override { stop(); }

    /// Waits for the next tick or a readable descriptor and dispatches what is
    /// due. Returns at once when stopped.
    void runOnce();
    /// runOnce() until stop().
    void run();
    void stop() { stopped = true; }
    bool isStopped() const { return stopped; }

    int64_t nextTickDue() const { return tickDue; }
    uint64_t ticksDelivered() const { return tickCount; }
    /// The most a tick ran after its due time since the last call (ms); for
    /// the figures of bench/loop-latency.sh.
    int64_t takeMaxLateness() {
        const int64_t most = maxLateness;
        maxLateness = 0;
        return most;
    }
    /// The longest a tick's handler ran since the last call (µs, nested loops
    /// included); for the crowd figures of bench/crowd.py.
    int64_t takeLongestTickMicros() {
        const int64_t most = longestTick;
        longestTick = 0;
        return most;
    }
    /// Also times each tick's handler by the thread's CPU clock: the work of
    /// the tick itself, without the time the system gave to other programs
    /// or a virtual machine's host took. Two system calls a tick, so only for
    /// a measurement (off until set).
    void measureTickCpu(bool on) { timingCpu = on; }
    /// The most CPU time one tick's handler took since the last call (µs);
    /// 0 unless measured.
    int64_t takeLongestTickCpuMicros() {
        const int64_t most = longestTickCpu;
        longestTickCpu = 0;
        return most;
    }

private:
    struct Watch {
        int fd;
        Handler handler;
        uint64_t generation;
        bool alwaysReady;  ///< epoll refused it: poll() calls such a file readable
    };
    struct Timer {
        TimerId id;
        int64_t due;
        Handler handler;
    };
    void deliverTickIfDue(int64_t now);
    /// True when a handler ran.
    bool runDueTimers(int64_t now);
    /// Milliseconds the wait may last: up to the next tick or timer; -1: no end.
    int waitLimit();
    /// Adds the descriptor to the epoll set; false when epoll cannot watch it.
    bool subscribe(int fd);
    /// Waits, then runs the handlers of the descriptors found ready.
    void dispatchReady(int timeout);

    Clock clock;
    int64_t period;
    Handler tickHandler;
    bool ticking = false;
    int64_t tickDue = 0;
    uint64_t tickCount = 0;
    int64_t maxLateness = 0;
    int64_t longestTick = 0;
    bool timingCpu = false;
    int64_t longestTickCpu = 0;
    int epollFd;
    std::vector<Watch> watches;
    std::vector<Timer> timers;
    TimerId nextTimer = 1;
    uint64_t nextGeneration = 1;
    bool stopped = false;
};

}  // namespace linkmoot::daemon
