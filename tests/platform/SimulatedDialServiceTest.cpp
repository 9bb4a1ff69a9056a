#include "platform/SimulatedDialService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "PlatformTestSupport.h"
#include "ToolBox/Config.h"
#include "platform/SystemDialServices.h"

namespace linkmoot {
namespace {

class SimulatedDialServiceTest : public ::testing::Test {
protected:
    SimulatedDialServiceTest()
        : service(SimulatedDialService::Timing{2000, 50, 30000}, [this] { return now.load(); }) {}

    DialHandle dial(const char* entry) {
        DialHandle handle = 0;
        std::string error;
        EXPECT_TRUE(service.dial({entry, "", ""}, handle, error)) << error;
        return handle;
    }

    std::atomic<uint64_t> now{1000};
    SimulatedDialService service;
};

TEST_F(SimulatedDialServiceTest, OffersItsThreeLinesAndRefusesOthers) {
    EXPECT_EQ(platformtest::entriesOf(service),
              (std::vector<std::string>{"Simulated modem", "Simulated busy line",
                                        "Simulated unstable line"}));
    DialHandle handle = 7;
    std::string error;
    EXPECT_FALSE(service.dial({"Modem", "", ""}, handle, error));
    EXPECT_EQ(handle, 0u);
    EXPECT_NE(error.find("Simulated modem"), std::string::npos);
}

TEST_F(SimulatedDialServiceTest, TheModemStaysUpUntilHungUp) {
    DialHandle handle = dial("Simulated modem");
    EXPECT_EQ(service.state(handle), LineState::Dialling);
    now += 3600 * 1000;
    EXPECT_EQ(service.state(handle), LineState::Connected);
    service.hangUp(handle);
    EXPECT_EQ(service.state(handle), LineState::Disconnected);
}

TEST_F(SimulatedDialServiceTest, TheUnstableLineDropsThirtySecondsAfterConnecting) {
    DialHandle handle = dial("Simulated unstable line");
    now += 2000 + 30000 - 1;
    EXPECT_EQ(service.state(handle), LineState::Connected);
    now += 1;
    EXPECT_EQ(service.state(handle), LineState::Disconnected);
}

TEST_F(SimulatedDialServiceTest, TheBusyLineFailsFromAnotherThreadWithItsHandle) {
    std::mutex mutex;
    std::condition_variable reported;
    DialHandle failed = 0;
    std::thread::id reporter;
    service.setFailureCallback([&](DialHandle handle, const std::string&) {
        std::lock_guard<std::mutex> lock(mutex);
        failed = handle;
        reporter = std::this_thread::get_id();
        reported.notify_all();
    });
    DialHandle handle = dial("Simulated busy line");
    now += 50;
    std::unique_lock<std::mutex> lock(mutex);
    // The report's own timer runs on real time (50 ms here); wait generously.
    ASSERT_TRUE(reported.wait_for(lock, std::chrono::seconds(10), [&] { return failed != 0; }));
    EXPECT_EQ(failed, handle);
    EXPECT_NE(reporter, std::this_thread::get_id());
    lock.unlock();
    EXPECT_EQ(service.state(handle), LineState::Disconnected);
}

TEST(SystemDialServicesTest, AutomaticAndUnknownServicesRefuseWithAReason) {
    toolbox::Config config;
    SystemDialServices services{Settings(config.getRoot())};
    DialHandle handle = 0;
    std::string error;
    EXPECT_FALSE(services.service("nonsense").dial({"x", "", ""}, handle, error));
    EXPECT_NE(error.find("nonsense"), std::string::npos);
    EXPECT_STREQ(services.service("simulated").name(), "simulated");
    EXPECT_EQ(&services.service("simulated"), &services.service("simulated"));
}

}  // namespace
}  // namespace linkmoot
