#include "Server.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <chrono>
#include <thread>

#include "LogCapture.h"
#include "SharedSecret.h"
#include "Strings.h"
#include "fakes/Fakes.h"
#include "platform/BackgroundQueue.h"
#include "platform/SodiumCrypto.h"

namespace linkmoot {
namespace {

using fakes::FakeApplication;
using fakes::FakeClock;
using fakes::FakeDialServices;
using fakes::FakeNetwork;
using fakes::FakeShutdown;

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        root()->getParameter("Port")->setString("9005");
        serverSection()->getParameter("Connection")->setString("Modem");
        server = std::make_unique<Server>(app, network, clock, dialers, shutdown);
    }

    toolbox::ConfigSection* root() { return app.getConfigRoot(); }
    toolbox::ConfigSection* serverSection() { return root()->getSection("Server"); }

    void receive(const std::string& datagram) { network.inbound.push_back(datagram); }
    void pollAfter(uint32_t milliseconds) {
        clock.advance(milliseconds);
        server->poll();
    }
    std::vector<std::string> hosts() const {
        std::vector<std::string> result;
        for (int i = 0; i < server->getVotes().getCount(); i++) {
            result.emplace_back(server->getVotes().get(i)->getHost());
        }
        return result;
    }
    fakes::FakeDialService& dialer() { return dialers.dialer; }

    FakeApplication app;
    FakeNetwork network;
    FakeClock clock;
    FakeDialServices dialers;
    FakeShutdown shutdown;
    std::unique_ptr<Server> server;
};

TEST_F(ServerTest, StartBindsTheConfiguredPortOnceAndStopEmptiesTheTable) {
    server->start();
    server->start();
    EXPECT_TRUE(server->isStarted());
    EXPECT_EQ(network.boundPorts, std::vector<uint16_t>{9005});
    EXPECT_EQ(network.socketsOpen, 1);
    // "auto" may look for its service now rather than at the first dial.
    EXPECT_EQ(dialers.prepared, std::vector<std::string>{"auto"});

    receive("vote:A");
    server->poll();
    server->stop();
    EXPECT_FALSE(server->isStarted());
    EXPECT_EQ(server->getVotes().getCount(), 0);
    EXPECT_EQ(network.socketsOpen, 0);
}

TEST_F(ServerTest, MissingPortBindsPortZeroAndOutOfRangePortIsRefused) {
    root()->removeParameter("Port");
    server->start();
    EXPECT_EQ(network.boundPorts, std::vector<uint16_t>{0});
    EXPECT_TRUE(root()->hasParameter("Port"));  // read with getParameter: created unset

    server->stop();
    root()->getParameter("Port")->setString("70000");
    EXPECT_FALSE(server->start());  // the caller offers the configuration
    EXPECT_FALSE(server->isStarted());
}

TEST_F(ServerTest, SocketFailureAsksOnceAndLeavesTheServerStopped) {
    network.openFails = true;
    EXPECT_FALSE(server->start());
    EXPECT_FALSE(server->isStarted());
    receive("vote:A");
    server->poll();  // a stopped server reads nothing
    EXPECT_EQ(network.inbound.size(), 1u);
}

TEST_F(ServerTest, DatagramsAreParsedAtTheFirstColonAndByExactVerb) {
    server->start();
    receive("vote:");
    receive("vote:A:B");
    receive("Vote:C");
    receive("VOTE:D");
    receive("voteE");
    receive(std::string("vote:F\0G", 8));  // a broken extension block: dropped
    receive(" vote:H");
    EXPECT_TRUE(server->poll());
    EXPECT_EQ(hosts(), (std::vector<std::string>{"", "A:B"}));

    receive("Vote:C");  // ignored, but still a change
    EXPECT_TRUE(server->poll());
    EXPECT_FALSE(server->poll());  // nothing read, nothing timed out: no refresh
}

TEST_F(ServerTest, RevoteMovesTheHostToTheEndAndUnvoteRemovesIt) {
    server->start();
    receive("vote:A");
    receive("vote:B");
    receive("vote:C");
    server->poll();
    receive("vote:A");
    receive("unvote:B");
    receive("unvote:nobody");
    pollAfter(1000);
    EXPECT_EQ(hosts(), (std::vector<std::string>{"C", "A"}));
    EXPECT_EQ(server->getVotes().get(1)->getTime(), clock.tick);
    EXPECT_EQ(server->getVotes().get(0)->getTime(), clock.tick - 1000);
}

TEST_F(ServerTest, HostNamesAreCaseSensitiveAndKeptByteForByte) {
    server->start();
    receive("vote:ws01");
    receive("vote:WS01");
    receive("vote:evil\nHost");
    server->poll();
    EXPECT_EQ(hosts(), (std::vector<std::string>{"ws01", "WS01", "evil\nHost"}));
}

TEST_F(ServerTest, AtMostTenDatagramsPerPoll) {
    server->start();
    for (int i = 0; i < 11; i++)
        receive("vote:H" + std::to_string(i));
    server->poll();
    EXPECT_EQ(server->getVotes().getCount(), 10);
    server->poll();
    EXPECT_EQ(server->getVotes().getCount(), 11);
    EXPECT_EQ(hosts().back(), "H10");
}

TEST_F(ServerTest, AnOversizedDatagramIsDroppedAndTheReadingGoesOn) {
    server->start();
    receive("vote:" + std::string(300, 'x'));
    receive("vote:A");
    server->poll();
    EXPECT_EQ(hosts(), std::vector<std::string>{"A"});
}

// Answers go after the controller step, to the sender's address and port, for
// votes, unvotes and queries alike; a query leaves the table and idle clock alone.
TEST_F(ServerTest, EveryAcceptedRequestIsAnsweredWithTheStateAfterTheControllerStep) {
    server->start();
    const uint32_t idleBefore = server->getLastVoteTime();
    network.inboundSources = {{0xC0A80114, 40001}, {0xC0A80115, 40002}};
    receive("query:B");
    receive("vote:A");
    pollAfter(1000);
    ASSERT_EQ(network.sentTo.size(), 2u);
    EXPECT_EQ(network.sentTo[0].host, "192.168.1.20");
    EXPECT_EQ(network.sentTo[0].port, 40001);
    EXPECT_EQ(network.sentTo[0].payload, "state:v=2,line=dialling,votes=1,you=0,up=0");
    EXPECT_EQ(network.sentTo[1].payload, "state:v=2,line=dialling,votes=1,you=1,up=0");
    EXPECT_EQ(hosts(), std::vector<std::string>{"A"});

    network.inboundSources = {{0xC0A80116, 40003}};
    receive("query:A");
    pollAfter(5000);  // up since this poll
    clock.advance(12000);
    network.inboundSources = {{0xC0A80116, 40003}};
    receive("vote:A");  // from another address than the first vote: its address moves
    server->poll();
    EXPECT_EQ(network.sentTo.back().payload, "state:v=2,line=up,votes=1,you=1,up=12");
    EXPECT_EQ(server->getVotes().get(0)->getAddress(), 0xC0A80116u);
    EXPECT_NE(server->getLastVoteTime(), idleBefore);
}

// At most one answer a second per source and 100 in all; the requests are
// still served.
TEST_F(ServerTest, AnswersAreRateLimitedButTheRequestsStillCount) {
    server->start();
    for (int i = 0; i < 3; i++)
        receive("vote:S" + std::to_string(i));  // one source
    server->poll();
    EXPECT_EQ(server->getVotes().getCount(), 3);
    EXPECT_EQ(network.sentTo.size(), 1u);

    clock.advance(1000);
    network.sentTo.clear();
    for (int poll = 0; poll < 15; poll++) {
        for (int i = 0; i < 10; i++) {
            network.inboundSources.push_back(
                {0x0A000000u + static_cast<uint32_t>(poll * 10 + i), 40000});
            receive("vote:M" + std::to_string(poll * 10 + i));
        }
        server->poll();
    }
    EXPECT_EQ(server->getVotes().getCount(), 153);
    EXPECT_EQ(network.sentTo.size(), 100u);
    clock.advance(1000);
    receive("query:again");
    server->poll();
    EXPECT_EQ(network.sentTo.size(), 101u);
}

// None of these may change the table or the idle clock, nor be answered
// (except the unvote from another address, which is answered and ignored).
TEST_F(ServerTest, TheTrustRulesKeepUntrustedDatagramsOutOfTheTable) {
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
        Server trusting(app, network, clock, dialers, shutdown, c.secret ? &keys : nullptr);
        ASSERT_TRUE(trusting.start());
        network.inbound = {c.secret ? signedVote("A", now) : std::string("vote:A")};
        network.inboundSources = {lan};
        trusting.poll();
        ASSERT_EQ(trusting.getVotes().getCount(), 1) << c.what;
        const uint32_t idle = trusting.getLastVoteTime();
        network.sentTo.clear();

        clock.advance(1000);
        network.inbound = {c.datagram};
        network.inboundSources = {c.source};
        trusting.poll();
        ASSERT_EQ(trusting.getVotes().getCount(), 1) << c.what;
        EXPECT_STREQ(trusting.getVotes().get(0)->getHost(), "A") << c.what;
        EXPECT_EQ(trusting.getLastVoteTime(), idle) << c.what;
        EXPECT_EQ(network.sentTo.size(), c.answers) << c.what;
        trusting.stop();
    }
}

TEST_F(ServerTest, AVoteExactly22SecondsOldStaysAndOneMillisecondMoreGoes) {
    server->start();
    receive("vote:A");
    server->poll();
    pollAfter(22000);
    EXPECT_EQ(server->getVotes().getCount(), 1);
    clock.advance(1);
    EXPECT_TRUE(server->poll());
    EXPECT_EQ(server->getVotes().getCount(), 0);
}

TEST_F(ServerTest, VoteAgesSurviveTheTickCountPassing2To31AndWrapping) {
    for (uint32_t start : {0x7FFFF000u, 0xFFFFF000u}) {
        clock.tick = start;
        server->start();
        receive("vote:A");
        server->poll();
        pollAfter(10000);  // crosses 2^31 or wraps to a small count
        EXPECT_EQ(server->getVotes().getCount(), 1) << std::hex << start;
        pollAfter(12001);
        EXPECT_EQ(server->getVotes().getCount(), 0) << std::hex << start;
        server->stop();
    }
}

// Timed votes of the web page.

TEST_F(ServerTest, AWebVoteLastsItsMinutesNotTheDatagramTimeOutAcrossTheWrap) {
    EXPECT_FALSE(server->vote("web:anna", 2, 0));  // a stopped server takes none
    clock.tick = 0xFFFFF000u;
    server->start();
    ASSERT_TRUE(server->vote("web:anna", 2, 0));
    pollAfter(30000);  // past 22 s, and past the wrap
    EXPECT_EQ(hosts(), std::vector<std::string>{"web:anna"});
    EXPECT_EQ(dialer().dials.size(), 1u);
    WebState state = server->webState();
    ASSERT_EQ(state.votes.size(), 1u);
    EXPECT_EQ(state.votes[0].kind, WebVote::Kind::Web);
    EXPECT_EQ(state.votes[0].secondsLeft, 90u);
    pollAfter(89999);
    EXPECT_EQ(hosts().size(), 1u);
    pollAfter(1);
    EXPECT_TRUE(hosts().empty());
    EXPECT_EQ(dialer().hangUps.size(), 1u);
}

TEST_F(ServerTest, DatagramsCannotEnterOrEndWebVotesAndTheWebEndsOnlyItsOwn) {
    server->start();
    receive("vote:pc");
    server->poll();
    ASSERT_TRUE(server->vote("web:anna", 15, 0));
    receive("unvote:web:anna");
    receive("vote:web:mallory");
    server->poll();
    EXPECT_EQ(hosts(), (std::vector<std::string>{"pc", "web:anna"}));
    EXPECT_FALSE(server->unvote("pc", 0));
    EXPECT_TRUE(server->unvote("web:anna", 0));
    EXPECT_FALSE(server->unvote("web:anna", 0));
    EXPECT_EQ(hosts(), std::vector<std::string>{"pc"});
    // Voting again renews in place of a second entry.
    ASSERT_TRUE(server->vote("web:anna", 1, 0));
    ASSERT_TRUE(server->vote("web:anna", 5, 0));
    EXPECT_EQ(hosts(), (std::vector<std::string>{"pc", "web:anna"}));
    EXPECT_EQ(server->webState().votes[1].secondsLeft, 300u);
}

TEST_F(ServerTest, AHeldWebVoteKeepsTheComputerUpUntilItEnds) {
    serverSection()->getParameter("ShutDownMinutes")->setLong(2);
    server->start();
    ASSERT_TRUE(server->vote("web:anna", 10, 0));
    for (int second = 0; second < 11 * 60; second++)
        pollAfter(1000);
    EXPECT_EQ(shutdown.acquired, 0);  // the vote ended a minute ago: not idle long enough
    pollAfter(60 * 1000);
    EXPECT_EQ(shutdown.acquired, 1);
}

// The connection controller.

TEST_F(ServerTest, TheFirstVoteDialsInTheSamePollWithTheConfiguredParameters) {
    serverSection()->getParameter("UserName")->setString("me");
    serverSection()->getParameter("Password")->setString("secret");
    server->start();
    server->poll();
    EXPECT_TRUE(dialer().dials.empty());
    receive("vote:A");
    server->poll();
    ASSERT_EQ(dialer().dials.size(), 1u);
    EXPECT_EQ(dialer().dials[0].entry, "Modem");
    EXPECT_EQ(dialer().dials[0].userName, "me");
    EXPECT_EQ(dialer().dials[0].password, "secret");
    EXPECT_TRUE(server->isDialling());
    EXPECT_EQ(server->getDialTime(), clock.process);
    EXPECT_EQ(dialers.asked.back(), "auto");  // Dialer missing: read as "auto", stored
    EXPECT_STREQ(serverSection()->getString("Dialer", "x"), "auto");
}

TEST_F(ServerTest, AlwaysConnectedDialsWithoutVotesAndStaysUp) {
    serverSection()->getParameter("AlwaysConnected")->setBool(true);
    server->start();
    server->poll();
    EXPECT_EQ(dialer().dials.size(), 1u);
    server->poll();
    EXPECT_FALSE(server->isDialling());
    EXPECT_TRUE(server->isConnected());
    for (int i = 0; i < 5; i++)
        pollAfter(1000);
    EXPECT_EQ(dialer().dials.size(), 1u);
    EXPECT_TRUE(dialer().hangUps.empty());
}

TEST_F(ServerTest, TheLastVoteTimingOutWhileUpHangsUpWithTheGuardTimeAndDoesNotRedial) {
    serverSection()->getParameter("GuardTime")->setLong(1500);
    server->start();
    receive("vote:A");
    server->poll();
    pollAfter(1000);  // the connection test succeeds: Up
    ASSERT_FALSE(server->isDialling());
    pollAfter(22000);
    EXPECT_EQ(dialer().hangUps, std::vector<DialHandle>{100});
    EXPECT_EQ(server->line(), LineStatus::Guard);
    EXPECT_EQ(server->getConnection(), 0u);
    pollAfter(1500);
    EXPECT_EQ(server->line(), LineStatus::Down);
    EXPECT_EQ(dialer().dials.size(), 1u);
}

TEST_F(ServerTest, TheLastVoteGoingAwayWhileDiallingHangsUpTheDial) {
    dialer().states[100] = LineState::QueryFailed;  // still dialling: not broken
    server->start();
    receive("vote:A");
    server->poll();
    receive("unvote:A");
    pollAfter(1000);
    EXPECT_EQ(dialer().hangUps, std::vector<DialHandle>{100});
    EXPECT_TRUE(server->isGuardHeld());
    EXPECT_EQ(serverSection()->getLong("GuardTime", 0), 3000);  // the default was stored
}

TEST_F(ServerTest, TheGuardTimeIsADeadlineThatHoldsTheDialOffWhilePollsGoOn) {
    serverSection()->getParameter("GuardTime")->setLong(10000);
    server->start();
    receive("vote:A");
    server->poll();
    pollAfter(1000);
    dialer().states[100] = LineState::Disconnected;
    receive("vote:A");
    pollAfter(1000);  // broken: hung up, the guard starts
    EXPECT_EQ(dialer().hangUps, std::vector<DialHandle>{100});
    for (uint32_t waited = 1000; waited < 10000; waited += 1000) {
        receive("vote:B");  // datagrams are still read
        pollAfter(1000);
        EXPECT_EQ(server->line(), LineStatus::Guard) << waited;
        if (waited == 5000) {
            server->stop();  // Disable and Enable do not shorten it
            server->start();
        }
    }
    EXPECT_EQ(hosts(), std::vector<std::string>{"B"});
    EXPECT_EQ(dialer().dials.size(), 1u);
    pollAfter(1000);  // the first poll at the deadline dials
    EXPECT_EQ(dialer().dials.size(), 2u);
    EXPECT_EQ(server->getConnection(), 101u);
    EXPECT_FALSE(server->isGuardHeld());
}

TEST_F(ServerTest, TheGuardTimeCountsFromTheEndOfAHangUpThatRunsInTheBackground) {
    serverSection()->getParameter("GuardTime")->setLong(2000);
    server->start();
    receive("vote:A");
    server->poll();
    pollAfter(1000);
    dialer().hangUpRunning = true;
    dialer().states[100] = LineState::Disconnected;
    receive("vote:A");
    pollAfter(1000);
    receive("vote:A");
    pollAfter(30000);  // the hang-up outlasts the guard time: still held
    EXPECT_TRUE(server->isGuardHeld());
    dialer().hangUpRunning = false;
    receive("vote:A");
    pollAfter(1000);  // the hang-up ended: 2 s from here
    receive("vote:A");
    pollAfter(1999);
    EXPECT_EQ(dialer().dials.size(), 1u);
    pollAfter(1);
    EXPECT_EQ(dialer().dials.size(), 2u);
}

TEST_F(ServerTest, TheLineIsDiallingUntilTheServiceSaysConnected) {
    server->start();
    receive("vote:A");
    dialer().states[100] = LineState::Pending;  // no answer yet: not broken
    server->poll();
    pollAfter(1000);
    EXPECT_EQ(server->line(), LineStatus::Dialling);
    EXPECT_TRUE(server->isDialling());
    dialer().states[100] = LineState::Dialling;
    pollAfter(1000);
    EXPECT_FALSE(server->isDialling());  // the controller counts it as connected
    EXPECT_EQ(server->line(), LineStatus::Dialling);
    EXPECT_EQ(server->secondsUp(), 0u);
    dialer().states[100] = LineState::Connected;
    pollAfter(1000);
    dialer().states[100] = LineState::Pending;  // a pending refresh keeps the answer
    receive("vote:A");
    pollAfter(2500);
    EXPECT_EQ(server->line(), LineStatus::Up);
    EXPECT_EQ(server->secondsUp(), 2u);
}

TEST_F(ServerTest, AutoReconnectCountsWholeMinutesFromTheDialRequest) {
    serverSection()->getParameter("AutoReconnectMinutes")->setLong(60);
    serverSection()->getParameter("GuardTime")->setLong(0);
    serverSection()->getParameter("AlwaysConnected")->setBool(true);
    server->start();
    server->poll();
    const uint32_t firstDial = server->getDialTime();
    clock.process += 60 * 60 * 1000 - 1;  // 59 whole minutes and change
    server->poll();
    EXPECT_EQ(dialer().dials.size(), 1u);
    clock.process += 1;
    server->poll();
    EXPECT_EQ(dialer().hangUps, std::vector<DialHandle>{100});
    EXPECT_EQ(dialer().dials.size(), 2u);
    EXPECT_NE(server->getDialTime(), firstDial);
}

TEST_F(ServerTest, AutoReconnectOfZeroHangsUpAndRedialsOnEveryStep) {
    serverSection()->getParameter("AutoReconnectMinutes")->setLong(0);
    serverSection()->getParameter("GuardTime")->setLong(0);
    server->start();
    receive("vote:A");
    server->poll();
    pollAfter(1000);  // Dialling -> Up: this step checks nothing else
    pollAfter(1000);  // hang-up and re-dial
    pollAfter(1000);  // Dialling -> Up
    pollAfter(1000);  // hang-up and re-dial
    EXPECT_EQ(dialer().dials.size(), 3u);
    EXPECT_EQ(dialer().hangUps.size(), 2u);
}

TEST_F(ServerTest, WithoutAutoReconnectALongConnectionIsKept) {
    server->start();
    for (int i = 0; i < 5; i++) {
        receive("vote:A");
        clock.process += 24 * 60 * 60 * 1000;
        pollAfter(1000);
    }
    EXPECT_EQ(dialer().dials.size(), 1u);
    EXPECT_FALSE(serverSection()->hasParameter("AutoReconnectMinutes"));
}

TEST_F(ServerTest, ADialThatKeepsBeingRefusedIsRetriedOncePerTick) {
    dialer().refuse = true;
    server->start();
    receive("vote:A");
    server->poll();
    pollAfter(1000);
    pollAfter(1000);
    EXPECT_EQ(dialer().dials.size(), 3u);
    EXPECT_FALSE(server->isDialling());
    EXPECT_EQ(server->getConnection(), 0u);
    EXPECT_FALSE(server->isGuardHeld());
}

// The lines of the log file at one level that contain the text.
int countLines(const std::string& log, const std::string& level, const std::string& text) {
    int count = 0;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find('\n', start);
        if (end == std::string::npos)
            end = log.size();
        const std::string line = log.substr(start, end - start);
        if (line.find(" " + level) != std::string::npos && line.find(text) != std::string::npos)
            count++;
        start = end + 1;
    }
    return count;
}

TEST_F(ServerTest, RepeatedRefusalsAreToldOncePerReasonThenSummedUpEveryTenMinutes) {
    testsupport::LogCapture debugLog;
    dialer().refuse = true;
    dialer().refusal = "no line";
    server->start();
    serverSection()->getParameter("AlwaysConnected")->setBool(true);
    for (int i = 0; i < 5; i++)
        pollAfter(1000);
    dialer().refusal = "still no line";
    for (int i = 0; i <= 600; i++)  // the change, then ten minutes
        pollAfter(1000);
    const std::string log = debugLog.text();

    EXPECT_EQ(countLines(log, "Warn", "refused the dial: no line"), 1);
    EXPECT_EQ(countLines(log, "Error", "says: no line"), 1);
    EXPECT_EQ(countLines(log, "Debug", "says: no line"), 4);
    EXPECT_EQ(countLines(log, "Warn", "refused the dial: still no line"), 1);
    EXPECT_EQ(countLines(log, "Warn", "refused 600 dials in the last 10 minutes: still no line"),
              1);
    EXPECT_EQ(countLines(log, "Warn", "Dialling failed"), 606);  // every one, as before
}

// A service that asks before it dials (NetworkManager) refuses by a failure
// report before any answer; that is told like a refusal at once. A dial that
// had answered "dialling" and failed later is not a refusal.
TEST_F(ServerTest, ARefusalReportedLaterIsToldLikeOneAtOnce) {
    testsupport::LogCapture debugLog;
    dialer().unknownState = LineState::Pending;
    server->start();
    serverSection()->getParameter("AlwaysConnected")->setBool(true);
    server->poll();
    for (int i = 0; i < 4; i++) {
        pollAfter(1000);  // the answer is still Pending
        dialer().reportFailure(server->getConnection(), "no profile called \"Modem\"");
        pollAfter(1000);  // applies it and dials again
    }
    dialer().unknownState = LineState::Dialling;
    pollAfter(1000);
    dialer().reportFailure(server->getConnection(), "the modem hung up");
    pollAfter(1000);
    const std::string log = debugLog.text();

    EXPECT_EQ(countLines(log, "Warn", "refused the dial: no profile called \"Modem\""), 1);
    EXPECT_EQ(countLines(log, "Debug", "refused the dial: no profile called \"Modem\""), 3);
    EXPECT_EQ(countLines(log, "", "the modem hung up"), 0);
    EXPECT_EQ(countLines(log, "Warn", "Dialling failed"), 5);
}

TEST_F(ServerTest, TheOptionalBackOffDoublesFromFiveSecondsToFiveMinutesAndResets) {
    serverSection()->getParameter("RetryBackoff")->setBool(true);
    dialer().refuse = true;
    server->start();
    std::vector<uint32_t> dialledAt;
    auto pollSeconds = [&](int seconds) {
        for (int i = 0; i < seconds; i++) {
            receive("vote:A");
            const std::size_t before = dialer().dials.size();
            pollAfter(1000);
            if (dialer().dials.size() > before)
                dialledAt.push_back(clock.tick / 1000);
        }
    };
    pollSeconds(1 + 5 + 10 + 20 + 40 + 80 + 160 + 300 + 300);
    std::vector<uint32_t> gaps;
    for (std::size_t i = 1; i < dialledAt.size(); i++)
        gaps.push_back(dialledAt[i] - dialledAt[i - 1]);
    EXPECT_EQ(gaps, (std::vector<uint32_t>{5, 10, 20, 40, 80, 160, 300, 300}));
    pollSeconds(1);
    EXPECT_EQ(server->retryWaitSeconds(), 299u);

    // An empty table resets it: the next vote dials at once.
    for (int i = 0; i < 23; i++)
        pollAfter(1000);
    EXPECT_EQ(server->retryWaitSeconds(), 0u);
    dialledAt.clear();
    pollSeconds(6);
    EXPECT_EQ(dialledAt.size(), 2u);  // at once, then 5 s later

    // So does a line that comes up.
    dialer().refuse = false;
    pollSeconds(12);  // the dial 10 s on, then the poll that sees it up
    ASSERT_NE(server->getConnection(), 0u);
    dialer().reportFailure(server->getConnection());
    dialledAt.clear();
    pollSeconds(6);
    EXPECT_EQ(dialledAt.size(), 1u);  // 5 s after the failure
    EXPECT_EQ(server->retryWaitSeconds(), 0u);
}

TEST_F(ServerTest, ARefusedDialThatLeftAHandleHangsItUp) {
    dialer().refuse = true;
    dialer().refuseWithHandle = true;
    server->start();
    receive("vote:A");
    server->poll();
    EXPECT_EQ(dialer().hangUps, std::vector<DialHandle>{100});
    EXPECT_EQ(server->getConnection(), 0u);
}

TEST_F(ServerTest, AFailureReportIsAppliedAtTheNextStepAndTheDialIsRetried) {
    server->start();
    receive("vote:A");
    server->poll();
    dialer().reportFailure(100);
    EXPECT_EQ(server->getConnection(), 100u);  // nothing changes until the next step
    dialer().states[100] = LineState::Disconnected;
    receive("vote:A");
    pollAfter(1000);
    EXPECT_EQ(dialer().hangUps, std::vector<DialHandle>{100});
    EXPECT_FALSE(server->isGuardHeld());  // no guard time after a failed dial
    EXPECT_EQ(server->getConnection(), 101u);
}

TEST_F(ServerTest, ALateFailureOfAnAlreadyReplacedConnectionLeavesTheNewDialAlone) {
    serverSection()->getParameter("GuardTime")->setLong(0);
    server->start();
    receive("vote:A");
    server->poll();
    pollAfter(1000);
    dialer().states[100] = LineState::Disconnected;
    receive("vote:A");
    pollAfter(1000);  // hang-up and re-dial in one poll
    ASSERT_EQ(server->getConnection(), 101u);
    dialer().reportFailure(100);
    receive("vote:A");
    pollAfter(1000);
    EXPECT_EQ(server->getConnection(), 101u);
    EXPECT_EQ(dialer().hangUps, std::vector<DialHandle>{100});
}

TEST_F(ServerTest, OverlongDialParametersAreRefusedNotCut) {
    serverSection()->getParameter("Password")->setString(std::string(257, 'p').c_str());
    server->start();
    receive("vote:A");
    server->poll();
    EXPECT_TRUE(dialer().dials.empty());
    EXPECT_FALSE(server->isDialling());

    serverSection()->getParameter("Password")->setString(std::string(256, 'p').c_str());
    receive("vote:A");
    pollAfter(1000);
    ASSERT_EQ(dialer().dials.size(), 1u);
    EXPECT_EQ(dialer().dials[0].password.size(), 256u);
}

TEST_F(ServerTest, ANegativeGuardTimeWaitsNothing) {
    serverSection()->getParameter("GuardTime")->setLong(-1);
    server->start();
    receive("vote:A");
    server->poll();
    pollAfter(1000);  // Up
    receive("unvote:A");
    pollAfter(1000);
    EXPECT_EQ(dialer().hangUps.size(), 1u);
    EXPECT_FALSE(server->isGuardHeld());
}

TEST_F(ServerTest, StopAndDestructionHangUpWithoutTheGuardTime) {
    server->start();
    receive("vote:A");
    server->poll();
    server->stop();
    EXPECT_EQ(dialer().hangUps, std::vector<DialHandle>{100});
    EXPECT_FALSE(server->isGuardHeld());
    server->start();
    receive("vote:B");
    server->poll();
    server.reset();
    EXPECT_EQ(dialer().hangUps, (std::vector<DialHandle>{100, 101}));
    dialer().reportFailure(101);  // after the server is gone: ignored, no crash
}

// Idle shutdown.

TEST_F(ServerTest, IdleShutdownIsRequestedOnceAfterTheConfiguredMinutes) {
    serverSection()->getParameter("ShutDownMinutes")->setLong(30);
    server->start();
    pollAfter(30 * 60 * 1000 - 1);
    EXPECT_TRUE(shutdown.messages.empty());
    pollAfter(1);
    ASSERT_EQ(shutdown.messages.size(), 1u);
    EXPECT_EQ(shutdown.messages[0], loadString(StringId::ShutdownMessage));
    EXPECT_EQ(shutdown.warnings[0], 60u);
    EXPECT_EQ(server->getLastVoteTime(), Server::kIdleClockDisarmed);
    pollAfter(60 * 60 * 1000);
    EXPECT_EQ(shutdown.messages.size(), 1u);

    receive("vote:A");  // re-arms: the full idle time must pass again
    pollAfter(1000);
    pollAfter(29 * 60 * 1000);
    EXPECT_EQ(shutdown.messages.size(), 1u);
    pollAfter(60 * 1000);
    EXPECT_EQ(shutdown.messages.size(), 2u);
}

TEST_F(ServerTest, IdleShutdownWithoutTheRightIsNotRetriedUntilTheNextVote) {
    serverSection()->getParameter("ShutDownMinutes")->setLong(1);
    shutdown.rightFails = true;
    server->start();
    pollAfter(60 * 1000);
    pollAfter(60 * 1000);
    EXPECT_EQ(shutdown.acquired, 1);
    EXPECT_TRUE(shutdown.messages.empty());
}

TEST_F(ServerTest, TheShutdownKeyIsStoredAsZeroAndZeroMeansNever) {
    server->start();
    pollAfter(100u * 24 * 60 * 60 * 1000 / 100);
    EXPECT_TRUE(serverSection()->hasParameter("ShutDownMinutes"));
    EXPECT_EQ(serverSection()->getLong("ShutDownMinutes", 99), 0);
    EXPECT_EQ(shutdown.acquired, 0);
}

TEST_F(ServerTest, IdleTimeCountsAcrossTheTickCountWrapAndWhileStopped) {
    clock.tick = 0xFFFFFF00u;
    server = std::make_unique<Server>(app, network, clock, dialers, shutdown);
    serverSection()->getParameter("ShutDownMinutes")->setLong(5);
    clock.advance(6 * 60 * 1000);  // wraps; the server was stopped all along
    server->start();
    server->poll();
    EXPECT_EQ(shutdown.messages.size(), 1u);
}

TEST_F(ServerTest, AClientThatKeepsVotingKeepsTheComputerUp) {
    serverSection()->getParameter("ShutDownMinutes")->setLong(2);
    server->start();
    for (int second = 0; second < 10 * 60; second++) {
        if (second % 10 == 0)
            receive("vote:A");
        pollAfter(1000);
    }
    EXPECT_EQ(shutdown.acquired, 0);
}

TEST_F(ServerTest, ALateReportOfAReplacedServiceSparesTheNewOneWithTheSameHandle) {
    struct TwoServices : DialServiceProvider {
        fakes::FakeDialService first{"first"};
        fakes::FakeDialService second{"second"};
        DialService& service(const std::string& name) override {
            return name == "second" ? second : first;
        }
    } services;
    serverSection()->getParameter("AlwaysConnected")->setBool(true);
    serverSection()->getParameter("GuardTime")->setLong(0);
    serverSection()->getParameter("Dialer")->setString("first");
    Server replaced(app, network, clock, services, shutdown);
    ASSERT_TRUE(replaced.start());
    replaced.poll();
    replaced.poll();  // the line is up
    ASSERT_EQ(replaced.getConnection(), 100u);
    ASSERT_EQ(replaced.line(), LineStatus::Up);

    // Dialer changes; the old line drops and the same step dials the new service.
    serverSection()->getParameter("Dialer")->setString("second");
    services.first.states[100] = LineState::Disconnected;
    replaced.poll();
    ASSERT_EQ(services.second.dials.size(), 1u);
    ASSERT_EQ(replaced.getConnection(), 100u);

    services.first.reportFailure(100);  // late, from the replaced service
    replaced.poll();
    EXPECT_EQ(replaced.getConnection(), 100u);
    EXPECT_TRUE(services.second.hangUps.empty());

    services.second.reportFailure(100);
    replaced.poll();
    EXPECT_EQ(services.second.hangUps, std::vector<DialHandle>{100});
}

}  // namespace
}  // namespace linkmoot
