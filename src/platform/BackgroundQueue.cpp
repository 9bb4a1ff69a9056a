#include "platform/BackgroundQueue.h"

namespace linkmoot {

BackgroundQueue::BackgroundQueue() = default;

BackgroundQueue::~BackgroundQueue() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_one();
    if (thread.joinable())
        thread.join();
}

void BackgroundQueue::post(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        jobs.push_back(std::move(job));
        if (!thread.joinable())
            thread = std::thread([this] { loop(); });
    }
    wake.notify_one();
}

bool BackgroundQueue::idle() {
    std::lock_guard<std::mutex> lock(mutex);
    return jobs.empty() && !running;
}

void BackgroundQueue::loop() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return stopping || !jobs.empty(); });
        if (jobs.empty())
            return;
        std::function<void()> job = std::move(jobs.front());
        jobs.pop_front();
        running = true;
        lock.unlock();
        job();
        lock.lock();
        running = false;
    }
}

}  // namespace linkmoot
