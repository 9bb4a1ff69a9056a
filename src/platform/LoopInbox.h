#pragma once
// Jobs handed to the loop's thread from any other: post() queues a job and
// makes fd() readable; the loop watches fd() and calls runPending(), which
// runs what has come, in order. So work done elsewhere (a database read)
// reaches the loop at once, not at the next tick.
#include <deque>
#include <functional>
#include <mutex>

namespace linkmoot {

class LoopInbox {
public:
    LoopInbox();
    /// What is still queued is dropped.
    ~LoopInbox();
    LoopInbox(const LoopInbox&) = delete;
    LoopInbox& operator=(const LoopInbox&) = delete;

    /// Any thread.
    void post(std::function<void()> job);
    int fd() const { return eventFd; }
    /// The loop's thread.
    void runPending();

private:
    std::mutex mutex;
    std::deque<std::function<void()>> jobs;
    int eventFd = -1;
};

}  // namespace linkmoot
