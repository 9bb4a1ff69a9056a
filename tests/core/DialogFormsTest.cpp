#include "DialogForms.h"

#include <gtest/gtest.h>

#include "Strings.h"
#include "ToolBox/Config.h"

namespace linkmoot {
namespace {

class DialogFormsTest : public ::testing::Test {
protected:
    toolbox::ConfigSection* root() { return config.getRoot(); }
    toolbox::ConfigSection* client() { return root()->getSection("Client"); }
    toolbox::ConfigSection* server() { return root()->getSection("Server"); }
    toolbox::Config config;
};

TEST_F(DialogFormsTest, ModeFormLoadsTheExactModeAndRefusesNoChoice) {
    ModeForm form;
    for (const char* mode : {"", "Server", "client "}) {
        root()->getParameter("Mode")->setString(mode);
        form.load(root());
        EXPECT_EQ(form.choice, ModeForm::Choice::None) << mode;
    }
    StoreResult result = form.store(root());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.field, ModeForm::ClientRadio);
    EXPECT_EQ(result.messageId, StringId::SelectMode);

    form.choice = ModeForm::Choice::Server;
    EXPECT_TRUE(form.store(root()).ok);
    EXPECT_STREQ(root()->getString("Mode", ""), "server");
    form.load(root());
    EXPECT_EQ(form.choice, ModeForm::Choice::Server);
}

TEST_F(DialogFormsTest, ClientFormRefusesFieldsInOrderAndKeepsWhatWasStoredBefore) {
    ClientOptionsForm form;
    form.load(root());
    EXPECT_EQ(form.port, "9005");
    EXPECT_STREQ(root()->getString("Port", ""), "9005");  // the default is stored at load
    form.port = "";
    StoreResult first = form.store(root());
    EXPECT_EQ(first.field, ClientOptionsForm::ServerField);
    EXPECT_EQ(first.messageId, StringId::EnterServerAddress);

    form.server = "gateway";
    StoreResult second = form.store(root());
    EXPECT_EQ(second.field, ClientOptionsForm::PortField);
    EXPECT_EQ(second.messageId, StringId::EnterClientPort);
    EXPECT_STREQ(client()->getString("Server", ""), "gateway");  // partial store
}

TEST_F(DialogFormsTest, ClientFormWakeOnLanPresentButEmptyIsRefusedUntilTyped) {
    client()->getParameter("WakeOnLanMac")->setString("");
    client()->getParameter("Server")->setString("gw");
    ClientOptionsForm form;
    form.load(root());
    EXPECT_TRUE(form.wakeOnLan);
    EXPECT_EQ(form.mac, "");
    StoreResult result = form.store(root());
    EXPECT_EQ(result.field, ClientOptionsForm::MacField);
    EXPECT_EQ(result.messageId, StringId::EnterWakeOnLanMac);

    form.wakeOnLan = false;
    form.autoVote = true;
    EXPECT_TRUE(form.store(root()).ok);
    EXPECT_FALSE(client()->hasParameter("WakeOnLanMac"));
    EXPECT_TRUE(client()->getBool("AutoVote", false));
}

TEST_F(DialogFormsTest, ServerFormOnAFreshConfiguration) {
    ServerOptionsForm form;
    form.load(root(), {"Zeta", "alpha", "Modem"});
    EXPECT_EQ(form.dialer, "auto");
    EXPECT_EQ(form.port, "9005");
    EXPECT_EQ(form.guardTime, "3000");
    EXPECT_FALSE(form.autoReconnect);
    EXPECT_EQ(form.reconnectMinutes, "");
    EXPECT_FALSE(form.shutdown);
    EXPECT_FALSE(form.alwaysConnected);
    EXPECT_EQ(form.connections, (std::vector<DialEntry>{"alpha", "Modem", "Zeta"}));
    EXPECT_EQ(form.selected, -1);
    EXPECT_EQ(form.userName, "");

    StoreResult result = form.store(root());
    EXPECT_EQ(result.field, ServerOptionsForm::ConnectionList);
    EXPECT_EQ(result.messageId, StringId::ChooseConnection);
    // Everything before the list was stored already.
    EXPECT_EQ(server()->getLong("GuardTime", 0), 3000);
    EXPECT_FALSE(server()->hasParameter("AutoReconnectMinutes"));
}

TEST_F(DialogFormsTest, ServerFormShutdownZeroAndAtolConversions) {
    server()->getParameter("ShutDownMinutes")->setLong(0);
    server()->getParameter("Connection")->setString("MO");
    ServerOptionsForm form;
    form.load(root(), {"Other", "Modem", "mobile"});
    EXPECT_TRUE(form.shutdown);
    EXPECT_EQ(form.shutdownMinutes, "0");
    // The first entry from the top of the list that begins with the stored
    // name, any case: the list is in alphabetical order regardless of case.
    EXPECT_EQ(form.connections, (std::vector<DialEntry>{"mobile", "Modem", "Other"}));
    EXPECT_EQ(form.selected, 0);

    form.port = "abc";
    form.guardTime = "";
    form.autoReconnect = true;
    form.reconnectMinutes = "  -15min";
    form.password = "p w";
    ASSERT_TRUE(form.store(root()).ok);
    EXPECT_STREQ(root()->getString("Port", ""), "abc");
    EXPECT_EQ(root()->getParameter("Port")->asLong(), 0);
    EXPECT_EQ(server()->getLong("GuardTime", 1), 0);
    EXPECT_EQ(server()->getLong("AutoReconnectMinutes", 1), -15);
    EXPECT_EQ(server()->getLong("ShutDownMinutes", 1), 0);
    EXPECT_STREQ(server()->getString("Connection", ""), "mobile");
    EXPECT_STREQ(server()->getString("Password", ""), "p w");
}

TEST_F(DialogFormsTest, ServerFormRefusesEmptyMinuteFieldsAndEmptyList) {
    ServerOptionsForm form;
    form.load(root(), {});
    form.shutdown = true;
    StoreResult shutdownRefused = form.store(root());
    EXPECT_EQ(shutdownRefused.field, ServerOptionsForm::ShutdownField);
    EXPECT_EQ(shutdownRefused.messageId, StringId::EnterShutdownMinutes);
    form.autoReconnect = true;
    EXPECT_EQ(form.store(root()).messageId, StringId::EnterReconnectMinutes);
    form.autoReconnect = false;
    form.shutdown = false;
    EXPECT_EQ(form.store(root()).messageId, StringId::ChooseConnection);
    form.port = "";
    EXPECT_EQ(form.store(root()).field, ServerOptionsForm::PortField);
}

TEST_F(DialogFormsTest, ServerFormWebPortIsAPortOrRefusedAndUncheckedRemovesIt) {
    ServerOptionsForm form;
    form.load(root(), {"Modem"});
    form.selected = 0;
    EXPECT_FALSE(form.webPage);
    form.webPage = true;
    for (const char* refused : {"", "0", "65536", "99999999999", "80x", "-1", " 80"}) {
        form.webPort = refused;
        StoreResult result = form.store(root());
        EXPECT_EQ(result.field, ServerOptionsForm::WebPortField) << refused;
        EXPECT_EQ(result.messageId, StringId::EnterWebPort) << refused;
        EXPECT_FALSE(server()->hasParameter("WebPort")) << refused;
    }
    form.webPort = "8080";
    ASSERT_TRUE(form.store(root()).ok);
    EXPECT_EQ(server()->getLong("WebPort", 0), 8080);
    ServerOptionsForm reloaded;
    reloaded.load(root(), {});
    EXPECT_TRUE(reloaded.webPage);
    EXPECT_EQ(reloaded.webPort, "8080");
    form.webPage = false;
    ASSERT_TRUE(form.store(root()).ok);
    EXPECT_FALSE(server()->hasParameter("WebPort"));
}

// The protocol's fields come after the others: a bad value is refused with its
// field, and what came before it stays stored; the secret counts characters.
TEST_F(DialogFormsTest, AllowedNetworksAndSecretAreCheckedAfterTheOtherFields) {
    struct Case {
        const char* networks;
        const char* secret;
        int field;  // 0: stored
        int message;
    };
    const Case cases[] = {
        {"", "", 0, 0},
        {"192.168.1.0/24, 10.0.0.0/8", "0123456789abcdef", 0, 0},
        {"192.168.1.0/33", "", ServerOptionsForm::AllowedNetworksField,
         StringId::EnterAllowedNetworks},
        {"192.168.1.0/24,", "", ServerOptionsForm::AllowedNetworksField,
         StringId::EnterAllowedNetworks},
        {"10.0.0.0/8", "0123456789abcde", ServerOptionsForm::SecretField, StringId::SecretTooShort},
        {"10.0.0.0/8", "\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4",
         ServerOptionsForm::SecretField, StringId::SecretTooShort},  // 8 characters in 16 bytes
    };
    for (const Case& c : cases) {
        toolbox::Config fresh;
        ServerOptionsForm form;
        form.load(fresh.getRoot(), {"Modem"});
        form.selected = 0;
        form.allowedNetworks = c.networks;
        form.secret = c.secret;
        const StoreResult result = form.store(fresh.getRoot());
        EXPECT_EQ(result.ok, c.field == 0) << c.networks << " " << c.secret;
        EXPECT_EQ(result.field, c.field) << c.networks;
        EXPECT_EQ(result.messageId, c.message) << c.networks;
        EXPECT_STREQ(fresh.getRoot()->getSection("Server")->getString("Connection", ""), "Modem");
        EXPECT_EQ(result.detail.empty(), c.field != ServerOptionsForm::AllowedNetworksField);
    }

    ClientOptionsForm client;
    client.load(root());
    EXPECT_TRUE(client.notify);
    client.server = "gw";
    client.port = "9005";
    client.secret = "short";
    client.notify = false;
    EXPECT_EQ(client.store(root()).field, ClientOptionsForm::SecretField);
    client.secret = "0123456789abcdef";
    ASSERT_TRUE(client.store(root()).ok);
    EXPECT_STREQ(root()->getString("Secret", ""), "0123456789abcdef");
    EXPECT_FALSE(root()->getSection("Client")->getBool("Notify", true));
}

TEST(ParseLongTest, FollowsAtolAndSaturates) {
    EXPECT_EQ(parseLong(""), 0);
    EXPECT_EQ(parseLong("  42x"), 42);
    EXPECT_EQ(parseLong("+7"), 7);
    EXPECT_EQ(parseLong("-3000"), -3000);
    EXPECT_EQ(parseLong("x42"), 0);
    EXPECT_EQ(parseLong("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(parseLong("-99999999999999999999"), INT32_MIN);
}

}  // namespace
}  // namespace linkmoot
