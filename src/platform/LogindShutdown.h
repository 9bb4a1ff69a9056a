#pragma once
// Powers the machine off through systemd-logind on the system bus: a wall
// message to the logged-in users, then a power-off scheduled after the warning
// time (logind warns the users again as it approaches). The right to do so is
// logind's (polkit's) decision: root may, others need a polkit rule.
// The bus calls (5 s each at most) run on a worker thread of its own, made
// at the first request.
#include <memory>

#include "ShutdownService.h"

namespace linkmoot {

class BackgroundQueue;

class LogindShutdown : public ShutdownService {
public:
    LogindShutdown();
    /// Finishes a request still running.
    ~LogindShutdown() override;

    /// acquireRight(), then powerOff(), on the worker thread.
    void requestPowerOff(const std::string& message, unsigned warningSeconds, Done done) override;

    /// The steps, each waiting for logind on the calling thread:
    /// reaches logind and asks whether a power-off would be allowed.
    bool acquireRight(std::string& error);
    /// SetWallMessage (a refusal is only logged), then ScheduleShutdown of
    /// "poweroff" at now + warningSeconds on the realtime clock.
    bool powerOff(const std::string& message, unsigned warningSeconds, std::string& error);

private:
    std::unique_ptr<BackgroundQueue> worker;
};

}  // namespace linkmoot
