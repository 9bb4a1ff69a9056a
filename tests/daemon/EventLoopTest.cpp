#include "EventLoop.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace linkmoot::daemon {
namespace {

TEST(NextTickDue, FollowsTheScheduleNotTheLateness) {
    // On time, or late by less than a period: the schedule stays on its grid.
    EXPECT_EQ(nextTickDue(1000, 1000, 1000), 2000);
    EXPECT_EQ(nextTickDue(1000, 1300, 1000), 2000);
    EXPECT_EQ(nextTickDue(1000, 1999, 1000), 2000);
    // Late by a whole period or more (a guard time blocked the loop): one tick
    // now, the next one a period after it, no burst of the missed ones.
    EXPECT_EQ(nextTickDue(1000, 2000, 1000), 3000);
    EXPECT_EQ(nextTickDue(1000, 4500, 1000), 5500);
}

// The loop with a clock the test moves; a pipe makes poll() return at once.
class EventLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(pipe2(wake, O_CLOEXEC | O_NONBLOCK), 0);
        loop.watch(wake[0], [this] {
            char byte;
            while (read(wake[0], &byte, 1) == 1)
                wakeUps++;
        });
    }
    void TearDown() override {
        close(wake[0]);
        close(wake[1]);
    }
    // Runs one round that cannot block: the wake pipe is readable.
    void runRound() {
        ASSERT_EQ(write(wake[1], "x", 1), 1);
        loop.runOnce();
    }

    int64_t now = 50000;
    EventLoop loop{[this] { return now; }};
    int wake[2] = {-1, -1};
    int wakeUps = 0;
    std::vector<int64_t> ticks;
};

TEST_F(EventLoopTest, TicksEverySecondOnTheGridWithoutDrift) {
    loop.startTicks([this] { ticks.push_back(now); });
    EXPECT_EQ(loop.nextTickDue(), 51000);
    runRound();
    EXPECT_TRUE(ticks.empty());  // not due yet: only the descriptor was served
    EXPECT_EQ(wakeUps, 1);

    now = 51250;  // delivered a little late
    runRound();
    now = 52010;
    runRound();
    EXPECT_EQ(ticks, (std::vector<int64_t>{51250, 52010}));
    EXPECT_EQ(loop.nextTickDue(), 53000);  // still on the grid
}

TEST_F(EventLoopTest, ALateTickRunsOnceAndTheNextFollowsOneSecondAfterIt) {
    loop.startTicks([this] { ticks.push_back(now); });
    now = 54700;  // four ticks missed while something blocked
    runRound();
    runRound();
    runRound();
    EXPECT_EQ(ticks, (std::vector<int64_t>{54700}));
    EXPECT_EQ(loop.nextTickDue(), 55700);
    now = 55700;
    runRound();
    EXPECT_EQ(ticks.size(), 2u);
}

TEST_F(EventLoopTest, NestedRoundsFromATickKeepTickingWithoutRecursingIntoTheSameTick) {
    int depth = 0;
    int deepest = 0;
    loop.startTicks([&] {
        ticks.push_back(now);
        depth++;
        deepest = std::max(deepest, depth);
        if (depth == 1) {
            // A prompt waiting inside a tick: the inner rounds deliver later ticks.
            now += 1000;
            runRound();
            now += 1000;
            runRound();
        }
        depth--;
    });
    now = 51000;
    runRound();
    EXPECT_EQ(ticks, (std::vector<int64_t>{51000, 52000, 53000}));
    EXPECT_EQ(deepest, 2);
    EXPECT_EQ(loop.nextTickDue(), 54000);
}

TEST_F(EventLoopTest, AHandlerMayUnwatchAnotherDescriptorThatIsReadyInTheSameRound) {
    int other[2];
    ASSERT_EQ(pipe2(other, O_CLOEXEC | O_NONBLOCK), 0);
    int otherCalls = 0;
    loop.watch(wake[0], [&] {
        char byte;
        while (read(wake[0], &byte, 1) == 1)
            wakeUps++;
        loop.unwatch(other[0]);
    });
    loop.watch(other[0], [&] { otherCalls++; });
    ASSERT_EQ(write(other[1], "y", 1), 1);
    runRound();
    EXPECT_EQ(wakeUps, 1);
    EXPECT_EQ(otherCalls, 0);
    close(other[0]);
    close(other[1]);
}

// The web page's connection time-outs and deferred work ride on these.
TEST_F(EventLoopTest, TimersRunOnceAtTheirDeadlineAndACancelledOneNever) {
    std::vector<std::string> ran;
    loop.startTimer(0, [&] { ran.push_back("now"); });  // no ticks: poll() must not block
    const Loop::TimerId later = loop.startTimer(500, [&] { ran.push_back("later"); });
    const Loop::TimerId cancelled = loop.startTimer(200, [&] { ran.push_back("cancelled"); });
    loop.runOnce();
    EXPECT_EQ(ran, std::vector<std::string>{"now"});
    loop.cancelTimer(cancelled);
    now += 499;
    runRound();  // the pipe ends this wait, before the deadline
    EXPECT_EQ(ran.size(), 1u);
    now += 1;
    loop.runOnce();
    EXPECT_EQ(ran, (std::vector<std::string>{"now", "later"}));
    loop.cancelTimer(later);  // ran already: nothing happens
    // A timer's handler may start the next one.
    loop.startTimer(0, [&] { loop.startTimer(0, [&] { ran.push_back("chained"); }); });
    loop.runOnce();
    loop.runOnce();
    EXPECT_EQ(ran.back(), "chained");
}

TEST_F(EventLoopTest, StopEndsRunAndLaterRoundsDoNothing) {
    loop.startTicks([this] {
        ticks.push_back(now);
        loop.stop();
    });
    now = 51000;
    loop.run();  // returns after the tick that stopped it
    EXPECT_TRUE(loop.isStopped());
    now = 60000;
    runRound();
    EXPECT_EQ(ticks.size(), 1u);
    EXPECT_EQ(wakeUps, 0);
}

// The prompts watch standard input, which may be a file or /dev/null; and a
// descriptor closed without unwatching may come back as another file.
TEST_F(EventLoopTest, FilesEpollRefusesAreAlwaysReadyAndAReusedNumberIsWatchedAfresh) {
    const int nullInput = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(nullInput, 0);
    int nullCalls = 0;
    loop.watch(nullInput, [&] { nullCalls++; });
    loop.runOnce();  // must not block: nothing else is ready
    loop.runOnce();
    EXPECT_EQ(nullCalls, 2);
    loop.unwatch(nullInput);
    close(nullInput);

    int first[2];
    ASSERT_EQ(pipe2(first, O_CLOEXEC | O_NONBLOCK), 0);
    int reading = first[0];
    loop.watch(reading, [] {});
    close(first[0]);
    close(first[1]);
    int second[2];
    ASSERT_EQ(pipe2(second, O_CLOEXEC | O_NONBLOCK), 0);
    ASSERT_EQ(second[0], reading);  // the lowest free numbers come back
    int secondCalls = 0;
    loop.watch(second[0], [&] {
        char byte;
        while (read(second[0], &byte, 1) == 1)
            secondCalls++;
    });
    ASSERT_EQ(write(second[1], "z", 1), 1);
    runRound();
    EXPECT_EQ(secondCalls, 1);
    close(second[0]);
    close(second[1]);
}

}  // namespace
}  // namespace linkmoot::daemon
