#include "IdleShutdown.h"

#include <gtest/gtest.h>

#include "LogCapture.h"
#include "Strings.h"
#include "fakes/Fakes.h"

namespace linkmoot {
namespace {

class IdleShutdownTest : public ::testing::Test {
protected:
    toolbox::ConfigSection* serverSection() { return app.getConfigRoot()->getSection("Server"); }
    void checkAfter(uint32_t milliseconds) {
        clock.advance(milliseconds);
        idle->check();
    }
    void rebuild() { idle = std::make_unique<IdleShutdown>(app, clock, shutdown); }

    fakes::FakeApplication app;
    fakes::FakeClock clock;
    fakes::FakeShutdown shutdown;
    std::unique_ptr<IdleShutdown> idle = std::make_unique<IdleShutdown>(app, clock, shutdown);
};

TEST_F(IdleShutdownTest, IsRequestedOnceAfterTheConfiguredMinutesAndAgainOnlyAfterAVote) {
    serverSection()->getParameter("ShutDownMinutes")->setLong(30);
    checkAfter(30 * 60 * 1000 - 1);
    EXPECT_TRUE(shutdown.messages.empty());
    checkAfter(1);
    ASSERT_EQ(shutdown.messages.size(), 1u);
    EXPECT_EQ(shutdown.messages[0], loadString(StringId::ShutdownMessage));
    EXPECT_EQ(shutdown.warnings[0], 60u);
    EXPECT_EQ(idle->lastVoteTime(), IdleShutdown::kDisarmed);
    checkAfter(60 * 60 * 1000);
    EXPECT_EQ(shutdown.messages.size(), 1u);

    idle->rearm();  // a vote: the full idle time must pass again
    checkAfter(29 * 60 * 1000);
    EXPECT_EQ(shutdown.messages.size(), 1u);
    checkAfter(60 * 1000);
    EXPECT_EQ(shutdown.messages.size(), 2u);
}

TEST_F(IdleShutdownTest, WithoutTheRightItIsNotRetriedUntilTheNextVote) {
    testsupport::LogCapture log;
    serverSection()->getParameter("ShutDownMinutes")->setLong(1);
    shutdown.rightFails = true;
    checkAfter(60 * 1000);
    checkAfter(60 * 1000);
    EXPECT_EQ(shutdown.acquired, 1);
    EXPECT_TRUE(shutdown.messages.empty());
    EXPECT_EQ(log.count("Error", "Cannot exit windows: Cannot set privileges"), 1u);
}

TEST_F(IdleShutdownTest, TheKeyIsStoredAsZeroAndZeroMeansNever) {
    checkAfter(24u * 60 * 60 * 1000);
    EXPECT_TRUE(serverSection()->hasParameter("ShutDownMinutes"));
    EXPECT_EQ(serverSection()->getLong("ShutDownMinutes", 99), 0);
    EXPECT_EQ(shutdown.acquired, 0);
}

TEST_F(IdleShutdownTest, TheIdleTimeCountsAcrossTheTickCountWrap) {
    clock.tick = 0xFFFFFF00u;
    rebuild();
    serverSection()->getParameter("ShutDownMinutes")->setLong(5);
    checkAfter(6 * 60 * 1000);  // wraps
    EXPECT_EQ(shutdown.messages.size(), 1u);

    clock.tick = IdleShutdown::kDisarmed;  // a real reading never disarms it
    rebuild();
    EXPECT_NE(idle->lastVoteTime(), IdleShutdown::kDisarmed);
}

}  // namespace
}  // namespace linkmoot
