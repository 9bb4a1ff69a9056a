#include "app/WebPage.h"

#include <algorithm>
#include <stdexcept>

#include "Clock.h"
#include "Linkmoot.h"
#include "Server.h"
#include "ToolBox/Config.h"
#include "ToolBox/Logger.h"
#include "Trust.h"
#include "WebApi.h"
#include "platform/SodiumCrypto.h"

namespace linkmoot {

WebPage::WebPage(Linkmoot& app, Settings settings, Clock& clock)
    : app(app), settings(settings), clock(clock), server([this](const WebRequest& request) {
          return api->handle(request, this->clock.tickCount());
      }) {}

WebPage::~WebPage() {
    server.stop();
}

std::optional<WebPage::Wanted> WebPage::wanted() const {
    Server& voteServer = app.getServer();
    if (!app.isServerMode() || !voteServer.isStarted())
        return std::nullopt;
    const std::optional<int32_t> port = settings.get(keys::WebPort);
    if (!port || *port == 0)
        return std::nullopt;
    Wanted wish;
    wish.port = *port;
    wish.password = settings.get(keys::WebPassword).value_or("");
    const int32_t maxMinutes = settings.get(keys::WebVoteMaxMinutes).value_or(120);
    wish.maxMinutes = static_cast<uint32_t>(
        std::clamp<int32_t>(maxMinutes, 1, static_cast<int32_t>(Server::kMaxWebVoteMinutes)));
    // Read without creating the key: a missing one means the default networks.
    if (settings.configRoot()->getSection(keys::kServerSection)->hasParameter("AllowedNetworks"))
        wish.allowedNetworks = settings.get(keys::AllowedNetworks);
    wish.serverStart = voteServer.startCount();
    return wish;
}

void WebPage::stop(const Watch& watch) {
    if (server.isRunning()) {
        watch(-1);
        server.stop();
        LM_LOG(Info, "Stopped serving the web page");
    }
    api.reset();
}

void WebPage::sync(const Watch& watch) {
    const std::optional<Wanted> wish = wanted();
    if (wish != attempted)
        stop(watch);
    if (!wish) {
        attempted.reset();
        app.setWebPageProblem("");
        return;
    }
    if (wish == attempted)
        return;
    attempted = wish;
    start(*wish, watch);
}

void WebPage::start(const Wanted& wish, const Watch& watch) {
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
        config.crypto = &sodiumCrypto();
        try {
            Server& voteServer = app.getServer();
            api = std::make_unique<WebApi>(std::move(config), voteServer, voteServer);
        } catch (const std::runtime_error& failure) {
            error = std::string("Cannot serve the web page: ") + failure.what();
        }
        if (api && !server.start(static_cast<uint16_t>(wish.port), error))
            api.reset();
    }
    if (!api) {
        LM_LOG(Error, "%s", error.c_str());
        app.setWebPageProblem(error);
        return;
    }
    LM_LOG(Info, "Serving the web page on port %d", static_cast<int>(server.port()));
    app.setWebPageProblem("");
    watch(server.fd());
}

}  // namespace linkmoot
