#include "TerminalPrompts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "PtyDriver.h"
#include "Strings.h"
#include "ToolBox/Config.h"

namespace linkmoot::daemon {
namespace {

using daemontest::kEndOfInput;
using daemontest::Step;

std::string text(toolbox::ConfigSection* section, const char* name) {
    return section->hasParameter(name) ? section->getParameter(name)->asString() : "<missing>";
}

// The prompts at a pseudo-terminal, the user played by a driver thread.
class TerminalPromptsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty.ok()); }
    // Runs the dialog while the driver plays the steps; returns its result.
    template <typename Dialog>
    bool converse(std::vector<Step> steps, Dialog dialog) {
        pty.play(std::move(steps));
        bool result = dialog();
        pty.stop();
        return result;
    }
    toolbox::ConfigSection* root() { return config.getRoot(); }
    toolbox::ConfigSection* client() { return root()->getSection("Client"); }
    toolbox::ConfigSection* server() { return root()->getSection("Server"); }

    daemontest::PtyDriver pty;
    EventLoop loop;
    LineInput input{loop, pty.terminal()};
    TerminalPrompts prompts{input, pty.terminal()};
    toolbox::Config config;
};

TEST_F(TerminalPromptsTest, ModeIsRefusedUntilChosenAndKeptWithEnter) {
    EXPECT_TRUE(converse({{"Mode, 1 or 2 []: ", "\n"},
                          {std::string(loadString(20036)) + "\n", ""},
                          {"Mode, 1 or 2 []: ", "server\n"}},
                         [&] { return prompts.mode(root()); }));
    EXPECT_TRUE(pty.allStepsPlayed()) << pty.missedText();
    EXPECT_EQ(text(root(), "Mode"), "server");

    // Opened again, it shows the stored mode and Enter keeps it.
    EXPECT_TRUE(
        converse({{"Mode, 1 or 2 [server]: ", "\n"}}, [&] { return prompts.mode(root()); }));
    EXPECT_EQ(text(root(), "Mode"), "server");
}

// "?" looks for servers and lists them numbered; a number takes that one's
// address and port.
TEST_F(TerminalPromptsTest, ClientOptionsListTheServersFoundAndTakeOneByNumber) {
    FoundServer gateway;
    gateway.name = "gw1";
    gateway.address = 0xC0000201;
    gateway.port = 9010;
    gateway.secret = true;
    int searches = 0;
    EXPECT_TRUE(converse(
        {
            {"IP address or name of the server []: ", "?\n"},
            {"  1) gw1 (192.0.2.1, port 9010, signed votes)\nType a number to choose one of "
             "them.\nIP address or name of the server []: ",
             "1\n"},
            {"Port of the server (default: 9005) [9010]: ", "\n"},
            {"Wake on LAN? [y/N]: ", "\n"},
            {"Automatically vote on start? [y/N]: ", "\n"},
            {"characters; \"g\" generates one) []: ", "\n"},
            {"Notify when the server's line changes while voting? [Y/n]: ", "\n"},
        },
        [&] {
            return prompts.clientOptions(root(), [&] {
                searches++;
                return std::vector<FoundServer>{gateway};
            });
        }));
    EXPECT_TRUE(pty.allStepsPlayed()) << pty.missedText();
    EXPECT_EQ(searches, 1);
    EXPECT_EQ(text(client(), "Server"), "192.0.2.1");
    EXPECT_EQ(text(root(), "Port"), "9010");
}

TEST_F(TerminalPromptsTest, ClientOptionsAskAgainForEachRefusedFieldInStoreOrder) {
    EXPECT_TRUE(converse(
        {
            {"IP address or name of the server []: ", "\n"},
            {"Port of the server (default: 9005) [9005]: ", "\n"},
            {"Wake on LAN? [y/N]: ", "y\n"},
            {"Wake on LAN (MAC address) []: ", "\n"},
            {"Automatically vote on start? [y/N]: ", "\n"},
            {"characters; \"g\" generates one) []: ", "\n"},
            {"Notify when the server's line changes while voting? [Y/n]: ", "\n"},
            // The first failing field only: the server address.
            {std::string(loadString(20020)) + "\nIP address or name of the server []: ",
             "gateway\n"},
            // Then the empty address of the ticked box; the box is asked again.
            {std::string(loadString(20021)) + "\nWake on LAN? [Y/n]: ", "n\n"},
        },
        [&] { return prompts.clientOptions(root()); }));
    EXPECT_TRUE(pty.allStepsPlayed()) << pty.missedText();
    EXPECT_EQ(pty.output().find(loadString(20019)), std::string::npos);
    EXPECT_EQ(text(client(), "Server"), "gateway");
    EXPECT_EQ(text(root(), "Port"), "9005");
    EXPECT_FALSE(client()->hasParameter("WakeOnLanMac"));
    EXPECT_FALSE(client()->getBool("AutoVote", true));
}

TEST_F(TerminalPromptsTest, ClientOptionsLoadTheTreeAndADashEmptiesAField) {
    root()->getParameter("Port")->setString("9100");
    client()->getParameter("Server")->setString("old-gateway");
    client()->getParameter("WakeOnLanMac")->setString("00:11:22:33:44:55");
    client()->getParameter("AutoVote")->setBool(true);
    EXPECT_TRUE(converse(
        {
            {"IP address or name of the server [old-gateway]: ", "\n"},
            {"Port of the server (default: 9005) [9100]: ", "-\n"},
            {"Wake on LAN? [Y/n]: ", "\n"},
            {"Wake on LAN (MAC address) [00:11:22:33:44:55]: ", "\n"},
            {"Automatically vote on start? [Y/n]: ", "no\n"},
            {"characters; \"g\" generates one) []: ", "\n"},
            {"Notify when the server's line changes while voting? [Y/n]: ", "\n"},
            {std::string(loadString(20019)) + "\nPort of the server (default: 9005) []: ",
             "9200\n"},
        },
        [&] { return prompts.clientOptions(root()); }));
    EXPECT_TRUE(pty.allStepsPlayed()) << pty.missedText();
    EXPECT_EQ(text(client(), "Server"), "old-gateway");
    EXPECT_EQ(text(root(), "Port"), "9200");
    EXPECT_EQ(text(client(), "WakeOnLanMac"), "00:11:22:33:44:55");
    EXPECT_FALSE(client()->getBool("AutoVote", true));
}

TEST_F(TerminalPromptsTest, EndOfInputCancelsAndKeepsOnlyWhatAnEarlierRefusalStored) {
    EXPECT_FALSE(converse(
        {
            {"IP address or name of the server []: ", "gateway\n"},
            {"Port of the server (default: 9005) [9005]: ", "-\n"},
            {"Wake on LAN? [y/N]: ", "\n"},
            {"Automatically vote on start? [y/N]: ", "y\n"},
            {"characters; \"g\" generates one) []: ", "\n"},
            {"Notify when the server's line changes while voting? [Y/n]: ", "\n"},
            {"Port of the server (default: 9005) []: ", kEndOfInput},
        },
        [&] { return prompts.clientOptions(root()); }));
    // The refused OK had stored the field before the port, as the dialog does.
    EXPECT_EQ(text(client(), "Server"), "gateway");
    EXPECT_FALSE(client()->getBool("AutoVote", true));  // the load's default, not the "y"

    // A terminal's end of input ends one dialog, not the terminal.
    EXPECT_TRUE(converse({{"Mode, 1 or 2 []: ", "1\n"}}, [&] { return prompts.mode(root()); }));
    EXPECT_EQ(text(root(), "Mode"), "client");
}

TEST_F(TerminalPromptsTest, ServerOptionsAskForTheServiceFirstAndListItsConnections) {
    std::vector<std::string> asked;
    auto entriesFor = [&](const std::string& dialer) {
        asked.push_back(dialer);
        return std::vector<DialEntry>{
            "Simulated unstable line", "Simulated modem", {"Dial-in", "pppoe"}};
    };
    EXPECT_TRUE(converse(
        {
            {"Dial-up service:\n", ""},
            {") Simulated (for trying Linkmoot out) (simulated)\nNumber [Automatic (auto)]: ",
             "simulated\n"},
            {"Port of the server (default: 9005) [9005]: ", "\n"},
            {"Guard time after hangup (msecs) [3000]: ", "-\n"},
            {"Auto dis- and reconnect? [y/N]: ", "\n"},
            {"Shutdown if no votes? [y/N]: ", "y\n"},
            {"Shutdown if no votes (minutes) []: ", "\n"},
            {"use with care!)? [y/N]: ", "\n"},
            {"up to 5 minutes)? [Y/n]: ", "y\n"},
            // The list is sorted as the dialog shows it, each with its type.
            {"Connection:\n  1) Dial-in (pppoe)\n  2) Simulated modem\n"
             "  3) Simulated unstable line\nNumber []: ",
             "7\n"},
            {"Please type a number from 1 to 3.\n", ""},
            // The name alone, any case, chooses as well.
            {"Number []: ", "dial-in\n"},
            {"User name []: ", "bob\n"},
            {"Password []: ", "s3cret\n"},
            {"empty: the private networks) []: ", "192.168.1.0/33\n"},
            {"generates one) []: ", "g\n"},
            {"Generated shared secret: ", ""},
            {"Web page for phones and tablets? [y/N]: ", "y\n"},
            {"Web page for phones and tablets on port []: ", "99999\n"},
            // The data plan after the options: a cap in the wrong form is refused
            // with why, and the plan asked again with what was typed.
            {"Data plan (a cap per billing cycle)? [y/N]: ", "y\n"},
            {"Data cap in MB of 10^6 bytes (0: none) []: ", "10GB\n"},
            {"Sent bytes count against the cap too? [Y/n]: ", "\n"},
            {"Online time cap in minutes (0: none) []: ", "\n"},
            {"Monthly cycles (n: every N days from a date)? [Y/n]: ", "\n"},
            {"Cycle begins on day of the month (1-31) [1]: ", "14\n"},
            {"Cycle begins at the local hour (0-23) [0]: ", "6\n"},
            {"Warn at these percentages [80,90,100]: ", "\n"},
            {"At the cap: warn, refuse (no new dial) or hangup [warn]: ", "refuse\n"},
            {"Free hours (such as 00:00-06:00; empty: none) []: ", "\n"},
            {"Please correct the data plan.\n\nPlan/DataCapMB: \"10GB\" is not a whole number "
             "from 0 to 999999\n",
             ""},
            {"Data plan (a cap per billing cycle)? [Y/n]: ", "\n"},
            {"Data cap in MB of 10^6 bytes (0: none) [10GB]: ", "10000\n"},
            {"Sent bytes count against the cap too? [Y/n]: ", "\n"},
            {"Online time cap in minutes (0: none) []: ", "\n"},
            {"Monthly cycles (n: every N days from a date)? [Y/n]: ", "\n"},
            {"Cycle begins on day of the month (1-31) [14]: ", "\n"},
            {"Cycle begins at the local hour (0-23) [6]: ", "\n"},
            {"Warn at these percentages [80,90,100]: ", "\n"},
            {"At the cap: warn, refuse (no new dial) or hangup [refuse]: ", "\n"},
            {"Free hours (such as 00:00-06:00; empty: none) []: ", "\n"},
            {std::string(loadString(20026)) + "\nShutdown if no votes? [Y/n]: ", "\n"},
            {"Shutdown if no votes (minutes) []: ", "15\n"},
            // The fields after it are checked in turn: the malformed block is
            // refused with what is wrong, and asked again.
            {std::string(loadString(StringId::EnterAllowedNetworks)) + "\n\n", ""},
            {"empty: the private networks) [192.168.1.0/33]: ", "192.168.1.0/24\n"},
            // Refused in its turn: no TCP port.
            {std::string(loadString(StringId::EnterWebPort)) +
                 "\nWeb page for phones and tablets? [Y/n]: ",
             "\n"},
            {"Web page for phones and tablets on port [99999]: ", "8080\n"},
        },
        [&] { return prompts.serverOptions(root(), entriesFor); }));
    EXPECT_TRUE(pty.allStepsPlayed()) << pty.missedText();
    EXPECT_EQ(asked, std::vector<std::string>{"simulated"});
    EXPECT_EQ(text(server(), "Dialer"), "simulated");
    EXPECT_EQ(server()->getLong("GuardTime", -1), 0);  // an emptied field stores 0
    EXPECT_EQ(server()->getLong("ShutDownMinutes", -1), 15);
    EXPECT_EQ(text(root()->getSection("Plan"), "DataCapMB"), "10000");
    EXPECT_EQ(text(root()->getSection("Plan"), "CycleDay"), "14");
    EXPECT_EQ(text(root()->getSection("Plan"), "AtCap"), "refuse");
    EXPECT_TRUE(server()->getBool("RetryBackoff", false));
    EXPECT_FALSE(server()->hasParameter("AutoReconnectMinutes"));
    EXPECT_EQ(text(server(), "Connection"), "Dial-in");
    EXPECT_EQ(text(server(), "UserName"), "bob");
    EXPECT_EQ(text(server(), "Password"), "s3cret");
    EXPECT_EQ(server()->getLong("WebPort", -1), 8080);
    EXPECT_EQ(pty.output().find("s3cret"), std::string::npos) << "the password was echoed";
    EXPECT_EQ(text(server(), "AllowedNetworks"), "192.168.1.0/24");
    const std::string secret = text(root(), "Secret");
    EXPECT_EQ(secret.size(), 24u);
    EXPECT_NE(pty.output().find("Generated shared secret: " + secret), std::string::npos);
}

TEST_F(TerminalPromptsTest, ServerOptionsCannotBeConfirmedWithoutAConnection) {
    auto none = [](const std::string&) { return std::vector<DialEntry>{}; };
    EXPECT_FALSE(converse(
        {
            {"Number [Automatic (auto)]: ", "\n"},
            {"Port of the server (default: 9005) [9005]: ", "\n"},
            {"Guard time after hangup (msecs) [3000]: ", "\n"},
            {"Auto dis- and reconnect? [y/N]: ", "\n"},
            {"Shutdown if no votes? [y/N]: ", "\n"},
            {"use with care!)? [y/N]: ", "\n"},
            {"up to 5 minutes)? [Y/n]: ", "\n"},  // proposed on
            {"Connection:\n  (none available)\nNumber []: ", "\n"},
            {"User name []: ", "\n"},
            {"Password []: ", "\n"},
            {"Allowed networks (IPv4 blocks separated by commas; empty: the private networks) []: ",
             "\n"},
            {"characters; \"g\" generates one) []: ", "\n"},
            {"Web page for phones and tablets? [y/N]: ", "\n"},
            {"Data plan (a cap per billing cycle)? [y/N]: ", "\n"},
            {std::string(loadString(20022)) + "\nConnection:\n  (none available)\nNumber []: ",
             kEndOfInput},
        },
        [&] { return prompts.serverOptions(root(), none); }));
    EXPECT_TRUE(pty.allStepsPlayed()) << pty.missedText();
    EXPECT_EQ(text(server(), "Dialer"), "auto");
    EXPECT_EQ(text(server(), "Connection"), "");
}

TEST_F(TerminalPromptsTest, WelcomeAndQuestions) {
    EXPECT_TRUE(
        converse({{"Configure now (n: Exit)? [Y/n]: ", "\n"}}, [&] { return prompts.welcome(); }));
    EXPECT_NE(pty.output().find("Welcome to the Linkmoot!"), std::string::npos);
    EXPECT_FALSE(converse(
        {{"Configure now (n: Exit)? [Y/n]: ", "maybe\n"}, {"Please answer y or n.\n", "n\n"}},
        [&] { return prompts.welcome(); }));
    EXPECT_TRUE(pty.allStepsPlayed()) << pty.missedText();

    EXPECT_FALSE(converse({{"Answer [y/N]: ", "\n"}}, [&] { return prompts.question(20033); }));
    EXPECT_NE(pty.output().find("Cannot start the Linkmoot server."), std::string::npos);
    EXPECT_TRUE(converse({{"Answer [y/N]: ", "yes\n"}}, [&] { return prompts.question(20010); }));
    EXPECT_FALSE(
        converse({{"Answer [y/N]: ", kEndOfInput}}, [&] { return prompts.question(20010); }));
}

TEST(TerminalPromptsTicks, TicksGoOnWhileAPromptWaits) {
    daemontest::PtyDriver pty;
    ASSERT_TRUE(pty.ok());
    EventLoop loop(monotonicMillis, 20);
    int ticks = 0;
    // Only a tick delivered while the prompt waits can type the answer.
    loop.startTicks([&] {
        if (++ticks == 3)
            pty.typeNow("2\n");
    });
    LineInput input(loop, pty.terminal());
    TerminalPrompts prompts(input, pty.terminal());
    toolbox::Config config;
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 200 && !done; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!done)
            pty.typeNow(kEndOfInput);
    });
    bool confirmed = prompts.mode(config.getRoot());
    done = true;
    watchdog.join();
    EXPECT_TRUE(confirmed);
    EXPECT_GE(ticks, 3);
    EXPECT_EQ(text(config.getRoot(), "Mode"), "server");
}

}  // namespace
}  // namespace linkmoot::daemon
