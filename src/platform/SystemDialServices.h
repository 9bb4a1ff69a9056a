#pragma once
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "DialService.h"
#include "Settings.h"

namespace linkmoot {

class BackgroundQueue;
class CommandDialService;
class NetworkManagerDialService;
class PppDialService;
class SimulatedDialService;

/// The dial-up services of this machine, chosen by the value of
/// `Server`/`Dialer`: "networkmanager", "ppp", "command", "simulated", and
/// "auto" (the default): NetworkManager when it answers on the system bus, else
/// pppd when it is installed, else a service that refuses every dial saying
/// what it looked for. Asking the bus is a round trip, so it runs in the
/// background, on a thread made for it: a request takes the latest answer and
/// starts the next look (the first starts when a server starts with "auto");
/// before any answer, dials are refused as "still looking". Any other value gets a
/// service that refuses every dial naming the value and the valid ones.
/// Services are made on first use and live as long as the provider.
class SystemDialServices : public DialServiceProvider {
public:
    static constexpr const char* kValidNames = "auto, networkmanager, ppp, command, simulated";

    /// The services read their keys through `settings` (afresh at each use).
    explicit SystemDialServices(Settings settings);
    ~SystemDialServices() override;

    DialService& service(const std::string& dialerName) override;
    /// For "auto", starts the first look for NetworkManager.
    void prepare(const std::string& dialerName) override;

private:
    /// The latest answer of the background look for NetworkManager.
    struct NetworkManagerLook {
        std::mutex mutex;
        std::optional<bool> running;
        std::string whyNot;
        bool looking = false;
    };

    void lookForNetworkManager();
    DialService& automatic();
    /// Lists, once the look has answered, what "auto" will then use.
    void listWhenFound(DialService::EntriesCallback done);
    DialService& networkManagerService();
    PppDialService& pppService();
    DialService& refusing(const std::string& key, const std::string& name,
                          const std::string& reason);

    Settings settings;
    std::unique_ptr<SimulatedDialService> simulated;
    std::unique_ptr<NetworkManagerDialService> networkManager;
    std::unique_ptr<PppDialService> ppp;
    std::unique_ptr<CommandDialService> command;
    std::map<std::string, std::unique_ptr<DialService>> refusingServices;
    std::unique_ptr<DialService> stillLooking;
    std::string lastAutomaticChoice;
    std::shared_ptr<NetworkManagerLook> look = std::make_shared<NetworkManagerLook>();
    // Last, so a look still running ends before the members above go.
    std::unique_ptr<BackgroundQueue> lookQueue;
};

}  // namespace linkmoot
