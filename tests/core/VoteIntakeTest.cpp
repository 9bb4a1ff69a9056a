#include "VoteIntake.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "SharedSecret.h"
#include "VoteTable.h"
#include "fakes/Fakes.h"
#include "platform/BackgroundQueue.h"
#include "platform/SodiumCrypto.h"

namespace linkmoot {
namespace {

using fakes::FakeClock;
using fakes::FakeNetwork;

class VoteIntakeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(intake.open(9005, "")); }

    void receive(const std::string& datagram) { network.inbound.push_back(datagram); }
    VoteIntake::Served readAfter(uint32_t milliseconds = 0) {
        clock.advance(milliseconds);
        return intake.read(votes, clock.tick);
    }
    void answer(protocol::Line line = protocol::Line::Dialling) {
        protocol::LineReport report;
        report.line = line;
        report.votes = votes.size();
        intake.answer(report, votes, clock.tick);
    }
    std::vector<std::string> hosts() const {
        std::vector<std::string> names;
        for (const Vote& vote : votes.entries())
            names.push_back(vote.host);
        return names;
    }

    FakeNetwork network;
    FakeClock clock;
    VoteTable votes;
    VoteIntake intake{network, clock, nullptr};
};

TEST_F(VoteIntakeTest, DatagramsAreParsedAtTheFirstColonAndByExactVerb) {
    for (const std::string& datagram :
         {std::string("vote:"), std::string("vote:A:B"), std::string("Vote:C"),
          std::string("VOTE:D"), std::string("voteE"), std::string("vote:F\0G", 8),
          std::string(" vote:H")}) {
        receive(datagram);  // the one with a broken extension block is dropped
    }
    const VoteIntake::Served served = readAfter();
    EXPECT_TRUE(served.any);
    EXPECT_TRUE(served.voted);
    EXPECT_EQ(hosts(), (std::vector<std::string>{"", "A:B"}));

    receive("Vote:C");  // ignored, but still served: the views refresh
    EXPECT_TRUE(readAfter().any);
    EXPECT_FALSE(readAfter().any);  // nothing read
}

// Every datagram waiting is served, up to a thousand read per poll (dropped
// ones included, so a flood cannot hold the loop); the rest wait.
TEST_F(VoteIntakeTest, APollServesWhatWaitsUpToAThousandDatagrams) {
    receive("vote:" + std::string(300, 'x'));  // dropped, and read
    for (int i = 0; i < 1000; i++)
        receive("vote:H" + std::to_string(i));
    readAfter();
    EXPECT_EQ(votes.size(), 999u);
    readAfter();
    EXPECT_EQ(votes.size(), 1000u);
    EXPECT_EQ(hosts().back(), "H999");
}

TEST_F(VoteIntakeTest, ASmallerReceiveBufferThanAskedIsToldOnce) {
    testsupport::LogCapture log;
    network.receiveBufferLimit = 425984;  // Debian's default limit, doubled
    VoteIntake small(network, clock, nullptr);
    ASSERT_TRUE(small.open(9006, ""));
    small.close();
    ASSERT_TRUE(small.open(9006, ""));
    EXPECT_EQ(log.count("Info", "receive buffer of 416 KiB, less than the 1625 KiB"), 1u);
}

// Every accepted request is answered (votes, unvotes and queries alike), to its
// sender, from the local address it reached, with "you" from the table; a
// query changes nothing.
TEST_F(VoteIntakeTest, EveryAcceptedRequestIsAnsweredFromTheAddressItReached) {
    network.inboundSources = {{0xC0A80114, 40001}, {0xC0A80115, 40002}};
    network.inboundLocal = 0xC0A80201;  // a second address of the server
    receive("query:B");
    receive("vote:A");
    EXPECT_TRUE(readAfter(1000).voted);
    answer();
    ASSERT_EQ(network.sentTo.size(), 2u);
    EXPECT_EQ(network.sentTo[0].host, "192.168.1.20");
    EXPECT_EQ(network.sentTo[0].port, 40001);
    EXPECT_EQ(network.sentTo[0].from, "192.168.2.1");
    EXPECT_EQ(network.sentTo[0].payload, "state:v=2,line=dialling,votes=1,you=0,up=0");
    EXPECT_EQ(network.sentTo[1].payload, "state:v=2,line=dialling,votes=1,you=1,up=0");
    EXPECT_EQ(votes.entries()[0].local, 0xC0A80201u);

    receive("query:A");
    EXPECT_FALSE(readAfter(5000).voted);
    answer();  // nothing pending twice
    EXPECT_EQ(network.sentTo.size(), 3u);
    answer();
    EXPECT_EQ(network.sentTo.size(), 3u);
}

// Clients find servers by broadcast queries; with the announcement off they
// are served (a vote still counts) but not answered. Unicast ones always are.
TEST_F(VoteIntakeTest, BroadcastRequestsAreAnsweredOnlyWhileTheServerAnnouncesItself) {
    network.inboundBroadcast = true;
    network.inboundSources = {{0xC0A80114, 40001}, {0xC0A80115, 40002}};
    receive("query:A");
    readAfter(1000);
    answer();
    ASSERT_EQ(network.sentTo.size(), 1u);
    EXPECT_EQ(network.sentTo[0].from, "192.168.1.1");  // the interface's address

    intake.answerBroadcasts(false);
    receive("vote:B");
    EXPECT_TRUE(readAfter(2000).voted);
    answer();
    EXPECT_EQ(network.sentTo.size(), 1u);
    EXPECT_EQ(hosts(), (std::vector<std::string>{"B"}));

    network.inboundBroadcast = false;
    receive("query:C");
    readAfter(2000);
    answer();
    EXPECT_EQ(network.sentTo.size(), 2u);
}

// At most one answer a second per source and 400 in all; the requests are
// still served.
TEST_F(VoteIntakeTest, AnswersAreRateLimitedButTheRequestsStillCount) {
    for (int i = 0; i < 3; i++)
        receive("vote:S" + std::to_string(i));  // one source
    readAfter();
    answer();
    EXPECT_EQ(votes.size(), 3u);
    EXPECT_EQ(network.sentTo.size(), 1u);

    clock.advance(1000);
    network.sentTo.clear();
    for (int poll = 0; poll < 5; poll++) {
        for (int i = 0; i < 100; i++) {
            network.inboundSources.push_back(
                {0x0A000000u + static_cast<uint32_t>(poll * 100 + i), 40000});
            receive("vote:M" + std::to_string(poll * 100 + i));
        }
        readAfter();
        answer();
    }
    EXPECT_EQ(votes.size(), 503u);
    EXPECT_EQ(network.sentTo.size(), 400u);
    receive("query:again");
    readAfter(1000);
    answer();
    EXPECT_EQ(network.sentTo.size(), 401u);
}

// The web page's names belong to its timed votes: a datagram can neither
// enter nor end one (it is still answered).
TEST_F(VoteIntakeTest, DatagramsCannotEnterOrEndWebVotes) {
    votes.webVote("web:anna", clock.tick, 15);
    receive("unvote:web:anna");
    receive("vote:web:mallory");
    EXPECT_FALSE(readAfter().voted);
    answer();
    EXPECT_EQ(hosts(), std::vector<std::string>{"web:anna"});
    EXPECT_EQ(network.sentTo.size(), 1u);  // one source, one answer a second
}

// None of these may change the table or count as a vote, nor be answered
// (except the unvote from another address, which is answered and ignored).
TEST_F(VoteIntakeTest, TheTrustRulesKeepUntrustedDatagramsOutOfTheTable) {
    BackgroundQueue worker;
    KeyStore keys(&sodiumCrypto(), &worker);
    keys.setSecret("a-shared-secret-for-tests");
    for (int i = 0; i < 2000 && keys.key() == nullptr; i++) {
        keys.update();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_NE(keys.key(), nullptr) << keys.error();
    const ProtocolKey& key = *keys.key();
    const uint64_t now = clock.unixMs;
    auto signedVote = [&](const char* name, uint64_t t) {
        return protocol::buildRequest(protocol::Verb::Vote, name, &key, t);
    };
    std::string wrongMac = signedVote("B", now + 1);
    wrongMac.back() = wrongMac.back() == '0' ? '1' : '0';

    struct Case {
        const char* what;
        bool secret;
        Endpoint source;
        std::string datagram;
        std::size_t answers;
    };
    const Endpoint lan{0xC0A80114, 40001};
    const std::vector<Case> cases = {
        {"outside source", false, {0xCB007105, 40001}, "vote:B", 0},  // 203.0.113.5
        {"outside source, signed", true, {0xCB007105, 40001}, signedVote("B", now + 1), 0},
        {"unsigned with a secret", true, lan, "vote:B", 0},
        {"wrong mac", true, lan, wrongMac, 0},
        {"replayed t", true, lan, signedVote("A", now), 0},
        {"t outside the window", true, lan, signedVote("B", now + 400000), 0},
        {"unvote from another address", false, {0xC0A80199, 40001}, "unvote:A", 1},
    };
    for (const Case& c : cases) {
        VoteTable table;
        VoteIntake trusting(network, clock, c.secret ? &keys : nullptr);
        ASSERT_TRUE(trusting.open(9005, ""));
        network.inbound = {c.secret ? signedVote("A", now) : std::string("vote:A")};
        network.inboundSources = {lan};
        trusting.read(table, clock.tick);
        ASSERT_EQ(table.size(), 1u) << c.what;
        trusting.answer({}, table, clock.tick);
        network.sentTo.clear();

        clock.advance(1000);
        network.inbound = {c.datagram};
        network.inboundSources = {c.source};
        EXPECT_FALSE(trusting.read(table, clock.tick).voted) << c.what;
        trusting.answer({}, table, clock.tick);
        ASSERT_EQ(table.size(), 1u) << c.what;
        EXPECT_EQ(table.entries()[0].host, "A") << c.what;
        EXPECT_EQ(network.sentTo.size(), c.answers) << c.what;
    }
}

TEST_F(VoteIntakeTest, AnUnusablePortIsRefusedAndAClosedIntakeReadsNothing) {
    VoteIntake other(network, clock, nullptr);
    EXPECT_FALSE(other.open(70000, ""));
    EXPECT_FALSE(other.open(-1, ""));
    EXPECT_FALSE(other.isOpen());
    receive("vote:A");
    EXPECT_FALSE(other.read(votes, clock.tick).any);
    intake.close();
    EXPECT_FALSE(intake.read(votes, clock.tick).any);
    EXPECT_EQ(network.inbound.size(), 1u);
    EXPECT_EQ(intake.boundPort(), 0);
}

}  // namespace
}  // namespace linkmoot
