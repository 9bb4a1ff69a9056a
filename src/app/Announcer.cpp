#include "app/Announcer.h"

#include <algorithm>

#include "Linkmoot.h"
#include "PageCode.h"
#include "Protocol.h"
#include "Server.h"
#include "Trust.h"
#include "app/WebPage.h"

namespace linkmoot {

Announcer::Announcer(Linkmoot& app, Settings settings, Network& network, AvahiDnsSd& dnsSd,
                     const WebPage* web, Loop& loop)
    : app(app),
      settings(settings),
      network(network),
      dnsSd(dnsSd),
      web(web),
      loop(loop),
      latest(app.latestStatus()) {
    recheckLater();
}

Announcer::~Announcer() {
    if (followDue)
        loop.cancelTimer(*followDue);
    if (recheck)
        loop.cancelTimer(*recheck);
    dnsSd.announce(std::nullopt);
}

const Announcer::Surroundings& Announcer::surroundings() {
    if (!seen) {
        Surroundings found;
        network.computerName(found.name);
        found.interfaces = network.interfaceAddresses();
        seen = std::move(found);
    }
    return *seen;
}

std::optional<ServiceAnnouncement> Announcer::wanted() {
    if (!latest->serverMenu || !latest->serverStarted || !settings.get(keys::Announce))
        return std::nullopt;
    Server& server = app.getServer();
    const Surroundings& around = surroundings();
    ServiceAnnouncement what;
    what.instance = "Linkmoot on " + around.name;
    what.port = server.boundPort();
    const bool secret = !settings.get(keys::Secret).empty();
    what.txt = {"txtvers=1", "v=" + std::to_string(protocol::kVersion),
                std::string("secret=") + (secret ? "1" : "0")};
    if (web != nullptr && web->isServing()) {
        what.webPort = web->port();
        what.txt.push_back("web=" + std::to_string(web->port()));
    }
    // As the intake reads them: an unreadable list means the default networks.
    trust::AllowedNetworks allowed;
    std::string error;
    trust::AllowedNetworks::parse(settings.get(keys::AllowedNetworks), allowed, error);
    for (const InterfaceAddress& lan : lanAddresses(around.interfaces, allowed)) {
        if (std::find(what.interfaces.begin(), what.interfaces.end(), lan.index) ==
            what.interfaces.end()) {
            what.interfaces.push_back(lan.index);
        }
    }
    return what;
}

void Announcer::show(const std::shared_ptr<const StatusSnapshot>& status) {
    latest = status;
    // Not from inside the push: at the loop's next turn.
    if (followDue)
        return;
    followDue = loop.startTimer(0, [this] {
        followDue.reset();
        follow();
    });
}

void Announcer::follow() {
    dnsSd.announce(wanted());
}

void Announcer::recheckLater() {
    recheck = loop.startTimer(kRecheckMs, [this] {
        recheck.reset();
        seen.reset();
        follow();
        recheckLater();
    });
}

}  // namespace linkmoot
