#pragma once
// A system-bus connection that lives on a thread of its own: an sd-bus
// connection must only ever be used by one thread, so other threads hand it
// work; results travel back through the jobs' own callbacks. The thread also
// dispatches what arrives on the bus (signals, method calls to our objects)
// between jobs.
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

struct sd_bus;

namespace linkmoot {

class BusThread {
public:
    /// The deadline of every method call made on the connection.
    static constexpr uint64_t kCallTimeoutUs = 5'000'000;

    /// Run on the bus thread after each (re)connection, to add matches and
    /// objects; false with the reason refuses the connection.
    using ConnectHook = std::function<bool(sd_bus* bus, std::string& error)>;
    /// Run on the bus thread when the connection is lost.
    using LostHook = std::function<void()>;

    BusThread(ConnectHook onConnect, LostHook onLost);
    /// Finishes queued jobs, closes the connection and ends the thread.
    ~BusThread();
    BusThread(const BusThread&) = delete;
    BusThread& operator=(const BusThread&) = delete;

    /// Queues the job for the bus thread and returns at once; nobody waits for
    /// it (the callers are loops). The job gets the connection, opened on
    /// demand, or null with the reason it cannot be opened.
    void post(std::function<void(sd_bus* bus, const std::string& openError)> job);

private:
    void loop();
    sd_bus* connection(std::string& error);
    void drop();
    void wake();

    ConnectHook onConnect;
    LostHook onLost;
    std::mutex mutex;
    std::deque<std::function<void()>> jobs;
    bool stopping = false;
    int wakeDescriptor = -1;
    sd_bus* bus = nullptr;  // only touched by the bus thread
    std::thread thread;
};

}  // namespace linkmoot
