#include "ServerFinder.h"

#include <algorithm>

#include "Clock.h"
#include "Ipv4.h"
#include "SharedSecret.h"
#include "ToolBox/Logger.h"
#include "Trust.h"

namespace linkmoot {

namespace {

std::optional<uint16_t> portOf(const std::string& text) {
    unsigned value = 0;
    std::string why;
    if (!ipv4::parseDecimal(text, 5, ipv4::LeadingZeros::Refused, value, why) || value == 0 ||
        value > 65535) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(value);
}

FoundServer fromAnnouncement(const AnnouncedServer& service) {
    FoundServer found;
    found.instance = service.instance;
    found.name = !service.host.empty() ? service.host : service.instance;
    found.address = service.address;
    found.port = service.port;
    found.announced = true;
    const auto secret = service.txt.find("secret");
    found.secret = secret != service.txt.end() && secret->second == "1";
    if (const auto web = service.txt.find("web"); web != service.txt.end())
        found.webPort = portOf(web->second);
    return found;
}

}  // namespace

std::string describe(const FoundServer& server) {
    std::string text =
        server.name + " (" + ipv4::format(server.address) + ", port " + std::to_string(server.port);
    if (server.secret)
        text += ", signed votes";
    return text + ")";
}

ServerFinder::ServerFinder(Network& network, Clock& clock, KeyStore* keys,
                           protocol::Counter& counter, ServiceBrowser* browser)
    : network(network), clock(clock), keys(keys), counter(counter), browser(browser) {}

ServerFinder::~ServerFinder() {
    browse(false);
}

void ServerFinder::browse(bool on) {
    if (browser != nullptr)
        browser->browse(on);
}

void ServerFinder::startRound(uint16_t port, const std::string& name) {
    if (socket)
        return;
    const ProtocolKey* key = keys != nullptr ? keys->key() : nullptr;
    // A secret whose key is not derived yet would send unsigned queries that
    // its servers drop: the round waits for the key.
    if (keys != nullptr && keys->pending())
        return;
    std::unique_ptr<UdpSocket> created = network.createSocket();
    if (!created->open(0) || !created->setBroadcast()) {
        LM_LOG(Debug, "Cannot look for servers by broadcast: %s", created->lastErrorText().c_str());
        return;
    }
    sentCounters.clear();
    collecting.clear();
    int sent = 0;
    for (const InterfaceAddress& interface : network.interfaceAddresses()) {
        if (!interface.up || interface.loopback || interface.broadcast == 0)
            continue;
        const uint64_t t = key != nullptr ? counter.next(clock.wallClock().unixMs) : 0;
        const std::string query = protocol::buildRequest(protocol::Verb::Query, name, key, t);
        if (query.empty())
            break;
        if (created->sendTo(query.data(), query.size(), {interface.broadcast, port}, 0)) {
            sent++;
            sentCounters.push_back(t);
        } else {
            LM_LOG(Debug, "Cannot send the query to %s (%s): %s",
                   ipv4::format(interface.broadcast).c_str(), interface.name.c_str(),
                   created->lastErrorText().c_str());
        }
    }
    LM_LOG(Debug, "Looking for servers: a query to %d broadcast address(es)", sent);
    // A round without a query still runs its time, so the caller's wait for
    // it ends as it would with one.
    socket = std::move(created);
    roundStart = clock.tickCount();
}

bool ServerFinder::poll() {
    if (!socket)
        return false;
    readAnswers();
    if (static_cast<uint32_t>(clock.tickCount() - roundStart) < kRoundMs)
        return false;
    const std::vector<FoundServer> before = servers();
    endRound();
    return servers() != before;
}

void ServerFinder::readAnswers() {
    const ProtocolKey* key = keys != nullptr ? keys->key() : nullptr;
    for (int read = 0; read < kMaxReadsPerPoll; read++) {
        char buffer[protocol::kMaxDatagramLength + 1];
        std::size_t length = 0;
        Endpoint source;
        Arrival arrival;
        const UdpSocket::Received received =
            socket->receiveFrom(buffer, protocol::kMaxDatagramLength, length, source, arrival);
        if (received == UdpSocket::Received::Nothing)
            break;
        protocol::Answer answer;
        if (received != UdpSocket::Received::Datagram ||
            protocol::parseAnswer(std::string_view(buffer, length), answer) !=
                protocol::AnswerError::None) {
            continue;
        }
        const bool isSigned = answer.signing == protocol::Signing::Signed;
        const bool verified = key != nullptr && isSigned &&
                              std::find(sentCounters.begin(), sentCounters.end(), answer.echo) !=
                                  sentCounters.end() &&
                              key->verify(answer.signedBytes, answer.mac);
        // A signed answer that does not verify is not this LAN's server to us.
        if (key != nullptr && isSigned && !verified)
            continue;
        FoundServer found;
        found.address = source.address;
        found.port = source.port;
        found.name =
            !answer.report.host.empty() ? answer.report.host : ipv4::format(source.address);
        found.secret = isSigned;
        found.answered = true;
        found.verified = verified;
        const auto same = std::find_if(collecting.begin(), collecting.end(), [&](const auto& seen) {
            return seen.address == found.address && seen.port == found.port;
        });
        if (same == collecting.end())
            collecting.push_back(found);
        else if (verified)
            *same = found;
    }
}

void ServerFinder::endRound() {
    socket.reset();
    answeredLast = std::move(collecting);
    collecting.clear();
    rounds++;
}

std::vector<FoundServer> ServerFinder::servers() const {
    std::vector<FoundServer> list = answeredLast;
    const std::vector<AnnouncedServer> services =
        browser != nullptr ? browser->announced() : std::vector<AnnouncedServer>();
    for (const AnnouncedServer& service : services) {
        FoundServer announced = fromAnnouncement(service);
        const auto same = std::find_if(list.begin(), list.end(), [&](const FoundServer& known) {
            return known.address == announced.address && known.port == announced.port;
        });
        if (same == list.end()) {
            list.push_back(announced);
            continue;
        }
        // One server found both ways: its answer names its host, its
        // announcement the rest.
        same->instance = announced.instance;
        same->announced = true;
        same->webPort = announced.webPort;
        same->secret = same->secret || announced.secret;
    }
    std::sort(list.begin(), list.end(), [](const FoundServer& a, const FoundServer& b) {
        return a.name != b.name ? a.name < b.name : a.address < b.address;
    });
    return list;
}

std::vector<FoundServer> ServerFinder::choosable() const {
    const bool signing = keys != nullptr && keys->configured();
    std::vector<FoundServer> list = servers();
    list.erase(std::remove_if(list.begin(), list.end(),
                              [signing](const FoundServer& server) {
                                  return signing ? !server.verified : server.secret;
                              }),
               list.end());
    return list;
}

}  // namespace linkmoot
