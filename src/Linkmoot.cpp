#include "Linkmoot.h"

#include <algorithm>
#include <cstdlib>

#include "Client.h"
#include "Clock.h"
#include "ConfigCheck.h"
#include "ConfigDiff.h"
#include "ConfigurationStore.h"
#include "DialService.h"
#include "FrontEnd.h"
#include "InterfaceCounters.h"
#include "LocalTime.h"
#include "MissingFeatures.h"
#include "PlanMeter.h"
#include "PlanText.h"
#include "Server.h"
#include "ServerLine.h"
#include "Strings.h"
#include "ToolBox/Config.h"
#include "ToolBox/Directory.h"
#include "ToolBox/Logger.h"
#include "ToolBox/Memory.h"
#include "UsageRecorder.h"

#ifndef LINKMOOT_DATADIR
#define LINKMOOT_DATADIR "/usr/local/share/linkmoot"
#endif

namespace linkmoot {

namespace {

/// Without the system's counters nothing is counted.
class NoCounters : public InterfaceCounters {
public:
    InterfaceReading read(const std::string&) override { return {}; }
};

}  // namespace

const char* getApplicationName() {
    return "Linkmoot";
}

Linkmoot::Linkmoot(Settings settings, Services services, FrontEnd& frontEnd)
    : settings(settings),
      services(services),
      frontEnd(frontEnd),
      keys(services.crypto, services.worker),
      noCounters(std::make_unique<NoCounters>()),
      utc(std::make_unique<UtcTime>()),
      local(services.localTime != nullptr ? services.localTime : utc.get()),
      usage(std::make_unique<UsageRecorder>(
          services.clock, services.counters != nullptr ? *services.counters : *noCounters, *local,
          services.usage, services.usageProblem, services.usageWriteIntervalMs)),
      plan(std::make_unique<PlanMeter>(settings, *usage, *local, services.clock)),
      client(std::make_unique<Client>(settings, services.network, services.clock, &keys,
                                      services.browser)),
      server(std::make_unique<Server>(settings, services.network, services.clock, services.dialers,
                                      services.shutdown, &keys, usage.get(), plan.get())),
      latest(snapshot()) {
    applySecret();
    usage->loadHistory();
}

void Linkmoot::applySecret() {
    keys.setSecret(settings.get(keys::Secret));
}

Linkmoot::~Linkmoot() {
    // The vote goes before the server stops, and both before the owner saves
    // the configuration; the sockets are still usable here.
    client->stopVoting();
    client.reset();
    server->stop(EndReason::Exit);
    server.reset();
    frontEnd.showUsageWindow(nullptr);
    plan.reset();
    usage.reset();
}

bool Linkmoot::initInstance() {
    if (services.configuration != nullptr)
        logStartWarnings(*services.configuration, settings.configRoot());
    frontEnd.hideStatusWindow();
    if (settings.get(keys::Configured)) {
        if (isServerMode())
            startServer();
    } else {
        bool welcomed = false;
        {
            Asking dialog(asking);
            welcomed = frontEnd.showWelcomeDialog();
        }
        if (!welcomed)
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
    // One flow at a time: a tick or a command while a dialog is open must not
    // open a second one over it.
    if (isAsking()) {
        LM_LOG(Debug, "A configuration dialog is open: no second one");
        return false;
    }
    Asking dialogs(asking);
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
    // The LAN is asked once the dialog wants the list, and while it is open.
    bool looking = false;
    const bool confirmed = frontEnd.showClientOptionsDialog(settings, [this, &looking] {
        if (!looking)
            client->lookForServers(true);
        looking = true;
        return client->serversFound();
    });
    if (looking)
        client->lookForServers(false);
    return confirmed;
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
    // The dialog's OK would write the values it loaded over what a reload
    // read, and the tree it works on must not be replaced under it.
    if (isAsking()) {
        problem = "a configuration dialog or question is open; answer it first";
        LM_LOG(Error, "The configuration was not reloaded: %s", problem.c_str());
        return false;
    }
    std::unique_ptr<toolbox::Config> staged = readChecked(*services.configuration, problem);
    if (!staged) {
        LM_LOG(Error, "The configuration was not reloaded: %s; the running configuration stays",
               problem.c_str());
        return false;
    }
    // Compared as the program reads them, so a default the running tree stored is no change.
    const ConfigDiff diff(settings.configRoot(), staged->getRoot());
    diff.log();
    const bool modeChanged = diff.changed(keys::Mode);
    const bool restart = diff.restartsServer();
    const bool clientMoved = diff.changed(keys::ClientServer) || diff.changed(keys::Port);
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
    // A look-up answers at a tick of its own; its failure asks then, not at
    // the next re-vote.
    askClientQuestion();
    if (const std::string notice = client->takeNotice(); !notice.empty())
        frontEnd.notify(notice);
    for (const std::string& notice : plan->takeNotices())
        frontEnd.notify(notice);
    // A change the table did not see (the line came up) is shown as well.
    SnapshotFacts facts = gatherFacts();
    if (changed || facts != latestFacts) {
        latestFacts = std::move(facts);
        std::shared_ptr<const StatusSnapshot> next = compose(latestFacts);
        if (changed || *next != *latest) {
            latest = std::move(next);
            pushSnapshot();
        }
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
        case Command::Usage:
            frontEnd.showUsageWindow([this] {
                const PlanStatus& status = plan->status();
                return UsageWindowFigures{usage->report(),
                                          status.active ? planText(status, *local) : ""};
            });
            break;
        case Command::AllowOverCap: {
            std::string error;
            if (plan->allow(std::nullopt, "tray", error))
                frontEnd.notify("The line may run over the data cap until " +
                                resetText(plan->status().allowedUntil, *local));
            else
                frontEnd.notify("No allowance over the data cap: " + error);
            refreshViews();
            break;
        }
        case Command::ShowPageCode:
            if (!latest->pageAddresses.empty())
                frontEnd.showPageCode(latest->pageAddresses);
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
    pushSnapshot();
}

void Linkmoot::pushSnapshot() {
    frontEnd.refreshViews(latest);
    // A copy: a view may be detached while the snapshot goes round.
    const std::vector<StatusView*> current = views;
    for (StatusView* view : current)
        view->show(latest);
}

void Linkmoot::attachView(StatusView& view) {
    views.push_back(&view);
    view.show(latest);
}

void Linkmoot::detachView(StatusView& view) {
    views.erase(std::remove(views.begin(), views.end(), &view), views.end());
}

bool Linkmoot::webVote(const std::string& name, uint32_t minutes) {
    const bool taken = server->webVote(name, minutes);
    if (taken)
        refreshViews();
    return taken;
}

bool Linkmoot::webUnvote(const std::string& name) {
    const bool removed = server->webUnvote(name);
    if (removed)
        refreshViews();
    return removed;
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
    const int question = client->takeQuestion();
    if (question == 0)
        return;
    if (isAsking()) {
        // Not over an open dialog; the client's next failure asks instead.
        LM_LOG(Debug, "A dialog is open: the question %d is not asked now", question);
        client->questionDropped();
        return;
    }
    askToConfigure(question);
}

void Linkmoot::askToConfigure(int stringId) {
    // Asked from a tick while a dialog waits: dropped, the next failure asks.
    if (isAsking()) {
        LM_LOG(Debug, "A dialog is open: the question %d is not asked now", stringId);
        return;
    }
    bool yes = false;
    {
        Asking question(asking);
        yes = frontEnd.askYesNo(stringId);
    }
    if (yes)
        configure();
}

Linkmoot::SnapshotFacts Linkmoot::gatherFacts() const {
    SnapshotFacts facts;
    StatusInput& input = facts.input;
    input.serverMode = isServerMode();
    input.started = server->isStarted();
    facts.line = server->line();
    input.connected = facts.line == LineStatus::Up;
    input.dialling = facts.line == LineStatus::Dialling;
    input.voting = client->isVoting();
    if (input.serverMode && input.started)
        input.capText = plan->status().capped ? plan->capText() : "";
    // Outside client mode both are empty, and not worth a tick's reading.
    ServerView view;
    if (isClientMode()) {
        view = client->serverView();
        input.serverLine = client->serverLineText();
    }
    if (!input.serverMode && view.state == ServerView::State::Answered && view.report.plan) {
        const protocol::PlanReport& figures = *view.report.plan;
        input.serverPlan =
            (figures.capped ? "Data cap reached: " : "") +
            planSummary(figures.usedMB, figures.capMB, figures.usedMinutes, figures.capMinutes,
                        static_cast<int64_t>(figures.reset), *local);
    }
    input.serverUp =
        view.state == ServerView::State::Answered && view.report.line == protocol::Line::Up;
    facts.serverStarts = server->startCount();
    if (input.serverMode) {
        facts.secondsUp = server->secondsUp();
        facts.retrySeconds = server->retryWaitSeconds();
    } else {
        facts.clientLineWord = lineWordOf(view);
    }
    facts.votes = voteEntries();
    facts.missingRows = missingRows;
    if (input.started) {
        facts.webPageProblem = webPageProblem;
        facts.pageAddresses = pageAddresses;
    }
    return facts;
}

std::shared_ptr<const StatusSnapshot> Linkmoot::compose(const SnapshotFacts& facts) const {
    StatusInput input = facts.input;
    for (const VoteEntry& vote : facts.votes) {
        std::string shown = vote.host;
        // Whole minutes, rounded up: "0 min left" would read as already gone.
        if (vote.kind == VoteEntry::Kind::Web)
            shown += " (" + std::to_string((vote.secondsLeft + 59) / 60) + " min left)";
        input.votes.push_back(shown);
    }
    auto status = std::make_shared<StatusSnapshot>(computeStatus(input));
    if (!facts.webPageProblem.empty())
        status->rows.push_back({StatusIcon::Disabled, facts.webPageProblem});
    for (const std::string& row : facts.missingRows)
        status->rows.push_back({StatusIcon::Disabled, row});
    status->serverStarted = input.started;
    status->serverStarts = facts.serverStarts;
    status->line = facts.line;
    if (input.serverMode) {
        status->lineWord =
            input.started ? protocol::lineWord(protocolLineOf(facts.line)) : "unknown";
        status->secondsUp = facts.secondsUp;
        status->retrySeconds = facts.retrySeconds;
    } else {
        status->lineWord = facts.clientLineWord;
    }
    status->webPageProblem = facts.webPageProblem;
    status->capHolds = !input.capText.empty();
    status->pageAddresses = facts.pageAddresses;
    status->votes = facts.votes;
    return status;
}

std::shared_ptr<const StatusSnapshot> Linkmoot::snapshot() {
    readMissingFeatures();
    latestFacts = gatherFacts();
    return compose(latestFacts);
}

std::vector<VoteEntry> Linkmoot::voteEntries() const {
    std::vector<VoteEntry> entries;
    if (server->getVotes().size() == 0)
        return entries;
    const uint32_t now = services.clock.tickCount();
    for (const Vote& vote : server->getVotes().entries()) {
        const uint32_t left = vote.millisLeft(now);
        // Rounded up, so a vote that still counts never shows 0 seconds.
        entries.push_back({vote.host, vote.time,
                           vote.isTimed() ? VoteEntry::Kind::Web : VoteEntry::Kind::Datagram,
                           (left + 999) / 1000});
    }
    return entries;
}

UsageReport Linkmoot::usageReport() {
    return usage->report();
}

void Linkmoot::readSessions(int64_t sinceUnixMs, UsageStorage::SessionsFormatter format,
                            UsageStorage::TextDone done) {
    usage->readSessions(sinceUnixMs, std::move(format), std::move(done));
}

void Linkmoot::readMissingFeatures() {
    // Read once a round, for the log and the snapshot alike.
    if (services.missing != nullptr)
        missingRows = services.missing->rows();
}

void Linkmoot::reportMissingFeatures() {
    readMissingFeatures();
    // From the tick, not where the finding was made: that may be a worker's
    // thread, or a moment before the log is open.
    for (; missingFeaturesReported < missingRows.size(); missingFeaturesReported++)
        LM_LOG(Error, "%s", missingRows[missingFeaturesReported].c_str());
}

void Linkmoot::setWebPageProblem(const std::string& problem) {
    // Not drawn from here: the caller may be a view inside a push. The next
    // tick's snapshot carries it.
    webPageProblem = problem;
}

void Linkmoot::setPageAddresses(std::vector<std::string> addresses) {
    pageAddresses = std::move(addresses);
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
