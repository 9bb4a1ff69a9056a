#include "fakes/Fakes.h"

#include "ToolBox/Logger.h"

#include <algorithm>
#include <cstring>

#include "Ipv4.h"
#include "Trust.h"

namespace linkmoot::fakes {

FakeSocket::~FakeSocket() {
    close();
}

bool FakeSocket::open(uint16_t requested) {
    if (network.openFails) {
        error = "Error 24 in facility 0: Too many open files";
        return false;
    }
    opened = true;
    port = requested == 0 ? 40000 : requested;
    network.boundPorts.push_back(requested);
    network.socketsOpen++;
    return true;
}

bool FakeSocket::setBroadcast() {
    if (network.broadcastFails) {
        error = "Error 13 in facility 0: Permission denied";
        return false;
    }
    broadcast = true;
    return true;
}

bool FakeSocket::connect(const char* target, uint16_t targetPort) {
    if (network.connectFails) {
        error = "Error 2 in facility 0: Name or service not known";
        return false;
    }
    host = target;
    destinationPort = targetPort;
    return true;
}

bool FakeSocket::send(const void* data, std::size_t length) {
    if (network.sendFails) {
        error = "Error 101 in facility 0: Network is unreachable";
        return false;
    }
    network.sent.push_back(
        {host, destinationPort, broadcast, std::string(static_cast<const char*>(data), length)});
    if (network.onSend)
        network.onSend(network.sent.back());
    return true;
}

UdpSocket::Received FakeSocket::receive(char* buffer, std::size_t capacity, std::size_t& length) {
    Endpoint source;
    Arrival arrival;
    return receiveFrom(buffer, capacity, length, source, arrival);
}

UdpSocket::Received FakeSocket::receiveFrom(char* buffer, std::size_t capacity, std::size_t& length,
                                            Endpoint& source, Arrival& arrival) {
    length = 0;
    arrival.local = network.inboundLocal;
    arrival.broadcast = network.inboundBroadcast;
    // Client sockets (bound to any port) read the answers, the server the votes.
    std::deque<std::string>& queue = port == 40000 ? network.answers : network.inbound;
    if (queue.empty())
        return Received::Nothing;
    std::string datagram = queue.front();
    queue.pop_front();
    source = network.inboundSource;
    if (&queue == &network.inbound && !network.inboundSources.empty()) {
        source = network.inboundSources.front();
        network.inboundSources.pop_front();
    }
    if (&queue == &network.answers && !network.answerSources.empty()) {
        source = network.answerSources.front();
        network.answerSources.pop_front();
    }
    if (datagram.empty())
        return Received::Nothing;
    if (datagram.size() > capacity)
        return Received::Oversized;
    std::memcpy(buffer, datagram.data(), datagram.size());
    length = datagram.size();
    return Received::Datagram;
}

bool FakeSocket::sendTo(const void* data, std::size_t length, const Endpoint& destination,
                        uint32_t from) {
    if (network.sendFails) {
        error = "Error 101 in facility 0: Network is unreachable";
        return false;
    }
    network.sentTo.push_back({ipv4::format(destination.address), destination.port, broadcast,
                              std::string(static_cast<const char*>(data), length),
                              ipv4::format(from)});
    return true;
}

void FakeSocket::close() {
    if (opened) {
        opened = false;
        network.socketsOpen--;
    }
}

std::size_t FakeSocket::setReceiveBuffer(std::size_t bytes) {
    return std::min(bytes, network.receiveBufferLimit);
}

void FakeResolver::start(const std::string& name) {
    network.lookups.push_back(name);
    network.lookupsReleased = false;
    pending = true;
    host = name;
}

bool FakeResolver::take(bool& found, uint32_t& address, std::string& error) {
    if (!pending || (network.lookupsWait && !network.lookupsReleased))
        return false;
    pending = false;
    const auto known = network.hosts.find(host);
    found = !network.connectFails;
    address = !found ? 0 : known != network.hosts.end() ? known->second : 0xC00002FEu;
    error = found ? "" : "Error 2 in facility 0: Name or service not known";
    return true;
}

std::unique_ptr<NameResolver> FakeNetwork::createResolver() {
    return std::make_unique<FakeResolver>(*this);
}

std::unique_ptr<UdpSocket> FakeNetwork::createSocket() {
    socketsCreated++;
    return std::make_unique<FakeSocket>(*this);
}

bool FakeNetwork::computerName(std::string& name) {
    if (nameFails)
        return false;
    name = hostName;
    return true;
}

bool FakeDialService::dial(const DialRequest& request, DialHandle& handle, std::string& error) {
    dials.push_back(request);
    if (refuse) {
        handle = refuseWithHandle ? nextHandle++ : 0;
        error = refusal;
        LM_LOG(Error, "The fake service says: %s", refusal.c_str());
        return false;
    }
    handle = nextHandle++;
    return true;
}

void FakeDialService::hangUp(DialHandle handle) {
    hangUps.push_back(handle);
    states[handle] = LineState::Disconnected;
}

LineState FakeDialService::state(DialHandle handle) {
    stateQueries++;
    auto found = states.find(handle);
    return found == states.end() ? unknownState : found->second;
}

void FakeShutdown::requestPowerOff(const std::string& message, unsigned warningSeconds, Done done) {
    ShutdownOutcome outcome;
    acquired++;
    if (rightFails) {
        outcome.rightRefused = true;
        outcome.error = "the login manager is not reachable";
    } else {
        messages.push_back(message);
        warnings.push_back(warningSeconds);
        outcome.issued = !powerOffFails;
        if (powerOffFails)
            outcome.error = "Access denied";
    }
    done(outcome);
}

bool FakeFrontEnd::showModeDialog(const Settings&) {
    calls.push_back("mode");
    if (modeOk && onMode)
        onMode();
    return modeOk;
}

bool FakeFrontEnd::showClientOptionsDialog(const Settings&, const ServerLister&) {
    calls.push_back("client");
    if (clientOk && onClient)
        onClient();
    return clientOk;
}

bool FakeFrontEnd::showServerOptionsDialog(const Settings&, const EntryLister&) {
    calls.push_back("server");
    if (serverOk && onServer)
        onServer();
    return serverOk;
}

int FakeFrontEnd::count(const std::string& call) const {
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

}  // namespace linkmoot::fakes
