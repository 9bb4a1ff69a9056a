#pragma once
// Powers the machine off through systemd-logind on the system bus: a wall
// message to the logged-in users, then a power-off scheduled after the warning
// time (logind warns the users again as it approaches). The right to do so is
// logind's (polkit's) decision: root may, others need a polkit rule.
#include "ShutdownService.h"

namespace linkmoot {

class LogindShutdown : public ShutdownService {
public:
    /// Reaches logind and asks whether a power-off would be allowed.
    bool acquireRight(std::string& error) override;
    /// SetWallMessage (a refusal is only logged), then ScheduleShutdown of
    /// "poweroff" at now + warningSeconds on the realtime clock.
    bool powerOff(const std::string& message, unsigned warningSeconds, std::string& error) override;
};

}  // namespace linkmoot
