#include "PollEvents.h"

#include <poll.h>

#include <algorithm>

namespace linkmoot::ctl {

void PollEvents::watch(int fd, Handler onReadable) {
    watches[fd] = std::move(onReadable);
}

void PollEvents::unwatch(int fd) {
    watches.erase(fd);
}

EventSource::TimerId PollEvents::startTimer(int delayMs, Handler onDue) {
    const TimerId id = nextId++;
    timers[id] = {Clock::now() + std::chrono::milliseconds(delayMs), std::move(onDue)};
    return id;
}

void PollEvents::cancelTimer(TimerId id) {
    timers.erase(id);
}

void PollEvents::runFor(int milliseconds, const std::function<void()>& between) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (Clock::now() < end) {
        Clock::time_point wake = std::min(end, Clock::now() + std::chrono::milliseconds(100));
        for (const auto& [id, timer] : timers)
            wake = std::min(wake, timer.due);
        std::vector<pollfd> descriptors;
        for (const auto& [fd, handler] : watches)
            descriptors.push_back({fd, POLLIN, 0});
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(wake - Clock::now());
        ::poll(descriptors.data(), descriptors.size(),
               static_cast<int>(std::max<int64_t>(0, wait.count())));
        for (const pollfd& descriptor : descriptors) {
            const auto found = watches.find(descriptor.fd);
            // A handler may have unwatched another descriptor meanwhile.
            if (descriptor.revents != 0 && found != watches.end()) {
                const Handler handler = found->second;
                handler();
            }
        }
        for (;;) {
            const auto due = std::find_if(timers.begin(), timers.end(), [](const auto& entry) {
                return entry.second.due <= Clock::now();
            });
            if (due == timers.end())
                break;
            const Handler handler = std::move(due->second.handler);
            timers.erase(due);
            handler();
        }
        between();
    }
}

}  // namespace linkmoot::ctl
