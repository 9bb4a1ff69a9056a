#include "platform/SystemDialServices.h"

#include "ToolBox/Logger.h"
#include "platform/BackgroundQueue.h"
#include "platform/CommandDialService.h"
#include "platform/NetworkManagerDialService.h"
#include "platform/PppDialService.h"
#include "platform/RefusingDialService.h"
#include "platform/SimulatedDialService.h"

namespace linkmoot {

SystemDialServices::SystemDialServices(Settings settings) : settings(settings) {}

void SystemDialServices::prepare(const std::string& dialerName) {
    // Asked now, so the answer is there by the first dial.
    if (dialerName == "auto")
        lookForNetworkManager();
}

void SystemDialServices::lookForNetworkManager() {
    {
        std::lock_guard<std::mutex> lock(look->mutex);
        if (look->looking)
            return;
        look->looking = true;
    }
    // Made at the first look: a client, or a server with another service,
    // never needs the thread.
    if (!lookQueue)
        lookQueue = std::make_unique<BackgroundQueue>();
    lookQueue->post([found = look] {
        std::string why;
        const bool running = NetworkManagerDialService::isRunning(&why);
        std::lock_guard<std::mutex> lock(found->mutex);
        found->running = running;
        found->whyNot = why;
        found->looking = false;
    });
}

SystemDialServices::~SystemDialServices() = default;

DialService& SystemDialServices::service(const std::string& dialerName) {
    if (dialerName == "auto")
        return automatic();
    if (dialerName == "networkmanager")
        return networkManagerService();
    if (dialerName == "ppp")
        return pppService();
    if (dialerName == "command") {
        if (!command)
            command = std::make_unique<CommandDialService>(settings);
        return *command;
    }
    if (dialerName == "simulated") {
        if (!simulated) {
            simulated = std::make_unique<SimulatedDialService>();
            simulated->setBytesPerSecond([this] {
                const int32_t rate = settings.get(keys::SimulatedBytesPerSecond).value_or(20000);
                return static_cast<uint32_t>(rate > 0 ? rate : 0);
            });
        }
        return *simulated;
    }
    return refusing(dialerName, dialerName,
                    "The dial-up service '" + dialerName +
                        "' is unknown; set Server/Dialer to one of: " + kValidNames);
}

DialService& SystemDialServices::networkManagerService() {
    if (!networkManager)
        networkManager = std::make_unique<NetworkManagerDialService>(settings);
    return *networkManager;
}

PppDialService& SystemDialServices::pppService() {
    if (!ppp)
        ppp = std::make_unique<PppDialService>(settings);
    return *ppp;
}

DialService& SystemDialServices::refusing(const std::string& key, const std::string& name,
                                          const std::string& reason) {
    // Kept for the provider's life: the caller may still hold a reference.
    std::unique_ptr<DialService>& slot = refusingServices[key + "\n" + reason];
    if (!slot)
        slot = std::make_unique<RefusingDialService>(name, reason);
    return *slot;
}

void SystemDialServices::listWhenFound(DialService::EntriesCallback done) {
    // What the worker needs is taken here, on the caller's thread: the
    // settings and the lazily made services are not for other threads.
    networkManagerService();
    NetworkManagerDialService* networkManagerList = networkManager.get();
    const std::string peers = settings.get(keys::PppPeersFolder);
    const bool pppInstalled = !pppService().findPppProgram().empty();
    // Behind the look already queued, so its answer is there when this runs.
    lookQueue->post(
        [found = look, networkManagerList, peers, pppInstalled, done = std::move(done)]() mutable {
            bool running = false;
            {
                std::lock_guard<std::mutex> lock(found->mutex);
                running = found->running.value_or(false);
            }
            if (running)
                networkManagerList->listEntries(std::move(done));
            else if (pppInstalled)
                done(entriesNamed(PppDialService::listPeers(peers)));
            else
                done({});
        });
}

DialService& SystemDialServices::automatic() {
    // Looked at again each time, so a service started later is found.
    std::optional<bool> networkManagerRunning;
    std::string whyNotNetworkManager;
    {
        std::lock_guard<std::mutex> lock(look->mutex);
        networkManagerRunning = look->running;
        whyNotNetworkManager = look->whyNot;
    }
    lookForNetworkManager();
    if (!networkManagerRunning) {
        if (!stillLooking)
            stillLooking = std::make_unique<RefusingDialService>(
                "auto",
                "Server/Dialer \"auto\" is still looking for NetworkManager on the system bus; "
                "the next dial uses what it finds",
                [this](DialService::EntriesCallback done) { listWhenFound(std::move(done)); });
        return *stillLooking;
    }
    DialService* chosen = nullptr;
    if (*networkManagerRunning)
        chosen = &networkManagerService();
    else if (!pppService().findPppProgram().empty())
        chosen = &pppService();
    if (chosen != nullptr) {
        if (lastAutomaticChoice != chosen->name()) {
            lastAutomaticChoice = chosen->name();
            LM_LOG(Info, "Server/Dialer \"auto\" uses the dial-up service \"%s\"", chosen->name());
        }
        return *chosen;
    }
    lastAutomaticChoice.clear();
    const std::string program = settings.get(keys::PppProgram);
    return refusing("auto", "auto",
                    "No dial-up service found for Server/Dialer \"auto\": looked for "
                    "NetworkManager on the system bus (" +
                        whyNotNetworkManager + ") and for pppd (\"" + program +
                        "\" on PATH and in /usr/sbin, not installed); start NetworkManager or "
                        "install ppp, set Server/Dialer to \"command\" for commands of your "
                        "own, or to \"simulated\" to try Linkmoot out");
}

}  // namespace linkmoot
