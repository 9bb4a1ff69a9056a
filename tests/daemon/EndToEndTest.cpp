// The whole road of one vote with real processes on loopback: a client
// linkmootd votes, the server linkmootd reads the vote, dials the simulated
// modem, comes up; the client withdraws, the server hangs up and waits its
// guard time. Checked through linkmootctl status and the log files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "DaemonProcess.h"
#include "support/LoopbackVoter.h"
#include "support/TempFolder.h"

namespace {

using daemontest::Instance;
using daemontest::waitUntil;

using testsupport::shortHostName;

// Finds each text in order, each after the one before.
::testing::AssertionResult inOrder(const std::string& log, const std::vector<std::string>& texts) {
    std::size_t from = 0;
    for (const std::string& text : texts) {
        std::size_t found = log.find(text, from);
        if (found == std::string::npos) {
            return ::testing::AssertionFailure() << "'" << text << "' not found (in order) in:\n"
                                                 << log;
        }
        from = found + text.size();
    }
    return ::testing::AssertionSuccess();
}

TEST(EndToEnd, OneVoteFromConnectToTheDialAndBackToTheHangUp) {
    testsupport::TempFolder folder;
    const int port = daemontest::freeUdpPort();
    ASSERT_GT(port, 0);
    const std::string host = shortHostName();

    Instance server(folder.getPath(), "server");
    server.writeConfig({"<Configured>1</>", "<Mode>server</>",
                        "<Port>" + std::to_string(port) + "</>", "", "<Server>",
                        "\t<Connection>Simulated modem</>", "\t<Dialer>simulated</>",
                        "\t<GuardTime>2000</>", "</Server>"});
    Instance client(folder.getPath(), "client");
    client.writeConfig({"<Configured>1</>", "<Mode>client</>",
                        "<Port>" + std::to_string(port) + "</>", "", "<Client>", "\t<AutoVote>0</>",
                        "\t<Server>127.0.0.1</>", "</Client>"});
    server.start();
    client.start();
    ASSERT_TRUE(server.waitUntilAnswering()) << server.errors();
    ASSERT_TRUE(client.waitUntilAnswering()) << client.errors();

    EXPECT_EQ(server.ctl({"status"}).out,
              "Disconnected - You are not voting\nRAS dial-up is not connected.\n");
    EXPECT_EQ(client.ctl({"status"}).out,
              "Not voting for connection\nLinkmoot server is disabled.\n");

    // Connect: the vote travels to the server, which dials and comes up; its
    // answers tell the client, whose status gets the server's row.
    ASSERT_EQ(client.ctl({"connect"}).exitStatus, 0);
    EXPECT_EQ(client.ctl({"status"})
                  .out.rfind(
                      "Voting for connection\nLinkmoot server is disabled.\nServer 127.0.0.1: ", 0),
              0u);
    EXPECT_EQ(client.ctl({"wait", "up", "--timeout=30"}).exitStatus, 0);
    EXPECT_EQ(client.ctl({"line"}).out, "up\n");
    EXPECT_NE(client.ctl({"status"}).out.find("Server 127.0.0.1: line up for "), std::string::npos);
    const std::string connected =
        "Connected (1 vote(s)) - You are not voting\n"
        "RAS dial-up is connected, votes:\nVote from " +
        host + "\n";
    EXPECT_TRUE(waitUntil([&] { return server.ctl({"status"}).out == connected; }, 15000))
        << server.ctl({"status"}).out;
    EXPECT_TRUE(waitUntil(
        [&] { return server.log().find("Simulated dial-up: the line is up") != std::string::npos; },
        15000))
        << server.log();

    // Disconnect: the unvote empties the table; the server hangs up and waits.
    ASSERT_EQ(client.ctl({"disconnect"}).exitStatus, 0);
    EXPECT_TRUE(waitUntil(
        [&] { return server.log().find("Hangup guard time complete") != std::string::npos; },
        20000))
        << server.log();
    EXPECT_EQ(server.ctl({"status"}).out,
              "Disconnected - You are not voting\nRAS dial-up is not connected.\n");
    EXPECT_EQ(client.ctl({"wait", "down", "--timeout=30"}).exitStatus, 0);
    EXPECT_EQ(
        client.ctl({"status"})
            .out.rfind(
                "Not voting for connection\nLinkmoot server is disabled.\nServer 127.0.0.1: ", 0),
        0u);
    EXPECT_EQ(client.ctl({"wait", "up", "--timeout=1"}).exitStatus, 3);

    EXPECT_EQ(client.ctl({"exit"}).exitStatus, 0);
    EXPECT_EQ(server.ctl({"exit"}).exitStatus, 0);
    EXPECT_EQ(client.waitForExit(), 0);
    EXPECT_EQ(server.waitForExit(), 0);

    EXPECT_TRUE(
        inOrder(client.log(), {"Voting for RAS connection", "Sending 'vote:" + host + "'",
                               "Unvoting for RAS connection", "Sending 'unvote:" + host + "'"}));
    EXPECT_TRUE(inOrder(
        server.log(),
        {"Received a vote from host '" + host + "'", "There are votes, connecting to RAS",
         "Simulated dial-up: dialling 'Simulated modem'", "Simulated dial-up: the line is up",
         "Received an unvote from host '" + host + "'", "No more votes, hanging up",
         "Hanging up RAS connection", "Waiting hangup guard time", "Hangup guard time complete",
         "Shutting down logger"}));
    // Each log lies beside its own copy of the program, with CR LF line ends.
    EXPECT_EQ(server.log().find("Sending 'vote:"), std::string::npos);
    EXPECT_NE(server.log().find("\r\n"), std::string::npos);
}

}  // namespace
