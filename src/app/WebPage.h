#pragma once
// The web page for phones, served by the server instance while its server is
// started and `Server`/`WebPort` is set. It is a view like the others: it
// draws the snapshots the application pushes, and its votes are commands of
// the application. What it serves follows the snapshots (the server started,
// stopped, restarted: a restart means a fresh cookie key) and the page's own
// settings, read from Settings at each snapshot; a change is made at the
// loop's next turn, outside the push that showed it. Its descriptor and its
// deadlines (connection time-outs) are watched on the loop.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "FrontEnd.h"
#include "Settings.h"
#include "Trust.h"
#include "WebApi.h"
#include "app/Loop.h"
#include "platform/LocalAddresses.h"
#include "platform/PosixNetwork.h"
#include "platform/WebServer.h"

namespace linkmoot {

class Clock;
class Linkmoot;

class WebPage : public StatusView, private WebCommands {
public:
    static constexpr int kAddressCheckMs = 30000;

    /// `app`, the clock and the loop outlive the page.
    WebPage(Linkmoot& app, Settings settings, Clock& clock, Loop& loop);
    /// Stops serving.
    ~WebPage() override;
    WebPage(const WebPage&) = delete;
    WebPage& operator=(const WebPage&) = delete;

    void show(const std::shared_ptr<const StatusSnapshot>& status) override;
    /// Stops serving and watching (before the loop goes).
    void stop();
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
    void follow();
    void start(const Wanted& wish);
    /// Serves what is ready and re-arms the deadline.
    void serve();
    void rearm();
    void report(const std::string& problem);
    /// The page's addresses now (none while it is not served), into the
    /// snapshots when they changed; looked at again every 30 s.
    void publishAddresses();

    std::shared_ptr<const StatusSnapshot> latestStatus() override { return latest; }
    bool vote(const std::string& name, uint32_t minutes) override;
    bool unvote(const std::string& name) override;
    UsageReport usage() override;
    nlohmann::json plan() override;
    bool allowOverCap(std::optional<uint32_t> minutes, bool cancel, const std::string& who,
                      std::string& error) override;

    Linkmoot& app;
    Settings settings;
    Clock& clock;
    Loop& loop;
    std::shared_ptr<const StatusSnapshot> latest;
    LocalAddresses localAddresses;
    PosixNetwork network;
    std::unique_ptr<WebApi> api;
    WebServer server;
    int watchedFd = -1;
    std::optional<Loop::TimerId> deadline;
    std::optional<Loop::TimerId> followDue;
    std::optional<Loop::TimerId> addressCheck;
    std::vector<std::string> addresses;
    trust::AllowedNetworks servedNetworks;
    /// What the page runs with, or last failed to start with (not retried
    /// every tick: the Error line would repeat each second).
    std::optional<Wanted> attempted;
    std::string problem;
};

}  // namespace linkmoot
