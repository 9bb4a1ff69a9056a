#include "platform/NetworkManagerReasons.h"

#include <gtest/gtest.h>

namespace linkmoot::networkmanager {
namespace {

// NetworkManager's active connection says "device disconnected" for a refused
// password and a dead line alike: the text must never blame the modem alone,
// and must name the login failure where the signs show it.
TEST(NetworkManagerReasonsTest, EachFailureIsNamedByWhatIsKnownOfIt) {
    struct Case {
        FailedActivation failed;
        const char* text;
        const char* hint;
    };
    const Case cases[] = {
        // A VPN names the login failure itself; so does a second request.
        {{kActiveReasonLoginFailed}, "could not log in to \"P\": the provider refused", "Password"},
        {{kActiveReasonDeviceDisconnected, 0, 0, true, true}, "could not log in to \"P\"", ""},
        // PPP: the link ends while the device is set up, right after the
        // password went over.
        {{kActiveReasonDeviceDisconnected, kDeviceReasonPppDisconnect, kDeviceStateConfig, true},
         "could not log in to \"P\": the provider refused the user name or password",
         "Password"},
        // The same without our password (the profile keeps its own): both causes.
        {{kActiveReasonDeviceDisconnected, kDeviceReasonPppDisconnect, kDeviceStateConfig},
         "up: the PPP link ended while it was being made (the provider refused the user name or "
         "password, or the line dropped)",
         "then the modem"},
        {{kActiveReasonDeviceDisconnected, kDeviceReasonPppFailed, kDeviceStateConfig, true},
         "up: the PPP link could not be made (no answer",
         "modem, its cable"},
        {{kActiveReasonDeviceDisconnected},
         "up: the device was disconnected (the provider may have refused the user name or "
         "password, or the modem or the line is gone)",
         "Password, then the modem"},
        {{kActiveReasonNoSecrets}, "up: no secrets (password) were available", "agent-owned"},
        {{kActiveReasonDeviceRemoved}, "up: the device was removed", "plugged in"},
        {{6}, "could not bring \"P\" up: the connection attempt timed out", ""},
        {{0}, "up: the activation ended without a reason given", ""},
    };
    for (const Case& each : cases) {
        const std::string text = failureText("P", each.failed);
        EXPECT_NE(text.find(each.text), std::string::npos) << text;
        EXPECT_EQ(text.rfind("NetworkManager could not ", 0), 0u) << text;
        const std::string hint = failureHint(each.failed);
        EXPECT_NE(hint.find(each.hint), std::string::npos) << text << hint;
        EXPECT_TRUE(hint.empty() || hint.rfind("; ", 0) == 0) << hint;
    }
}

}  // namespace
}  // namespace linkmoot::networkmanager
