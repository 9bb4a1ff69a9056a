#pragma once
// A dial-up service without a modem, for tests, the demonstration and anyone
// trying Linkmoot out. Its lines:
// - "Simulated modem": dialling for 2 s, then connected until hung up;
// - "Simulated busy line": every dial fails after 1 s, reported from another thread;
// - "Simulated unstable line": connects after 2 s and drops 30 s later.
// While a line is up it has an interface of its own ("sim" and its handle)
// whose counters grow by the rate given at the dial (received bytes a second;
// a tenth of that is sent), so every usage figure can be driven without a
// modem.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "DialService.h"
#include "InterfaceCounters.h"

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
    std::string interfaceName(DialHandle handle) override;
    InterfaceCounters* ownCounters() override { return &counters; }
    /// The received bytes a second of the lines dialled from now on, asked
    /// at each dial (on the dialling thread); 20000 when not set.
    void setBytesPerSecond(std::function<uint32_t()> rate) { bytesPerSecond = std::move(rate); }

private:
    class Counters : public InterfaceCounters {
    public:
        explicit Counters(SimulatedDialService& service) : service(service) {}
        InterfaceReading read(const std::string& name) override;

    private:
        SimulatedDialService& service;
    };
    enum class Line { Modem, Busy, Unstable };
    struct Call {
        Line line;
        uint64_t dialledAt;
        uint32_t rate = 0;
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
    std::function<uint32_t()> bytesPerSecond;
    Counters counters{*this};
    bool stopping = false;
    std::thread reporter;
};

}  // namespace linkmoot
