#include "platform/LoopInbox.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace linkmoot {

LoopInbox::LoopInbox() : eventFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

LoopInbox::~LoopInbox() {
    if (eventFd >= 0)
        close(eventFd);
}

void LoopInbox::post(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        jobs.push_back(std::move(job));
    }
    const uint64_t one = 1;
    if (write(eventFd, &one, sizeof one) < 0) {
        // Only a full counter fails, and it is readable then anyway.
    }
}

void LoopInbox::runPending() {
    uint64_t count = 0;
    if (read(eventFd, &count, sizeof count) < 0) {
        // Nothing was signalled: nothing is queued either, or it comes next turn.
    }
    std::deque<std::function<void()>> due;
    {
        std::lock_guard<std::mutex> lock(mutex);
        due.swap(jobs);
    }
    // A job may post again: that one runs at the next turn.
    for (std::function<void()>& job : due)
        job();
}

}  // namespace linkmoot
