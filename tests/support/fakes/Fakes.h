#pragma once
// Fakes of the core's small interfaces. Each records what the code under test
// did and lets a test decide what the world answers.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Clock.h"
#include "DialService.h"
#include "FrontEnd.h"
#include "ServerFinder.h"
#include "ShutdownService.h"
#include "ToolBox/Config.h"
#include "Trust.h"
#include "UdpSocket.h"

namespace linkmoot::fakes {

class FakeClock : public Clock {
public:
    uint32_t tick = 1000000;
    uint32_t process = 5000;
    uint32_t tickCount() override { return tick; }
    uint32_t processMillis() override { return process; }
    trust::WallClock wallClock() override { return {unixMs, synchronised}; }
    void advance(uint32_t milliseconds) {
        tick += milliseconds;
        process += milliseconds;
        unixMs += milliseconds;
    }
    uint64_t unixMs = 1796601600000ull;  // 2026-12-07
    bool synchronised = true;
};

/// One datagram that left through a fake socket.
struct SentDatagram {
    std::string host;
    uint16_t port = 0;
    bool broadcast = false;
    std::string payload;
    std::string from{};  ///< sendTo's local source address, dotted
};

class FakeNetwork;

class FakeSocket : public UdpSocket {
public:
    explicit FakeSocket(FakeNetwork& network) : network(network) {}
    ~FakeSocket() override;
    bool open(uint16_t port) override;
    bool setBroadcast() override;
    std::size_t setReceiveBuffer(std::size_t bytes) override;
    bool connect(const char* host, uint16_t port) override;
    bool send(const void* data, std::size_t length) override;
    Received receive(char* buffer, std::size_t capacity, std::size_t& length) override;
    Received receiveFrom(char* buffer, std::size_t capacity, std::size_t& length, Endpoint& source,
                         Arrival& arrival) override;
    bool sendTo(const void* data, std::size_t length, const Endpoint& destination,
                uint32_t from) override;
    void close() override;
    uint16_t localPort() const override { return port; }
    std::string lastErrorText() const override { return error; }

    bool isOpen() const { return opened; }

private:
    FakeNetwork& network;
    bool opened = false;
    bool broadcast = false;
    uint16_t port = 0;
    std::string host;
    uint16_t destinationPort = 0;
    std::string error;
};

/// Answers look-ups from FakeNetwork::hosts; at once, or when the test says.
class FakeResolver : public NameResolver {
public:
    explicit FakeResolver(FakeNetwork& network) : network(network) {}
    void start(const std::string& host) override;
    bool take(bool& found, uint32_t& address, std::string& error) override;

private:
    FakeNetwork& network;
    bool pending = false;
    std::string host;
};

class FakeNetwork : public Network {
public:
    std::unique_ptr<UdpSocket> createSocket() override;
    std::unique_ptr<NameResolver> createResolver() override;
    bool computerName(std::string& name) override;
    std::vector<InterfaceAddress> interfaceAddresses() override { return interfaces; }

    /// Datagrams waiting for the server socket (one bound to a given port),
    /// oldest first; a text longer than the receive buffer arrives as Oversized.
    std::deque<std::string> inbound;
    /// Where each inbound datagram comes from: the front of inboundSources
    /// when there is one (taken with it), else inboundSource.
    Endpoint inboundSource{0xC0A80114, 40001};  // 192.168.1.20
    std::deque<Endpoint> inboundSources;
    /// The local address every inbound datagram reached.
    uint32_t inboundLocal = 0xC0A80101;  // 192.168.1.1
    /// Whether every inbound datagram came to a broadcast address.
    bool inboundBroadcast = false;
    /// What interfaceAddresses() reports.
    std::vector<InterfaceAddress> interfaces;
    /// Datagrams waiting for client sockets (bound to port 0).
    std::deque<std::string> answers;
    /// Where each answer comes from, front first (then inboundSource).
    std::deque<Endpoint> answerSources;
    /// What left through sendTo (the server's answers), with the dotted address.
    std::vector<SentDatagram> sentTo;
    /// Names the resolver knows; others are 192.0.2.254; with connectFails all fail.
    std::map<std::string, uint32_t> hosts = {
        {"gateway", 0xC0000201}, {"gw", 0xC0000202}, {"localhost", 0x7F000001}};
    /// Look-ups answer only once released (releaseLookups) instead of at once.
    bool lookupsWait = false;
    bool lookupsReleased = false;
    std::vector<std::string> lookups;
    std::vector<SentDatagram> sent;
    std::vector<uint16_t> boundPorts;
    std::string hostName = "WS01";
    bool nameFails = false;
    bool openFails = false;
    bool connectFails = false;
    bool broadcastFails = false;
    bool sendFails = false;
    std::size_t receiveBufferLimit = SIZE_MAX;
    std::function<void(const SentDatagram&)> onSend;
    int socketsCreated = 0;
    int socketsOpen = 0;  ///< sockets opened and not yet closed
};

/// A DNS-SD browser whose finds the test sets.
class FakeBrowser : public ServiceBrowser {
public:
    void browse(bool on) override {
        browsing = on;
        switches++;
    }
    std::vector<AnnouncedServer> announced() const override {
        return browsing ? services : std::vector<AnnouncedServer>();
    }
    bool browsing = false;
    int switches = 0;
    std::vector<AnnouncedServer> services;
};

class FakeDialService : public DialService {
public:
    explicit FakeDialService(std::string serviceName = "fake")
        : serviceName(std::move(serviceName)) {}
    const char* name() const override { return serviceName.c_str(); }
    void listEntries(EntriesCallback done) override { done(entries); }
    bool dial(const DialRequest& request, DialHandle& handle, std::string& error) override;
    void hangUp(DialHandle handle) override;
    LineState state(DialHandle handle) override;
    bool hangingUp() override { return hangUpRunning; }
    void setFailureCallback(FailureCallback callback) override { failure = std::move(callback); }

    /// Reports a failure of a handle as the service's thread would.
    void reportFailure(DialHandle handle, const std::string& reason = "test failure") {
        if (failure)
            failure(handle, reason);
    }

    std::string serviceName;
    std::vector<DialEntry> entries = {"Modem"};
    std::vector<DialRequest> dials;
    std::vector<DialHandle> hangUps;
    std::map<DialHandle, LineState> states;  ///< default for a live handle: `unknownState`
    LineState unknownState = LineState::Connected;
    /// A hang-up still at work in the background.
    bool hangUpRunning = false;
    bool refuse = false;
    std::string refusal = "refused by the test";
    bool refuseWithHandle = false;
    DialHandle nextHandle = 100;
    int stateQueries = 0;
    FailureCallback failure;
};

class FakeDialServices : public DialServiceProvider {
public:
    DialService& service(const std::string& name) override {
        asked.push_back(name);
        return dialer;
    }
    void prepare(const std::string& name) override { prepared.push_back(name); }
    FakeDialService dialer;
    std::vector<std::string> asked;
    std::vector<std::string> prepared;
};

class FakeShutdown : public ShutdownService {
public:
    /// Answers at once, as the loop's own thread.
    void requestPowerOff(const std::string& message, unsigned warningSeconds, Done done) override;
    bool rightFails = false;
    bool powerOffFails = false;
    int acquired = 0;
    std::vector<std::string> messages;
    std::vector<unsigned> warnings;
};

/// What the server and the client get from the application: settings over a
/// tree of the test's own.
class FakeApplication {
public:
    toolbox::ConfigSection* getConfigRoot() { return config.getRoot(); }
    operator Settings() { return Settings(config.getRoot()); }  // NOLINT

    toolbox::Config config;
};

/// A front end whose dialogs answer as the test scripts them.
class FakeFrontEnd : public FrontEnd {
public:
    bool showWelcomeDialog() override { return record("welcome", welcome); }
    bool showModeDialog(const Settings& settings) override;
    bool showClientOptionsDialog(const Settings& settings, const ServerLister& servers) override;
    bool showServerOptionsDialog(const Settings& settings, const EntryLister& entries) override;
    bool askYesNo(int stringId) override {
        questions.push_back(stringId);
        return record("question", answerYes);
    }
    void refreshViews(const std::shared_ptr<const StatusSnapshot>& status) override {
        calls.push_back("refresh");
        latest = status;
    }
    void showStatusWindow() override { calls.push_back("show"); }
    void hideStatusWindow() override { calls.push_back("hide"); }
    void openDocument(const std::string& path) override {
        calls.push_back("open");
        opened.push_back(path);
    }
    void quit() override { calls.push_back("quit"); }
    void notify(const std::string& text) override { notices.push_back(text); }

    int count(const std::string& call) const;

    bool welcome = true;
    bool answerYes = false;
    /// Each dialog: whether it ends with OK, and what it stores before that.
    bool modeOk = true;
    bool clientOk = true;
    bool serverOk = true;
    std::function<void()> onMode, onClient, onServer;
    std::vector<std::string> calls;
    std::vector<int> questions;
    std::vector<std::string> opened;
    std::vector<std::string> notices;
    std::shared_ptr<const StatusSnapshot> latest;

private:
    bool record(const char* name, bool result) {
        calls.push_back(name);
        return result;
    }
};

}  // namespace linkmoot::fakes
