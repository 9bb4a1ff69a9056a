#include "Linkmoot.h"

#include <cstdlib>

#include "Client.h"
#include "Clock.h"
#include "ConfigurationStore.h"
#include "DialService.h"
#include "FrontEnd.h"
#include "MissingFeatures.h"
#include "Server.h"
#include "ServerLine.h"
#include "Strings.h"
#include "ToolBox/Config.h"
#include "ToolBox/Directory.h"
#include "ToolBox/Logger.h"
#include "ToolBox/Memory.h"

#ifndef LINKMOOT_DATADIR
#define LINKMOOT_DATADIR "/usr/local/share/linkmoot"
#endif

namespace linkmoot {

namespace {

// The keys the server binds or dials with; a change of one restarts it on
// reload. By name, in any of these sections, so keys added later count too.
constexpr const char* kRestartKeys[] = {"Port",   "Dialer", "Connection", "AllowedNetworks",
                                        "Secret", "WebPort"};
constexpr const char* kKeySections[] = {nullptr, keys::kClientSection, keys::kServerSection};

/// A key's value in file form; a missing key reads as empty, as most reads treat it.
std::string valueOf(toolbox::ConfigSection* root, const char* section, const char* name) {
    toolbox::ConfigSection* holder = root;
    if (section != nullptr) {
        if (!root->hasSection(section))
            return {};
        holder = root->getSection(section);
    }
    if (!holder->hasParameter(name))
        return {};
    toolbox::Config::BufferWriter text;
    holder->getParameter(name)->writeValue(text);
    return std::string(text.getText(), text.getLength());
}

bool restartKeysDiffer(toolbox::ConfigSection* before, toolbox::ConfigSection* after) {
    for (const char* section : kKeySections) {
        for (const char* name : kRestartKeys) {
            if (valueOf(before, section, name) != valueOf(after, section, name))
                return true;
        }
    }
    return false;
}

}  // namespace

const char* getApplicationName() {
    return "Linkmoot";
}

Linkmoot::Linkmoot(Settings settings, Services services, FrontEnd& frontEnd)
    : settings(settings),
      services(services),
      frontEnd(frontEnd),
      keys(services.crypto, services.worker),
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
        saveConfiguration();
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
            settings, [this](const std::string& dialer, DialService::EntriesCallback done) {
                dialEntries(dialer, std::move(done));
            });
    }
    return frontEnd.showClientOptionsDialog(settings);
}

bool Linkmoot::configure() {
    if (!askConfiguration())
        return false;
    // Saved at once: a later edit of the file and a reload must not be
    // overwritten by the exit's save of what was confirmed here.
    saveConfiguration();
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

bool Linkmoot::reload(std::string& problem) {
    if (services.configuration == nullptr) {
        problem = "this instance has no configuration file to read";
        return false;
    }
    std::unique_ptr<toolbox::Config> staged = services.configuration->readAgain(problem);
    if (!staged) {
        LM_LOG(Error, "The configuration was not reloaded: %s; the running configuration stays",
               problem.c_str());
        return false;
    }
    toolbox::ConfigSection* next = staged->getRoot();
    toolbox::ConfigSection* now = settings.configRoot();
    // Read as the running tree was, so a default it stored is no change.
    const Settings staging(next);
    staging.get(keys::Dialer);
    staging.get(keys::AllowedNetworks);
    staging.get(keys::Secret);
    const bool modeChanged = Settings(next).get(keys::Mode) != settings.get(keys::Mode);
    const bool restart = modeChanged || restartKeysDiffer(now, next);
    const bool clientMoved = valueOf(now, keys::kClientSection, "Server") !=
                                 valueOf(next, keys::kClientSection, "Server") ||
                             valueOf(now, nullptr, "Port") != valueOf(next, nullptr, "Port");
    const bool wasVoting = client->isVoting();
    const bool wasStarted = server->isStarted();
    // What goes is stopped while the settings it was made with still hold: the
    // unvote reaches the old server, the hang-up uses the old dial-up service.
    if (modeChanged || clientMoved)
        client->stopVoting();
    if (restart && wasStarted)
        server->stop();
    services.configuration->adopt(*staged);
    staged.reset();
    applySecret();
    // Started also when it was not running: the usual cure for a port that
    // could not be bound is an edit and a reload.
    if (restart && isServerMode())
        startServer();
    // A new mode ends the vote, as the configuration flow does.
    if (clientMoved && !modeChanged && wasVoting)
        client->startVoting();
    const char* outcome = "applied in place";
    if (restart && isServerMode())
        outcome = server->isStarted() ? "server restarted" : "the server could not start";
    else if (restart && wasStarted)
        outcome = "server stopped";
    LM_LOG(Info, "Configuration reloaded: %s", outcome);
    askClientQuestion();
    refreshViews();
    return true;
}

void Linkmoot::tick() {
    if (keys.update() && !keys.error().empty())
        LM_LOG(Error, "The shared secret cannot be used: %s", keys.error().c_str());
    reportMissingFeatures();
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

void Linkmoot::saveConfiguration() {
    if (services.configuration != nullptr && !services.configuration->saveNow())
        LM_LOG(Warn, "The configuration could not be saved now; the exit tries again");
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
    const uint32_t now = services.clock.tickCount();
    for (int i = 0; i < table.getCount(); i++) {
        const Vote* vote = table.get(i);
        votes.push_back({vote->getHost(), vote->getTime()});
        std::string shown = vote->getHost();
        if (vote->isTimed()) {
            // Whole minutes, rounded up: "0 min left" would read as already gone.
            const uint32_t minutes = (vote->millisLeft(now) + 59999) / 60000;
            shown += " (" + std::to_string(minutes) + " min left)";
        }
        input.votes.push_back(shown);
    }
    auto status = std::make_shared<StatusSnapshot>(computeStatus(input));
    if (input.started && !webPageProblem.empty())
        status->rows.push_back({StatusIcon::Disabled, webPageProblem});
    if (services.missing != nullptr) {
        for (std::string& row : services.missing->rows())
            status->rows.push_back({StatusIcon::Disabled, std::move(row)});
    }
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

void Linkmoot::reportMissingFeatures() {
    if (services.missing == nullptr)
        return;
    // From the tick, not where the finding was made: that may be a worker's
    // thread, or a moment before the log is open.
    const std::vector<std::string> rows = services.missing->rows();
    for (; missingFeaturesReported < rows.size(); missingFeaturesReported++)
        LM_LOG(Error, "%s", rows[missingFeaturesReported].c_str());
}

void Linkmoot::setWebPageProblem(const std::string& problem) {
    if (problem == webPageProblem)
        return;
    webPageProblem = problem;
    refreshViews();
}

void Linkmoot::dialEntries(const std::string& dialer, DialService::EntriesCallback done) {
    services.dialers.service(dialer).listEntries(std::move(done));
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
