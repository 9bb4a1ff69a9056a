#include "platform/BusThread.h"

#include <poll.h>
#include <string.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>

#include "ToolBox/Logger.h"
#include "platform/SystemdLibrary.h"

namespace linkmoot {

BusThread::BusThread(ConnectHook onConnect, LostHook onLost)
    : onConnect(std::move(onConnect)), onLost(std::move(onLost)) {
    wakeDescriptor = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread = std::thread(&BusThread::loop, this);
}

BusThread::~BusThread() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake();
    if (thread.joinable())
        thread.join();
    if (wakeDescriptor >= 0)
        close(wakeDescriptor);
}

void BusThread::wake() {
    const uint64_t one = 1;
    if (write(wakeDescriptor, &one, sizeof one) < 0) {
        // The counter is full, so a wake-up is pending anyway.
    }
}

void BusThread::post(std::function<void(sd_bus*, const std::string&)> job) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        jobs.push_back([this, job = std::move(job)] {
            std::string error;
            sd_bus* current = connection(error);
            job(current, error);
        });
    }
    wake();
}

sd_bus* BusThread::connection(std::string& error) {
    if (bus != nullptr)
        return bus;
    std::string why;
    if (!systemdAvailable(why)) {
        error = "cannot connect to the system bus: " + why;
        return nullptr;
    }
    sd_bus* opened = nullptr;
    // Honours DBUS_SYSTEM_BUS_ADDRESS.
    int result = sd_bus_open_system(&opened);
    if (result < 0) {
        error = std::string("cannot connect to the system bus: ") + strerror(-result);
        return nullptr;
    }
    // A bus call waits on this thread only, but not for ever: sd-bus's own
    // default is 25 s.
    sd_bus_set_method_call_timeout(opened, kCallTimeoutUs);
    if (onConnect && !onConnect(opened, error)) {
        sd_bus_flush_close_unref(opened);
        return nullptr;
    }
    bus = opened;
    return bus;
}

void BusThread::drop() {
    if (bus == nullptr)
        return;
    sd_bus_flush_close_unref(bus);
    bus = nullptr;
    if (onLost)
        onLost();
}

void BusThread::loop() {
    for (;;) {
        std::deque<std::function<void()>> pending;
        bool stop = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            pending.swap(jobs);
            stop = stopping;
        }
        for (auto& job : pending)
            job();
        if (stop) {
            // Jobs queued during the last round are finished before leaving.
            std::lock_guard<std::mutex> lock(mutex);
            if (jobs.empty())
                break;
            continue;
        }

        pollfd descriptors[2] = {{wakeDescriptor, POLLIN, 0}, {-1, 0, 0}};
        int timeoutMs = -1;
        if (bus != nullptr) {
            const int processed = sd_bus_process(bus, nullptr);
            if (processed < 0) {
                LM_LOG(Warn, "Lost the system bus connection: %s", strerror(-processed));
                drop();
                continue;
            }
            if (processed > 0)
                continue;
            descriptors[1].fd = sd_bus_get_fd(bus);
            descriptors[1].events = static_cast<short>(sd_bus_get_events(bus));
            uint64_t until = 0;
            if (sd_bus_get_timeout(bus, &until) >= 0 && until != UINT64_MAX) {
                timespec now{};
                clock_gettime(CLOCK_MONOTONIC, &now);
                const uint64_t nowUs =
                    static_cast<uint64_t>(now.tv_sec) * 1000000u + now.tv_nsec / 1000;
                timeoutMs = until <= nowUs ? 0 : static_cast<int>((until - nowUs + 999) / 1000);
            }
        }
        poll(descriptors, descriptors[1].fd >= 0 ? 2 : 1, timeoutMs);
        if (descriptors[0].revents & POLLIN) {
            uint64_t count = 0;
            if (read(wakeDescriptor, &count, sizeof count) < 0) {
                // Nothing to read: another round drained it.
            }
        }
    }
    if (bus != nullptr) {
        sd_bus_flush_close_unref(bus);
        bus = nullptr;
    }
}

}  // namespace linkmoot
