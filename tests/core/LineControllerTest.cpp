#include "LineController.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogCapture.h"
#include "VoteTable.h"
#include "fakes/Fakes.h"

namespace linkmoot {
namespace {

using fakes::FakeApplication;
using fakes::FakeClock;
using fakes::FakeDialServices;

class LineControllerTest : public ::testing::Test {
protected:
    void SetUp() override { serverSection()->getParameter("Connection")->setString("Modem"); }

    toolbox::ConfigSection* serverSection() { return app.getConfigRoot()->getSection("Server"); }
    fakes::FakeDialService& dialer() { return dialers.dialer; }
    void vote() { votes.vote("A", clock.tick, 0xC0A80114, 0xC0A80101); }
    void stepAfter(uint32_t milliseconds) {
        clock.advance(milliseconds);
        line.step(votes);
    }
    /// The seconds (of the fake clock) at which each dial was made, over `seconds` steps.
    std::vector<uint32_t> dialTimes(int seconds, const std::function<void()>& eachStep = {}) {
        std::vector<uint32_t> times;
        for (int i = 0; i < seconds; i++) {
            const std::size_t before = dialer().dials.size();
            stepAfter(1000);
            if (dialer().dials.size() > before)
                times.push_back(clock.tick / 1000);
            if (eachStep)
                eachStep();
        }
        return times;
    }
    static std::vector<uint32_t> gaps(const std::vector<uint32_t>& times) {
        std::vector<uint32_t> result;
        for (std::size_t i = 1; i < times.size(); i++)
            result.push_back(times[i] - times[i - 1]);
        return result;
    }

    FakeApplication app;
    FakeClock clock;
    FakeDialServices dialers;
    VoteTable votes;
    LineController line{app, clock, dialers};
};

TEST_F(LineControllerTest, TheFirstVoteDialsInTheSameStepWithTheConfiguredParameters) {
    serverSection()->getParameter("UserName")->setString("me");
    serverSection()->getParameter("Password")->setString("secret");
    line.step(votes);
    EXPECT_TRUE(dialer().dials.empty());
    vote();
    line.step(votes);
    ASSERT_EQ(dialer().dials.size(), 1u);
    EXPECT_EQ(dialer().dials[0].entry, "Modem");
    EXPECT_EQ(dialer().dials[0].userName, "me");
    EXPECT_EQ(dialer().dials[0].password, "secret");
    // The address the vote reached: the service keeps the LAN's link up.
    EXPECT_EQ(dialer().dials[0].lanAddresses, std::vector<uint32_t>{0xC0A80101});
    EXPECT_TRUE(line.isDialling());
    EXPECT_EQ(line.dialTime(), clock.process);
    EXPECT_EQ(dialers.asked.back(), "auto");  // Dialer missing: read as "auto", stored
    EXPECT_STREQ(serverSection()->getString("Dialer", "x"), "auto");
}

TEST_F(LineControllerTest, AlwaysConnectedDialsWithoutVotesAndStaysUp) {
    serverSection()->getParameter("AlwaysConnected")->setBool(true);
    line.step(votes);
    EXPECT_EQ(dialer().dials.size(), 1u);
    line.step(votes);
    EXPECT_FALSE(line.isDialling());
    EXPECT_TRUE(line.isConnected());
    for (int i = 0; i < 5; i++)
        stepAfter(1000);
    EXPECT_EQ(dialer().dials.size(), 1u);
    EXPECT_TRUE(dialer().hangUps.empty());
}

TEST_F(LineControllerTest, TheLastVoteGoingWhileUpHangsUpWithTheGuardTimeAndDoesNotRedial) {
    serverSection()->getParameter("GuardTime")->setLong(1500);
    vote();
    line.step(votes);
    stepAfter(1000);  // the connection test succeeds: Up
    ASSERT_FALSE(line.isDialling());
    votes.clear();
    stepAfter(1000);
    EXPECT_EQ(dialer().hangUps, std::vector<DialHandle>{100});
    EXPECT_EQ(line.status(), LineStatus::Guard);
    EXPECT_EQ(line.connection(), 0u);
    stepAfter(1500);
    EXPECT_EQ(line.status(), LineStatus::Down);
    EXPECT_EQ(dialer().dials.size(), 1u);
}

TEST_F(LineControllerTest, TheLastVoteGoingAwayWhileDiallingHangsUpTheDial) {
    dialer().states[100] = LineState::QueryFailed;  // still dialling: not broken
    vote();
    line.step(votes);
    votes.clear();
    stepAfter(1000);
    EXPECT_EQ(dialer().hangUps, std::vector<DialHandle>{100});
    EXPECT_TRUE(line.isGuardHeld());
    EXPECT_EQ(serverSection()->getLong("GuardTime", 0), 3000);  // the default was stored
}

TEST_F(LineControllerTest, TheGuardTimeIsADeadlineThatHoldsTheDialOffAcrossAStop) {
    serverSection()->getParameter("GuardTime")->setLong(10000);
    vote();
    line.step(votes);
    stepAfter(1000);
    dialer().states[100] = LineState::Disconnected;
    stepAfter(1000);  // broken: hung up, the guard starts
    EXPECT_EQ(dialer().hangUps, std::vector<DialHandle>{100});
    for (uint32_t waited = 1000; waited < 10000; waited += 1000) {
        stepAfter(1000);
        EXPECT_EQ(line.status(), LineStatus::Guard) << waited;
        if (waited == 5000)
            line.stop();  // Disable and Enable do not shorten it
    }
    EXPECT_EQ(dialer().dials.size(), 1u);
    stepAfter(1000);  // the first step at the deadline dials
    EXPECT_EQ(dialer().dials.size(), 2u);
    EXPECT_EQ(line.connection(), 101u);
    EXPECT_FALSE(line.isGuardHeld());
}

TEST_F(LineControllerTest, TheGuardTimeCountsFromTheEndOfAHangUpThatRunsInTheBackground) {
    serverSection()->getParameter("GuardTime")->setLong(2000);
    vote();
    line.step(votes);
    stepAfter(1000);
    dialer().hangUpRunning = true;
    dialer().states[100] = LineState::Disconnected;
    stepAfter(1000);
    stepAfter(30000);  // the hang-up outlasts the guard time: still held
    EXPECT_TRUE(line.isGuardHeld());
    dialer().hangUpRunning = false;
    stepAfter(1000);  // the hang-up ended: 2 s from here
    stepAfter(1999);
    EXPECT_EQ(dialer().dials.size(), 1u);
    stepAfter(1);
    EXPECT_EQ(dialer().dials.size(), 2u);
}

TEST_F(LineControllerTest, TheLineIsDiallingUntilTheServiceSaysConnected) {
    vote();
    dialer().states[100] = LineState::Pending;  // no answer yet: not broken
    line.step(votes);
    stepAfter(1000);
    EXPECT_EQ(line.status(), LineStatus::Dialling);
    EXPECT_TRUE(line.isDialling());
    dialer().states[100] = LineState::Dialling;
    stepAfter(1000);
    EXPECT_TRUE(line.isDialling());  // established only once it is up
    EXPECT_EQ(line.status(), LineStatus::Dialling);
    EXPECT_EQ(line.secondsUp(), 0u);
    testsupport::LogCapture log;
    dialer().states[100] = LineState::Connected;
    stepAfter(1000);
    EXPECT_FALSE(line.isDialling());
    EXPECT_EQ(log.count("Debug", "Connection established"), 1u);
    dialer().states[100] = LineState::Pending;  // a pending refresh keeps the answer
    stepAfter(2500);
    EXPECT_EQ(line.status(), LineStatus::Up);
    EXPECT_EQ(line.secondsUp(), 2u);
    dialer().states[100] = LineState::Dialling;  // the service redials on its own
    stepAfter(1000);
    EXPECT_EQ(line.status(), LineStatus::Dialling);
    EXPECT_EQ(line.secondsUp(), 0u);
}

TEST_F(LineControllerTest, AutoReconnectCountsWholeMinutesFromTheDialRequest) {
    serverSection()->getParameter("AutoReconnectMinutes")->setLong(60);
    serverSection()->getParameter("GuardTime")->setLong(0);
    serverSection()->getParameter("AlwaysConnected")->setBool(true);
    line.step(votes);
    const uint32_t firstDial = line.dialTime();
    clock.process += 60 * 60 * 1000 - 1;  // 59 whole minutes and change
    line.step(votes);
    EXPECT_EQ(dialer().dials.size(), 1u);
    clock.process += 1;
    line.step(votes);
    EXPECT_EQ(dialer().hangUps, std::vector<DialHandle>{100});
    EXPECT_EQ(dialer().dials.size(), 2u);
    EXPECT_NE(line.dialTime(), firstDial);
}

TEST_F(LineControllerTest, AutoReconnectOfZeroHangsUpAndRedialsOnEveryStep) {
    serverSection()->getParameter("AutoReconnectMinutes")->setLong(0);
    serverSection()->getParameter("GuardTime")->setLong(0);
    vote();
    line.step(votes);
    stepAfter(1000);  // Dialling -> Up: this step checks nothing else
    stepAfter(1000);  // hang-up and re-dial
    stepAfter(1000);  // Dialling -> Up
    stepAfter(1000);  // hang-up and re-dial
    EXPECT_EQ(dialer().dials.size(), 3u);
    EXPECT_EQ(dialer().hangUps.size(), 2u);
}

TEST_F(LineControllerTest, WithoutAutoReconnectALongConnectionIsKept) {
    vote();
    for (int i = 0; i < 5; i++) {
        clock.process += 24 * 60 * 60 * 1000;
        stepAfter(1000);
    }
    EXPECT_EQ(dialer().dials.size(), 1u);
    EXPECT_FALSE(serverSection()->hasParameter("AutoReconnectMinutes"));
}

TEST_F(LineControllerTest, ADialThatKeepsBeingRefusedIsRetriedOncePerStepWithoutBackOff) {
    dialer().refuse = true;
    vote();
    line.step(votes);
    stepAfter(1000);
    stepAfter(1000);
    EXPECT_EQ(dialer().dials.size(), 3u);
    EXPECT_EQ(line.status(), LineStatus::Failed);
    EXPECT_EQ(line.connection(), 0u);
    EXPECT_FALSE(line.isGuardHeld());
}

TEST_F(LineControllerTest, RepeatedRefusalsAreToldOncePerReasonThenSummedUpEveryTenMinutes) {
    testsupport::LogCapture log;
    dialer().refuse = true;
    dialer().refusal = "no line";
    serverSection()->getParameter("AlwaysConnected")->setBool(true);
    for (int i = 0; i < 5; i++)
        stepAfter(1000);
    dialer().refusal = "still no line";
    for (int i = 0; i <= 600; i++)  // the change, then ten minutes
        stepAfter(1000);

    EXPECT_EQ(log.count("Warn", "refused the dial: no line"), 1u);
    EXPECT_EQ(log.count("Error", "says: no line"), 1u);
    EXPECT_EQ(log.count("Debug", "says: no line"), 4u);
    EXPECT_EQ(log.count("Warn", "refused the dial: still no line"), 1u);
    EXPECT_EQ(log.count("Warn", "refused 600 dials in the last 10 minutes: still no line"), 1u);
    EXPECT_EQ(log.count("Warn", "Dialling failed"), 606u);  // every one, as before
}

// A service that asks before it dials (NetworkManager) refuses by a failure
// report before any answer; that is told like a refusal at once. A dial that
// had answered "dialling" and failed later is not a refusal.
TEST_F(LineControllerTest, ARefusalReportedLaterIsToldLikeOneAtOnce) {
    testsupport::LogCapture log;
    dialer().unknownState = LineState::Pending;
    serverSection()->getParameter("AlwaysConnected")->setBool(true);
    line.step(votes);
    for (int i = 0; i < 4; i++) {
        stepAfter(1000);  // the answer is still Pending
        dialer().reportFailure(line.connection(), "no profile called \"Modem\"");
        stepAfter(1000);  // applies it and dials again
    }
    dialer().unknownState = LineState::Dialling;
    stepAfter(1000);
    dialer().reportFailure(line.connection(), "the modem hung up");
    stepAfter(1000);

    EXPECT_EQ(log.count("Warn", "refused the dial: no profile called \"Modem\""), 1u);
    EXPECT_EQ(log.count("Debug", "refused the dial: no profile called \"Modem\""), 3u);
    EXPECT_EQ(log.count("", "the modem hung up"), 0u);
    EXPECT_EQ(log.count("Warn", "Dialling failed"), 5u);
}

TEST_F(LineControllerTest, TheOptionalBackOffDoublesFromFiveSecondsToFiveMinutesAndResets) {
    serverSection()->getParameter("RetryBackoff")->setBool(true);
    dialer().refuse = true;
    vote();
    std::vector<uint32_t> times = dialTimes(1 + 5 + 10 + 20 + 40 + 80 + 160 + 300 + 300);
    EXPECT_EQ(gaps(times), (std::vector<uint32_t>{5, 10, 20, 40, 80, 160, 300, 300}));
    stepAfter(1000);
    EXPECT_EQ(line.retryWaitSeconds(), 299u);

    // An empty table resets it: the next vote dials at once.
    votes.clear();
    stepAfter(1000);
    EXPECT_EQ(line.retryWaitSeconds(), 0u);
    vote();
    EXPECT_EQ(dialTimes(6).size(), 2u);  // at once, then 5 s later

    // So does a line that comes up.
    dialer().refuse = false;
    dialTimes(12);  // the dial 10 s on, then the step that sees it up
    ASSERT_EQ(line.status(), LineStatus::Up);
    dialer().reportFailure(line.connection());
    EXPECT_EQ(dialTimes(6).size(), 1u);  // 5 s after the failure
    EXPECT_EQ(line.retryWaitSeconds(), 0u);
}

// The service takes each dial ("dialling") and then loses it, by a report or by
// answering "disconnected": each is a failed dial, so the wait still doubles.
TEST_F(LineControllerTest, TheBackOffDoublesAlsoForDialsTheServiceTookAndThenLost) {
    serverSection()->getParameter("RetryBackoff")->setBool(true);
    dialer().unknownState = LineState::Dialling;
    vote();
    int lost = 0;
    std::size_t dials = 0;
    uint32_t dialledAt = 0;
    const std::vector<uint32_t> times = dialTimes(45, [&] {
        if (dialer().dials.size() != dials) {
            dials = dialer().dials.size();
            dialledAt = clock.tick / 1000;
            return;
        }
        // One step after a dial the service has said "dialling" once.
        const DialHandle handle = line.connection();
        if (handle == 0 || clock.tick / 1000 != dialledAt + 1)
            return;
        if (lost++ % 2 == 0)
            dialer().states[handle] = LineState::Disconnected;
        else
            dialer().reportFailure(handle);
    });
    EXPECT_EQ(gaps(times), (std::vector<uint32_t>{5 + 2, 10 + 2, 20 + 2}));
    EXPECT_EQ(line.status(), LineStatus::Failed);
}

TEST_F(LineControllerTest, ARefusedDialThatLeftAHandleHangsItUp) {
    dialer().refuse = true;
    dialer().refuseWithHandle = true;
    vote();
    line.step(votes);
    EXPECT_EQ(dialer().hangUps, std::vector<DialHandle>{100});
    EXPECT_EQ(line.connection(), 0u);
}

TEST_F(LineControllerTest, AFailureReportIsAppliedAtTheNextStepAndTheDialIsRetried) {
    vote();
    line.step(votes);
    dialer().reportFailure(100);
    EXPECT_EQ(line.connection(), 100u);  // nothing changes until the next step
    dialer().states[100] = LineState::Disconnected;
    stepAfter(1000);
    EXPECT_EQ(dialer().hangUps, std::vector<DialHandle>{100});
    EXPECT_FALSE(line.isGuardHeld());  // no guard time after a failed dial
    EXPECT_EQ(line.connection(), 101u);
}

TEST_F(LineControllerTest, ALateFailureOfAnAlreadyReplacedConnectionLeavesTheNewDialAlone) {
    serverSection()->getParameter("GuardTime")->setLong(0);
    vote();
    line.step(votes);
    stepAfter(1000);
    dialer().states[100] = LineState::Disconnected;
    stepAfter(1000);  // hang-up and re-dial in one step
    ASSERT_EQ(line.connection(), 101u);
    dialer().reportFailure(100);
    stepAfter(1000);
    EXPECT_EQ(line.connection(), 101u);
    EXPECT_EQ(dialer().hangUps, std::vector<DialHandle>{100});
}

TEST_F(LineControllerTest, ALateReportOfAReplacedServiceSparesTheNewOneWithTheSameHandle) {
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
    LineController replaced(app, clock, services);
    replaced.step(votes);
    replaced.step(votes);  // the line is up
    ASSERT_EQ(replaced.connection(), 100u);
    ASSERT_EQ(replaced.status(), LineStatus::Up);

    // Dialer changes; the old line drops and the same step dials the new service.
    serverSection()->getParameter("Dialer")->setString("second");
    services.first.states[100] = LineState::Disconnected;
    replaced.step(votes);
    ASSERT_EQ(services.second.dials.size(), 1u);
    ASSERT_EQ(replaced.connection(), 100u);

    services.first.reportFailure(100);  // late, from the replaced service
    replaced.step(votes);
    EXPECT_EQ(replaced.connection(), 100u);
    EXPECT_TRUE(services.second.hangUps.empty());

    services.second.reportFailure(100);
    replaced.step(votes);
    EXPECT_EQ(services.second.hangUps, std::vector<DialHandle>{100});
    replaced.stop();
}

TEST_F(LineControllerTest, OverlongDialParametersAreRefusedNotCut) {
    serverSection()->getParameter("Password")->setString(std::string(257, 'p').c_str());
    vote();
    line.step(votes);
    EXPECT_TRUE(dialer().dials.empty());
    EXPECT_EQ(line.status(), LineStatus::Failed);

    serverSection()->getParameter("Password")->setString(std::string(256, 'p').c_str());
    stepAfter(1000);
    ASSERT_EQ(dialer().dials.size(), 1u);
    EXPECT_EQ(dialer().dials[0].password.size(), 256u);
}

TEST_F(LineControllerTest, ANegativeGuardTimeWaitsNothing) {
    serverSection()->getParameter("GuardTime")->setLong(-1);
    vote();
    line.step(votes);
    stepAfter(1000);  // Up
    votes.clear();
    stepAfter(1000);
    EXPECT_EQ(dialer().hangUps.size(), 1u);
    EXPECT_FALSE(line.isGuardHeld());
}

TEST_F(LineControllerTest, StopHangsUpWithoutTheGuardTimeAndLaterReportsAreDropped) {
    vote();
    line.step(votes);
    line.stop();
    EXPECT_EQ(dialer().hangUps, std::vector<DialHandle>{100});
    EXPECT_FALSE(line.isGuardHeld());
    EXPECT_EQ(line.status(), LineStatus::Down);
    {
        LineController gone(app, clock, dialers);
        gone.step(votes);
        gone.stop();
    }
    dialer().reportFailure(101);  // after the controller is gone: ignored, no crash
    EXPECT_EQ(dialer().hangUps, (std::vector<DialHandle>{100, 101}));
}

}  // namespace
}  // namespace linkmoot
