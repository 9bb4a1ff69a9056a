#pragma once
// DNS-SD over multicast DNS through the system's Avahi daemon: announcing the
// server and browsing for servers. libavahi-client is loaded (dlopen) only
// while something is announced or browsed, and dropped again after; its
// calls stay in AvahiDnsSd.cpp, the loading in AvahiLibrary below.
//
// Driven by the program's loop through Avahi's poll interface (watches and
// timeouts on the EventSource): nothing here waits or runs a thread. It
// follows a daemon that starts late or restarts (announcing and browsing
// again once it is there). Without a daemon, a bus or the library it logs one
// Info line and otherwise does nothing.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ServerFinder.h"
#include "platform/EventSource.h"

namespace linkmoot {

/// What the server announces.
struct ServiceAnnouncement {
    /// "Linkmoot on HOST"; on a collision Avahi's alternative is taken.
    std::string instance;
    uint16_t port = 0;
    /// The TXT record of kServiceType, "key=value" each.
    std::vector<std::string> txt;
    /// The web page, announced as `_http._tcp` with path=/ while set.
    std::optional<uint16_t> webPort;
    /// The interfaces (indices) to announce on; none: nothing is announced.
    std::vector<unsigned> interfaces;
    bool operator==(const ServiceAnnouncement&) const = default;
};

class AvahiDnsSd : public ServiceBrowser {
public:
    /// The events outlive the object.
    explicit AvahiDnsSd(EventSource& events);
    /// Withdraws, stops browsing and unloads the library.
    ~AvahiDnsSd() override;
    AvahiDnsSd(const AvahiDnsSd&) = delete;
    AvahiDnsSd& operator=(const AvahiDnsSd&) = delete;

    /// Announces this (replacing what was announced); nullopt withdraws.
    void announce(const std::optional<ServiceAnnouncement>& what);
    void browse(bool on) override;
    std::vector<AnnouncedServer> announced() const override;

    /// The instance name in use (after collisions); empty while nothing is announced.
    const std::string& announcedName() const { return currentName; }
    /// Why DNS-SD does not work now (no library, bus or daemon); empty when it does.
    const std::string& problem() const { return lastSaid; }

    struct Library;
    struct Poll;
    struct Callbacks;

private:
    struct Found {
        void* resolver = nullptr;  // AvahiServiceResolver*
        std::optional<AnnouncedServer> service;
    };

    bool wanted() const { return wish.has_value() || browsing; }
    /// Connects to or lets go of the daemon as wanted.
    void follow();
    void connect();
    void disconnect();
    void clientRunning();
    void clientLost();
    void publish();
    void startBrowser();
    void stopBrowser();
    void scheduleReconnect(int delayMs);
    void sayOnce(const std::string& line);

    EventSource& events;
    std::unique_ptr<Library> library;
    std::unique_ptr<Poll> poll;
    void* client = nullptr;   // AvahiClient*
    void* group = nullptr;    // AvahiEntryGroup*
    void* browser = nullptr;  // AvahiServiceBrowser*
    bool running = false;     // the client is connected to a running daemon
    std::optional<ServiceAnnouncement> wish;
    std::optional<ServiceAnnouncement> published;
    std::string currentName;
    bool browsing = false;
    std::map<std::string, Found> found;  // by interface and instance name
    std::optional<EventSource::TimerId> reconnect;
    std::string lastSaid;
};

}  // namespace linkmoot
