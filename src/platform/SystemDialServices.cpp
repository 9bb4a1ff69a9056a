#include "SystemDialServices.h"

#include "RefusingDialService.h"
#include "SimulatedDialService.h"

namespace linkmoot {

namespace {
constexpr const char* kValidNames = "auto, simulated";
}

SystemDialServices::SystemDialServices(std::function<toolbox::ConfigSection*()> serverSection)
    : serverSection(std::move(serverSection)) {}

SystemDialServices::~SystemDialServices() = default;

DialService& SystemDialServices::service(const std::string& dialerName) {
    if (dialerName == "simulated") {
        if (!simulated) simulated = std::make_unique<SimulatedDialService>();
        return *simulated;
    }
    if (dialerName == "auto") return automatic();
    auto found = refusing.find(dialerName);
    if (found == refusing.end()) {
        const std::string reason = "The dial-up service '" + dialerName +
                                   "' is unknown; set Server/Dialer to one of: " + kValidNames;
        found = refusing
                    .emplace(dialerName,
                             std::make_unique<RefusingDialService>(dialerName, reason))
                    .first;
    }
    return *found->second;
}

DialService& SystemDialServices::automatic() {
    auto found = refusing.find("auto");
    if (found == refusing.end()) {
        found = refusing
                    .emplace("auto", std::make_unique<RefusingDialService>(
                                         "auto",
                                         "No dial-up service is available: install and start a "
                                         "real one, or set Server/Dialer to \"simulated\" to try "
                                         "Linkmoot out"))
                    .first;
    }
    return *found->second;
}

}  // namespace linkmoot
