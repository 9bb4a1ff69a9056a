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
    EXPECT_TRUE(unknown.listEntries().empty());
    DialHandle handle = 0;
    std::string error;
    EXPECT_FALSE(unknown.dial({"x", "", ""}, handle, error));
    EXPECT_NE(error.find("'modem'"), std::string::npos) << error;
    EXPECT_NE(error.find(SystemDialServices::kValidNames), std::string::npos) << error;
    EXPECT_TRUE(log.contains("Error"));
}

TEST_F(SystemDialServicesChoiceTest, AutoPrefersNetworkManagerWhenItAnswersOnTheSystemBus) {
    platformtest::PrivateSystemBus systemBus;
    systemBus.startMock("networkmanager", "org.freedesktop.NetworkManager");
    EXPECT_STREQ(services.service("auto").name(), "networkmanager");
    EXPECT_TRUE(log.contains("uses the dial-up service \"networkmanager\""));
}

TEST_F(SystemDialServicesChoiceTest, AutoTakesPppdWithoutNetworkManagerAndElseRefusesSayingWhy) {
    platformtest::PrivateSystemBus systemBus;  // a bus without NetworkManager
    EXPECT_STREQ(services.service("auto").name(), "ppp");

    server.set(keys::PppProgram.name, "/nonexistent/pppd");
    DialService& none = services.service("auto");
    DialHandle handle = 0;
    std::string error;
    EXPECT_FALSE(none.dial({"provider", "", ""}, handle, error));
    EXPECT_NE(error.find("NetworkManager is not running"), std::string::npos) << error;
    EXPECT_NE(error.find("\"/nonexistent/pppd\""), std::string::npos) << error;
    EXPECT_TRUE(log.contains("Error"));
}

}  // namespace
}  // namespace linkmoot
