#include "Client.h"

#include <gtest/gtest.h>

#include "Strings.h"
#include "fakes/Fakes.h"

namespace linkmoot {
namespace {

using fakes::FakeApplication;
using fakes::FakeNetwork;

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        root()->getParameter("Mode")->setString("client");
        root()->getParameter("Port")->setString("9005");
        clientSection()->getParameter("Server")->setString("gateway");
    }
    toolbox::ConfigSection* root() { return app.getConfigRoot(); }
    toolbox::ConfigSection* clientSection() { return root()->getSection("Client"); }
    std::unique_ptr<Client> makeClient() { return std::make_unique<Client>(app, network, clock); }
    std::vector<std::string> payloads() const {
        std::vector<std::string> result;
        for (const auto& datagram : network.sent)
            result.push_back(datagram.payload);
        return result;
    }

    FakeApplication app;
    FakeNetwork network;
    fakes::FakeClock clock;
};

TEST_F(ClientTest, ConnectVotesAtOnceAndDisconnectUnvotesWithExactDatagrams) {
    auto client = makeClient();
    client->startVoting();
    client->stopVoting();
    ASSERT_EQ(network.sent.size(), 2u);
    EXPECT_EQ(network.sent[0].payload, "vote:WS01");
    EXPECT_EQ(network.sent[0].payload.size(), 9u);
    EXPECT_EQ(network.sent[1].payload, "unvote:WS01");
    EXPECT_EQ(network.sent[1].payload.size(), 11u);
    EXPECT_EQ(network.sent[0].host, "192.0.2.1");  // "gateway" as the resolver found it
    EXPECT_EQ(network.sent[0].port, 9005);
    EXPECT_EQ(network.socketsCreated, 1);  // one socket carries requests and answers
    client.reset();
    EXPECT_EQ(network.socketsOpen, 0);
}

TEST_F(ClientTest, ConnectWhileVotingAndDisconnectWhileNotVotingSendNothing) {
    auto client = makeClient();
    client->stopVoting();
    EXPECT_TRUE(network.sent.empty());
    client->startVoting();
    client->startVoting();
    EXPECT_EQ(payloads(), std::vector<std::string>{"vote:WS01"});
}

TEST_F(ClientTest, RevoteRepeatsTheVoteWhileVotingAndQueriesOtherwise) {
    auto client = makeClient();
    client->revote();
    client->startVoting();
    client->revote();
    client->stopVoting();
    root()->getParameter("Mode")->setString("server");  // the server knows its line
    client->revote();
    EXPECT_EQ(payloads(),
              (std::vector<std::string>{"query:WS01", "vote:WS01", "vote:WS01", "unvote:WS01"}));
}

TEST_F(ClientTest, ServerModeSendsToLocalhostWhateverTheServerKeySays) {
    root()->getParameter("Mode")->setString("server");
    auto client = makeClient();
    client->startVoting();
    EXPECT_EQ(network.sent.at(0).host, "127.0.0.1");
    EXPECT_TRUE(network.lookups.empty());
}

TEST_F(ClientTest, LongHostNamesAreSentWhole) {
    network.hostName = "workstation-of-the-accounts-department";
    auto client = makeClient();
    client->startVoting();
    EXPECT_EQ(network.sent.at(0).payload, "vote:workstation-of-the-accounts-department");
}

TEST_F(ClientTest, AutoVoteIsReadOnceAndStartsVotingWithoutSending) {
    clientSection()->getParameter("AutoVote")->setBool(true);
    auto client = makeClient();
    EXPECT_TRUE(client->isVoting());
    EXPECT_TRUE(network.sent.empty());
    clientSection()->getParameter("AutoVote")->setBool(false);
    client->revote();
    EXPECT_EQ(payloads(), std::vector<std::string>{"vote:WS01"});

    FakeApplication fresh;
    Client plain(fresh, network, clock);
    EXPECT_FALSE(plain.isVoting());
    EXPECT_TRUE(fresh.getConfigRoot()->getSection("Client")->hasParameter("AutoVote"));
}

TEST_F(ClientTest, TheQuestionIsAskedOnceBetweenTwoConnects) {
    network.connectFails = true;
    auto client = makeClient();
    client->startVoting();
    client->revote();
    client->revote();
    EXPECT_EQ(client->takeQuestion(), StringId::QuestionClientCannotConnect);
    EXPECT_TRUE(client->isVoting());  // a failed send keeps the voting state

    client->stopVoting();
    EXPECT_FALSE(client->isVoting());
    client->startVoting();
    EXPECT_EQ(client->takeQuestion(), StringId::QuestionClientCannotConnect);
    EXPECT_EQ(network.socketsOpen, 0);
}

TEST_F(ClientTest, WakeOnLanSilencesSocketQuestionsButNotTheNameQuestion) {
    clientSection()->getParameter("WakeOnLanMac")->setString("00:1A:2B:3C:4D:5E");
    network.openFails = true;
    auto client = makeClient();
    client->startVoting();
    EXPECT_EQ(client->takeQuestion(), 0);

    network.openFails = false;
    network.connectFails = true;
    client->stopVoting();
    client->startVoting();
    EXPECT_EQ(client->takeQuestion(), 0);

    network.connectFails = false;
    client->stopVoting();
    network.nameFails = true;
    client->startVoting();
    EXPECT_EQ(client->takeQuestion(), StringId::QuestionClientCannotConnect);
    client.reset();
    EXPECT_EQ(network.socketsOpen, 0);
}

TEST_F(ClientTest, AnOutOfRangePortIsAConnectFailure) {
    root()->getParameter("Port")->setString("65536");
    auto client = makeClient();
    client->startVoting();
    EXPECT_TRUE(network.sent.empty());
    EXPECT_EQ(client->takeQuestion(), StringId::QuestionClientCannotConnect);
}

TEST_F(ClientTest, DestructionWithdrawsTheVote) {
    auto client = makeClient();
    client->startVoting();
    client.reset();
    EXPECT_EQ(payloads(), (std::vector<std::string>{"vote:WS01", "unvote:WS01"}));
}

// The server's name is looked up off the loop: Connect's vote leaves when the
// answer comes, a re-vote uses the last address while a new look-up runs, and
// a failed look-up asks its question when its answer arrives.
TEST_F(ClientTest, TheServersNameIsLookedUpOffTheLoop) {
    network.lookupsWait = true;
    auto client = makeClient();
    client->startVoting();
    client->tick();
    EXPECT_TRUE(network.sent.empty());
    network.lookupsReleased = true;
    client->tick();
    ASSERT_EQ(payloads(), std::vector<std::string>{"vote:WS01"});
    EXPECT_EQ(network.sent.back().host, "192.0.2.1");

    network.hosts["gateway"] = 0xC0000209;  // the name moved
    client->revote();
    EXPECT_EQ(network.sent.back().host, "192.0.2.1");
    network.lookupsReleased = true;
    client->tick();
    client->revote();
    EXPECT_EQ(network.sent.back().host, "192.0.2.9");
    EXPECT_EQ(network.socketsCreated, 1);  // connected again, not replaced

    network.connectFails = true;
    client->revote();
    EXPECT_EQ(network.sent.size(), 4u);
    EXPECT_EQ(client->takeQuestion(), 0);
    network.lookupsReleased = true;
    client->tick();
    EXPECT_EQ(client->takeQuestion(), StringId::QuestionClientCannotConnect);
}

// Answers are read every tick; a change of the line while voting leaves a
// notice (not when Notify is off), and a query never asks a question.
TEST_F(ClientTest, AnswersMakeTheServerLineAndItsNotices) {
    auto client = makeClient();
    client->revote();
    EXPECT_EQ(payloads(), std::vector<std::string>{"query:WS01"});
    EXPECT_EQ(client->serverLineText(), "Server gateway: waiting for an answer");
    network.answers.push_back("state:v=2,line=up,votes=2,you=0,up=120");
    EXPECT_TRUE(client->tick());
    EXPECT_EQ(client->serverLineText(), "Server gateway: line up for 2 min, 2 votes");
    EXPECT_EQ(client->takeNotice(), "");  // not voting

    client->startVoting();
    network.answers.push_back("state:v=2,line=dialling,votes=3,you=1,up=0");
    EXPECT_TRUE(client->tick());
    network.answers.push_back("state:v=2,line=up,votes=3,you=1,up=0");
    client->tick();
    EXPECT_EQ(client->takeNotice(), "Server gateway: the line is up");
    EXPECT_EQ(lineWordOf(client->serverView()), std::string("up"));

    clientSection()->getParameter("Notify")->setBool(false);
    network.answers.push_back("state:v=2,line=down,votes=0,you=0,up=0");
    client->tick();
    EXPECT_EQ(client->takeNotice(), "");

    network.connectFails = true;
    root()->getParameter("Port")->setString("99999");
    client->stopVoting();
    EXPECT_EQ(client->takeQuestion(), StringId::QuestionClientCannotConnect);
    client->revote();  // a failing query
    EXPECT_EQ(client->takeQuestion(), 0);
}

// Wake-on-LAN.

// `auto`: the vote waits for one round of looking; the one server found is
// chosen, stored, and followed to a new address; a second server found later
// does not change the choice, and while the chosen one is not found (asleep)
// the stored address is used.
TEST_F(ClientTest, AutomaticChoosesTheOneServerFoundAndKeepsIt) {
    clientSection()->getParameter("Server")->setString("auto");
    network.interfaces = {{"eth0", 2, 0xC0000203, 0xFFFFFF00, 0xC00002FF, true, false, false}};
    fakes::FakeBrowser browser;
    auto client = std::make_unique<Client>(app, network, clock, nullptr, &browser);
    client->startVoting();
    EXPECT_TRUE(browser.browsing);
    ASSERT_EQ(network.sentTo.size(), 1u);  // the broadcast query
    EXPECT_TRUE(network.sent.empty());
    EXPECT_EQ(client->serverLineText(), "Looking for servers on the LAN");

    const AnnouncedServer gw1{"Linkmoot on gw1", "gw1", 0xC0000201, 9006, {{"secret", "0"}}};
    browser.services = {gw1};
    clock.advance(ServerFinder::kRoundMs);
    client->tick();
    ASSERT_EQ(payloads(), std::vector<std::string>{"vote:WS01"});
    EXPECT_EQ(network.sent[0].host, "192.0.2.1");
    EXPECT_EQ(network.sent[0].port, 9006);
    EXPECT_EQ(std::string(clientSection()->getParameter("AutoChoice")->asString()), "gw1");
    EXPECT_EQ(std::string(clientSection()->getParameter("AutoAddress")->asString()), "192.0.2.1");

    AnnouncedServer moved = gw1;
    moved.address = 0xC0000207;
    const AnnouncedServer gw2{"Linkmoot on gw2", "gw2", 0xC0000202, 9005, {}};
    browser.services = {moved, gw2};
    client->revote();
    EXPECT_EQ(network.sent.back().host, "192.0.2.7");
    browser.services.clear();
    client->revote();
    EXPECT_EQ(network.sent.back().host, "192.0.2.7");
    EXPECT_EQ(client->takeQuestion(), 0);
}

// With none or several found nothing is voted: the status row says why and
// the vote's question follows, as for a server that cannot be reached.
TEST_F(ClientTest, AutomaticRefusesNoServerOrSeveral) {
    const struct {
        std::vector<AnnouncedServer> services;
        const char* row;
    } cases[] = {
        {{}, "No server found on the LAN"},
        {{{"Linkmoot on gw2", "gw2", 0xC0000202, 9005, {}},
          {"Linkmoot on gw1", "gw1", 0xC0000201, 9005, {}}},
         "Several servers found: gw1, gw2; choose one in the options"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        clientSection()->getParameter("Server")->setString("auto");
        fakes::FakeBrowser browser;
        browser.services = c.services;
        network.sent.clear();
        auto client = std::make_unique<Client>(app, network, clock, nullptr, &browser);
        client->startVoting();
        clock.advance(ServerFinder::kRoundMs);
        client->tick();
        EXPECT_TRUE(network.sent.empty());
        EXPECT_EQ(client->serverLineText(), c.row);
        EXPECT_EQ(client->takeQuestion(), StringId::QuestionClientCannotConnect);
        client->stopVoting();
    }
}

TEST_F(ClientTest, MagicPacketReadsSixPairsWhateverTheSeparators) {
    const auto colon = Client::magicPacket("00:1A:2B:3C:4D:5E");
    const auto dash = Client::magicPacket("00-1a-2b-3c-4d-5e");
    EXPECT_EQ(colon, dash);
    const uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(colon[i], 0xFF);
    for (std::size_t n = 6; n < colon.size(); n++)
        EXPECT_EQ(colon[n], mac[n % 6]) << n;
}

TEST_F(ClientTest, MagicPacketReadsWrongCharactersAsZeroAndIgnoresSeparatorPositions) {
    const auto packet = Client::magicPacket("G0:1x:zz:FF:ff:09");
    const uint8_t expected[6] = {0x00, 0x10, 0x00, 0xFF, 0xFF, 0x09};
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(packet[6 + i], expected[i]) << i;
    // Without separators the fixed positions pick other digits: 0,1 3,4 6,7 ...
    const auto packed = Client::magicPacket("001A2B3C4D5E12345");
    const uint8_t packedBytes[6] = {0x00, 0xA2, 0x3C, 0xD5, 0x12, 0x45};
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(packed[6 + i], packedBytes[i]) << i;
}

TEST_F(ClientTest, WakeOnLanGoesBeforeEachVoteAndNeverBeforeAnUnvote) {
    clientSection()->getParameter("WakeOnLanMac")->setString("00:1A:2B:3C:4D:5E and more");
    auto client = makeClient();
    client->startVoting();
    client->revote();
    client->stopVoting();
    ASSERT_EQ(network.sent.size(), 5u);
    EXPECT_EQ(network.sent[0].host, "224.0.0.1");
    EXPECT_EQ(network.sent[0].port, 9);
    EXPECT_TRUE(network.sent[0].broadcast);
    EXPECT_EQ(network.sent[0].payload.size(), 102u);
    EXPECT_EQ(
        network.sent[0].payload,
        std::string(reinterpret_cast<const char*>(Client::magicPacket("00:1A:2B:3C:4D:5E").data()),
                    102));
    EXPECT_EQ(network.sent[1].payload, "vote:WS01");
    EXPECT_EQ(network.sent[2].payload.size(), 102u);
    EXPECT_EQ(network.sent[3].payload, "vote:WS01");
    EXPECT_EQ(network.sent[4].payload, "unvote:WS01");
}

TEST_F(ClientTest, ShortMacTextsSendNoPacket) {
    clientSection()->getParameter("WakeOnLanMac")->setString("00:1A:2B:3C:4D:5");  // 16 characters
    auto client = makeClient();
    client->startVoting();
    EXPECT_EQ(payloads(), std::vector<std::string>{"vote:WS01"});
}

TEST_F(ClientTest, AFailedWakeOnLanStillLetsTheVoteFollow) {
    clientSection()->getParameter("WakeOnLanMac")->setString("00:1A:2B:3C:4D:5E");
    network.broadcastFails = true;
    auto client = makeClient();
    client->startVoting();
    EXPECT_EQ(payloads(), std::vector<std::string>{"vote:WS01"});
    EXPECT_EQ(client->takeQuestion(), 0);
    client.reset();
    EXPECT_EQ(network.socketsOpen, 0);
}

}  // namespace
}  // namespace linkmoot
