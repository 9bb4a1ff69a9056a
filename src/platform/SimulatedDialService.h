#pragma once
// A dial-up service without a modem, for tests, the demonstration and anyone
// trying Linkmoot out. Its lines:
// - "Simulated modem": dialling for 2 s, then connected until hung up;
// - "Simulated busy line": every dial fails after 1 s, reported from another thread;
// - "Simulated unstable line": connects after 2 s and drops 30 s later.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "DialService.h"

namespace linkmoot {

class SimulatedDialService : public DialService {
public:
    static constexpr const char* kModem = "Simulated modem";
    static constexpr const char* kBusyLine = "Simulated busy line";
    static constexpr const char* kUnstableLine = "Simulated unstable line";

    struct Timing {
        uint32_t connectMs = 2000;
        uint32_t busyFailureMs = 1000;
        uint32_t unstableDropMs = 30000;
    };
    /// `now` gives milliseconds on any monotonic scale (a steady clock by default).
    SimulatedDialService();
    SimulatedDialService(Timing timing, std::function<uint64_t()> now);
    ~SimulatedDialService() override;

    const char* name() const override { return "simulated"; }
    void listEntries(EntriesCallback done) override;
    bool dial(const DialRequest& request, DialHandle& handle, std::string& error) override;
    void hangUp(DialHandle handle) override;
    LineState state(DialHandle handle) override;
    void setFailureCallback(FailureCallback callback) override;

private:
    enum class Line { Modem, Busy, Unstable };
    struct Call {
        Line line;
        uint64_t dialledAt;
        bool failed = false;
        bool reportedUp = false;
    };
    void failureThread();

    Timing timing;
    std::function<uint64_t()> now;
    std::mutex mutex;
    std::condition_variable wakeUp;
    std::map<DialHandle, Call> calls;
    DialHandle nextHandle = 1;
    FailureCallback callback;
    bool stopping = false;
    std::thread reporter;
};

}  // namespace linkmoot
