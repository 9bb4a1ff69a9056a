#pragma once
#include <string>

namespace linkmoot {

/// Powers the computer off after a warning. Never called by a test against
/// the real system.
class ShutdownService {
public:
    virtual ~ShutdownService() = default;
    /// Makes sure the shutdown may be requested (reach the service, gain the
    /// right). False with the reason when not.
    virtual bool acquireRight(std::string& error) = 0;
    /// Requests a power-off after `warningSeconds`, showing the message to
    /// logged-in users. False with the service's error text when refused.
    virtual bool powerOff(const std::string& message, unsigned warningSeconds,
                          std::string& error) = 0;
};

}  // namespace linkmoot
