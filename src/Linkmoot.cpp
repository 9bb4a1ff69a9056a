#include "Linkmoot.h"

#include <cstdlib>

#include "Client.h"
#include "DialService.h"
#include "FrontEnd.h"
#include "Server.h"
#include "ServerLine.h"
#include "Strings.h"
#include "ToolBox/Directory.h"
#include "ToolBox/Logger.h"
#include "ToolBox/Memory.h"

#ifndef LINKMOOT_DATADIR
#define LINKMOOT_DATADIR "/usr/local/share/linkmoot"
#endif

namespace linkmoot {

const char* getApplicationName() {
    return "Linkmoot";
}

Linkmoot::Linkmoot(Settings settings, Services services, FrontEnd& frontEnd)
    : settings(settings),
      services(services),
      frontEnd(frontEnd),
      client(std::make_unique<Client>(settings, services.network, services.clock, &keys)),
      server(std::make_unique<Server>(settings, services.network, services.clock, services.dialers,
                                      services.shutdown, &keys)),
      latest(snapshot()) {
    applySecret();
}

void Linkmoot::applySecret() {
    keys.setSecret(settings.get(keys::Secret));
}

Linkmoot::~Linkmoot() {
    // The vote goes before the server stops, and both before the owner saves
    // the configuration; the sockets are still usable here.
    client->stopVoting();
    client.reset();
    server->stop();
    server.reset();
}

bool Linkmoot::initInstance() {
    frontEnd.hideStatusWindow();
    if (settings.get(keys::Configured)) {
        if (isServerMode())
            startServer();
    } else {
        if (!frontEnd.showWelcomeDialog())
            return false;
        if (!configure())
            return false;
        settings.set(keys::Configured, true);
    }
    refreshViews();
    return true;
}

bool Linkmoot::askConfiguration() {
    if (!frontEnd.showModeDialog(settings))
        return false;
    // The tray menu follows the stored mode at once, also when the options
    // dialog is cancelled next.
    refreshViews();
    if (isServerMode()) {
        return frontEnd.showServerOptionsDialog(
            settings, [this](const std::string& dialer) { return dialEntries(dialer); });
    }
    return frontEnd.showClientOptionsDialog(settings);
}

bool Linkmoot::configure() {
    if (!askConfiguration())
        return false;
    applySecret();
    if (isServerMode()) {
        client->stopVoting();
        server->stop();
        startServer();
    } else {
        frontEnd.hideStatusWindow();
        client->stopVoting();
        server->stop();
    }
    askClientQuestion();
    refreshViews();
    return true;
}

void Linkmoot::tick() {
    if (keys.update() && !keys.error().empty())
        LM_LOG(Error, "The shared secret cannot be used: %s", keys.error().c_str());
    bool changed = server->poll();
    if (client->tick())
        changed = true;
    if (const std::string notice = client->takeNotice(); !notice.empty())
        frontEnd.notify(notice);
    std::shared_ptr<const StatusSnapshot> next = snapshot();
    // A change the table did not see (the line came up) is shown as well.
    if (changed || *next != *latest) {
        latest = std::move(next);
        frontEnd.refreshViews(latest);
    }
    tickCounter = (tickCounter + 1) % 10;
    if (tickCounter == 0) {
        client->revote();
        askClientQuestion();
    }
}

void Linkmoot::onCommand(int commandId) {
    switch (commandId) {
        case Command::Connect:
            client->startVoting();
            askClientQuestion();
            refreshViews();
            break;
        case Command::Disconnect:
            client->stopVoting();
            askClientQuestion();
            refreshViews();
            break;
        case Command::Configuration:
            configure();
            break;
        case Command::Help:
            frontEnd.openDocument(documentPath("docs/help/index.html"));
            break;
        case Command::TermsAndConditions:
            frontEnd.openDocument(documentPath("docs/Readme.txt"));
            break;
        case Command::WebSite:
            frontEnd.openDocument(loadString(StringId::WebPage));
            break;
        case Command::EnableServer:
            startServer();
            refreshViews();
            break;
        case Command::DisableServer:
            server->stop();
            refreshViews();
            break;
        case Command::Status:
            frontEnd.showStatusWindow();
            break;
        case Command::Refresh:
            refreshViews();
            break;
        case Command::Exit:
            frontEnd.hideStatusWindow();
            frontEnd.quit();
            break;
        default:
            break;
    }
}

void Linkmoot::refreshViews() {
    latest = snapshot();
    frontEnd.refreshViews(latest);
}

void Linkmoot::startServer() {
    if (!server->start())
        askToConfigure(StringId::QuestionServerCannotStart);
}

void Linkmoot::askClientQuestion() {
    if (const int question = client->takeQuestion(); question != 0)
        askToConfigure(question);
}

void Linkmoot::askToConfigure(int stringId) {
    if (frontEnd.askYesNo(stringId))
        configure();
}

std::shared_ptr<const StatusSnapshot> Linkmoot::snapshot() const {
    StatusInput input;
    input.serverMode = isServerMode();
    input.started = server->isStarted();
    const LineStatus line = server->line();
    // A dial in progress is a line that is not down, as the connection test has it.
    input.connected = line == LineStatus::Up || line == LineStatus::Dialling;
    input.voting = client->isVoting();
    const ServerView view = client->serverView();
    input.serverLine = client->serverLineText();
    input.serverUp =
        view.state == ServerView::State::Answered && view.report.line == protocol::Line::Up;
    std::vector<VoteEntry> votes;
    const toolbox::ArrayList<Vote>& table = server->getVotes();
    for (int i = 0; i < table.getCount(); i++) {
        votes.push_back({table.get(i)->getHost(), table.get(i)->getTime()});
        input.votes.push_back(votes.back().host);
    }
    auto status = std::make_shared<StatusSnapshot>(computeStatus(input));
    status->serverStarted = input.started;
    status->line = line;
    if (input.serverMode) {
        status->lineWord = input.started ? protocol::lineWord(protocolLineOf(line)) : "unknown";
    } else {
        status->lineWord = lineWordOf(view);
    }
    status->votes = std::move(votes);
    return status;
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
        if (path->exists())
            return candidate;
    }
    return candidates[2];
}

}  // namespace linkmoot
