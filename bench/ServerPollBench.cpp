// The cost of one server poll that reads 10 vote datagrams and sends their
// answers, against a vote table of 10, 100 and 1000 hosts; plain, and signed
// with a shared secret (macs checked and made).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <string>
#include <thread>

#include "Clock.h"
#include "DialService.h"
#include "Server.h"
#include "SharedSecret.h"
#include "ShutdownService.h"
#include "ToolBox/Config.h"
#include "Trust.h"
#include "UdpSocket.h"
#include "platform/BackgroundQueue.h"
#include "platform/SodiumCrypto.h"

namespace linkmoot {
namespace {

class QueueSocket : public UdpSocket {
public:
    explicit QueueSocket(std::deque<std::string>& queue) : queue(queue) {}
    bool open(uint16_t) override { return true; }
    bool setBroadcast() override { return true; }
    std::size_t setReceiveBuffer(std::size_t bytes) override { return bytes; }
    bool connect(const char*, uint16_t) override { return true; }
    bool send(const void*, std::size_t) override { return true; }
    Received receive(char* buffer, std::size_t capacity, std::size_t& length) override {
        Endpoint source;
        Arrival arrival;
        return receiveFrom(buffer, capacity, length, source, arrival);
    }
    Received receiveFrom(char* buffer, std::size_t, std::size_t& length, Endpoint& source,
                         Arrival& arrival) override {
        arrival.local = 0xC0A80101u;
        if (queue.empty())
            return Received::Nothing;
        length = queue.front().size();
        std::memcpy(buffer, queue.front().data(), length);
        queue.pop_front();
        source = {0xC0A80100u + static_cast<uint32_t>(length), 40000};  // a LAN host
        return Received::Datagram;
    }
    bool sendTo(const void* data, std::size_t length, const Endpoint&, uint32_t) override {
        benchmark::DoNotOptimize(data);
        benchmark::DoNotOptimize(length);
        return true;
    }
    void close() override {}
    uint16_t localPort() const override { return 9005; }
    std::string lastErrorText() const override { return {}; }

private:
    std::deque<std::string>& queue;
};

class QueueNetwork : public Network {
public:
    std::vector<InterfaceAddress> interfaceAddresses() override { return {}; }
    std::unique_ptr<UdpSocket> createSocket() override {
        return std::make_unique<QueueSocket>(queue);
    }
    std::unique_ptr<NameResolver> createResolver() override { return nullptr; }
    bool computerName(std::string& name) override {
        name = "bench";
        return true;
    }
    std::deque<std::string> queue;
};

class StillClock : public Clock {
public:
    uint32_t tickCount() override { return 100000; }
    uint32_t processMillis() override { return 100000; }
    // Unsynchronised: signed datagrams are checked by their counter alone, so
    // the benchmark's counters need not follow a clock.
    trust::WallClock wallClock() override { return {1796601600000ull, false}; }
};

class UpLine : public DialService, public DialServiceProvider {
public:
    const char* name() const override { return "bench"; }
    void listEntries(EntriesCallback done) override { done({}); }
    bool dial(const DialRequest&, DialHandle& handle, std::string&) override {
        handle = 1;
        return true;
    }
    void hangUp(DialHandle) override {}
    LineState state(DialHandle) override { return LineState::Connected; }
    void setFailureCallback(FailureCallback) override {}
    DialService& service(const std::string&) override { return *this; }
};

class NoShutdown : public ShutdownService {
public:
    void requestPowerOff(const std::string&, unsigned, Done done) override {
        done({false, true, ""});
    }
};

struct Application {
    toolbox::Config config;
};

void pollTenDatagrams(benchmark::State& state, KeyStore* keys) {
    const int hosts = static_cast<int>(state.range(0));
    Application app;
    QueueNetwork network;
    StillClock clock;
    UpLine line;
    NoShutdown shutdown;
    Server server(app.config.getRoot(), network, clock, line, shutdown, keys);
    server.start();
    const ProtocolKey* key = keys != nullptr ? keys->key() : nullptr;
    uint64_t t = 1;
    auto vote = [&](int host) {
        return protocol::buildRequest(protocol::Verb::Vote, "host-" + std::to_string(host), key,
                                      key != nullptr ? t++ : 0);
    };
    for (int i = 0; i < hosts; i++)
        network.queue.push_back(vote(i));
    while (!network.queue.empty())
        server.poll();

    int next = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // Re-votes of hosts spread over the table: each removes and re-appends.
        for (int i = 0; i < 10; i++) {
            network.queue.push_back(vote(next));
            next = (next + 97) % hosts;
        }
        state.ResumeTiming();
        server.poll();
    }
    benchmark::DoNotOptimize(server.getVotes().size());
}

void BM_ServerPollTenDatagrams(benchmark::State& state) {
    pollTenDatagrams(state, nullptr);
}
BENCHMARK(BM_ServerPollTenDatagrams)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_ServerPollTenSignedDatagrams(benchmark::State& state) {
    BackgroundQueue worker;
    KeyStore keys(&sodiumCrypto(), &worker);
    keys.setSecret("bench-secret-of-24-chars");
    while (!keys.update() || keys.key() == nullptr) {
        if (!keys.error().empty()) {
            state.SkipWithError(keys.error().c_str());
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pollTenDatagrams(state, &keys);
}
BENCHMARK(BM_ServerPollTenSignedDatagrams)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace linkmoot

BENCHMARK_MAIN();
