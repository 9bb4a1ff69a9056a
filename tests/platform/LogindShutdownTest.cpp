#include "platform/LogindShutdown.h"

#include <gtest/gtest.h>
#include <time.h>

#include <cstring>

#include "PlatformTestSupport.h"

namespace linkmoot {
namespace {

using platformtest::PrivateSystemBus;

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kManagerPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr const char* kMock = "org.freedesktop.DBus.Mock";

uint64_t realtimeMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000u + now.tv_nsec / 1000;
}

/// One recorded call: its arguments as texts (booleans as 0/1).
using Call = std::vector<std::string>;

// The peer: python3-dbusmock's logind template, which lacks the two methods
// used here; each test adds them as it needs them.
class LogindShutdownTest : public ::testing::Test {
protected:
    void startLogind() { systemBus.startMock("logind", kLogind); }

    void addMethod(const char* name, const char* inSignature, const char* outSignature,
                   const char* code) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        EXPECT_GE(
            sd_bus_call_method(testBus.get(), kLogind, kManagerPath, kMock, "AddMethod", &error,
                               nullptr, "sssss", kManager, name, inSignature, outSignature, code),
            0)
            << (error.message ? error.message : "");
        sd_bus_error_free(&error);
    }

    std::vector<Call> callsOf(const char* method) {
        std::vector<Call> calls;
        sd_bus_message* reply = nullptr;
        if (sd_bus_call_method(testBus.get(), kLogind, kManagerPath, kMock, "GetMethodCalls",
                               nullptr, &reply, "s", method) < 0)
            return calls;
        sd_bus_message_enter_container(reply, 'a', "(tav)");
        while (sd_bus_message_enter_container(reply, 'r', "tav") > 0) {
            uint64_t timestamp = 0;
            sd_bus_message_read(reply, "t", &timestamp);
            sd_bus_message_enter_container(reply, 'a', "v");
            Call call;
            char type = 0;
            const char* contents = nullptr;
            while (sd_bus_message_peek_type(reply, &type, &contents) > 0) {
                if (strcmp(contents, "s") == 0) {
                    const char* text = nullptr;
                    sd_bus_message_read(reply, "v", "s", &text);
                    call.push_back(text);
                } else if (strcmp(contents, "t") == 0) {
                    uint64_t number = 0;
                    sd_bus_message_read(reply, "v", "t", &number);
                    call.push_back(std::to_string(number));
                } else if (strcmp(contents, "b") == 0) {
                    int flag = 0;
                    sd_bus_message_read(reply, "v", "b", &flag);
                    call.push_back(std::to_string(flag));
                } else {
                    sd_bus_message_skip(reply, "v");
                    call.push_back("?");
                }
            }
            sd_bus_message_exit_container(reply);
            sd_bus_message_exit_container(reply);
            calls.push_back(call);
        }
        sd_bus_message_unref(reply);
        return calls;
    }

    platformtest::LogCapture log;
    PrivateSystemBus systemBus;
    PrivateSystemBus::Bus testBus;
    LogindShutdown shutdown;
};

TEST_F(LogindShutdownTest, PowerOffIsScheduledAfterTheWarningWithTheMessage) {
    startLogind();
    addMethod("SetWallMessage", "sb", "", "");
    addMethod("ScheduleShutdown", "st", "", "");
    const std::string message = "The server shuts down: no more votes.";

    // The request leaves the caller at once, even while logind does not answer.
    systemBus.freezeMocks(true);
    platformtest::Answer<ShutdownOutcome> outcome;
    const uint64_t before = realtimeMicroseconds();
    shutdown.requestPowerOff(message, 60, outcome.callback());
    EXPECT_FALSE(outcome.arrived());
    systemBus.freezeMocks(false);
    ASSERT_TRUE(outcome.wait());
    const uint64_t after = realtimeMicroseconds();
    EXPECT_TRUE(outcome.get().issued) << outcome.get().error;

    EXPECT_EQ(callsOf("SetWallMessage"), (std::vector<Call>{{message, "1"}}));
    const std::vector<Call> scheduled = callsOf("ScheduleShutdown");
    ASSERT_EQ(scheduled.size(), 1u);
    ASSERT_EQ(scheduled[0].size(), 2u);
    EXPECT_EQ(scheduled[0][0], "poweroff");
    const uint64_t when = std::stoull(scheduled[0][1]);
    EXPECT_GE(when, before + 60000000u);
    EXPECT_LE(when, after + 60000000u);
    // Nothing here ever asks for an immediate power-off.
    EXPECT_TRUE(callsOf("PowerOff").empty());
}

TEST_F(LogindShutdownTest, RefusedScheduleGivesTheServicesErrorTextAndAHint) {
    startLogind();
    // No SetWallMessage: its refusal is only logged.
    addMethod("ScheduleShutdown", "st", "",
              "raise dbus.exceptions.DBusException('Access denied by the test', "
              "name='org.freedesktop.DBus.Error.AccessDenied')");

    std::string error;
    EXPECT_FALSE(shutdown.powerOff("Going down", 60, error));
    EXPECT_EQ(error, "Access denied by the test");
    EXPECT_TRUE(log.contains("refused the shutdown message"));
    EXPECT_TRUE(log.contains("polkit rule for org.freedesktop.login1.power-off"));
}

TEST_F(LogindShutdownTest, RightIsRefusedWhenLogindWouldAskForAuthentication) {
    startLogind();
    addMethod("CanPowerOff", "", "s", "ret = 'challenge'");
    std::string error;
    EXPECT_FALSE(shutdown.acquireRight(error));
    EXPECT_NE(error.find("CanPowerOff: challenge"), std::string::npos) << error;
    EXPECT_NE(error.find("polkit"), std::string::npos) << error;
}

TEST_F(LogindShutdownTest, MissingLogindOrBusIsTheReasonForNoRight) {
    std::string error;
    EXPECT_FALSE(shutdown.acquireRight(error));
    EXPECT_EQ(error, "systemd-logind is not running on the system bus");
    EXPECT_FALSE(shutdown.powerOff("Going down", 60, error));

    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/linkmoot-test-bus", 1);
    EXPECT_FALSE(shutdown.acquireRight(error));
    EXPECT_NE(error.find("cannot connect to the system bus"), std::string::npos) << error;
}

}  // namespace
}  // namespace linkmoot
