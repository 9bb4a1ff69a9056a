#include "Linkmoot.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "Client.h"
#include "ConfigurationStore.h"
#include "ControlCommands.h"
#include "Server.h"
#include "Strings.h"
#include "TempFolder.h"
#include "ToolBox/Config.h"
#include "ToolBox/Directory.h"
#include "ToolBox/Memory.h"
#include "app/TriExtStore.h"
#include "fakes/Fakes.h"
#include "mfctriext/TriExtApp.h"

namespace linkmoot {
namespace {

using namespace fakes;

class LinkmootTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("XDG_CONFIG_HOME", folder.getPath().c_str(), 1); }
    void TearDown() override {
        stop();
        unsetenv("XDG_CONFIG_HOME");
    }

    /// The configuration file the application of this test program reads.
    std::string configFile() const {
        std::unique_ptr<toolbox::Directory> program(toolbox::Directory::programPath());
        program->getLastElement()->setExtension("cfg");
        return folder.getPath() + "/Fennel Brookworks/Linkmoot/" +
               program->getLastElement()->getName();
    }
    void writeConfig(const char* text) {
        std::filesystem::create_directories(folder.getPath() + "/Fennel Brookworks/Linkmoot");
        toolbox::Config config;
        std::string buffer = text;
        ASSERT_TRUE(config.parse(buffer.data()));
        ASSERT_TRUE(config.saveFile(configFile().c_str()));
    }
    /// The configuration loaded, then the application built on it, as the programs do.
    Linkmoot& start() {
        store = std::make_unique<mfctriext::TriExtApp>(getApplicationName());
        baseStore = std::make_unique<TriExtStore>(*store);
        app = std::make_unique<Linkmoot>(
            Settings(store->getConfigRoot()),
            Services{network, clock, dialers, shutdown, baseStore.get()}, frontEnd);
        return *app;
    }
    /// The end of a run: the application goes, then the configuration is saved.
    void stop() {
        app.reset();
        baseStore.reset();
        store.reset();
    }
    toolbox::ConfigSection* root() { return store->getConfigRoot(); }
    /// A fresh snapshot, as the views get it.
    StatusSnapshot status() {
        app->refreshViews();
        return *app->latestStatus();
    }
    void ticks(int count) {
        for (int i = 0; i < count; i++)
            app->tick();
    }
    std::vector<std::string> payloads() const {
        std::vector<std::string> result;
        for (const auto& datagram : network.sent)
            result.push_back(datagram.payload);
        return result;
    }

    testsupport::TempFolder folder;
    FakeNetwork network;
    FakeClock clock;
    FakeDialServices dialers;
    FakeShutdown shutdown;
    FakeFrontEnd frontEnd;
    std::unique_ptr<mfctriext::TriExtApp> store;
    std::unique_ptr<TriExtStore> baseStore;
    std::unique_ptr<Linkmoot> app;
};

constexpr const char* kClientConfig =
    "<Configured>1</>\r\n<Mode>client</>\r\n<Port>9005</>\r\n<Client>\r\n\t<Server>gw</>\r\n"
    "</Client>\r\n";
constexpr const char* kServerConfig =
    "<Configured>1</>\r\n<Mode>server</>\r\n<Port>9010</>\r\n<Server>\r\n\t<Connection>Modem</>"
    "\r\n</Server>\r\n";

TEST_F(LinkmootTest, FirstStartRunsWelcomeAndTheFlowThenStoresConfigured) {
    Linkmoot& linkmoot = start();
    frontEnd.onMode = [&] { root()->getParameter("Mode")->setString("client"); };
    ASSERT_TRUE(linkmoot.initInstance());
    EXPECT_TRUE(root()->getBool("Configured", false));
    EXPECT_EQ(frontEnd.calls, (std::vector<std::string>{"hide", "welcome", "mode", "refresh",
                                                        "client", "hide", "refresh", "refresh"}));
    EXPECT_FALSE(linkmoot.getServer().isStarted());

    stop();  // the end of the run saves into the data folder, created on the way
    toolbox::Config saved;
    ASSERT_TRUE(saved.loadFile(configFile().c_str()));
    EXPECT_TRUE(saved.getRoot()->getBool("Configured", false));
    EXPECT_STREQ(saved.getRoot()->getString("Mode", ""), "client");
}

TEST_F(LinkmootTest, StartUpEndsWhenAnyFirstDialogIsLeft) {
    for (const char* leave : {"welcome", "mode", "client"}) {
        frontEnd = FakeFrontEnd();
        frontEnd.welcome = std::string(leave) != "welcome";
        frontEnd.modeOk = std::string(leave) != "mode";
        frontEnd.clientOk = std::string(leave) != "client";
        Linkmoot& linkmoot = start();
        frontEnd.onMode = [&] { root()->getParameter("Mode")->setString("client"); };
        EXPECT_FALSE(linkmoot.initInstance()) << leave;
        EXPECT_FALSE(root()->getBool("Configured", true)) << leave;
        stop();
    }
    // The mode chosen before the options were cancelled was saved all the same.
    toolbox::Config saved;
    ASSERT_TRUE(saved.loadFile(configFile().c_str()));
    EXPECT_STREQ(saved.getRoot()->getString("Mode", ""), "client");
}

TEST_F(LinkmootTest, AConfiguredServerStartsAndAClientStartsNothing) {
    writeConfig(kServerConfig);
    ASSERT_TRUE(start().initInstance());
    EXPECT_TRUE(app->getServer().isStarted());
    EXPECT_EQ(network.boundPorts, std::vector<uint16_t>{9010});
    EXPECT_EQ(frontEnd.count("welcome"), 0);
    stop();

    writeConfig(kClientConfig);
    network = FakeNetwork();
    ASSERT_TRUE(start().initInstance());
    EXPECT_FALSE(app->getServer().isStarted());
    EXPECT_TRUE(network.boundPorts.empty());
}

TEST_F(LinkmootTest, AnIdleServerStoresNoClientKeyItNeverReads) {
    writeConfig(kServerConfig);
    ASSERT_TRUE(start().initInstance());
    ticks(25);
    app->onCommand(Command::Status);
    stop();
    toolbox::Config saved;
    ASSERT_TRUE(saved.loadFile(configFile().c_str()));
    EXPECT_FALSE(saved.getRoot()->getSection("Client")->hasParameter("Server"));
    EXPECT_FALSE(saved.getRoot()->getSection("Client")->hasParameter("Notify"));
}

// A name that cannot be looked up fails at a tick of its own, long before the
// next re-vote: the question comes then, once per Connect.
TEST_F(LinkmootTest, AFailedLookUpAsksTheQuestionAtTheTickItFails) {
    writeConfig(kClientConfig);
    ASSERT_TRUE(start().initInstance());
    network.lookupsWait = true;
    app->onCommand(Command::Connect);
    EXPECT_TRUE(frontEnd.questions.empty());
    network.connectFails = true;
    network.lookupsReleased = true;
    ticks(1);
    EXPECT_EQ(frontEnd.questions, std::vector<int>{StringId::QuestionClientCannotConnect});
    ticks(30);
    EXPECT_EQ(frontEnd.questions.size(), 1u);
}

TEST_F(LinkmootTest, ModeTestsAreExactAndCaseSensitive) {
    Linkmoot& linkmoot = start();
    for (const char* mode : {"", "Server", "server ", "client "}) {
        root()->getParameter("Mode")->setString(mode);
        EXPECT_FALSE(linkmoot.isServerMode()) << mode;
        EXPECT_FALSE(linkmoot.isClientMode()) << mode;
        EXPECT_FALSE(status().serverMenu) << mode;
    }
    root()->getParameter("Mode")->setString("server");
    EXPECT_TRUE(linkmoot.isServerMode());
}

TEST_F(LinkmootTest, AutoVoteSendsTheFirstVoteOnTheTenthTick) {
    writeConfig(
        "<Configured>1</>\r\n<Mode>client</>\r\n<Port>9005</>\r\n<Client>\r\n\t<AutoVote>1</>"
        "\r\n\t<Server>gw</>\r\n</Client>\r\n");
    ASSERT_TRUE(start().initInstance());
    EXPECT_TRUE(app->getClient().isVoting());
    ticks(9);
    EXPECT_TRUE(network.sent.empty());
    ticks(1);
    EXPECT_EQ(payloads(), std::vector<std::string>{"vote:WS01"});
    ticks(10);
    EXPECT_EQ(network.sent.size(), 2u);
}

TEST_F(LinkmootTest, ReVotesFallOnEveryTenthTickCountedFromTheStart) {
    writeConfig(kClientConfig);
    ASSERT_TRUE(start().initInstance());
    ticks(7);
    app->onCommand(Command::Connect);
    EXPECT_EQ(network.sent.size(), 1u);
    ticks(2);
    EXPECT_EQ(network.sent.size(), 1u);
    ticks(1);  // tick 10
    EXPECT_EQ(network.sent.size(), 2u);
    ticks(10);
    EXPECT_EQ(network.sent.size(), 3u);
    EXPECT_EQ(app->getTickCounter(), 0);
}

TEST_F(LinkmootTest, ConfigurationInClientModeWithdrawsTheVoteAndHidesTheWindow) {
    writeConfig(kClientConfig);
    ASSERT_TRUE(start().initInstance());
    frontEnd.onMode = [&] { root()->getParameter("Mode")->setString("client"); };
    app->onCommand(Command::Connect);
    frontEnd.calls.clear();
    app->onCommand(Command::Configuration);
    EXPECT_EQ(payloads(), (std::vector<std::string>{"vote:WS01", "unvote:WS01"}));
    EXPECT_FALSE(app->getClient().isVoting());
    EXPECT_EQ(frontEnd.calls,
              (std::vector<std::string>{"mode", "refresh", "client", "hide", "refresh"}));
}

TEST_F(LinkmootTest, ConfigurationInServerModeRestartsTheServerOnTheNewPort) {
    writeConfig(kServerConfig);
    ASSERT_TRUE(start().initInstance());
    network.inbound.push_back("vote:A");
    app->tick();
    ASSERT_EQ(app->getServer().getVotes().size(), 1u);
    frontEnd.onMode = [&] { root()->getParameter("Mode")->setString("server"); };
    frontEnd.onServer = [&] { root()->getParameter("Port")->setString("9011"); };
    app->onCommand(Command::Configuration);
    EXPECT_TRUE(app->getServer().isStarted());
    EXPECT_EQ(app->getServer().getVotes().size(), 0u);
    EXPECT_EQ(dialers.dialer.hangUps.size(), 1u);  // the dial made for the vote
    EXPECT_EQ(network.boundPorts, (std::vector<uint16_t>{9010, 9011}));
}

TEST_F(LinkmootTest, ANewModeStaysWhenItsOptionsAreCancelled) {
    writeConfig(kServerConfig);
    ASSERT_TRUE(start().initInstance());
    frontEnd.onMode = [&] { root()->getParameter("Mode")->setString("client"); };
    frontEnd.clientOk = false;
    EXPECT_FALSE(app->configure());
    EXPECT_FALSE(app->isServerMode());
    EXPECT_TRUE(app->getServer().isStarted());  // started until disabled or reconfigured
    ASSERT_TRUE(frontEnd.latest);
    EXPECT_FALSE(frontEnd.latest->serverMenu);  // the tray menu followed at once
}

TEST_F(LinkmootTest, AskingTheConfigurationStoresItWithoutStartingTheServer) {
    Linkmoot& linkmoot = start();
    frontEnd.onMode = [&] { root()->getParameter("Mode")->setString("server"); };
    EXPECT_TRUE(linkmoot.askConfiguration());
    EXPECT_TRUE(linkmoot.isServerMode());
    EXPECT_FALSE(linkmoot.getServer().isStarted());
    EXPECT_TRUE(network.boundPorts.empty());
}

TEST_F(LinkmootTest, TheSnapshotCarriesTheLineAndTheVoteTableAsTheControllerLastReadThem) {
    writeConfig(kServerConfig);
    ASSERT_TRUE(start().initInstance());
    network.inbound.push_back("vote:A");
    app->tick();  // reads the vote and dials
    ASSERT_TRUE(frontEnd.latest);
    EXPECT_EQ(frontEnd.latest->line, LineStatus::Dialling);
    ASSERT_EQ(frontEnd.latest->votes.size(), 1u);
    EXPECT_EQ(frontEnd.latest->votes[0].host, "A");
    app->tick();  // the connection test passes: pushed although the table stayed
    EXPECT_EQ(frontEnd.latest->line, LineStatus::Up);
    const int queries = dialers.dialer.stateQueries;
    app->onCommand(Command::Refresh);
    EXPECT_EQ(dialers.dialer.stateQueries, queries);  // drawing asks the service nothing
    EXPECT_EQ(frontEnd.latest->trayText, "Connected (1 vote(s)) - You are not voting");
}

TEST_F(LinkmootTest, WebVotesShowTheirMinutesLeftAndAWebPageProblemIsARowWhileStarted) {
    writeConfig(kServerConfig);
    ASSERT_TRUE(start().initInstance());
    ASSERT_TRUE(app->webVote("web:anna-phone", 27));
    // A command like the menu's: every view is refreshed at once.
    ASSERT_EQ(frontEnd.latest->rows.size(), 2u);
    EXPECT_EQ(frontEnd.latest->votes[0].kind, VoteEntry::Kind::Web);
    EXPECT_EQ(frontEnd.latest->votes[0].secondsLeft, 27u * 60);
    EXPECT_EQ(frontEnd.latest->rows[1].text, "Vote from web:anna-phone (27 min left)");
    clock.advance(26 * 60 * 1000 + 1);  // a part of a minute counts as one
    app->tick();
    EXPECT_EQ(frontEnd.latest->rows[1].text, "Vote from web:anna-phone (1 min left)");

    app->setWebPageProblem("Cannot serve the web page on port 80: Permission denied");
    app->tick();  // the next snapshot carries it
    EXPECT_EQ(frontEnd.latest->webPageProblem,
              "Cannot serve the web page on port 80: Permission denied");
    EXPECT_EQ(frontEnd.latest->rows.back().text,
              "Cannot serve the web page on port 80: Permission denied");
    app->onCommand(Command::DisableServer);
    EXPECT_EQ(frontEnd.latest->rows.size(), 1u);  // a stopped server serves no page anyway
}

TEST_F(LinkmootTest, CommandsReachTheClientServerAndFrontEnd) {
    writeConfig(kServerConfig);
    ASSERT_TRUE(start().initInstance());
    frontEnd.calls.clear();
    app->onCommand(Command::DisableServer);
    EXPECT_FALSE(app->getServer().isStarted());
    app->onCommand(Command::EnableServer);
    EXPECT_TRUE(app->getServer().isStarted());
    app->onCommand(Command::Connect);
    EXPECT_EQ(network.sent.back().host, "127.0.0.1");
    app->onCommand(Command::Disconnect);
    app->onCommand(Command::Refresh);
    app->onCommand(Command::Status);
    app->onCommand(Command::Help);
    app->onCommand(Command::TermsAndConditions);
    app->onCommand(Command::WebSite);
    app->onCommand(12345);
    app->onCommand(Command::Exit);
    EXPECT_EQ(frontEnd.calls,
              (std::vector<std::string>{"refresh", "refresh", "refresh", "refresh", "refresh",
                                        "show", "open", "open", "open", "hide", "quit"}));
    EXPECT_TRUE(frontEnd.opened[0].ends_with("docs/help/index.html"));
    EXPECT_TRUE(frontEnd.opened[1].ends_with("docs/Readme.txt"));
    EXPECT_EQ(frontEnd.opened[2], loadString(StringId::WebPage));
}

TEST_F(LinkmootTest, AYesToTheClientQuestionRunsTheConfigurationFlow) {
    writeConfig(kClientConfig);
    ASSERT_TRUE(start().initInstance());
    network.connectFails = true;
    frontEnd.answerYes = true;
    frontEnd.modeOk = false;
    app->onCommand(Command::Connect);
    EXPECT_EQ(frontEnd.questions, std::vector<int>{StringId::QuestionClientCannotConnect});
    EXPECT_EQ(frontEnd.count("mode"), 1);
}

// Modal dialogs keep the ticks and the control socket going; what those would
// start over the open dialog is refused: a second flow, a question, a reload
// (whose tree the dialog's OK would overwrite).
TEST_F(LinkmootTest, WhileADialogIsOpenNothingStartsASecondFlowOrReplacesTheTree) {
    writeConfig(kClientConfig);
    ASSERT_TRUE(start().initInstance());
    network.connectFails = true;
    std::string reloadAnswer;
    std::size_t questionsInDialog = 99;
    frontEnd.onClient = [&] {
        app->onCommand(Command::Connect);  // fails: its question must wait
        ticks(10);
        app->onCommand(Command::Configuration);
        reloadAnswer = control::handle(*app, "reload");
        questionsInDialog = frontEnd.questions.size();
    };
    app->onCommand(Command::Configuration);
    EXPECT_EQ(questionsInDialog, 0u);
    EXPECT_EQ(frontEnd.count("mode"), 1);
    EXPECT_EQ(reloadAnswer.rfind("ERROR configuration not reloaded: a configuration dialog", 0), 0u)
        << reloadAnswer;
    // Once the dialog is closed, the next failure asks: the flow's own unvote.
    EXPECT_EQ(frontEnd.questions, std::vector<int>{StringId::QuestionClientCannotConnect});
}

TEST_F(LinkmootTest, ExitWithdrawsTheVoteBeforeTheConfigurationIsSaved) {
    writeConfig(kClientConfig);
    ASSERT_TRUE(start().initInstance());
    app->onCommand(Command::Connect);
    std::filesystem::remove(configFile());
    bool savedBeforeUnvote = true;
    network.onSend = [&](const SentDatagram& datagram) {
        if (datagram.payload.starts_with("unvote")) {
            savedBeforeUnvote = std::filesystem::exists(configFile());
        }
    };
    network.connectFails = false;
    stop();
    EXPECT_EQ(network.sent.back().payload, "unvote:WS01");
    EXPECT_FALSE(savedBeforeUnvote);
    EXPECT_TRUE(std::filesystem::exists(configFile()));
}

TEST_F(LinkmootTest, ReloadRestartsTheServerOnlyForAKeyItBindsOrDialsWith) {
    writeConfig(kServerConfig);
    ASSERT_TRUE(start().initInstance());
    network.inbound.push_back("vote:A");
    app->tick();
    ASSERT_EQ(dialers.dialer.dials.size(), 1u);
    std::string problem;

    // A guard time applies in place: the line and the vote table stay.
    writeConfig(
        "<Configured>1</><Mode>server</><Port>9010</><Server><Connection>Modem</>"
        "<GuardTime>500</></Server>");
    ASSERT_TRUE(app->reload(problem)) << problem;
    EXPECT_EQ(app->getSettings().get(keys::GuardTime), 500);
    EXPECT_TRUE(dialers.dialer.hangUps.empty());
    EXPECT_EQ(app->getServer().getVotes().size(), 1u);
    EXPECT_EQ(network.boundPorts, std::vector<uint16_t>{9010});

    // A port hangs up and binds the new one.
    writeConfig(
        "<Configured>1</><Mode>server</><Port>9011</><Server><Connection>Modem</>"
        "<GuardTime>500</></Server>");
    ASSERT_TRUE(app->reload(problem)) << problem;
    EXPECT_EQ(dialers.dialer.hangUps.size(), 1u);
    EXPECT_TRUE(app->getServer().isStarted());
    EXPECT_EQ(app->getServer().getVotes().size(), 0u);
    EXPECT_EQ(network.boundPorts, (std::vector<uint16_t>{9010, 9011}));
}

TEST_F(LinkmootTest, ReloadMovesAHeldVoteOnlyWhenTheClientsServerChanged) {
    writeConfig(kClientConfig);
    ASSERT_TRUE(start().initInstance());
    app->onCommand(Command::Connect);
    network.sent.clear();
    std::string problem;
    writeConfig(
        "<Configured>1</><Mode>client</><Port>9005</><Client><Server>gw</>"
        "<AutoVote>1</></Client>");
    ASSERT_TRUE(app->reload(problem)) << problem;
    EXPECT_TRUE(network.sent.empty());

    network.hosts["gw2"] = 0xC0000203;
    writeConfig("<Configured>1</><Mode>client</><Port>9007</><Client><Server>gw2</></Client>");
    ASSERT_TRUE(app->reload(problem)) << problem;
    ASSERT_EQ(network.sent.size(), 2u);
    EXPECT_EQ(network.sent[0].payload, "unvote:WS01");
    EXPECT_EQ(network.sent[0].host, "192.0.2.2");  // gw
    EXPECT_EQ(network.sent[0].port, 9005);
    EXPECT_EQ(network.sent[1].payload, "vote:WS01");
    EXPECT_EQ(network.sent[1].host, "192.0.2.3");  // gw2
    EXPECT_EQ(network.sent[1].port, 9007);
    EXPECT_TRUE(app->getClient().isVoting());
}

TEST_F(LinkmootTest, AnUnparsableFileIsRefusedAndKeptAsBrokenByTheExitsSave) {
    writeConfig(kServerConfig);
    ASSERT_TRUE(start().initInstance());
    const std::string broken = "<Configured>1</><Mode>server</><Port>9011</><Server>";
    {
        std::ofstream file(configFile(), std::ios::trunc);
        file << broken;
    }
    std::string problem;
    EXPECT_FALSE(app->reload(problem));
    EXPECT_NE(problem.find("not in the configuration format"), std::string::npos) << problem;
    EXPECT_EQ(app->getSettings().get(keys::Port), 9010);
    EXPECT_EQ(network.boundPorts, std::vector<uint16_t>{9010});
    stop();

    std::ifstream kept(configFile() + ".broken");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), broken);
    toolbox::Config saved;
    ASSERT_TRUE(saved.loadFile(configFile().c_str()));
    EXPECT_EQ(Settings(saved.getRoot()).get(keys::Port), 9010);
}

TEST_F(LinkmootTest, AConfirmedConfigurationIsSavedAtOnce) {
    writeConfig(kServerConfig);
    ASSERT_TRUE(start().initInstance());
    frontEnd.onMode = [&] { root()->getParameter("Mode")->setString("server"); };
    frontEnd.onServer = [&] { root()->getParameter("Port")->setString("9012"); };
    app->onCommand(Command::Configuration);
    toolbox::Config saved;
    ASSERT_TRUE(saved.loadFile(configFile().c_str()));
    EXPECT_EQ(Settings(saved.getRoot()).get(keys::Port), 9012);
}

TEST_F(LinkmootTest, NoQuestionIsAskedWhileShuttingDown) {
    writeConfig(kClientConfig);
    ASSERT_TRUE(start().initInstance());
    app->onCommand(Command::Connect);
    network.connectFails = true;
    frontEnd.answerYes = true;
    frontEnd.questions.clear();
    stop();
    EXPECT_TRUE(frontEnd.questions.empty());
}

}  // namespace
}  // namespace linkmoot
