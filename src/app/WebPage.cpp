#include "app/WebPage.h"

#include <nlohmann/json.hpp>

#include "PlanMeter.h"
#include "PlanText.h"

#include <algorithm>
#include <stdexcept>

#include "Clock.h"
#include "Linkmoot.h"
#include "PageCode.h"
#include "ToolBox/Config.h"
#include "ToolBox/Logger.h"
#include "Trust.h"
#include "VoteTable.h"
#include "WebApi.h"
#include "platform/QrEncoder.h"
#include "platform/SodiumCrypto.h"

namespace linkmoot {

WebPage::WebPage(Linkmoot& app, Settings settings, Clock& clock, Loop& loop)
    : app(app),
      settings(settings),
      clock(clock),
      loop(loop),
      latest(app.latestStatus()),
      server([this](const WebRequest& request) {
          return api->handle(request, this->clock.tickCount());
      }) {}

WebPage::~WebPage() {
    stop();
    if (followDue)
        loop.cancelTimer(*followDue);
    if (addressCheck)
        loop.cancelTimer(*addressCheck);
}

std::optional<WebPage::Wanted> WebPage::wanted() const {
    if (!latest->serverMenu || !latest->serverStarted)
        return std::nullopt;
    // The page only follows the settings: its reads store nothing.
    const Settings following = settings.peeking();
    const std::optional<int32_t> port = following.get(keys::WebPort);
    if (!port || *port == 0)
        return std::nullopt;
    Wanted wish;
    wish.port = *port;
    wish.password = following.get(keys::WebPassword).value_or("");
    const int32_t maxMinutes = following.get(keys::WebVoteMaxMinutes).value_or(120);
    wish.maxMinutes = static_cast<uint32_t>(
        std::clamp<int32_t>(maxMinutes, 1, static_cast<int32_t>(VoteTable::kMaxWebVoteMinutes)));
    // A missing key reads as empty: the default networks.
    wish.allowedNetworks = following.get(keys::AllowedNetworks);
    wish.serverStart = latest->serverStarts;
    return wish;
}

void WebPage::show(const std::shared_ptr<const StatusSnapshot>& status) {
    latest = status;
    if (followDue || wanted() == attempted)
        return;
    followDue = loop.startTimer(0, [this] {
        followDue.reset();
        follow();
    });
}

void WebPage::stop() {
    if (deadline) {
        loop.cancelTimer(*deadline);
        deadline.reset();
    }
    if (watchedFd >= 0) {
        loop.unwatch(watchedFd);
        watchedFd = -1;
    }
    if (server.isRunning()) {
        server.stop();
        LM_LOG(Info, "Stopped serving the web page");
    }
    api.reset();
}

void WebPage::follow() {
    const std::optional<Wanted> wish = wanted();
    if (wish == attempted)
        return;
    stop();
    attempted = wish;
    if (wish)
        start(*wish);
    else
        report("");
    publishAddresses();
}

void WebPage::publishAddresses() {
    if (addressCheck)
        loop.cancelTimer(*addressCheck);
    addressCheck.reset();
    std::vector<std::string> now;
    if (server.isRunning()) {
        now = pageAddresses(network.interfaceAddresses(), servedNetworks, server.port());
        addressCheck = loop.startTimer(kAddressCheckMs, [this] {
            addressCheck.reset();
            publishAddresses();
        });
    }
    if (now == addresses)
        return;
    addresses = now;
    app.setPageAddresses(addresses);
    // From the loop's own turn: the views (the tray's menu, the announcement) follow.
    app.refreshViews();
}

void WebPage::start(const Wanted& wish) {
    std::string error;
    trust::AllowedNetworks networks;
    if (wish.port < 0 || wish.port > 65535) {
        error = "Cannot serve the web page: the port " + std::to_string(wish.port) +
                " is not a TCP port number (1 to 65535)";
    } else if (!trust::AllowedNetworks::parse(wish.allowedNetworks, networks, error)) {
        error = "Cannot serve the web page: the allowed networks are wrong: " + error;
    } else {
        WebApiConfig config;
        config.password = wish.password;
        config.maxVoteMinutes = wish.maxMinutes;
        config.hostNames = localHostNames();
        config.isAllowedPeer = [networks](uint32_t peer) { return networks.allows(peer); };
        config.isLocalAddress = [this](uint32_t address) {
            return localAddresses.contains(address);
        };
        config.page = webPage();
        config.encodeCode = &qrcode::encode;
        config.crypto = &sodiumCrypto();
        try {
            api = std::make_unique<WebApi>(std::move(config), static_cast<WebCommands&>(*this));
        } catch (const std::runtime_error& failure) {
            error = std::string("Cannot serve the web page: ") + failure.what();
        }
        if (api && !server.start(static_cast<uint16_t>(wish.port), error))
            api.reset();
    }
    if (!api) {
        LM_LOG(Error, "%s", error.c_str());
        report(error);
        return;
    }
    LM_LOG(Info, "Serving the web page on port %d", static_cast<int>(server.port()));
    servedNetworks = networks;
    report("");
    watchedFd = server.fd();
    loop.watch(watchedFd, [this] { serve(); });
    rearm();
}

void WebPage::serve() {
    if (!server.isRunning())
        return;
    server.run();
    rearm();
}

void WebPage::rearm() {
    if (deadline)
        loop.cancelTimer(*deadline);
    deadline.reset();
    const int wait = server.timeoutMs();
    if (wait < 0)
        return;
    deadline = loop.startTimer(wait, [this] {
        deadline.reset();
        serve();
    });
}

void WebPage::report(const std::string& next) {
    if (next == problem)
        return;
    problem = next;
    app.setWebPageProblem(problem);
    // From the loop's own turn, not from inside a push: safe to draw now.
    app.refreshViews();
}

bool WebPage::vote(const std::string& name, uint32_t minutes) {
    return app.webVote(name, minutes);
}

bool WebPage::unvote(const std::string& name) {
    return app.webUnvote(name);
}

UsageReport WebPage::usage() {
    return app.usageReport();
}

bool WebPage::allowOverCap(std::optional<uint32_t> minutes, bool cancel, const std::string& who,
                           std::string& error) {
    PlanMeter& plan = app.dataPlan();
    bool done = false;
    if (cancel) {
        done = plan.cancelAllowance(who);
        if (!done)
            error = "No allowance over the cap runs";
    } else {
        const std::optional<int64_t> seconds =
            minutes ? std::optional<int64_t>(int64_t{*minutes} * 60) : std::nullopt;
        done = plan.allow(seconds, who, error);
    }
    if (done)
        app.refreshViews();
    return done;
}

nlohmann::json WebPage::plan() {
    return planJson(app.dataPlan().status(), app.localTime());
}

}  // namespace linkmoot
