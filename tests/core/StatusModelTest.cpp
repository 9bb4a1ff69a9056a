#include "StatusModel.h"

#include <gtest/gtest.h>

namespace linkmoot {
namespace {

StatusSnapshot status(bool serverMode, bool started, bool connected, bool voting,
                      std::vector<std::string> votes = {}) {
    return computeStatus({serverMode, started, connected, voting, std::move(votes)});
}

// The server's row follows the Part's rows; the tooltip gets it as a second
// line, each line cut at 63 characters; a voter sees the connected icon only
// when the server says the line is up.
TEST(StatusModelTest, TheServerLineIsTheLastRowAndTheTooltipsSecondLine) {
    const std::string longLine =
        "Server gateway: no answer (an older server, or the shared secret "
        "differs)";
    struct Case {
        bool voting, serverUp;
        std::string line;
        StatusIcon icon;
    };
    const Case cases[] = {
        {true, true, "Server gateway: line up for 12 min, 3 votes (yours among them)",
         StatusIcon::Connected},
        {true, false, "Server gateway: dialling, 1 vote", StatusIcon::Voting},
        {false, true, "Server gateway: line up for 1 min, 1 vote", StatusIcon::Idle},
        {true, false, longLine, StatusIcon::Voting},
    };
    for (const Case& c : cases) {
        const StatusSnapshot snapshot =
            computeStatus({false, false, false, c.voting, {"A"}, c.line, c.serverUp});
        ASSERT_EQ(snapshot.rows.size(), 3u) << c.line;
        EXPECT_EQ(snapshot.rows.back().text, c.line);
        EXPECT_EQ(snapshot.trayIcon, c.icon) << c.line;
        EXPECT_EQ(snapshot.tooltip, snapshot.trayText + "\n" + c.line.substr(0, 63));
    }
    EXPECT_EQ(status(false, false, false, true).tooltip, "Voting for connection");
}

TEST(StatusModelTest, TrayTextAndIconFollowTheTableOfStates) {
    struct Row {
        bool server, started, connected, voting;
        const char* text;
        StatusIcon icon;
        bool dialling = false;
    };
    const Row rows[] = {
        // A dial under way is counted like "Connected" but shown as not up.
        {true, true, false, true, "Dialling (3 vote(s)) - You are voting", StatusIcon::Voting,
         true},
        {true, true, false, false, "Dialling (3 vote(s)) - You are not voting", StatusIcon::Idle,
         true},
        {true, true, true, true, "Connected (3 vote(s)) - You are voting", StatusIcon::Voting},
        {true, true, true, false, "Connected (3 vote(s)) - You are not voting",
         StatusIcon::Connected},
        {true, true, false, true, "Disconnected - You are voting", StatusIcon::Voting},
        {true, true, false, false, "Disconnected - You are not voting", StatusIcon::Idle},
        {true, false, true, true, "Disabled", StatusIcon::Disabled},
        {false, true, true, true, "Voting for connection", StatusIcon::Voting},
        {false, false, false, false, "Not voting for connection", StatusIcon::Idle},
    };
    for (const Row& row : rows) {
        StatusInput input{row.server, row.started, row.connected, row.voting, {"A", "B", "C"}};
        input.dialling = row.dialling;
        StatusSnapshot snapshot = computeStatus(input);
        EXPECT_EQ(snapshot.trayText, row.text);
        // Row 0 says "connected" only for a line that is up.
        EXPECT_EQ(snapshot.rows[0].icon == StatusIcon::Connected, row.started && row.connected)
            << row.text;
        EXPECT_EQ(snapshot.tooltip, row.text);
        EXPECT_EQ(snapshot.trayIcon, row.icon) << row.text;
        EXPECT_EQ(snapshot.serverMenu, row.server);
    }
}

TEST(StatusModelTest, RowsShowTheLineStateThenOneRowPerVote) {
    StatusSnapshot snapshot = status(true, true, false, false, {"A", "B"});
    ASSERT_EQ(snapshot.rows.size(), 3u);
    EXPECT_EQ(snapshot.rows[0].text, "RAS dial-up is not connected.");
    EXPECT_EQ(snapshot.rows[0].icon, StatusIcon::Idle);
    EXPECT_EQ(snapshot.rows[1].text, "Vote from A");
    EXPECT_EQ(snapshot.rows[2].text, "Vote from B");
    EXPECT_EQ(snapshot.rows[2].icon, StatusIcon::Voting);
    EXPECT_EQ(snapshot.trayText, "Disconnected - You are not voting");

    EXPECT_EQ(status(true, true, true, false).rows[0].text, "RAS dial-up is connected, votes:");
    EXPECT_EQ(status(true, true, true, false).rows[0].icon, StatusIcon::Connected);
    StatusSnapshot disabled = status(false, false, false, false);
    ASSERT_EQ(disabled.rows.size(), 1u);
    EXPECT_EQ(disabled.rows[0].text, "Linkmoot server is disabled.");
    EXPECT_EQ(disabled.rows[0].icon, StatusIcon::Disabled);
}

TEST(StatusModelTest, HostNamesAreShownLiterallyAndCountedInTheTrayText) {
    StatusSnapshot snapshot = status(true, true, true, false, {"100%s", "%n%n"});
    EXPECT_EQ(snapshot.rows[1].text, "Vote from 100%s");
    EXPECT_EQ(snapshot.rows[2].text, "Vote from %n%n");
    EXPECT_EQ(snapshot.trayText, "Connected (2 vote(s)) - You are not voting");
}

}  // namespace
}  // namespace linkmoot
