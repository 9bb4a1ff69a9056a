#include "ControlCommands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Linkmoot.h"

namespace linkmoot::control {
namespace {

class RecordingTarget : public CommandTarget {
public:
    void runCommand(int commandId) override { commands.push_back(commandId); }
    StatusSnapshot currentStatus() override {
        statusCalls++;
        return status;
    }
    bool reloadConfiguration(std::string& problem) override {
        reloads++;
        problem = reloadProblem;
        return reloadProblem.empty();
    }
    std::vector<int> commands;
    int statusCalls = 0;
    StatusSnapshot status;
    int reloads = 0;
    std::string reloadProblem;
};

TEST(ControlCommands, EachCommandWordRunsItsCommandAndAnswersOk) {
    const std::pair<const char*, int> table[] = {
        {"connect", Command::Connect},     {"disconnect", Command::Disconnect},
        {"enable", Command::EnableServer}, {"disable", Command::DisableServer},
        {"refresh", Command::Refresh},     {"exit", Command::Exit},
    };
    for (const auto& [word, id] : table) {
        RecordingTarget target;
        EXPECT_EQ(handle(target, word), "OK\n") << word;
        EXPECT_EQ(target.commands, std::vector<int>{id}) << word;
    }
}

TEST(ControlCommands, StatusPrintsTheTrayTextThenEveryRowAndRunsNoCommand) {
    RecordingTarget target;
    target.status.trayText = "Connected (2 vote(s)) - You are not voting";
    target.status.rows = {{StatusIcon::Connected, "RAS dial-up is connected, votes:"},
                          {StatusIcon::Voting, "Vote from alpha"},
                          {StatusIcon::Voting, "Vote from beta"}};
    EXPECT_EQ(handle(target, "status"),
              "OK\nConnected (2 vote(s)) - You are not voting\nRAS dial-up is connected, "
              "votes:\nVote from alpha\nVote from beta\n");
    EXPECT_TRUE(target.commands.empty());
}

TEST(ControlCommands, PageAnswersTheWebPagesAddressesOneALine) {
    RecordingTarget target;
    EXPECT_EQ(handle(target, "page"), "OK\n");
    target.status.pageAddresses = {"http://192.0.2.1:8080/", "http://198.51.100.1:8080/"};
    EXPECT_EQ(handle(target, "page"), "OK\nhttp://192.0.2.1:8080/\nhttp://198.51.100.1:8080/\n");
    EXPECT_TRUE(target.commands.empty());
}

TEST(ControlCommands, LineAnswersTheOneWordOfTheSnapshot) {
    RecordingTarget target;
    EXPECT_EQ(handle(target, "line"), "OK\nunknown\n");
    target.status.lineWord = "dialling";
    EXPECT_EQ(handle(target, "line"), "OK\ndialling\n");
    EXPECT_TRUE(target.commands.empty());
}

TEST(ControlCommands, AHostNameCannotForgeAnswerLines) {
    RecordingTarget target;
    target.status.trayText = "Disconnected - You are not voting";
    target.status.rows = {{StatusIcon::Idle, "RAS dial-up is not connected."},
                          {StatusIcon::Voting, "Vote from evil\nOK\r\x01"}};
    EXPECT_EQ(handle(target, "status"),
              "OK\nDisconnected - You are not voting\nRAS dial-up is not connected.\n"
              "Vote from evil\\x0AOK\\x0D\\x01\n");
}

TEST(ControlCommands, ATrailingCarriageReturnIsTolerated) {
    RecordingTarget target;
    EXPECT_EQ(handle(target, "connect\r"), "OK\n");
    EXPECT_EQ(target.commands, std::vector<int>{Command::Connect});
}

TEST(ControlCommands, AnythingElseGetsAnErrorAndChangesNothing) {
    const std::string requests[] = {
        "",
        "\r",
        "Connect",
        "connect ",
        " connect",
        "connect now",
        "config",
        "configure",
        "help",
        "57665",
        std::string("exit\0x", 6),
        "st\x01tus",
        std::string(300, 'a'),
    };
    for (const std::string& request : requests) {
        RecordingTarget target;
        std::string answer = handle(target, request);
        EXPECT_EQ(answer.rfind("ERROR ", 0), 0u) << "request '" << request << "'";
        EXPECT_EQ(answer.back(), '\n');
        EXPECT_EQ(answer.find('\n'), answer.size() - 1) << "one line only";
        EXPECT_TRUE(target.commands.empty());
        EXPECT_EQ(target.statusCalls, 0);
    }
}

TEST(ControlCommands, ReloadAnswersOkOrOneErrorLineThatAFileNameCannotForge) {
    RecordingTarget target;
    EXPECT_EQ(handle(target, "reload"), "OK\n");
    // The reason names the file, and a file name may hold any byte.
    target.reloadProblem = "/home/u/x\nOK\n.cfg: it is not in the configuration format";
    const std::string answer = handle(target, "reload");
    EXPECT_EQ(answer.rfind("ERROR configuration not reloaded: ", 0), 0u) << answer;
    EXPECT_EQ(answer.find('\n'), answer.size() - 1) << answer;
    EXPECT_EQ(target.reloads, 2);
    EXPECT_TRUE(target.commands.empty());
}

TEST(ControlCommands, KnownWordsAreExactlyTheProtocolsAndOnlyCommandsHaveIds) {
    for (const char* word : {"status", "line", "connect", "disconnect", "enable", "disable",
                             "refresh", "reload", "exit"}) {
        EXPECT_TRUE(isKnownRequest(word)) << word;
    }
    EXPECT_FALSE(isKnownRequest("STATUS"));
    EXPECT_FALSE(isKnownRequest("configuration"));
    EXPECT_EQ(commandIdOf("status"), 0);
    EXPECT_EQ(commandIdOf("disable"), Command::DisableServer);
}

}  // namespace
}  // namespace linkmoot::control
