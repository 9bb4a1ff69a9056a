// The dial service reports failures from a thread of its own while the
// user-interface thread polls. These tests also run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Server.h"
#include "fakes/Fakes.h"

namespace linkmoot {
namespace {

using namespace fakes;

TEST(ServerHandOverTest, FailureReportsFromAnotherThreadDoNotRaceWithPolls) {
    FakeApplication app;
    app.getConfigRoot()->getParameter("Port")->setString("9005");
    app.getConfigRoot()->getSection("Server")->getParameter("GuardTime")->setLong(0);
    app.getConfigRoot()->getSection("Server")->getParameter("AlwaysConnected")->setBool(true);
    FakeNetwork network;
    FakeClock clock;
    FakeDialServices dialers;
    FakeShutdown shutdown;
    Server server(app, network, clock, dialers, shutdown);
    server.start();
    server.poll();  // the first dial sets the callback

    std::atomic<bool> done{false};
    DialService::FailureCallback report = dialers.dialer.failure;
    std::thread reporter([&] {
        for (DialHandle handle = 100; handle < 400 && !done; handle++)
            report(handle, "busy");
    });
    for (int i = 0; i < 300; i++) {
        server.poll();
        clock.advance(1000);
    }
    done = true;
    reporter.join();
    server.poll();
    // Every applied report led to a re-dial; the server still holds one live dial.
    EXPECT_NE(server.lineController().connection(), 0u);
    EXPECT_EQ(dialers.dialer.dials.size(), dialers.dialer.hangUps.size() + 1);
}

TEST(ServerHandOverTest, ReportsAfterTheServerIsGoneAreDropped) {
    FakeApplication app;
    app.getConfigRoot()->getSection("Server")->getParameter("AlwaysConnected")->setBool(true);
    FakeNetwork network;
    FakeClock clock;
    FakeDialServices dialers;
    FakeShutdown shutdown;
    DialService::FailureCallback report;
    {
        Server server(app, network, clock, dialers, shutdown);
        server.start();
        server.poll();
        report = dialers.dialer.failure;
    }
    std::thread late([&] { report(100, "too late"); });
    late.join();
    EXPECT_EQ(dialers.dialer.hangUps.size(), 1u);  // only the stop's own hang-up
}

}  // namespace
}  // namespace linkmoot
