// The server as a whole: its start and stop, and the order in which one poll
// runs its parts (each part has tests of its own).
#include "Server.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    EXPECT_EQ(server->startCount(), 1u);
    EXPECT_EQ(network.boundPorts, std::vector<uint16_t>{9005});
    EXPECT_EQ(network.socketsOpen, 1);
    // "auto" may look for its service now rather than at the first dial.
    EXPECT_EQ(dialers.prepared, std::vector<std::string>{"auto"});

    receive("vote:A");
    server->poll();
    server->stop();
    EXPECT_FALSE(server->isStarted());
    EXPECT_TRUE(server->getVotes().empty());
    EXPECT_EQ(network.socketsOpen, 0);
    EXPECT_EQ(dialer().hangUps, std::vector<DialHandle>{100});  // no guard time on a stop
    EXPECT_FALSE(server->lineController().isGuardHeld());
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

TEST_F(ServerTest, AStoppedServerReadsNothing) {
    network.openFails = true;
    EXPECT_FALSE(server->start());
    receive("vote:A");
    EXPECT_FALSE(server->poll());
    EXPECT_EQ(network.inbound.size(), 1u);
    EXPECT_TRUE(dialer().dials.empty());
}

// The first vote dials in the poll that reads it, and its answer goes after
// the controller step, so it already says "dialling"; later answers tell the
// seconds up.
TEST_F(ServerTest, OnePollReadsDialsAndThenAnswers) {
    server->start();
    receive("vote:A");
    EXPECT_TRUE(server->poll());
    ASSERT_EQ(dialer().dials.size(), 1u);
    ASSERT_EQ(network.sentTo.size(), 1u);
    EXPECT_EQ(network.sentTo[0].payload, "state:v=2,line=dialling,votes=1,you=1,up=0,host=WS01");
    EXPECT_FALSE(server->poll());               // nothing read, nothing timed out: no refresh
    ASSERT_EQ(server->line(), LineStatus::Up);  // up since this poll

    clock.advance(12000);
    receive("query:A");
    server->poll();
    EXPECT_EQ(network.sentTo.back().payload, "state:v=2,line=up,votes=1,you=1,up=12,host=WS01");
}

TEST_F(ServerTest, TheLastVoteTimingOutWhileUpHangsUpWithTheGuardTime) {
    serverSection()->getParameter("GuardTime")->setLong(1500);
    server->start();
    receive("vote:A");
    server->poll();
    pollAfter(1000);
    ASSERT_EQ(server->line(), LineStatus::Up);
    pollAfter(21000);
    EXPECT_EQ(server->line(), LineStatus::Up);  // exactly 22 s old: still held
    pollAfter(1);
    EXPECT_TRUE(server->getVotes().empty());
    EXPECT_EQ(server->line(), LineStatus::Guard);
    pollAfter(1500);
    EXPECT_EQ(server->line(), LineStatus::Down);
    EXPECT_EQ(dialer().dials.size(), 1u);
}

TEST_F(ServerTest, AWebVoteDialsAndEndsAtItsOwnTime) {
    EXPECT_FALSE(server->webVote("web:anna", 2));  // a stopped server takes none
    server->start();
    ASSERT_TRUE(server->webVote("web:anna", 2));
    pollAfter(30000);  // past the 22 s of a datagram vote
    EXPECT_EQ(server->getVotes().size(), 1u);
    EXPECT_EQ(dialer().dials.size(), 1u);
    pollAfter(89999);  // the line is up
    EXPECT_EQ(server->getVotes().size(), 1u);
    pollAfter(1);
    EXPECT_TRUE(server->getVotes().empty());
    EXPECT_EQ(dialer().hangUps.size(), 1u);
    EXPECT_FALSE(server->webUnvote("web:anna"));
}

// Datagram votes and held web votes keep the computer up; the idle time goes
// on while the server is stopped.
TEST_F(ServerTest, VotesKeepTheComputerUpAndTheIdleClockRunsWhileStopped) {
    serverSection()->getParameter("ShutDownMinutes")->setLong(2);
    server->start();
    for (int second = 0; second < 10 * 60; second++) {
        if (second % 10 == 0)
            receive("vote:A");
        pollAfter(1000);
    }
    ASSERT_TRUE(server->webVote("web:anna", 10));
    for (int second = 0; second < 11 * 60; second++)
        pollAfter(1000);
    EXPECT_EQ(shutdown.acquired, 0);  // the web vote ended a minute ago

    server->stop();
    clock.advance(5 * 60 * 1000);
    server->start();
    server->poll();
    EXPECT_EQ(shutdown.acquired, 1);
}

TEST_F(ServerTest, DestructionHangsUpAndALateReportIsDropped) {
    server->start();
    receive("vote:B");
    server->poll();
    server.reset();
    EXPECT_EQ(dialer().hangUps, std::vector<DialHandle>{100});
    dialer().reportFailure(100);  // after the server is gone: ignored, no crash
}

}  // namespace
}  // namespace linkmoot
