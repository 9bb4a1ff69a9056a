#include "Client.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "Clock.h"
#include "Ipv4.h"
#include "LogText.h"
#include "SharedSecret.h"
#include "Strings.h"
#include "ToolBox/Logger.h"
#include "ToolBox/String.h"
#include "Trust.h"
#include "UdpSocket.h"

namespace linkmoot {

namespace {

uint8_t hexValue(char character) {
    if (character >= '0' && character <= '9')
        return static_cast<uint8_t>(character - '0');
    if (character >= 'A' && character <= 'F')
        return static_cast<uint8_t>(character - 'A' + 10);
    if (character >= 'a' && character <= 'f')
        return static_cast<uint8_t>(character - 'a' + 10);
    return 0;
}

}  // namespace

Client::Client(Settings settings, Network& network, Clock& clock, KeyStore* keys,
               ServiceBrowser* browser)
    : settings(settings),
      network(network),
      clock(clock),
      keys(keys),
      voting(settings.get(keys::AutoVote)),
      finder(network, clock, keys, counter, browser) {
    LM_LOG(Debug, "Created client");
}

Client::~Client() {
    LM_LOG(Debug, "Destroying client");
    stopVoting();
    LM_LOG(Debug, "Destroyed client");
}

void Client::startVoting() {
    LM_LOG(Debug, "Starting voting");
    if (voting)
        return;
    voting = true;
    errorShown = false;
    sendWakeOnLan();
    sendVote(true);
}

void Client::stopVoting() {
    LM_LOG(Debug, "Stopping voting");
    if (!voting)
        return;
    sendVote(false);
    voting = false;
}

void Client::revote() {
    lastRevote = clock.tickCount();
    if (voting) {
        sendWakeOnLan();
        sendVote(true);
    } else if (settings.isClientMode()) {
        // Not voting, the user still wants to see whether someone else holds the line up.
        sendRequest(protocol::Verb::Query);
    }
}

void Client::askQuestion() {
    if (errorShown)
        return;
    errorShown = true;
    pendingQuestion = StringId::QuestionClientCannotConnect;
}

int Client::takeQuestion() {
    const int question = pendingQuestion;
    pendingQuestion = 0;
    return question;
}

std::string Client::takeNotice() {
    std::string taken;
    taken.swap(notice);
    return taken;
}

std::optional<uint32_t> Client::dottedAddress(const std::string& text) {
    // Leading zeros were always read as decimal here; a Server key that
    // relies on it keeps working.
    uint32_t address = 0;
    if (!ipv4::parse(text, address, ipv4::LeadingZeros::Allowed))
        return std::nullopt;
    return address;
}

std::string Client::serverName() const {
    const std::string configured = settings.get(keys::ClientServer);
    if (configured != kAutomatic || !settings.isClientMode())
        return configured;
    const std::string choice = settings.get(keys::AutoChoice);
    return choice.empty() ? configured : choice;
}

bool Client::isAutomatic() const {
    return settings.isClientMode() && settings.get(keys::ClientServer) == kAutomatic;
}

void Client::lookForServers(bool on) {
    listWanted = on;
    if (on && !finder.searching())
        beginRound();
    discoveryStep();
}

void Client::beginRound() {
    std::string name;
    network.computerName(name);
    const int32_t port = settings.get(keys::Port);
    finder.startRound(port > 0 && port <= 65535 ? static_cast<uint16_t>(port) : 9005, name);
    lastRound = clock.tickCount();
}

void Client::sayAutomaticProblem(const std::string& problem) {
    if (problem == automaticProblem)
        return;
    automaticProblem = problem;
    if (!problem.empty())
        LM_LOG(Warn, "%s", problem.c_str());
}

bool Client::automaticDestination(std::string& host, uint16_t& port, protocol::Verb verb) {
    followBrowsing();
    const std::string choice = settings.get(keys::AutoChoice);
    const std::vector<FoundServer> choosable = finder.choosable();
    const auto chosen =
        std::find_if(choosable.begin(), choosable.end(),
                     [&](const FoundServer& found) { return found.name == choice; });
    if (!choice.empty() && chosen != choosable.end()) {
        // Followed to a new address; the choice stays.
        host = ipv4::format(chosen->address);
        port = chosen->port;
        if (settings.get(keys::AutoAddress) != host)
            settings.set(keys::AutoAddress, host);
        sayAutomaticProblem("");
        return true;
    }
    // A sleeping server announces nothing: the stored choice stands until
    // the LAN answers for it.
    if (const std::string stored = settings.get(keys::AutoAddress);
        !choice.empty() && dottedAddress(stored)) {
        host = stored;
        sayAutomaticProblem("");
        return true;
    }
    if (keys != nullptr && keys->pending()) {
        afterRound = verb;
        return false;
    }
    // Nothing chosen yet: the LAN decides, once a round has asked it (again
    // for a vote, when the last answers are old).
    const bool stale = verb != protocol::Verb::Query &&
                       static_cast<uint32_t>(clock.tickCount() - lastRound) > 10000;
    if (finder.roundsDone() == 0 || finder.searching() || stale) {
        if (!finder.searching())
            beginRound();
        if (finder.searching()) {
            afterRound = verb;
            return false;
        }
    }
    if (choosable.size() == 1) {
        const FoundServer& only = choosable.front();
        host = ipv4::format(only.address);
        port = only.port;
        settings.set(keys::AutoChoice, only.name);
        settings.set(keys::AutoAddress, host);
        LM_LOG(Info, "Chose the server %s found on the LAN", describe(only).c_str());
        sayAutomaticProblem("");
        return true;
    }
    std::string problem = "No server found on the LAN";
    if (!choosable.empty()) {
        problem = "Several servers found: ";
        for (std::size_t i = 0; i < choosable.size(); i++)
            problem += (i > 0 ? ", " : "") + printable(choosable[i].name.c_str());
        problem += "; choose one in the options";
    }
    sayAutomaticProblem(problem);
    // As for a server that cannot be reached: a vote asks, a query does not.
    if (verb != protocol::Verb::Query && settings.get(keys::WakeOnLanMac).size() < kMacTextLength)
        askQuestion();
    return false;
}

void Client::followBrowsing() {
    followBrowsing(isAutomatic());
}

void Client::followBrowsing(bool automatic) {
    const bool wanted = listWanted || automatic;
    if (wanted != browsing) {
        finder.browse(wanted);
        browsing = wanted;
    }
}

void Client::discoveryStep() {
    const bool automatic = isAutomatic();
    followBrowsing(automatic);
    if (!automatic || finder.searching())
        return;
    // Asked again now and then, between two re-votes so that the server's
    // answer limit keeps the answer to each.
    const uint32_t now = clock.tickCount();
    const uint32_t sinceRevote = now - lastRevote;
    if (static_cast<uint32_t>(now - lastRound) >= kRediscoverMs && sinceRevote >= kRoundOffsetMs &&
        sinceRevote < kRoundOffsetMs + 2000) {
        beginRound();
    }
}

ServerView Client::serverView() const {
    // In server mode the server knows its line: no row, no queries.
    if (!settings.isClientMode())
        return {};
    return watch.view(clock.tickCount());
}

std::string Client::serverLineText() const {
    // Not even the name is read in server mode: the read would store an empty
    // key that nothing there uses.
    if (!settings.isClientMode())
        return {};
    if (isAutomatic() && !automaticProblem.empty())
        return automaticProblem;
    if (isAutomatic() && afterRound && settings.get(keys::AutoChoice).empty())
        return "Looking for servers on the LAN";
    return linkmoot::serverLineText(serverName(), serverView());
}

void Client::failed(protocol::Verb verb, const char* what, const std::string& error) {
    // A query is only a look at the server: it never asks the user anything.
    if (verb == protocol::Verb::Query) {
        LM_LOG(Debug, "%s: %s", what, error.c_str());
        return;
    }
    LM_LOG(Error, "%s: %s", what, error.c_str());
    if (settings.get(keys::WakeOnLanMac).size() < kMacTextLength)
        askQuestion();
}

bool Client::destination(std::string& host, uint16_t& port, protocol::Verb verb) {
    const int32_t configured = settings.get(keys::Port);
    if (configured < 0 || configured > 65535) {
        // A port the network cannot carry is refused rather than silently wrapped.
        failed(verb, "Cannot connect to server", toolbox::systemErrorText(EINVAL).c_str());
        return false;
    }
    port = static_cast<uint16_t>(configured);
    host = settings.isServerMode() ? std::string("127.0.0.1") : settings.get(keys::ClientServer);
    if (isAutomatic())
        return automaticDestination(host, port, verb);
    return true;
}

bool Client::connectTo(uint32_t address, protocol::Verb verb) {
    if (!socket) {
        LM_LOG(Debug, "Creating client socket");
        socket = network.createSocket();
        if (!socket->open(0)) {
            failed(verb, "Cannot create client socket", socket->lastErrorText());
            socket.reset();
            return false;
        }
    }
    LM_LOG(Debug, "Connecting to server");
    if (!socket->connect(ipv4::format(address).c_str(), targetPort)) {
        failed(verb, "Cannot connect to server", socket->lastErrorText());
        socket.reset();
        targetAddress.reset();
        return false;
    }
    targetAddress = address;
    return true;
}

void Client::sendVote(bool vote) {
    LM_LOG(Info, vote ? "Voting for RAS connection" : "Unvoting for RAS connection");
    sendRequest(vote ? protocol::Verb::Vote : protocol::Verb::Unvote);
}

void Client::sendRequest(protocol::Verb verb) {
    std::string host;
    uint16_t port = 0;
    if (!destination(host, port, verb))
        return;
    if (host != targetHost || port != targetPort) {
        // Another server: what the old one said no longer holds.
        targetHost = host;
        targetPort = port;
        targetAddress.reset();
        socket.reset();
        resolver.reset();
        lookingUp = false;
        watch.reset();
        shown = {};
    }
    const std::optional<uint32_t> dotted = dottedAddress(host);
    if (!targetAddress && dotted) {
        if (!connectTo(*dotted, verb))
            return;
    } else if (!dotted && !lookingUp) {
        // A name is looked up again for every request; until the answer
        // comes, a known address is used.
        if (!resolver)
            resolver = network.createResolver();
        LM_LOG(Debug, "Looking up the server's address");
        resolver->start(host);
        lookingUp = true;
        lookupHost = host;
    }
    if (!targetAddress || (keys != nullptr && keys->pending())) {
        waiting = verb;
        takeLookup();  // a resolver may have answered at once
        return;
    }
    transmit(verb);
    takeLookup();
}

void Client::takeLookup() {
    if (!lookingUp)
        return;
    bool found = false;
    uint32_t address = 0;
    std::string error;
    if (!resolver->take(found, address, error))
        return;
    lookingUp = false;
    const std::optional<protocol::Verb> verb = waiting;
    if (!found) {
        waiting.reset();
        // A failing look-up of a held vote counts as a failed vote; a known
        // address is kept for the next try.
        failed(verb.value_or(voting ? protocol::Verb::Vote : protocol::Verb::Query),
               "Cannot connect to server", error);
        return;
    }
    if (targetAddress != address &&
        !connectTo(address, verb.value_or(voting ? protocol::Verb::Vote : protocol::Verb::Query))) {
        waiting.reset();
        return;
    }
    if (verb && !(keys != nullptr && keys->pending())) {
        waiting.reset();
        transmit(*verb);
    }
}

void Client::transmit(protocol::Verb verb) {
    std::string name;
    if (!network.computerName(name)) {
        if (verb == protocol::Verb::Query) {
            LM_LOG(Debug, "Cannot get computer name of localhost");
        } else {
            LM_LOG(Error, "Cannot get computer name of localhost");
            askQuestion();
        }
        return;
    }
    const ProtocolKey* key = keys != nullptr ? keys->key() : nullptr;
    const uint64_t t = key != nullptr ? counter.next(clock.wallClock().unixMs) : 0;
    const std::string bytes = protocol::buildRequest(verb, name, key, t);
    if (bytes.empty()) {
        LM_LOG(Error, "The computer name '%s' does not fit a datagram",
               printable(name.c_str()).c_str());
        return;
    }
    LM_LOG(Debug, "Sending '%s:%s'", protocol::verbWord(verb), printable(name.c_str()).c_str());
    if (!socket->send(bytes.data(), bytes.size()) && verb == protocol::Verb::Query)
        LM_LOG(Debug, "The query could not be sent: %s", socket->lastErrorText().c_str());
    if (settings.isClientMode())
        watch.requestSent(t, clock.tickCount());
}

void Client::readAnswers(bool& changed) {
    if (!socket || !socket->mayHoldDatagrams())
        return;
    const ProtocolKey* key = keys != nullptr ? keys->key() : nullptr;
    const bool clientMode = settings.isClientMode();
    // Bounded, so a flood on the socket cannot hold the tick.
    for (int read = 0; read < 64; read++) {
        char buffer[protocol::kMaxDatagramLength + 1];
        std::size_t length = 0;
        const UdpSocket::Received received =
            socket->receive(buffer, protocol::kMaxDatagramLength, length);
        if (received == UdpSocket::Received::Nothing)
            break;
        if (received == UdpSocket::Received::Datagram && clientMode &&
            watch.answerReceived(std::string_view(buffer, length), key, clock.tickCount())) {
            changed = true;
        }
    }
}

bool Client::tick() {
    bool changed = finder.poll();
    if (afterRound && !finder.searching()) {
        const protocol::Verb verb = *afterRound;
        afterRound.reset();
        sendRequest(verb);
        changed = true;
    }
    discoveryStep();
    takeLookup();
    if (waiting && targetAddress && !lookingUp && !(keys != nullptr && keys->pending())) {
        const protocol::Verb verb = *waiting;
        waiting.reset();
        transmit(verb);
    }
    readAnswers(changed);
    // In server mode there is no view to follow once the last one is gone
    // (the view is then always the empty one): the idle tick stops here.
    if (settings.isClientMode() || shown.state != ServerView::State::Unknown)
        followView(changed);
    return changed;
}

void Client::followView(bool& changed) {
    const ServerView now = serverView();
    if (!sameLine(now, shown))
        changed = true;
    // Only a change is worth the reads: each stores its key when missing.
    if (const LineNotice change = noticeBetween(shown, now);
        voting && change != LineNotice::None && settings.get(keys::Notify)) {
        notice = noticeText(serverName(), change);
    }
    // The server's cap reached while this user votes: the line will not come.
    const auto capped = [](const ServerView& view) {
        return view.state == ServerView::State::Answered && view.report.plan &&
               view.report.plan->capped;
    };
    if (capped(now) && !capped(shown) && voting && settings.get(keys::Notify)) {
        const std::string capNotice =
            "The data cap of " + serverName() + " is reached: it dials no new connection";
        notice = notice.empty() ? capNotice : notice + "\n" + capNotice;
    }
    if (now.report.plan != shown.report.plan)
        changed = true;
    shown = now;
}

std::array<uint8_t, Client::kMagicPacketLength> Client::magicPacket(const char* macText) {
    uint8_t mac[6];
    for (int i = 0; i < 6; i++) {
        mac[i] = static_cast<uint8_t>(hexValue(macText[3 * i]) * 16 + hexValue(macText[3 * i + 1]));
    }
    std::array<uint8_t, kMagicPacketLength> packet{};
    for (int i = 0; i < 6; i++)
        packet[i] = 0xFF;
    for (std::size_t n = 6; n < kMagicPacketLength; n++)
        packet[n] = mac[n % 6];
    return packet;
}

void Client::sendWakeOnLan() {
    const std::string mac = settings.get(keys::WakeOnLanMac);
    if (mac.size() < kMacTextLength)
        return;
    const std::string macText = mac.substr(0, kMacTextLength);
    LM_LOG(Info, "Sending Wake-on-LAN packet");

    std::unique_ptr<UdpSocket> socket = network.createSocket();
    LM_LOG(Debug, "Creating client socket");
    if (!socket->open(0)) {
        LM_LOG(Error, "Cannot create client socket: %s", socket->lastErrorText().c_str());
        return;
    }
    LM_LOG(Debug, "Connecting to server");
    if (!socket->setBroadcast() || !socket->connect(kWakeOnLanAddress, kWakeOnLanPort)) {
        LM_LOG(Error, "Cannot connect to server: %s", socket->lastErrorText().c_str());
        socket->close();
        return;
    }
    const std::array<uint8_t, kMagicPacketLength> packet = magicPacket(macText.c_str());
    LM_LOG(Debug, "Sending Wake-on-LAN data");
    if (!socket->send(packet.data(), packet.size())) {
        // A lost packet is not fatal: the vote still follows.
        LM_LOG(Warn, "The Wake-on-LAN packet could not be sent: %s",
               socket->lastErrorText().c_str());
    }
    socket->close();
}

}  // namespace linkmoot
