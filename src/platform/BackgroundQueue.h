#pragma once
// One worker thread that runs jobs in the order they were posted, for work
// that has to wait (a state command, a hang-up command, a process to end, the
// shared secret's key derivation) and must not wait on the loop's thread. The
// thread starts with the first job: a queue that is never used costs none.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "Worker.h"

namespace linkmoot {

class BackgroundQueue : public Worker {
public:
    BackgroundQueue();
    /// Runs the jobs still queued, then ends the thread: a hang-up posted
    /// before exit still happens.
    ~BackgroundQueue() override;
    BackgroundQueue(const BackgroundQueue&) = delete;
    BackgroundQueue& operator=(const BackgroundQueue&) = delete;

    void post(std::function<void()> job) override;
    /// No job queued or running.
    bool idle();

private:
    void loop();

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    bool running = false;
    bool stopping = false;
    std::thread thread;  // started by the first post()
};

}  // namespace linkmoot
