#pragma once
#include <functional>
#include <string>

namespace linkmoot {

/// What became of a power-off request.
struct ShutdownOutcome {
    bool rightRefused = false;  ///< the right to power off could not be had
    bool issued = false;        ///< the power-off is scheduled
    std::string error;          ///< why not, when neither of the above holds or the right failed
};

/// Powers the computer off after a warning. Rules:
/// - requestPowerOff() makes sure the shutdown may be requested (reach the
///   service, gain the right), then requests the power-off after
///   `warningSeconds`, showing the message to logged-in users.
/// - It never waits on the caller's thread (the loop): `done` gets the outcome
///   exactly once, before the call returns or later from another thread.
/// Never called by a test against the real system.
class ShutdownService {
public:
    using Done = std::function<void(ShutdownOutcome outcome)>;

    virtual ~ShutdownService() = default;
    virtual void requestPowerOff(const std::string& message, unsigned warningSeconds,
                                 Done done) = 0;
};

}  // namespace linkmoot
