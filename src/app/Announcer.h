#pragma once
// The server's announcement on the LAN (DNS-SD through platform/AvahiDnsSd),
// a view like the web page: it follows the snapshots the application pushes
// and the settings it reads at each one. While the server is started and
// `Server`/`Announce` is on (missing: on), it announces `_linkmoot._udp` on
// the bound port with its TXT record (txtvers, v, secret, web), and the web
// page as `_http._tcp` while the page is served, on every interface that
// carries an address of the allowed networks (never loopback, never a
// point-to-point uplink), IPv4 only. It is withdrawn when the server stops
// or is disabled. The interfaces are looked at again every 30 s, so an
// address that came later (DHCP) is announced on too. No secret travels:
// `secret=1` only says that votes must be signed.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FrontEnd.h"
#include "Settings.h"
#include "app/Loop.h"
#include "platform/AvahiDnsSd.h"

namespace linkmoot {

class Linkmoot;
class Network;
class WebPage;

class Announcer : public StatusView {
public:
    static constexpr int kRecheckMs = 30000;

    /// All outlive the announcer; `web` may be null (no page).
    Announcer(Linkmoot& app, Settings settings, Network& network, AvahiDnsSd& dnsSd,
              const WebPage* web, Loop& loop);
    /// Withdraws.
    ~Announcer() override;
    Announcer(const Announcer&) = delete;
    Announcer& operator=(const Announcer&) = delete;

    void show(const std::shared_ptr<const StatusSnapshot>& status) override;
    /// What should be announced now; nullopt: nothing.
    std::optional<ServiceAnnouncement> wanted();

private:
    /// The host name and the interfaces as the last look found them.
    struct Surroundings {
        std::string name;
        std::vector<InterfaceAddress> interfaces;
    };

    void follow();
    void recheckLater();
    const Surroundings& surroundings();

    Linkmoot& app;
    Settings settings;
    Network& network;
    AvahiDnsSd& dnsSd;
    const WebPage* web;
    Loop& loop;
    std::shared_ptr<const StatusSnapshot> latest;
    std::optional<Loop::TimerId> followDue;
    std::optional<Loop::TimerId> recheck;
    // Looked at again at each recheck, not at each snapshot: a crowded
    // server pushes one a second, and reading the interfaces is dear.
    std::optional<Surroundings> seen;
};

}  // namespace linkmoot
