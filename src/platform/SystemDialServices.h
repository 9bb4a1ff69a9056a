#pragma once
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "DialService.h"

namespace toolbox {
class ConfigSection;
}

namespace linkmoot {

class SimulatedDialService;

/// The dial-up services of this machine, chosen by the value of
/// `Server`/`Dialer`: "auto" (the default), "simulated", and the real Linux
/// services. An unknown value gets a service that refuses every dial.
class SystemDialServices : public DialServiceProvider {
public:
    /// `serverSection` gives the configuration section `Server` (read afresh).
    explicit SystemDialServices(std::function<toolbox::ConfigSection*()> serverSection);
    ~SystemDialServices() override;

    DialService& service(const std::string& dialerName) override;

private:
    DialService& automatic();

    std::function<toolbox::ConfigSection*()> serverSection;
    std::unique_ptr<SimulatedDialService> simulated;
    std::map<std::string, std::unique_ptr<DialService>> refusing;
};

}  // namespace linkmoot
