#include "platform/NetworkManagerDialService.h"

#include <gtest/gtest.h>

#include <mutex>
#include <utility>

#include "PlatformTestSupport.h"

namespace linkmoot {
namespace {

using platformtest::PrivateSystemBus;
using platformtest::waitUntil;

constexpr const char* kNetworkManager = "org.freedesktop.NetworkManager";
constexpr const char* kManagerPath = "/org/freedesktop/NetworkManager";
constexpr const char* kMock = "org.freedesktop.DBus.Mock";
constexpr const char* kPassword = "s3cr3t-Pa55word";

/// Failure reports as they arrive from the service's thread.
class FailureRecorder {
public:
    DialService::FailureCallback callback() {
        return [this](DialHandle handle, const std::string& reason) {
            std::lock_guard<std::mutex> lock(mutex);
            reports.emplace_back(handle, reason);
        };
    }
    std::vector<std::pair<DialHandle, std::string>> get() {
        std::lock_guard<std::mutex> lock(mutex);
        return reports;
    }

private:
    std::mutex mutex;
    std::vector<std::pair<DialHandle, std::string>> reports;
};

// The peer: python3-dbusmock's networkmanager template with the dial-up
// additions of data/networkmanager_dialup.py.
class NetworkManagerDialServiceTest : public ::testing::Test {
protected:
    void startNetworkManager() {
        systemBus.startMock("networkmanager", kNetworkManager);
        const std::string additions = platformtest::dataFolder() + "/networkmanager_dialup.py";
        sd_bus_message_unref(callMock("AddTemplate", "sa{sv}", additions.c_str(), 0u));
    }

    template <typename... Arguments>
    sd_bus_message* callMock(const char* method, const char* signature, Arguments... arguments) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        const int result = sd_bus_call_method(testBus.get(), kNetworkManager, kManagerPath, kMock,
                                              method, &error, &reply, signature, arguments...);
        EXPECT_GE(result, 0) << method << ": " << (error.message ? error.message : "");
        sd_bus_error_free(&error);
        return reply;
    }

    std::string addProfile(const char* id, const char* type, const char* behaviour,
                           const char* password = "", const char* uuid = "") {
        sd_bus_message* reply =
            callMock("AddDialupProfile", "sssss", id, uuid, type, behaviour, password);
        const char* path = "";
        if (reply != nullptr)
            sd_bus_message_read(reply, "o", &path);
        std::string result = path;
        sd_bus_message_unref(reply);
        return result;
    }

    // An ethernet device with these IPv4 addresses that offers these profiles.
    void addDevice(const std::string& interface, const std::vector<std::string>& addresses,
                   const std::vector<std::string>& profiles) {
        sd_bus_message* call = nullptr;
        sd_bus_message* reply = nullptr;
        sd_bus_error error = SD_BUS_ERROR_NULL;
        std::vector<const char*> addressTexts;
        std::vector<const char*> profileTexts;
        for (const std::string& address : addresses)
            addressTexts.push_back(address.c_str());
        addressTexts.push_back(nullptr);
        for (const std::string& profile : profiles)
            profileTexts.push_back(profile.c_str());
        int result = sd_bus_message_new_method_call(testBus.get(), &call, kNetworkManager,
                                                    kManagerPath, kMock, "AddUplinkDevice");
        if (result >= 0)
            result = sd_bus_message_append(call, "s", interface.c_str());
        if (result >= 0)
            result = sd_bus_message_append_strv(call, const_cast<char**>(addressTexts.data()));
        if (result >= 0)
            result = sd_bus_message_open_container(call, 'a', "o");
        for (const char* profile : profileTexts)
            if (result >= 0)
                result = sd_bus_message_append(call, "o", profile);
        if (result >= 0)
            result = sd_bus_message_close_container(call);
        if (result >= 0)
            result = sd_bus_call(testBus.get(), call, 0, &error, &reply);
        EXPECT_GE(result, 0) << "AddUplinkDevice: " << (error.message ? error.message : "");
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
        sd_bus_message_unref(call);
    }

    std::vector<std::string> receivedSecrets() {
        sd_bus_message* reply = callMock("ReceivedSecrets", "");
        char** texts = nullptr;
        std::vector<std::string> result;
        if (reply != nullptr && sd_bus_message_read_strv(reply, &texts) >= 0) {
            for (char** text = texts; text != nullptr && *text != nullptr; ++text) {
                result.push_back(*text);
                free(*text);
            }
            free(texts);
        }
        sd_bus_message_unref(reply);
        return result;
    }

    std::string readText(const char* method) {
        sd_bus_message* reply = callMock(method, "");
        const char* text = "";
        if (reply != nullptr)
            sd_bus_message_read(reply, "s", &text);
        std::string result = text;
        sd_bus_message_unref(reply);
        return result;
    }

    uint32_t activationCount() {
        sd_bus_message* reply = callMock("ActivationCount", "");
        uint32_t count = 0;
        if (reply != nullptr)
            sd_bus_message_read(reply, "u", &count);
        sd_bus_message_unref(reply);
        return count;
    }

    std::vector<std::string> activeConnections() {
        sd_bus_message* reply = nullptr;
        std::vector<std::string> paths;
        if (sd_bus_get_property(testBus.get(), kNetworkManager, kManagerPath, kNetworkManager,
                                "ActiveConnections", nullptr, &reply, "ao") >= 0) {
            char** texts = nullptr;
            if (sd_bus_message_read_strv(reply, &texts) >= 0) {
                for (char** text = texts; text != nullptr && *text != nullptr; ++text) {
                    paths.push_back(*text);
                    free(*text);
                }
                free(texts);
            }
        }
        sd_bus_message_unref(reply);
        return paths;
    }

    std::string activeProperty(const std::string& path, const char* name) {
        char* value = nullptr;
        sd_bus_get_property_string(testBus.get(), kNetworkManager, path.c_str(),
                                   "org.freedesktop.NetworkManager.Connection.Active", name,
                                   nullptr, &value);
        std::string result = value != nullptr ? value : "";
        free(value);
        return result;
    }

    bool cameUp(const std::string& entry) {
        return waitUntil(
            [&] { return log.contains("NetworkManager brought \"" + entry + "\" up"); });
    }

    platformtest::LogCapture log;
    PrivateSystemBus systemBus;
    PrivateSystemBus::Bus testBus;
    FailureRecorder failures;
    NetworkManagerDialService service;
};

TEST_F(NetworkManagerDialServiceTest, ListsEveryProfileNameOnceWithItsTypesButLoopback) {
    startNetworkManager();
    addProfile("Dial-in", "pppoe", "connect");
    addProfile("Office LAN", "802-3-ethernet", "connect");
    addProfile("lo", "loopback", "connect");
    addProfile("Mobile", "gsm", "connect");
    addProfile("Dial-in", "gsm", "connect");
    addProfile("Phone hotspot", "802-11-wireless", "connect");

    EXPECT_EQ(platformtest::listedEntries(service),
              (std::vector<DialEntry>{{"Dial-in", "pppoe, gsm"},
                                      {"Office LAN", "ethernet"},
                                      {"Mobile", "gsm"},
                                      {"Phone hotspot", "wifi"}}));
}

TEST_F(NetworkManagerDialServiceTest, DialActivatesTheProfileAndHangUpDeactivatesItQuietly) {
    startNetworkManager();
    addProfile("Dial-in", "pppoe", "connect");
    service.setFailureCallback(failures.callback());

    DialHandle handle = 0;
    std::string error;
    ASSERT_TRUE(service.dial({"Dial-in", "", ""}, handle, error)) << error;
    EXPECT_NE(handle, 0u);
    EXPECT_NE(service.state(handle), LineState::Disconnected);
    ASSERT_TRUE(cameUp("Dial-in"));
    EXPECT_TRUE(waitUntil([&] { return service.state(handle) == LineState::Connected; }));
    // Its device's interface, read with the state, for counting its bytes.
    EXPECT_EQ(service.interfaceName(handle), "ppp1");

    service.hangUp(handle);  // queued for the bus thread
    EXPECT_EQ(service.interfaceName(handle), "");
    EXPECT_TRUE(waitUntil([&] { return activeConnections().empty() && !service.hangingUp(); }));
    EXPECT_EQ(service.state(handle), LineState::Disconnected);
    // The DEACTIVATED that our own hang-up caused is not a failure.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(failures.get().empty());
}

TEST_F(NetworkManagerDialServiceTest, AnAlreadyActiveProfileIsUsedRatherThanActivatedAgain) {
    startNetworkManager();
    addProfile("Dial-in", "pppoe", "connect");
    DialHandle first = 0;
    std::string error;
    ASSERT_TRUE(service.dial({"Dial-in", "", ""}, first, error)) << error;
    ASSERT_TRUE(cameUp("Dial-in"));

    // As after a restart of the server while the line is up.
    NetworkManagerDialService restarted;
    DialHandle second = 0;
    ASSERT_TRUE(restarted.dial({"Dial-in", "", ""}, second, error)) << error;
    EXPECT_TRUE(waitUntil([&] { return restarted.state(second) == LineState::Connected; }));
    EXPECT_TRUE(log.contains("is already active; using it"));
    EXPECT_EQ(activationCount(), 1u);
}

TEST_F(NetworkManagerDialServiceTest, ActivationThatFailsLaterIsReportedOnceWithItsReason) {
    startNetworkManager();
    addProfile("Busy line", "gsm", "fail");
    service.setFailureCallback(failures.callback());

    DialHandle handle = 0;
    std::string error;
    ASSERT_TRUE(service.dial({"Busy line", "", ""}, handle, error)) << error;
    ASSERT_TRUE(waitUntil([&] { return !failures.get().empty(); }));
    EXPECT_EQ(service.state(handle), LineState::Disconnected);

    const auto reports = failures.get();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].first, handle);
    EXPECT_NE(reports[0].second.find("timed out"), std::string::npos) << reports[0].second;
    EXPECT_TRUE(log.contains("Warn"));
    EXPECT_TRUE(log.contains("could not bring \"Busy line\" up: the connection attempt timed out"));
}

TEST_F(NetworkManagerDialServiceTest, LineThatDropsAfterComingUpIsDisconnectedNotAFailure) {
    startNetworkManager();
    addProfile("Dial-in", "pppoe", "connect");
    service.setFailureCallback(failures.callback());
    DialHandle handle = 0;
    std::string error;
    ASSERT_TRUE(service.dial({"Dial-in", "", ""}, handle, error)) << error;
    ASSERT_TRUE(cameUp("Dial-in"));
    const std::vector<std::string> active = activeConnections();
    ASSERT_EQ(active.size(), 1u);

    sd_bus_message_unref(callMock("SetActiveState", "ouu", active[0].c_str(), 4u, 3u));
    EXPECT_TRUE(waitUntil([&] { return service.state(handle) == LineState::Disconnected; }));
    EXPECT_TRUE(failures.get().empty());
}

// The profiles must be asked for first, so a refusal is a failure report.
TEST_F(NetworkManagerDialServiceTest, RefusalsAreReportedAsFailuresSayingWhatToDoOnceAtError) {
    startNetworkManager();
    addProfile("Locked", "pppoe", "refuse");
    service.setFailureCallback(failures.callback());

    DialHandle handle = 0;
    std::string error;
    auto refusal = [&](const char* entry) {
        const size_t before = failures.get().size();
        EXPECT_TRUE(service.dial({entry, "", ""}, handle, error));
        EXPECT_TRUE(waitUntil([&] { return failures.get().size() == before + 1; })) << entry;
        EXPECT_EQ(service.state(handle), LineState::Disconnected);
        return failures.get().back();
    };
    const auto locked = refusal("Locked");
    EXPECT_NE(locked.second.find("Not authorized to control networking"), std::string::npos);
    EXPECT_NE(locked.second.find("polkit rule for org.freedesktop.NetworkManager.network-control"),
              std::string::npos);
    // The loop dials again soon: the same refusal once more is only Debug.
    refusal("Locked");
    EXPECT_EQ(log.count("Error", "Cannot dial with NetworkManager: NetworkManager refused"), 1u)
        << log.text();

    // A missing profile is not dialled.
    EXPECT_NE(refusal("Nowhere").second.find("\"Nowhere\""), std::string::npos);
    EXPECT_EQ(activationCount(), 0u);
}

// A NetworkManager that does not answer (stopped) holds no caller: the dial,
// the list and the state answer at once, and the dial goes on when it wakes.
TEST_F(NetworkManagerDialServiceTest, NoCallWaitsForAPeerThatDoesNotAnswer) {
    startNetworkManager();
    addProfile("Dial-in", "pppoe", "connect");
    addProfile("Second", "pppoe", "connect");
    service.setFailureCallback(failures.callback());
    EXPECT_EQ(platformtest::entriesOf(service), (std::vector<std::string>{"Dial-in", "Second"}));

    systemBus.freezeMocks(true);
    DialHandle handle = 0;
    DialHandle abandoned = 0;
    std::string error;
    ASSERT_TRUE(service.dial({"Dial-in", "", ""}, handle, error));
    EXPECT_EQ(service.state(handle), LineState::Pending);
    platformtest::Answer<std::vector<DialEntry>> listed;
    service.listEntries(listed.callback());
    // Hung up before its turn came: never activated.
    ASSERT_TRUE(service.dial({"Second", "", ""}, abandoned, error));
    service.hangUp(abandoned);
    EXPECT_FALSE(listed.arrived());
    EXPECT_EQ(service.state(handle), LineState::Pending);

    systemBus.freezeMocks(false);
    ASSERT_TRUE(cameUp("Dial-in"));
    EXPECT_TRUE(waitUntil([&] { return service.state(handle) == LineState::Connected; }));
    EXPECT_TRUE(listed.wait());
    EXPECT_EQ(activationCount(), 1u);
    EXPECT_TRUE(failures.get().empty());
}

TEST_F(NetworkManagerDialServiceTest, SharedIdRefusesTheDialNamingEveryUuidAndGivesNoPassword) {
    startNetworkManager();
    const char* firstUuid = "11111111-2222-3333-4444-555555555555";
    const char* secondUuid = "99999999-8888-7777-6666-555555555555";
    addProfile("Dial-in", "pppoe", "secret", kPassword, firstUuid);
    addProfile("Dial-in", "gsm", "secret", kPassword, secondUuid);
    EXPECT_EQ(platformtest::entriesOf(service), std::vector<std::string>{"Dial-in"});

    service.setFailureCallback(failures.callback());
    DialHandle handle = 0;
    std::string error;
    EXPECT_TRUE(service.dial({"Dial-in", "", kPassword}, handle, error));
    ASSERT_TRUE(waitUntil([&] { return !failures.get().empty(); }));
    error = failures.get()[0].second;
    EXPECT_NE(error.find(std::string("uuids ") + firstUuid + ", " + secondUuid), std::string::npos)
        << error;
    EXPECT_TRUE(log.contains("Error"));
    EXPECT_TRUE(log.contains("rename all but one"));
    EXPECT_EQ(activationCount(), 0u);
    EXPECT_EQ(readText("RegisteredAgent"), "");
    EXPECT_TRUE(receivedSecrets().empty());
}

TEST_F(NetworkManagerDialServiceTest, SecretAgentGivesThePasswordToNetworkManagerAndNeverLogsIt) {
    startNetworkManager();
    addProfile("Dial-in", "pppoe", "secret", kPassword);
    service.setFailureCallback(failures.callback());

    DialHandle handle = 0;
    std::string error;
    ASSERT_TRUE(service.dial({"Dial-in", "someone", kPassword}, handle, error)) << error;
    ASSERT_TRUE(cameUp("Dial-in"));
    EXPECT_EQ(receivedSecrets(), std::vector<std::string>{kPassword});
    // A one-off secret: the agent is gone once the line is up.
    EXPECT_TRUE(waitUntil([&] { return readText("RegisteredAgent").empty(); }));
    EXPECT_TRUE(failures.get().empty());
    // The profile's own user name differs from the one given.
    EXPECT_TRUE(log.contains("takes the user name from the profile"));
    EXPECT_FALSE(log.contains(kPassword));
}

// What NetworkManager says differs by type: a VPN names the login failure, PPP
// only fails its device while the link is being made.
TEST_F(NetworkManagerDialServiceTest, FailureReportsNameTheCauseAsFarAsItIsKnown) {
    startNetworkManager();
    struct Case {
        const char* profile;
        const char* behaviour;
        const char* password;
        const char* expected;
    };
    const Case cases[] = {
        {"Tunnel", "secret", "wrong-one",
         "NetworkManager could not log in to \"Tunnel\": the provider refused the user name or "
         "password"},
        {"Dial-in", "ppp", "wrong-one",
         "NetworkManager could not log in to \"Dial-in\": the provider refused the user name or "
         "password"},
        {"Silent line", "ppp-silent", "",
         "could not bring \"Silent line\" up: the PPP link could not be made (no answer: the "
         "modem, the line or the provider is down)"},
    };
    for (const Case& each : cases) {
        const std::string profile = addProfile(each.profile, "pppoe", each.behaviour, kPassword);
        addDevice(std::string("eth-") + each.behaviour, {}, {profile});
        FailureRecorder recorder;
        service.setFailureCallback(recorder.callback());
        DialHandle handle = 0;
        std::string error;
        ASSERT_TRUE(service.dial({each.profile, "", each.password}, handle, error)) << error;
        ASSERT_TRUE(waitUntil([&] { return !recorder.get().empty(); })) << each.profile;
        EXPECT_NE(recorder.get()[0].second.find(each.expected), std::string::npos)
            << recorder.get()[0].second;
        service.hangUp(handle);
    }
    EXPECT_FALSE(log.contains("wrong-one"));
}

// Taking the LAN's own device up or down would cut the LAN off.
TEST_F(NetworkManagerDialServiceTest, AProfileOnADeviceOfTheLanIsRefusedNamingIt) {
    startNetworkManager();
    const std::string lan = addProfile("LAN", "802-3-ethernet", "connect");
    addDevice("eth0", {"192.168.1.2"}, {lan});
    const std::string phone = addProfile("Phone", "802-3-ethernet", "connect");
    addDevice("usb0", {"198.51.100.7"}, {phone});
    service.setFailureCallback(failures.callback());

    auto refusalOf = [&](const DialRequest& request) -> std::string {
        const size_t before = failures.get().size();
        DialHandle handle = 0;
        std::string error;
        EXPECT_TRUE(service.dial(request, handle, error));
        if (!waitUntil([&] {
                return failures.get().size() > before || log.contains("activating \"Phone\"");
            }))
            return "<nothing happened>";
        service.hangUp(handle);
        return failures.get().size() > before ? failures.get().back().second : "";
    };
    // The private networks are allowed by default.
    const std::string onLan = refusalOf({"LAN", "", ""});
    EXPECT_NE(onLan.find("\"LAN\" up on eth0, which carries 192.168.1.2, an address of the "
                         "allowed networks"),
              std::string::npos)
        << onLan;
    // Votes arrived on the phone's address: it is the LAN here.
    const std::string votedOn = refusalOf({"Phone", "", "", {0xC6336407}});
    EXPECT_NE(votedOn.find("usb0, which carries 198.51.100.7, an address that votes arrive on"),
              std::string::npos)
        << votedOn;
    EXPECT_EQ(activationCount(), 0u);
    EXPECT_EQ(refusalOf({"Phone", "", ""}), "");
    EXPECT_EQ(activationCount(), 1u);

    // With the allowed networks narrowed to another one, eth0 is no LAN device.
    platformtest::ServerSection section;
    section.set("AllowedNetworks", "10.0.0.0/8");
    NetworkManagerDialService narrowed(section.settings());
    DialHandle handle = 0;
    std::string error;
    ASSERT_TRUE(narrowed.dial({"LAN", "", ""}, handle, error)) << error;
    EXPECT_TRUE(waitUntil([&] { return narrowed.state(handle) == LineState::Connected; }));
}

// A restarted NetworkManager knows nothing of the old one's activations and
// agents: what was kept is dropped, and the next dial starts afresh.
TEST_F(NetworkManagerDialServiceTest, ARestartOfNetworkManagerDropsWhatWasKept) {
    startNetworkManager();
    addProfile("Slow line", "pppoe", "hold", kPassword);
    service.setFailureCallback(failures.callback());
    DialHandle pending = 0;
    std::string error;
    ASSERT_TRUE(service.dial({"Slow line", "", kPassword}, pending, error)) << error;
    ASSERT_TRUE(waitUntil([&] { return activeConnections().size() == 1; }));
    ASSERT_FALSE(readText("RegisteredAgent").empty());

    systemBus.stopMocks();
    ASSERT_TRUE(waitUntil([&] { return !failures.get().empty(); }));
    EXPECT_EQ(failures.get()[0].first, pending);
    EXPECT_NE(failures.get()[0].second.find("stopped while it was bringing \"Slow line\" up"),
              std::string::npos)
        << failures.get()[0].second;
    EXPECT_EQ(service.state(pending), LineState::Disconnected);
    service.hangUp(pending);

    // The new instance gets its agent registered again, and the password.
    startNetworkManager();
    addProfile("Dial-in", "pppoe", "secret", kPassword);
    DialHandle handle = 0;
    ASSERT_TRUE(service.dial({"Dial-in", "", kPassword}, handle, error)) << error;
    ASSERT_TRUE(cameUp("Dial-in"));
    EXPECT_EQ(receivedSecrets(), std::vector<std::string>{kPassword});
}

TEST_F(NetworkManagerDialServiceTest, SecretAgentAnswersNobodyButNetworkManager) {
    startNetworkManager();
    addProfile("Slow line", "pppoe", "hold", kPassword);

    DialHandle handle = 0;
    std::string error;
    ASSERT_TRUE(service.dial({"Slow line", "", kPassword}, handle, error)) << error;
    ASSERT_TRUE(waitUntil([&] { return !readText("RegisteredAgent").empty(); }));
    const std::string agent = readText("RegisteredAgent");
    ASSERT_TRUE(waitUntil([&] { return activeConnections().size() == 1; }));
    const std::vector<std::string> active = activeConnections();
    ASSERT_EQ(active.size(), 1u);
    const std::string profile = activeProperty(active[0], "Connection");

    sd_bus_error callError = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    const int result = sd_bus_call_method(
        testBus.get(), agent.c_str(), "/org/freedesktop/NetworkManager/SecretAgent",
        "org.freedesktop.NetworkManager.SecretAgent", "GetSecrets", &callError, &reply,
        "a{sa{sv}}osasu", 0u, "/org/freedesktop/NetworkManager/Settings/0", "pppoe", 0u, 1u);
    EXPECT_LT(result, 0);
    EXPECT_TRUE(sd_bus_error_has_name(&callError, SD_BUS_ERROR_ACCESS_DENIED));
    sd_bus_error_free(&callError);
    sd_bus_message_unref(reply);
    EXPECT_TRUE(log.contains("Refused the password to"));
}

TEST_F(NetworkManagerDialServiceTest, MissingNetworkManagerIsReportedAndQueriesFail) {
    std::string why;
    EXPECT_FALSE(NetworkManagerDialService::isRunning(&why));
    EXPECT_NE(why.find("not running"), std::string::npos) << why;

    EXPECT_TRUE(platformtest::entriesOf(service).empty());
    service.setFailureCallback(failures.callback());
    DialHandle handle = 0;
    std::string error;
    EXPECT_TRUE(service.dial({"Dial-in", "", ""}, handle, error));
    ASSERT_TRUE(waitUntil([&] { return !failures.get().empty(); }));
    EXPECT_NE(failures.get()[0].second.find("NetworkManager is not running: start it"),
              std::string::npos);
    EXPECT_TRUE(log.contains("NetworkManager is not running: start it"));

    // It vanishes while a line is up: the state cannot be read any more.
    startNetworkManager();
    EXPECT_TRUE(NetworkManagerDialService::isRunning());
    addProfile("Dial-in", "pppoe", "connect");
    ASSERT_TRUE(service.dial({"Dial-in", "", ""}, handle, error)) << error;
    ASSERT_TRUE(cameUp("Dial-in"));
    systemBus.stopMocks();
    EXPECT_TRUE(waitUntil([&] { return !systemBus.hasOwner(kNetworkManager); }));
    EXPECT_TRUE(waitUntil([&] { return service.state(handle) == LineState::Disconnected; }));
}

TEST(NetworkManagerWithoutBusTest, NoSystemBusRefusesTheDialWithTheReason) {
    platformtest::LogCapture log;
    // The test command points the system bus at an address where none listens.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/linkmoot-test-bus", 1);
    NetworkManagerDialService service;
    FailureRecorder failures;
    service.setFailureCallback(failures.callback());
    DialHandle handle = 0;
    std::string error;
    EXPECT_TRUE(service.dial({"Dial-in", "", ""}, handle, error));
    ASSERT_TRUE(waitUntil([&] { return !failures.get().empty(); }));
    EXPECT_EQ(failures.get()[0].first, handle);
    error = failures.get()[0].second;
    EXPECT_NE(error.find("cannot connect to the system bus"), std::string::npos) << error;
    EXPECT_FALSE(NetworkManagerDialService::isRunning());
    EXPECT_TRUE(log.contains("Error"));
}

}  // namespace
}  // namespace linkmoot
