#include "ServerFinder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "SharedSecret.h"
#include "fakes/Fakes.h"
#include "platform/BackgroundQueue.h"
#include "platform/SodiumCrypto.h"

namespace linkmoot {
namespace {

using fakes::FakeBrowser;
using fakes::FakeClock;
using fakes::FakeNetwork;

constexpr uint32_t kGw1 = 0xC0000201;  // 192.0.2.1
constexpr uint32_t kGw2 = 0xC0000202;

class ServerFinderTest : public ::testing::Test {
protected:
    void SetUp() override {
        network.interfaces = {
            {"lo", 1, 0x7F000001, 0xFF000000, 0, true, true, false},
            {"eth0", 2, 0xC0000203, 0xFFFFFF00, 0xC00002FF, true, false, false},
            {"eth1", 3, 0xC6336401, 0xFFFFFF00, 0xC63364FF, false, false, false},  // down
            {"ppp0", 4, 0xCB007105, 0xFFFFFFFF, 0, true, false, true},
        };
    }
    /// One answer from `address`, as a server sends it.
    void answerFrom(uint32_t address, const std::string& host, const ProtocolKey* key = nullptr,
                    uint64_t echo = 0) {
        protocol::LineReport report;
        report.host = host;
        network.answers.push_back(protocol::buildAnswer(report, key, echo, 77));
        network.answerSources.push_back({address, 9005});
    }
    std::vector<std::string> names(const std::vector<FoundServer>& list) const {
        std::vector<std::string> result;
        for (const FoundServer& server : list)
            result.push_back(server.name);
        return result;
    }
    void endRound() {
        clock.advance(ServerFinder::kRoundMs);
        finder.poll();
    }

    FakeNetwork network;
    FakeClock clock;
    FakeBrowser browser;
    protocol::Counter counter;
    ServerFinder finder{network, clock, nullptr, counter, &browser};
};

// The query goes to each broadcast address of an interface that is up; the
// answers of the round, and what DNS-SD announces, make one list per server.
TEST_F(ServerFinderTest, ARoundAsksEveryBroadcastAddressAndMergesTheAnnouncements) {
    finder.browse(true);
    AnnouncedServer gw1{"Linkmoot on gw1", "gw1", kGw1, 9005, {{"secret", "0"}, {"web", "8080"}}};
    AnnouncedServer locked{"Linkmoot on gw3", "gw3", 0xC0000209, 9005, {{"secret", "1"}}};
    browser.services = {gw1, locked};
    finder.startRound(9005, "WS01");
    ASSERT_EQ(network.sentTo.size(), 1u);
    EXPECT_EQ(network.sentTo[0].host, "192.0.2.255");
    EXPECT_EQ(network.sentTo[0].port, 9005);
    EXPECT_TRUE(network.sentTo[0].broadcast);
    EXPECT_EQ(network.sentTo[0].payload, "query:WS01");

    answerFrom(kGw1, "gw1");
    answerFrom(kGw2, "");  // an earlier server: no host= field
    network.answers.push_back("not an answer");
    EXPECT_FALSE(finder.poll());
    EXPECT_TRUE(finder.searching());
    EXPECT_EQ(finder.roundsDone(), 0u);
    clock.advance(ServerFinder::kRoundMs);
    EXPECT_TRUE(finder.poll());
    EXPECT_FALSE(finder.searching());
    EXPECT_EQ(network.socketsOpen, 0);

    const std::vector<FoundServer> list = finder.servers();
    EXPECT_EQ(names(list), (std::vector<std::string>{"192.0.2.2", "gw1", "gw3"}));
    EXPECT_TRUE(list[1].announced && list[1].answered);
    EXPECT_EQ(list[1].instance, "Linkmoot on gw1");
    EXPECT_EQ(list[1].webPort, std::optional<uint16_t>(8080));
    EXPECT_EQ(describe(list[2]), "gw3 (192.0.2.9, port 9005, signed votes)");
    // Without a secret, a server that takes only signed votes cannot be chosen.
    EXPECT_EQ(names(finder.choosable()), (std::vector<std::string>{"192.0.2.2", "gw1"}));

    // What was announced goes with the announcement; answers stay until the next round.
    browser.services.clear();
    EXPECT_EQ(names(finder.servers()), (std::vector<std::string>{"192.0.2.2", "gw1"}));
    finder.startRound(9005, "WS01");
    endRound();
    EXPECT_TRUE(finder.servers().empty());
}

// With a secret each query is signed, and only a server whose signed answer
// to one of this round's queries verifies may be chosen.
TEST_F(ServerFinderTest, WithASecretOnlyVerifiedAnswersCanBeChosen) {
    BackgroundQueue worker;
    KeyStore keys(&sodiumCrypto(), &worker);
    keys.setSecret("correct horse battery staple");
    for (int i = 0; i < 2000 && keys.key() == nullptr; i++) {
        keys.update();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_NE(keys.key(), nullptr) << keys.error();
    unsigned char bytes[ProtocolKey::kBytes] = {9};
    std::unique_ptr<ProtocolKey> other = ProtocolKey::fromBytes(sodiumCrypto(), bytes);
    ServerFinder signing(network, clock, &keys, counter, nullptr);
    signing.startRound(9005, "WS01");
    ASSERT_EQ(network.sentTo.size(), 1u);
    protocol::Request query;
    ASSERT_EQ(protocol::parseRequest(network.sentTo[0].payload, query),
              protocol::RequestError::None);
    ASSERT_EQ(query.signing, protocol::Signing::Signed);

    answerFrom(kGw1, "gw1", keys.key(), query.t);
    answerFrom(kGw2, "gw2");                                 // no secret: unsigned
    answerFrom(0xC0000205, "gw5", keys.key(), query.t - 1);  // an older query's answer
    answerFrom(0xC0000206, "gw6", other.get(), query.t);     // another secret
    clock.advance(ServerFinder::kRoundMs);
    signing.poll();
    EXPECT_EQ(names(signing.servers()), (std::vector<std::string>{"gw1", "gw2"}));
    EXPECT_EQ(names(signing.choosable()), (std::vector<std::string>{"gw1"}));
    EXPECT_TRUE(signing.servers()[0].secret);
}

}  // namespace
}  // namespace linkmoot
