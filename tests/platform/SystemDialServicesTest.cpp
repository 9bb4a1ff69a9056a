#include "platform/SystemDialServices.h"

#include <gtest/gtest.h>

#include "PlatformTestSupport.h"
#include "Settings.h"

namespace linkmoot {
namespace {

class SystemDialServicesChoiceTest : public ::testing::Test {
protected:
    SystemDialServicesChoiceTest() : services(server.settings()) {
        server.set(keys::PppProgram.name, platformtest::dataFolder() + "/fake-pppd");
    }

    platformtest::LogCapture log;
    platformtest::ServerSection server;
    SystemDialServices services;
};

TEST_F(SystemDialServicesChoiceTest, EachNameSelectsItsOwnLastingService) {
    for (const char* name : {"networkmanager", "ppp", "command", "simulated"}) {
        EXPECT_STREQ(services.service(name).name(), name);
        EXPECT_EQ(&services.service(name), &services.service(name));
    }
}

TEST_F(SystemDialServicesChoiceTest, UnknownValueRefusesEveryDialNamingTheValidOnes) {
    DialService& unknown = services.service("modem");
    EXPECT_TRUE(platformtest::entriesOf(unknown).empty());
    DialHandle handle = 0;
    std::string error;
    EXPECT_FALSE(unknown.dial({"x", "", ""}, handle, error));
    EXPECT_NE(error.find("'modem'"), std::string::npos) << error;
    EXPECT_NE(error.find(SystemDialServices::kValidNames), std::string::npos) << error;
    EXPECT_TRUE(log.contains("Error"));
}

// The look at the bus runs in the background: each request takes the latest
// answer and starts the next look, so one that started later is found soon.
TEST_F(SystemDialServicesChoiceTest, AutoFindsNetworkManagerWithoutEverWaitingForTheBus) {
    platformtest::PrivateSystemBus systemBus;
    systemBus.startMock("networkmanager", "org.freedesktop.NetworkManager");
    EXPECT_TRUE(platformtest::waitUntil(
        [&] { return std::string(services.service("auto").name()) == "networkmanager"; }));
    EXPECT_TRUE(log.contains("uses the dial-up service \"networkmanager\""));

    // A NetworkManager that stops answering does not hold the request.
    systemBus.freezeMocks(true);
    EXPECT_STREQ(services.service("auto").name(), "networkmanager");
    systemBus.freezeMocks(false);
}

TEST_F(SystemDialServicesChoiceTest, AutoTakesPppdWithoutNetworkManagerAndElseRefusesSayingWhy) {
    platformtest::PrivateSystemBus systemBus;  // a bus without NetworkManager
    EXPECT_TRUE(platformtest::waitUntil(
        [&] { return std::string(services.service("auto").name()) == "ppp"; }));

    server.set(keys::PppProgram.name, "/nonexistent/pppd");
    DialHandle handle = 0;
    std::string error;
    // The first look found no bus at all; a later one finds it without NetworkManager.
    EXPECT_TRUE(platformtest::waitUntil([&] {
        error.clear();
        return !services.service("auto").dial({"provider", "", ""}, handle, error) &&
               error.find("NetworkManager is not running") != std::string::npos;
    })) << error;
    EXPECT_NE(error.find("\"/nonexistent/pppd\""), std::string::npos) << error;
    EXPECT_TRUE(log.contains("Error"));
}

// Before the first look has answered, "auto" refuses dials as still looking,
// and a list asked for meanwhile comes once the look has chosen.
TEST(SystemDialServicesLookTest, UntilTheFirstLookAnswersDialsWaitAndTheListFollowsTheChoice) {
    platformtest::LogCapture log;
    platformtest::ServerSection server;
    testsupport::TempFolder peers;
    peers.writeFile("provider", "");
    server.set(keys::PppProgram.name, platformtest::dataFolder() + "/fake-pppd");
    server.set(keys::PppPeersFolder.name, peers.file(""));
    platformtest::PrivateSystemBus systemBus;  // without NetworkManager
    systemBus.freezeBus(true);
    SystemDialServices services(server.settings());

    DialService& looking = services.service("auto");
    DialHandle handle = 0;
    std::string error;
    EXPECT_FALSE(looking.dial({"provider", "", ""}, handle, error));
    EXPECT_NE(error.find("still looking"), std::string::npos) << error;
    platformtest::Answer<std::vector<DialEntry>> listed;
    looking.listEntries(listed.callback());

    systemBus.freezeBus(false);
    ASSERT_TRUE(listed.wait());
    EXPECT_EQ(listed.get(), std::vector<DialEntry>{"provider"});
    EXPECT_TRUE(platformtest::waitUntil(
        [&] { return std::string(services.service("auto").name()) == "ppp"; }));
}

}  // namespace
}  // namespace linkmoot
