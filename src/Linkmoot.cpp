#include "Linkmoot.h"

#include <cstdlib>

#include "Client.h"
#include "ConfigKeys.h"
#include "DialService.h"
#include "FrontEnd.h"
#include "Server.h"
#include "Strings.h"
#include "ToolBox/Config.h"
#include "ToolBox/Directory.h"
#include "ToolBox/Logger.h"
#include "ToolBox/Memory.h"

#ifndef LINKMOOT_DATADIR
#define LINKMOOT_DATADIR "/usr/local/share/linkmoot"
#endif

namespace linkmoot {

const char* getApplicationName() { return "Linkmoot"; }

Linkmoot::Linkmoot(Services services)
    : TriExtApp(getApplicationName()),
      services(services),
      client(std::make_unique<Client>(*this, services.network)),
      server(std::make_unique<Server>(*this, services.network, services.clock, services.dialers,
                                      services.shutdown)) {}

Linkmoot::~Linkmoot() {
    shuttingDown = true;
    // The vote goes before the server stops and before the base saves the
    // configuration; the sockets are still usable here.
    client->stopVoting();
    client.reset();
    server->stop();
    server.reset();
}

bool Linkmoot::isServerMode() {
    return std::string(getConfigRoot()->getParameter(keys::Mode.name)->asString()) == "server";
}

bool Linkmoot::isClientMode() {
    return std::string(getConfigRoot()->getParameter(keys::Mode.name)->asString()) == "client";
}

bool Linkmoot::initInstance() {
    if (frontEnd != nullptr) frontEnd->hideStatusWindow();
    toolbox::ConfigSection* root = getConfigRoot();
    if (root->getBool(keys::Configured.name, keys::kConfiguredDefault)) {
        if (isServerMode()) server->start();
    } else {
        if (frontEnd == nullptr || !frontEnd->showWelcomeDialog()) return false;
        if (!configure()) return false;
        root->getParameter(keys::Configured.name)->setBool(true);
    }
    refreshViews();
    return true;
}

bool Linkmoot::configure() {
    if (frontEnd == nullptr || !frontEnd->showModeDialog()) return false;
    if (isServerMode()) {
        if (!frontEnd->showServerOptionsDialog()) return false;
        client->stopVoting();
        server->stop();
        server->start();
    } else {
        if (!frontEnd->showClientOptionsDialog()) return false;
        frontEnd->hideStatusWindow();
        client->stopVoting();
        server->stop();
    }
    refreshViews();
    return true;
}

void Linkmoot::tick() {
    server->poll();
    tickCounter = (tickCounter + 1) % 10;
    if (tickCounter == 0) client->revote();
}

void Linkmoot::onCommand(int commandId) {
    switch (commandId) {
        case Command::Connect:
            client->startVoting();
            refreshViews();
            break;
        case Command::Disconnect:
            client->stopVoting();
            refreshViews();
            break;
        case Command::Configuration:
            configure();
            break;
        case Command::Help:
            if (frontEnd != nullptr) frontEnd->openDocument(documentPath("docs/help/index.html"));
            break;
        case Command::TermsAndConditions:
            if (frontEnd != nullptr) frontEnd->openDocument(documentPath("docs/Readme.txt"));
            break;
        case Command::WebSite:
            if (frontEnd != nullptr) frontEnd->openDocument(loadString(StringId::WebPage));
            break;
        case Command::EnableServer:
            server->start();
            refreshViews();
            break;
        case Command::DisableServer:
            server->stop();
            refreshViews();
            break;
        case Command::Status:
            if (frontEnd != nullptr) frontEnd->showStatusWindow();
            break;
        case Command::Refresh:
            refreshViews();
            break;
        case Command::Exit:
            if (frontEnd != nullptr) {
                frontEnd->hideStatusWindow();
                frontEnd->quit();
            }
            break;
        default:
            break;
    }
}

void Linkmoot::refreshViews() {
    if (frontEnd != nullptr) frontEnd->refreshViews();
}

void Linkmoot::askToConfigure(int stringId) {
    // While the application is being torn down there is nobody left to answer.
    if (frontEnd == nullptr || shuttingDown) return;
    if (frontEnd->askYesNo(stringId)) configure();
}

StatusSnapshot Linkmoot::status() {
    StatusInput input;
    input.serverMode = isServerMode();
    input.started = server->isStarted();
    input.connected = server->isConnected();
    input.voting = client->isVoting();
    const toolbox::ArrayList<Vote>& votes = server->getVotes();
    for (int i = 0; i < votes.getCount(); i++) input.votes.emplace_back(votes.get(i)->getHost());
    return computeStatus(input);
}

std::vector<std::string> Linkmoot::dialEntries(const std::string& dialer) {
    return services.dialers.service(dialer).listEntries();
}

std::string Linkmoot::documentPath(const char* relative) const {
    // Beside the program (a build or portable folder), then the installed
    // data folder next to the program's bin folder, then the configured one.
    std::unique_ptr<toolbox::Directory> programFolder(toolbox::Directory::programDirectory());
    char* native = programFolder->toNative();
    const std::string base = native;
    toolbox::release(native);
    const std::string candidates[] = {base + "/" + relative,
                                      base + "/../share/linkmoot/" + relative,
                                      std::string(LINKMOOT_DATADIR) + "/" + relative};
    for (const std::string& candidate : candidates) {
        std::unique_ptr<toolbox::Directory> path(toolbox::Directory::fromNative(candidate.c_str()));
        if (path->exists()) return candidate;
    }
    return candidates[2];
}

}  // namespace linkmoot
