// The data plan with real processes on loopback: a server on the simulated
// line at 10 MB/s (11 MB/s counted, sent bytes included) with a 100 MB cap,
// and a client that votes for it. The warnings come at 80, 90 and 100 %
// once each, also across a restart; with AtCap=refuse the server dials no
// new line at the cap until `plan allow`, and the client shows the figures;
// with AtCap=hangup the line goes down within about a poll of the cap.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "DaemonProcess.h"
#include "TempFolder.h"

namespace linkmoot {
namespace {

using daemontest::Instance;

/// The Warn lines of the log that hold `part` (the notifications repeat
/// the text at Info).
std::size_t warnLines(const std::string& log, const std::string& part) {
    std::istringstream lines(log);
    std::size_t count = 0;
    for (std::string line; std::getline(lines, line);)
        count += line.find(" Warn (") != std::string::npos && line.find(part) != std::string::npos;
    return count;
}

class DataPlanEndToEndTest : public ::testing::Test {
protected:
    void writeServer(const char* atCap) {
        server.writeConfig(
            {"<Configured>1</>", "<Mode>server</>", "<Port>" + std::to_string(port) + "</>",
             "<Server>", "\t<Dialer>simulated</>", "\t<Connection>Simulated modem</>",
             "\t<GuardTime>0</>", "\t<SimulatedBytesPerSecond>10000000</>", "</Server>", "<Plan>",
             "\t<DataCapMB>100</>", std::string("\t<AtCap>") + atCap + "</>", "</Plan>"});
    }
    void startClient() {
        client.writeConfig({"<Configured>1</>", "<Mode>client</>",
                            "<Port>" + std::to_string(port) + "</>", "<Client>", "\t<AutoVote>0</>",
                            "\t<Server>127.0.0.1</>", "</Client>"});
        client.start();
        ASSERT_TRUE(client.waitUntilAnswering()) << client.errors();
    }
    nlohmann::json plan() {
        const daemontest::CommandResult result = server.ctl({"plan", "--json"});
        return nlohmann::json::parse(result.out, nullptr, false);
    }
    std::string line(Instance& instance) { return instance.ctl({"line"}).out; }

    testsupport::TempFolder folder;
    int port = daemontest::freeUdpPort();
    Instance server{folder.getPath(), "server"};
    Instance client{folder.getPath(), "client"};
};

TEST_F(DataPlanEndToEndTest, RefuseWarnsOnceAndHoldsTheLineUntilAnAllowance) {
    writeServer("refuse");
    server.start({"/log:info"});
    ASSERT_TRUE(server.waitUntilAnswering()) << server.errors();
    startClient();
    ASSERT_EQ(client.ctl({"connect"}).exitStatus, 0);
    ASSERT_TRUE(daemontest::waitUntil(
        [&] { return server.log().find("Data plan: 100 % of the cap used") != std::string::npos; },
        30000))
        << server.log();
    EXPECT_EQ(line(server), "up\n");  // refuse lets the line that is up run on
    // The client shows the server's figures in its row.
    ASSERT_TRUE(daemontest::waitUntil(
        [&] {
            return client.ctl({"status"}).out.find(" of 100 MB used, resets ") != std::string::npos;
        },
        15000))
        << client.ctl({"status"}).out;
    ASSERT_EQ(client.ctl({"disconnect"}).exitStatus, 0);
    ASSERT_EQ(client.ctl({"wait", "down", "--timeout=30"}).exitStatus, 0);

    // A restart announces nothing again, and the cap still holds.
    const std::string before = server.log();
    ASSERT_EQ(server.ctl({"exit"}).exitStatus, 0);
    ASSERT_EQ(server.waitForExit(), 0);
    server.start({"/log:info"});
    ASSERT_TRUE(server.waitUntilAnswering()) << server.errors();
    ASSERT_EQ(client.ctl({"connect"}).exitStatus, 0);
    ASSERT_TRUE(daemontest::waitUntil(
        [&] { return server.ctl({"status"}).out.find("Data cap reached: ") != std::string::npos; },
        10000))
        << server.ctl({"status"}).out;
    ASSERT_TRUE(daemontest::waitUntil(
        [&] { return server.log().find("the data cap holds the line") != std::string::npos; },
        15000))
        << server.log();
    EXPECT_NE(line(server), "up\n");
    const std::string after = server.log();
    const std::string whole = after.rfind(before, 0) == 0 ? after : before + after;
    for (const char* percent : {"80", "90", "100"}) {
        EXPECT_EQ(warnLines(whole, std::string("Data plan: ") + percent + " % of the cap used"), 1u)
            << percent << "\n"
            << whole;
    }
    EXPECT_EQ(plan()["capped"], true);
    EXPECT_EQ(plan()["warned"], nlohmann::json::array({80, 90, 100}));

    // An allowance: the next poll dials.
    ASSERT_EQ(server.ctl({"plan", "allow", "--for", "10m"}).exitStatus, 0);
    EXPECT_EQ(server.ctl({"wait", "up", "--timeout=20"}).exitStatus, 0);
    EXPECT_NE(server.log().find("The line may run over the data cap until"), std::string::npos);
    EXPECT_EQ(plan()["capped"], false);
    EXPECT_EQ(client.ctl({"exit"}).exitStatus, 0);
    EXPECT_EQ(server.ctl({"exit"}).exitStatus, 0);
}

TEST_F(DataPlanEndToEndTest, HangupEndsTheLineWithinAboutAPollOfTheCap) {
    writeServer("hangup");
    server.start({"/log:info"});
    ASSERT_TRUE(server.waitUntilAnswering()) << server.errors();
    startClient();
    ASSERT_EQ(client.ctl({"connect"}).exitStatus, 0);
    ASSERT_TRUE(daemontest::waitUntil(
        [&] { return server.log().find("hanging up (AtCap=hangup)") != std::string::npos; }, 30000))
        << server.log();
    ASSERT_EQ(server.ctl({"wait", "down", "--timeout=10"}).exitStatus, 0);
    const nlohmann::json figures = plan();
    const double overshoot = (figures["usedBytes"].get<double>() - 100e6) / 1e6;
    // One poll's traffic is 11 MB; the hang-up of the simulated line is at once.
    EXPECT_GE(overshoot, 0);
    EXPECT_LE(overshoot, 2 * 11.0);
    RecordProperty("overshoot_mb", std::to_string(overshoot));
    std::printf("Overshoot past the 100 MB cap: %.1f MB\n", overshoot);
    const std::string sessions = server.ctl({"sessions"}).out;
    EXPECT_NE(sessions.find("data cap"), std::string::npos) << sessions;
    EXPECT_EQ(client.ctl({"exit"}).exitStatus, 0);
    EXPECT_EQ(server.ctl({"exit"}).exitStatus, 0);
}

}  // namespace
}  // namespace linkmoot
