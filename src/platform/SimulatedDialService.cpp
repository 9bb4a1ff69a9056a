#include "platform/SimulatedDialService.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ToolBox/Logger.h"

namespace linkmoot {

namespace {
uint64_t steadyMillis() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}
}  // namespace

SimulatedDialService::SimulatedDialService() : SimulatedDialService(Timing{}, {}) {}

SimulatedDialService::SimulatedDialService(Timing timing, std::function<uint64_t()> now)
    : timing(timing), now(now ? std::move(now) : steadyMillis) {}

SimulatedDialService::~SimulatedDialService() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wakeUp.notify_all();
    if (reporter.joinable())
        reporter.join();
}

void SimulatedDialService::listEntries(EntriesCallback done) {
    done({kModem, kBusyLine, kUnstableLine});
}

bool SimulatedDialService::dial(const DialRequest& request, DialHandle& handle,
                                std::string& error) {
    Line line;
    if (request.entry == kModem) {
        line = Line::Modem;
    } else if (request.entry == kBusyLine) {
        line = Line::Busy;
    } else if (request.entry == kUnstableLine) {
        line = Line::Unstable;
    } else {
        error = "the simulated service has no line named '" + request.entry + "' (it offers '" +
                kModem + "', '" + kBusyLine + "' and '" + kUnstableLine + "')";
        handle = 0;
        return false;
    }
    const uint32_t rate = bytesPerSecond ? bytesPerSecond() : 20000;
    std::lock_guard<std::mutex> lock(mutex);
    handle = nextHandle++;
    calls[handle] = Call{line, now(), rate};
    LM_LOG(Info, "Simulated dial-up: dialling '%s'", request.entry.c_str());
    if (line == Line::Busy) {
        // Started lazily: a program that never dials a busy line runs no thread.
        if (!reporter.joinable())
            reporter = std::thread(&SimulatedDialService::failureThread, this);
        wakeUp.notify_all();
    }
    return true;
}

void SimulatedDialService::failureThread() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        DialHandle due = 0;
        uint64_t nextDue = UINT64_MAX;
        const uint64_t current = now();
        for (auto& [handle, call] : calls) {
            if (call.line != Line::Busy || call.failed)
                continue;
            const uint64_t failAt = call.dialledAt + timing.busyFailureMs;
            if (failAt <= current) {
                due = handle;
                break;
            }
            nextDue = std::min(nextDue, failAt);
        }
        if (due != 0) {
            calls[due].failed = true;
            FailureCallback report = callback;
            lock.unlock();
            LM_LOG(Warn, "Simulated dial-up: the line is busy");
            if (report)
                report(due, "the line is busy");
            lock.lock();
            continue;
        }
        if (nextDue == UINT64_MAX) {
            wakeUp.wait(lock);
        } else {
            wakeUp.wait_for(lock, std::chrono::milliseconds(nextDue - current));
        }
    }
}

void SimulatedDialService::hangUp(DialHandle handle) {
    std::lock_guard<std::mutex> lock(mutex);
    if (calls.erase(handle) > 0)
        LM_LOG(Info, "Simulated dial-up: hung up");
}

LineState SimulatedDialService::state(DialHandle handle) {
    std::lock_guard<std::mutex> lock(mutex);
    auto found = calls.find(handle);
    if (found == calls.end())
        return LineState::Disconnected;
    Call& call = found->second;
    const uint64_t elapsed = now() - call.dialledAt;
    switch (call.line) {
        case Line::Busy:
            return call.failed ? LineState::Disconnected : LineState::Dialling;
        case Line::Unstable:
            if (elapsed >= uint64_t{timing.connectMs} + timing.unstableDropMs) {
                if (call.reportedUp) {
                    call.reportedUp = false;
                    LM_LOG(Warn, "Simulated dial-up: the unstable line dropped");
                }
                return LineState::Disconnected;
            }
            [[fallthrough]];
        case Line::Modem:
            if (elapsed >= timing.connectMs && !call.reportedUp) {
                call.reportedUp = true;
                LM_LOG(Info, "Simulated dial-up: the line is up");
            }
            return call.reportedUp ? LineState::Connected : LineState::Dialling;
    }
    return LineState::QueryFailed;
}

std::string SimulatedDialService::interfaceName(DialHandle handle) {
    std::lock_guard<std::mutex> lock(mutex);
    auto found = calls.find(handle);
    if (found == calls.end() || !found->second.reportedUp)
        return {};
    return "sim" + std::to_string(handle);
}

InterfaceReading SimulatedDialService::Counters::read(const std::string& name) {
    InterfaceReading reading;
    if (name.rfind("sim", 0) != 0)
        return reading;
    const DialHandle handle = std::strtoull(name.c_str() + 3, nullptr, 10);
    std::lock_guard<std::mutex> lock(service.mutex);
    auto found = service.calls.find(handle);
    if (found == service.calls.end() || !found->second.reportedUp)
        return reading;
    const Call& call = found->second;
    const uint64_t upFor = service.now() - (call.dialledAt + service.timing.connectMs);
    reading.present = true;
    reading.up = true;
    reading.identity = handle;
    reading.received = upFor * call.rate / 1000;
    reading.sent = reading.received / 10;
    return reading;
}

void SimulatedDialService::setFailureCallback(FailureCallback newCallback) {
    std::lock_guard<std::mutex> lock(mutex);
    callback = std::move(newCallback);
}

}  // namespace linkmoot
