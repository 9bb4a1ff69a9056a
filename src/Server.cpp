#include "Server.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "Clock.h"
#include "LogText.h"
#include "SharedSecret.h"
#include "ShutdownService.h"
#include "Strings.h"
#include "ToolBox/Logger.h"
#include "ToolBox/Memory.h"
#include "UdpSocket.h"

namespace linkmoot {

Vote::Vote(const char* host, uint32_t time, uint32_t address, std::optional<uint32_t> lifetimeMs)
    : host(toolbox::duplicate(host)), time(time), address(address), lifetime(lifetimeMs) {}

uint32_t Vote::millisLeft(uint32_t now) const {
    const uint32_t age = now - time;
    const uint32_t span = lifetime.value_or(Server::kVoteTimeoutMs);
    return age < span ? span - age : 0;
}

Vote::~Vote() {
    toolbox::release(host);
}

namespace {

/// What a service's thread hands to ours, taken at the next controller step.
/// The services' callbacks hold it by a weak pointer and keep it alive while
/// they post; a closed inbox drops what arrives after the server is gone.
template <typename Item>
class ThreadInbox {
public:
    void post(Item item) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!closed)
            items.push_back(std::move(item));
    }
    std::vector<Item> take() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<Item> taken;
        taken.swap(items);
        return taken;
    }
    void close() {
        std::lock_guard<std::mutex> lock(mutex);
        closed = true;
        items.clear();
    }

private:
    std::mutex mutex;
    std::vector<Item> items;
    bool closed = false;
};

/// A dial service's failure report. It names its service as well as its
/// handle: handles are only unique within one service, and a service replaced
/// after `Dialer` changed may still report.
struct FailureReport {
    const DialService* service;
    DialHandle handle;
    std::string reason;
};

}  // namespace

struct Server::FailureInbox : ThreadInbox<FailureReport> {};
/// Outcomes of power-off requests.
struct Server::ShutdownInbox : ThreadInbox<ShutdownOutcome> {};

Server::Server(Settings settings, Network& network, Clock& clock, DialServiceProvider& dialers,
               ShutdownService& shutdown, KeyStore* keys)
    : settings(settings),
      network(network),
      clock(clock),
      dialers(dialers),
      shutdownService(shutdown),
      lastVoteTime(clock.tickCount()),
      inbox(std::make_shared<FailureInbox>()),
      shutdownInbox(std::make_shared<ShutdownInbox>()),
      keys(keys) {
    if (lastVoteTime == kIdleClockDisarmed)
        lastVoteTime--;
    LM_LOG(Debug, "Created server");
}

Server::~Server() {
    LM_LOG(Debug, "Destroying server");
    stop();
    inbox->close();
    shutdownInbox->close();
    LM_LOG(Debug, "Destroyed server");
}

uint16_t Server::boundPort() const {
    return socket ? socket->localPort() : 0;
}

bool Server::start() {
    LM_LOG(Info, "Starting server");
    if (socket)
        return true;

    std::unique_ptr<UdpSocket> created = network.createSocket();
    const int32_t port = settings.get(keys::Port);
    bool opened = false;
    if (port < 0 || port > 65535) {
        LM_LOG(Error, "The port %d is not a UDP port number (0 to 65535)", static_cast<int>(port));
    } else {
        opened = created->open(static_cast<uint16_t>(port));
        if (!opened)
            LM_LOG(Error, "Server socket error: %s", created->lastErrorText().c_str());
    }
    if (!opened) {
        LM_LOG(Error, "Cannot create server socket");
        created.reset();
        return false;
    }
    socket = std::move(created);
    starts++;
    trust::AllowedNetworks allowed;
    std::string error;
    if (!trust::AllowedNetworks::parse(settings.get(keys::AllowedNetworks), allowed, error)) {
        LM_LOG(Error, "The allowed networks cannot be read (%s): the private networks are used",
               error.c_str());
    }
    intake.setAllowedNetworks(allowed);
    dialers.prepare(settings.get(keys::Dialer));
    LM_LOG(Debug, "Server started");
    return true;
}

void Server::stop() {
    LM_LOG(Debug, "Stopping server");
    if (connection != 0) {
        hangUpConnection();
        dialling = false;
    }
    lastDialFailed = false;
    if (socket) {
        LM_LOG(Debug, "Closing server socket");
        socket->close();
        socket.reset();
        LM_LOG(Debug, "Server socket closed");
    }
    votes.clear();
    voterNames.clear();
    pendingAnswers.clear();
    LM_LOG(Info, "Server stopped");
}

bool Server::poll() {
    if (!socket)
        return false;
    LM_LOG(Debug, "Checking server socket for votes");
    bool changed = false;
    const uint32_t now = clock.tickCount();

    // Ages are unsigned differences, so a tick count that passes 2^31 or wraps
    // does not make every vote look ancient or brand new. A timed vote ends at
    // its own lifetime; the 22-second rule is for the votes datagrams renew.
    bool timedVoteHeld = false;
    for (int index = 0; index < votes.getCount();) {
        Vote* vote = votes.get(index);
        const uint32_t age = now - vote->getTime();
        const bool expired = vote->isTimed() ? age >= *vote->getLifetime() : age > kVoteTimeoutMs;
        if (expired) {
            LM_LOG(Debug, "The vote from host '%s' timed out", printable(vote->getHost()).c_str());
            voterNames.erase(vote->getHost());
            votes.removeAt(index);
            changed = true;
        } else {
            timedVoteHeld = timedVoteHeld || vote->isTimed();
            index++;
        }
    }
    // A timed vote is not re-sent, yet it is a vote held: the computer stays up.
    if (timedVoteHeld)
        rearmIdleClock();

    if (readDatagrams(now))
        changed = true;

    controlConnection();
    sendAnswers(now);
    for (const std::string& warning : intake.housekeeping(now))
        LM_LOG(Warn, "%s", warning.c_str());
    applyShutdownOutcomes();
    checkIdleShutdown();
    return changed;
}

bool Server::readDatagrams(uint32_t now) {
    // With a secret whose key is still being derived nothing can be checked:
    // the datagrams wait in the socket for a later poll.
    if (keys != nullptr && keys->configured() && keys->key() == nullptr)
        return false;
    const ProtocolKey* key = keys != nullptr ? keys->key() : nullptr;
    bool wallRead = false;
    bool served = false;
    int counted = 0;
    for (int read = 0; read < kMaxDatagramsReadPerPoll && counted < kMaxDatagramsPerPoll; read++) {
        char buffer[kMaxDatagramLength + 1];
        std::size_t length = 0;
        Endpoint source;
        const UdpSocket::Received received =
            socket->receiveFrom(buffer, kMaxDatagramLength, length, source);
        if (received == UdpSocket::Received::Nothing)
            break;
        // Once a poll, and only for a poll with datagrams: asking whether the
        // clock is synchronised is a system call an idle server need not make.
        if (!wallRead) {
            wall = clock.wallClock();
            wallRead = true;
        }
        // Outside senders are dropped before anything else, uncounted.
        if (!intake.sourceAllowed(source.address, now))
            continue;
        // An oversized datagram is shown to the gate at one byte over the
        // limit, which it drops as malformed.
        const std::string_view bytes(
            buffer, received == UdpSocket::Received::Oversized ? sizeof buffer : length);
        protocol::Request request;
        switch (intake.check(bytes, source.address, key, wall, now, request)) {
            case trust::ServerGate::Verdict::Dropped:
                break;
            case trust::ServerGate::Verdict::Ignored:
                counted++;
                served = true;
                break;
            case trust::ServerGate::Verdict::Accepted:
                counted++;
                served = true;
                receiveDatagram(request, source, now);
                pendingAnswers.push_back(
                    {source.address, source.port, std::string(request.name), request.t});
                break;
        }
    }
    return served;
}

void Server::receiveDatagram(const protocol::Request& request, const Endpoint& source,
                             uint32_t now) {
    const std::string host(request.name);
    // The web page's names belong to its timed votes; a datagram must not end one.
    if (host.compare(0, std::strlen(WebApi::kNamePrefix), WebApi::kNamePrefix) == 0) {
        LM_LOG(Debug, "Ignoring a datagram for the web vote '%s'", printable(host.c_str()).c_str());
        return;
    }
    if (request.verb == protocol::Verb::Query) {
        LM_LOG(Debug, "Received a query from host '%s'", printable(host.c_str()).c_str());
        return;
    }
    const bool isVote = request.verb == protocol::Verb::Vote;
    // Without a secret an unvote counts only from the address of the name's
    // last vote (not its port: older clients send from a new one each time).
    // With one, the mac proves the name wherever it comes from.
    const bool keyed = keys != nullptr && keys->key() != nullptr;
    // A name is in the table at most once, and the set says whether it is.
    for (int index = 0; voterNames.count(host) != 0 && index < votes.getCount(); index++) {
        const Vote* vote = votes.get(index);
        if (std::strcmp(vote->getHost(), host.c_str()) != 0)
            continue;
        if (!isVote && !keyed && vote->getAddress() != source.address) {
            LM_LOG(Debug, "Ignoring an unvote for host '%s' from %s, not the address of its vote",
                   printable(host.c_str()).c_str(), trust::dottedQuad(source.address).c_str());
        } else {
            voterNames.erase(host);
            votes.removeAt(index);
        }
        break;
    }

    if (isVote) {
        votes.add(toolbox::create<Vote>(host.c_str(), now, source.address));
        voterNames.insert(host);
        rearmIdleClock();
        LM_LOG(Debug, "Received a vote from host '%s'", printable(host.c_str()).c_str());
    } else {
        LM_LOG(Debug, "Received an unvote from host '%s'", printable(host.c_str()).c_str());
    }
}

void Server::removeVotes(const char* host) {
    for (int index = 0; index < votes.getCount();) {
        if (std::strcmp(votes.get(index)->getHost(), host) == 0) {
            voterNames.erase(host);
            votes.removeAt(index);
        } else {
            index++;
        }
    }
}

void Server::rearmIdleClock() {
    lastVoteTime = clock.tickCount();
    // The disarmed mark must not be reached by a real reading.
    if (lastVoteTime == kIdleClockDisarmed)
        lastVoteTime--;
}

bool Server::vote(const std::string& name, uint32_t minutes, uint32_t /*peer*/) {
    if (!socket)
        return false;
    const uint32_t now = clock.tickCount();
    removeVotes(name.c_str());
    const uint32_t lifetime = std::min(minutes, kMaxWebVoteMinutes) * 60000u;
    votes.add(toolbox::create<Vote>(name.c_str(), now, 0, lifetime));
    voterNames.insert(name);
    rearmIdleClock();
    LM_LOG(Debug, "Received a vote from host '%s'", printable(name.c_str()).c_str());
    return true;
}

bool Server::unvote(const std::string& name, uint32_t /*peer*/) {
    bool held = false;
    for (int index = 0; index < votes.getCount(); index++)
        held = held || (votes.get(index)->isTimed() && name == votes.get(index)->getHost());
    if (!held)
        return false;
    removeVotes(name.c_str());
    LM_LOG(Debug, "Received an unvote from host '%s'", printable(name.c_str()).c_str());
    return true;
}

WebState Server::webState() {
    WebState state;
    state.line = protocolLineOf(line());
    if (state.line == WebLine::Up)
        state.secondsUp = secondsUp();
    const uint32_t now = clock.tickCount();
    for (int index = 0; index < votes.getCount(); index++) {
        const Vote* held = votes.get(index);
        state.votes.push_back({held->getHost(),
                               held->isTimed() ? WebVote::Kind::Web : WebVote::Kind::Datagram,
                               held->millisLeft(now) / 1000});
    }
    return state;
}

LineState Server::readLine() {
    if (connection == 0 || connectionService == nullptr)
        return LineState::Disconnected;
    const LineState answer = connectionService->state(connection);
    if (answer != LineState::Pending)
        lastReported = answer;
    if (answer == LineState::Connected && !upSeen) {
        upSeen = true;
        upSince = clock.tickCount();
    }
    return answer;
}

protocol::Line protocolLineOf(LineStatus line) {
    switch (line) {
        case LineStatus::Down:
            return protocol::Line::Down;
        case LineStatus::Dialling:
            return protocol::Line::Dialling;
        case LineStatus::Up:
            return protocol::Line::Up;
        case LineStatus::Failed:
            return protocol::Line::Failed;
        case LineStatus::Guard:
            return protocol::Line::Guard;
    }
    return protocol::Line::Down;
}

void Server::sendAnswers(uint32_t now) {
    if (pendingAnswers.empty())
        return;
    const ProtocolKey* key = keys != nullptr ? keys->key() : nullptr;
    protocol::LineReport report;
    report.line = protocolLineOf(line());
    report.votes = static_cast<uint64_t>(votes.getCount());
    report.upSeconds = secondsUp();
    if (const uint32_t retry = retryWaitSeconds(); retry > 0)
        report.retrySeconds = retry;
    for (const trust::PendingAnswer& pending : pendingAnswers) {
        report.you = voterNames.count(pending.name) != 0;
        const std::string answer = intake.answer(pending, report, key, wall, now);
        if (answer.empty())
            continue;
        if (!socket->sendTo(answer.data(), answer.size(), {pending.address, pending.port})) {
            LM_LOG(Debug, "Cannot answer %s: %s", trust::dottedQuad(pending.address).c_str(),
                   socket->lastErrorText().c_str());
        }
    }
    pendingAnswers.clear();
}

bool Server::isConnected() {
    const LineState answer = readLine();
    return answer == LineState::Dialling || answer == LineState::Connected;
}

LineStatus Server::line() const {
    if (connection == 0) {
        if (guard.held)
            return LineStatus::Guard;
        return lastDialFailed ? LineStatus::Failed : LineStatus::Down;
    }
    return lastReported == LineState::Connected ? LineStatus::Up : LineStatus::Dialling;
}

uint32_t Server::secondsUp() const {
    if (connection == 0 || !upSeen || lastReported != LineState::Connected)
        return 0;
    return (clock.tickCount() - upSince) / 1000;
}

void Server::applyFailureReports() {
    for (const FailureReport& report : inbox->take()) {
        if (report.handle != 0 && report.handle == connection &&
            report.service == connectionService) {
            // No answer had come for this dial: the service refused it after
            // asking (NetworkManager), which repeats like a refusal at once.
            if (lastReported == LineState::Pending)
                logRefusal(report.reason);
            dialFailed();
        } else {
            LM_LOG(Debug, "Ignoring the failure report of a connection that was already hung up");
        }
    }
}

void Server::controlConnection() {
    applyFailureReports();
    auto alwaysConnected = [&] { return settings.get(keys::AlwaysConnected); };

    if (connection != 0) {
        bool decided = false;
        const LineState answer = readLine();
        if (dialling) {
            if (answer == LineState::Dialling || answer == LineState::Connected) {
                LM_LOG(Debug, "Connection established");
                dialling = false;
                lastRefusal.clear();  // accepted: the next refusal is news
                retryWaitMs = 0;
                retryHeld = false;
                decided = true;
            }
        } else if (answer == LineState::Disconnected || answer == LineState::QueryFailed) {
            // Pending is no answer yet, not a broken line.
            LM_LOG(Debug, "Connection is broken, hanging up");
            hangUpWithGuard();
            decided = true;
        }
        if (!decided) {
            if (votes.getCount() == 0 && !alwaysConnected()) {
                LM_LOG(Debug, "No more votes, hanging up");
                hangUpWithGuard();
            } else if (const std::optional<int32_t> limit =
                           settings.get(keys::AutoReconnectMinutes);
                       limit && dialTime != 0) {
                const uint32_t minutes = ((clock.processMillis() - dialTime) / 1000) / 60;
                if (static_cast<int32_t>(minutes) >= *limit) {
                    LM_LOG(Debug, "Auto dis- and reconnect time out, hanging up");
                    hangUpWithGuard();
                }
            }
        }
    }

    if (connection != 0 || dialling)
        return;
    if (guardHolds())
        return;
    if (votes.getCount() == 0 && !alwaysConnected()) {
        retryWaitMs = 0;  // nobody waits for the line any more
        retryHeld = false;
        return;
    }
    if (retryHolds())
        return;
    dial();
}

bool Server::retryHolds() {
    if (!retryHeld)
        return false;
    if (static_cast<int32_t>(clock.tickCount() - retryAt) < 0)
        return true;
    retryHeld = false;
    return false;
}

uint32_t Server::retryWaitSeconds() const {
    if (!retryHeld)
        return 0;
    const int32_t left = static_cast<int32_t>(retryAt - clock.tickCount());
    return left <= 0 ? 0 : (static_cast<uint32_t>(left) + 999) / 1000;
}

void Server::logRefusal(const std::string& reason) {
    const uint32_t now = clock.tickCount();
    if (reason != lastRefusal) {
        LM_LOG(Warn, "The dial-up service refused the dial: %s", reason.c_str());
        lastRefusal = reason;
        refusalsSinceReport = 0;
        refusalReportAt = now + kRefusalReportMs;
        return;
    }
    LM_LOG(Debug, "The dial-up service refused the dial: %s", reason.c_str());
    refusalsSinceReport++;
    if (static_cast<int32_t>(now - refusalReportAt) >= 0) {
        LM_LOG(Warn, "The dial-up service refused %u dials in the last %u minutes: %s",
               static_cast<unsigned>(refusalsSinceReport),
               static_cast<unsigned>(kRefusalReportMs / 60000), reason.c_str());
        refusalsSinceReport = 0;
        refusalReportAt = now + kRefusalReportMs;
    }
}

bool Server::guardHolds() {
    if (!guard.held)
        return false;
    const uint32_t now = clock.tickCount();
    if (!guard.deadlineSet) {
        // It counts from the end of the hang-up, which may outlast it.
        if (guard.service != nullptr && guard.service->hangingUp())
            return true;
        guard.deadlineSet = true;
        guard.deadline = now + guard.milliseconds;
    }
    if (static_cast<int32_t>(now - guard.deadline) < 0)
        return true;
    guard.held = false;
    guard.service = nullptr;
    LM_LOG(Debug, "Hangup guard time complete");
    return false;
}

DialService& Server::currentService() {
    return dialers.service(settings.get(keys::Dialer));
}

bool Server::dial() {
    DialRequest request;
    request.entry = settings.get(keys::Connection);
    request.userName = settings.get(keys::UserName);
    request.password = settings.get(keys::Password);

    dialling = true;
    lastDialFailed = false;
    lastReported = LineState::Pending;
    upSeen = false;
    // Longer values would not fit the dial parameters; refusing is better than
    // dialling a silently shortened name or password.
    const char* tooLong = request.entry.size() > kMaxDialParameterLength      ? "connection name"
                          : request.userName.size() > kMaxDialParameterLength ? "user name"
                          : request.password.size() > kMaxDialParameterLength ? "password"
                                                                              : nullptr;
    if (tooLong != nullptr) {
        LM_LOG(Warn, "Cannot dial: the %s is longer than %d characters", tooLong,
               static_cast<int>(kMaxDialParameterLength));
        dialFailed();
        return false;
    }

    if (votes.getCount() > 0) {
        LM_LOG(Info, "There are votes, connecting to RAS");
    } else {
        LM_LOG(Info, "AlwaysConnected is set, connecting to RAS");
    }
    dialTime = clock.processMillis();

    DialService& service = currentService();
    std::weak_ptr<FailureInbox> weakInbox = inbox;
    const DialService* reporter = &service;
    service.setFailureCallback([weakInbox, reporter](DialHandle handle, const std::string& reason) {
        if (std::shared_ptr<FailureInbox> alive = weakInbox.lock())
            alive->post({reporter, handle, reason});
    });
    DialHandle handle = 0;
    std::string error;
    bool started = false;
    {
        // Refused at once last time: the service's own complaint was told
        // already (and again below at Warn should its reason change).
        std::optional<toolbox::LogQuieting> quiet;
        if (lastDialRefusedAtOnce)
            quiet.emplace();
        started = service.dial(request, handle, error);
    }
    connection = handle;
    connectionService = handle != 0 ? &service : nullptr;
    lastDialRefusedAtOnce = !started;
    if (!started) {
        logRefusal(error);
        dialFailed();
        return false;
    }
    return true;
}

void Server::hangUpConnection() {
    LM_LOG(Info, "Hanging up RAS connection");
    if (connectionService != nullptr)
        connectionService->hangUp(connection);
    connection = 0;
    lastReported = LineState::Pending;
    upSeen = false;
    LM_LOG(Debug, "Hung up RAS connection");
}

void Server::hangUpWithGuard() {
    DialService* service = connectionService;
    hangUpConnection();
    dialling = false;
    connectionService = nullptr;
    LM_LOG(Debug, "Waiting hangup guard time");
    const int32_t guardTime = settings.get(keys::GuardTime);
    // A negative time means none. The wait is a deadline that the controller
    // steps check; the first one after it may dial again.
    guard.held = true;
    guard.deadlineSet = false;
    guard.milliseconds = guardTime > 0 ? static_cast<uint32_t>(guardTime) : 0;
    guard.service = service;
}

void Server::dialFailed() {
    LM_LOG(Warn, "Dialling failed");
    if (connection != 0)
        hangUpConnection();
    connectionService = nullptr;
    dialling = false;
    lastDialFailed = true;
    if (settings.get(keys::RetryBackoff)) {
        retryWaitMs =
            retryWaitMs == 0 ? kFirstRetryWaitMs : std::min(retryWaitMs * 2, kLongestRetryWaitMs);
        retryHeld = true;
        retryAt = clock.tickCount() + retryWaitMs;
        LM_LOG(Debug, "Next dial in %u seconds", static_cast<unsigned>(retryWaitMs / 1000));
    }
}

void Server::checkIdleShutdown() {
    const uint32_t now = clock.tickCount();
    const int32_t limit = settings.get(keys::ShutDownMinutes);
    if (limit <= 0)
        return;
    if (lastVoteTime == kIdleClockDisarmed)
        return;
    // An unsigned difference keeps the idle time right across the 32-bit wrap.
    const uint32_t idleMinutes = ((now - lastVoteTime) / 1000) / 60;
    if (idleMinutes < static_cast<uint32_t>(limit))
        return;

    lastVoteTime = kIdleClockDisarmed;
    LM_LOG(Info, "Exiting windows due to no votes for a while");
    // The service asks over the bus; its outcome is told when it comes.
    std::weak_ptr<ShutdownInbox> weakInbox = shutdownInbox;
    shutdownService.requestPowerOff(loadString(StringId::ShutdownMessage), 60,
                                    [weakInbox](ShutdownOutcome outcome) {
                                        if (auto alive = weakInbox.lock())
                                            alive->post(std::move(outcome));
                                    });
    applyShutdownOutcomes();  // one that answered at once
}

void Server::applyShutdownOutcomes() {
    for (const ShutdownOutcome& outcome : shutdownInbox->take()) {
        if (outcome.rightRefused)
            LM_LOG(Error, "Cannot exit windows: Cannot set privileges: %s", outcome.error.c_str());
        else if (outcome.issued)
            LM_LOG(Debug, "Exiting windows issued");
        else
            LM_LOG(Error, "Cannot exit windows: %s", outcome.error.c_str());
    }
}

}  // namespace linkmoot
