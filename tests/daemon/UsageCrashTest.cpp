// The usage database survives the daemon's death at any moment: a started
// linkmootd with the simulated line up (its counters moving) and a write a
// second is killed with SIGKILL 30 times at moments spread over a second of
// writes. Each time the file opens and passes its integrity check, every
// ended session is as it was, and the session that was open comes back,
// after the next start, closed as interrupted with its last written figures.
#include <gtest/gtest.h>

#include <map>

#include "DaemonProcess.h"
#include "TempFolder.h"
#include "platform/UsageDatabase.h"

namespace linkmoot {
namespace {

using daemontest::Instance;

struct Figures {
    uint64_t onlineMs;
    uint64_t bytesIn;
    uint64_t bytesOut;
    std::optional<EndReason> ended;
    bool operator==(const Figures&) const = default;
};

std::map<int64_t, Figures> readAll(const std::string& path, std::string& integrity) {
    UsageDatabase database(path);
    std::string error;
    std::map<int64_t, Figures> figures;
    if (!database.open(error)) {
        integrity = error;
        return figures;
    }
    integrity = database.integrityCheck();
    std::vector<SessionRecord> sessions;
    EXPECT_TRUE(database.readSessions(0, sessions, error)) << error;
    for (const SessionRecord& session : sessions)
        figures[session.id] = {session.onlineMs, session.bytesIn, session.bytesOut, session.ended};
    return figures;
}

TEST(UsageCrashTest, KilledThirtyTimesAroundItsWrites) {
    testsupport::TempFolder base;
    Instance server(base.getPath(), "server");
    const std::string state = base.getPath() + "/state";
    server.extraEnvironment = {"XDG_STATE_HOME=" + state, "LINKMOOT_TEST_USAGE_WRITE_MS=1000"};
    server.writeConfig({"<Configured>1</>", "<Mode>server</>",
                        "<Port>" + std::to_string(daemontest::freeUdpPort()) + "</>", "<Server>",
                        "\t<Dialer>simulated</>", "\t<Connection>Simulated modem</>",
                        "\t<AlwaysConnected>1</>", "\t<SimulatedBytesPerSecond>5000000</>",
                        "</Server>"});
    const std::string database = state + "/linkmoot/linkmootd.db";

    std::map<int64_t, Figures> ended;  // every session closed so far, as it was closed
    std::optional<std::pair<int64_t, Figures>> open;  // the one the last kill left open
    for (int round = 0; round < 30; ++round) {
        server.start({});
        ASSERT_TRUE(server.waitUntilAnswering()) << server.errors();
        ASSERT_TRUE(
            daemontest::waitUntil([&] { return server.ctl({"line"}).out == "up\n"; }, 10000))
            << "round " << round;
        // Spread over one write interval and a little beyond.
        std::this_thread::sleep_for(std::chrono::milliseconds(50 + round * 50));
        server.kill();

        std::string integrity;
        const std::map<int64_t, Figures> now = readAll(database, integrity);
        ASSERT_EQ(integrity, "ok") << "round " << round;
        for (const auto& [id, figures] : ended) {
            ASSERT_TRUE(now.count(id)) << "round " << round << ": session " << id << " is gone";
            EXPECT_EQ(now.at(id), figures) << "round " << round << ": session " << id;
        }
        if (open) {
            // Closed by this round's start, with what was written before the kill.
            Figures closed = open->second;
            closed.ended = EndReason::Interrupted;
            ASSERT_TRUE(now.count(open->first)) << "round " << round;
            EXPECT_EQ(now.at(open->first), closed) << "round " << round;
            ended[open->first] = closed;
            open.reset();
        }
        for (const auto& [id, figures] : now) {
            if (figures.ended || ended.count(id))
                continue;
            ASSERT_FALSE(open) << "round " << round << ": two sessions open";
            open = {id, figures};
        }
    }
    // The last open one: the next start closes it too.
    server.start({});
    ASSERT_TRUE(server.waitUntilAnswering());
    server.ctl({"exit"});
    EXPECT_EQ(server.waitForExit(), 0);
    std::string integrity;
    const std::map<int64_t, Figures> last = readAll(database, integrity);
    EXPECT_EQ(integrity, "ok");
    if (open) {
        EXPECT_EQ(last.at(open->first).ended, EndReason::Interrupted);
    }
    EXPECT_GE(last.size(), 25u);  // a kill before the first write leaves none
}

}  // namespace
}  // namespace linkmoot
