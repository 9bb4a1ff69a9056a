#pragma once
// The web page for phones, served by the server instance while its server is
// started and `Server`/`WebPort` is set. Both programs call sync() after every
// tick and command; it starts, restarts (new settings, a server restart: a
// fresh cookie key) or stops the page, and tells the caller which descriptor
// to watch. The caller's loop calls run() when that descriptor is readable and
// at the latest after timeoutMs().
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Settings.h"
#include "platform/LocalAddresses.h"
#include "platform/WebServer.h"

namespace linkmoot {

class Clock;
class Linkmoot;
class WebApi;

class WebPage {
public:
    /// Called with the descriptor to watch from now on; -1 before the old one closes.
    using Watch = std::function<void(int fd)>;

    WebPage(Linkmoot& app, Settings settings, Clock& clock);
    ~WebPage();
    WebPage(const WebPage&) = delete;
    WebPage& operator=(const WebPage&) = delete;

    void sync(const Watch& watch);
    /// Stops serving (before the loop that watches it goes).
    void stop(const Watch& watch);
    void run() { server.run(); }
    int timeoutMs() const { return server.timeoutMs(); }
    bool isServing() const { return server.isRunning(); }
    uint16_t port() const { return server.port(); }

private:
    struct Wanted {
        int32_t port = 0;
        std::string password;
        uint32_t maxMinutes = 0;
        std::string allowedNetworks;
        uint32_t serverStart = 0;
        bool operator==(const Wanted&) const = default;
    };
    std::optional<Wanted> wanted() const;
    void start(const Wanted& wish, const Watch& watch);

    Linkmoot& app;
    Settings settings;
    Clock& clock;
    LocalAddresses localAddresses;
    std::unique_ptr<WebApi> api;
    WebServer server;
    /// What the page runs with, or last failed to start with (not retried
    /// every tick: the Error line would repeat each second).
    std::optional<Wanted> attempted;
};

}  // namespace linkmoot
