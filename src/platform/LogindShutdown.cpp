#include "platform/LogindShutdown.h"

#include <string.h>
#include <systemd/sd-bus.h>
#include <time.h>

#include <cstdint>
#include <memory>

#include "ToolBox/Logger.h"
#include "platform/BackgroundQueue.h"
#include "platform/SystemdLibrary.h"

namespace linkmoot {

namespace {

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kManagerPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr const char* kPolkitHint =
    "run the server as root or allow its user by a polkit rule for "
    "org.freedesktop.login1.power-off (see docs/dialup-services.md)";

struct BusCloser {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using Bus = std::unique_ptr<sd_bus, BusCloser>;

struct ErrorHolder {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    ~ErrorHolder() { sd_bus_error_free(&error); }
    std::string text(int result) const {
        if (error.message != nullptr)
            return error.message;
        if (error.name != nullptr)
            return error.name;
        return strerror(-result);
    }
    bool isNamed(const char* name) const { return sd_bus_error_has_name(&error, name); }
};

Bus openSystemBus(std::string& error) {
    std::string why;
    if (!systemdAvailable(why)) {
        error = "cannot connect to the system bus: " + why;
        return nullptr;
    }
    sd_bus* bus = nullptr;
    const int result = sd_bus_open_system(&bus);
    if (result < 0) {
        error = std::string("cannot connect to the system bus: ") + strerror(-result);
        return nullptr;
    }
    // sd-bus would wait 25 s for an answer; a stuck logind gets 5.
    sd_bus_set_method_call_timeout(bus, 5'000'000);
    return Bus(bus);
}

bool isServiceMissing(const ErrorHolder& error) {
    return error.isNamed(SD_BUS_ERROR_SERVICE_UNKNOWN) ||
           error.isNamed(SD_BUS_ERROR_NAME_HAS_NO_OWNER);
}

bool isPermissionRefused(const ErrorHolder& error) {
    return error.isNamed(SD_BUS_ERROR_ACCESS_DENIED) ||
           error.isNamed(SD_BUS_ERROR_INTERACTIVE_AUTHORIZATION_REQUIRED);
}

}  // namespace

LogindShutdown::LogindShutdown() = default;

LogindShutdown::~LogindShutdown() = default;

void LogindShutdown::requestPowerOff(const std::string& message, unsigned warningSeconds,
                                     Done done) {
    if (!worker)
        worker = std::make_unique<BackgroundQueue>();
    worker->post([this, message, warningSeconds, done = std::move(done)] {
        ShutdownOutcome outcome;
        if (!acquireRight(outcome.error))
            outcome.rightRefused = true;
        else
            outcome.issued = powerOff(message, warningSeconds, outcome.error);
        done(std::move(outcome));
    });
}

bool LogindShutdown::acquireRight(std::string& error) {
    Bus bus = openSystemBus(error);
    if (!bus)
        return false;
    ErrorHolder callError;
    sd_bus_message* reply = nullptr;
    const int result = sd_bus_call_method(bus.get(), kLogind, kManagerPath, kManager, "CanPowerOff",
                                          &callError.error, &reply, "");
    if (result < 0) {
        error = isServiceMissing(callError)
                    ? "systemd-logind is not running on the system bus"
                    : "cannot reach systemd-logind: " + callError.text(result);
        return false;
    }
    const char* answer = nullptr;
    const int readResult = sd_bus_message_read(reply, "s", &answer);
    std::string verdict = readResult >= 0 && answer != nullptr ? answer : "";
    sd_bus_message_unref(reply);
    if (verdict == "yes")
        return true;
    error = "systemd-logind does not let this user power off (CanPowerOff: " + verdict + "); " +
            kPolkitHint;
    return false;
}

bool LogindShutdown::powerOff(const std::string& message, unsigned warningSeconds,
                              std::string& error) {
    Bus bus = openSystemBus(error);
    if (!bus)
        return false;

    ErrorHolder wallError;
    int result = sd_bus_call_method(bus.get(), kLogind, kManagerPath, kManager, "SetWallMessage",
                                    &wallError.error, nullptr, "sb", message.c_str(), 1);
    if (result < 0)
        LM_LOG(Warn, "systemd-logind refused the shutdown message: %s",
               wallError.text(result).c_str());

    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const uint64_t when = static_cast<uint64_t>(now.tv_sec) * 1000000u +
                          static_cast<uint64_t>(now.tv_nsec) / 1000u +
                          static_cast<uint64_t>(warningSeconds) * 1000000u;
    ErrorHolder scheduleError;
    result = sd_bus_call_method(bus.get(), kLogind, kManagerPath, kManager, "ScheduleShutdown",
                                &scheduleError.error, nullptr, "st", "poweroff", when);
    if (result < 0) {
        error = scheduleError.text(result);
        if (isPermissionRefused(scheduleError))
            LM_LOG(Warn, "systemd-logind refused the power-off; %s", kPolkitHint);
        else if (isServiceMissing(scheduleError))
            LM_LOG(Warn, "systemd-logind is not running on the system bus");
        return false;
    }
    LM_LOG(Debug, "systemd-logind powers the machine off in %u s", warningSeconds);
    return true;
}

}  // namespace linkmoot
