#include "platform/CommandDialService.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <mutex>

#include "PlatformTestSupport.h"
#include "Settings.h"

namespace linkmoot {
namespace {

using platformtest::waitUntil;

class CommandDialServiceTest : public ::testing::Test {
protected:
    CommandDialServiceTest() : service(server.settings()) {
        service.setFailureCallback([this](DialHandle handle, const std::string& reason) {
            std::lock_guard<std::mutex> lock(mutex);
            reports.emplace_back(handle, reason);
        });
    }

    std::vector<std::pair<DialHandle, std::string>> failureReports() {
        std::lock_guard<std::mutex> lock(mutex);
        return reports;
    }
    // A command that works inside the test's folder.
    std::string inWork(const std::string& command) {
        return "cd '" + work.getPath() + "' && " + command;
    }

    platformtest::LogCapture log;
    testsupport::TempFolder work;
    platformtest::ServerSection server;
    CommandDialService service;
    std::mutex mutex;
    std::vector<std::pair<DialHandle, std::string>> reports;
};

TEST_F(CommandDialServiceTest, TheOnlyEntryIsCustom) {
    EXPECT_EQ(platformtest::entriesOf(service), std::vector<std::string>{"Custom"});
}

TEST_F(CommandDialServiceTest, CommandsGetTheDialParametersFromTheEnvironmentOnly) {
    server.set(keys::DialCommand.name,
               inWork("printf '%s|%s|%s' \"$LINKMOOT_ENTRY\" \"$LINKMOOT_USER\" "
                      "\"$LINKMOOT_PASSWORD\" > dialled; exec sleep 60"));
    server.set(keys::HangUpCommand.name,
               inWork("printf '%s|%s|%s' \"$LINKMOOT_ENTRY\" \"$LINKMOOT_USER\" "
                      "\"$LINKMOOT_PASSWORD\" > hung-up"));
    DialHandle handle = 0;
    std::string error;
    ASSERT_TRUE(service.dial({"Custom", "alice", "Env-Only-Secret"}, handle, error)) << error;
    // The shell makes the file before printf writes to it.
    ASSERT_TRUE(waitUntil([&] { return !work.readFile("dialled").empty(); }));
    EXPECT_EQ(work.readFile("dialled"), "Custom|alice|Env-Only-Secret");
    // Without a status command the line counts as up while the dial command runs.
    EXPECT_EQ(service.state(handle), LineState::Connected);

    service.hangUp(handle);
    ASSERT_TRUE(waitUntil([&] { return !service.hangingUp(); }));
    EXPECT_EQ(work.readFile("hung-up"), "Custom|alice|");
    EXPECT_EQ(service.state(handle), LineState::Disconnected);
    EXPECT_TRUE(failureReports().empty());
    EXPECT_FALSE(log.contains("Env-Only-Secret"));
}

TEST_F(CommandDialServiceTest, HangUpEndsADialCommandThatIsStillRunning) {
    server.set(keys::DialCommand.name, inWork("sleep 60; touch finished"));
    DialHandle handle = 0;
    std::string error;
    ASSERT_TRUE(service.dial({"Custom", "", ""}, handle, error)) << error;
    service.hangUp(handle);
    ASSERT_TRUE(waitUntil([&] { return !service.hangingUp(); }));
    // The whole group went: the shell did not go on to its next command.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(work.contains("finished"));
    EXPECT_TRUE(failureReports().empty());
}

// Whether the process is gone (or a zombie nobody reaped yet: it runs no more).
bool hasEnded(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t name = text.rfind(')');
    return name == std::string::npos || text.compare(name, 3, ") Z") == 0;
}

TEST_F(CommandDialServiceTest, HangUpEndsWhatAnEndedDialCommandLeftRunningInItsGroup) {
    server.set(keys::DialCommand.name,
               "cd '" + work.getPath() +
                   "' || exit 1; (sleep 60; touch finished) & "
                   "echo $! > background.tmp; mv background.tmp background");
    server.set(keys::StatusCommand.name, "exit 0");
    DialHandle handle = 0;
    std::string error;
    ASSERT_TRUE(service.dial({"Custom", "", ""}, handle, error)) << error;
    ASSERT_TRUE(waitUntil([&] { return log.contains("dial command for \"Custom\" ended"); }));
    const std::string background = work.readFile("background");
    ASSERT_FALSE(background.empty());
    ASSERT_FALSE(hasEnded(background.substr(0, background.find('\n'))));

    service.hangUp(handle);
    EXPECT_TRUE(waitUntil([&] { return hasEnded(background.substr(0, background.find('\n'))); }));
    EXPECT_FALSE(work.contains("finished"));
    EXPECT_TRUE(failureReports().empty());
}

TEST_F(CommandDialServiceTest, FailingDialCommandIsReportedWithItsExitStatus) {
    server.set(keys::DialCommand.name, "exit 7");
    DialHandle handle = 0;
    std::string error;
    ASSERT_TRUE(service.dial({"Custom", "", ""}, handle, error)) << error;
    ASSERT_TRUE(waitUntil([&] { return !failureReports().empty(); }));
    const auto reports = failureReports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].first, handle);
    EXPECT_NE(reports[0].second.find("exit status 7"), std::string::npos) << reports[0].second;
    EXPECT_TRUE(log.contains("check Server/DialCommand"));
}

TEST_F(CommandDialServiceTest, StatusCommandExitStatusGivesTheLineState) {
    server.set(keys::DialCommand.name, "exec sleep 60");
    server.set(keys::StatusCommand.name, inWork("exit $(cat answer)"));
    DialHandle handle = 0;
    std::string error;
    ASSERT_TRUE(service.dial({"Custom", "", ""}, handle, error)) << error;

    // Each call starts the next query and answers with the last one that ended.
    work.writeFile("answer", "0");
    EXPECT_TRUE(waitUntil([&] { return service.state(handle) == LineState::Connected; }));
    work.writeFile("answer", "1");
    EXPECT_TRUE(waitUntil([&] { return service.state(handle) == LineState::Disconnected; }));
    work.writeFile("answer", "2");
    EXPECT_TRUE(waitUntil([&] { return service.state(handle) == LineState::QueryFailed; }));
    // Disconnected while the dial command still works is no failure.
    EXPECT_TRUE(failureReports().empty());
    service.hangUp(handle);
}

// The commands wait for a gate file: the calls must answer while they do.
TEST_F(CommandDialServiceTest, SlowStatusAndHangUpCommandsRunInTheBackgroundOneQueryAtATime) {
    server.set(keys::DialCommand.name, "exec sleep 60");
    server.set(keys::StatusCommand.name,
               inWork("echo x >> queries; while [ ! -e open ]; do sleep 0.02; done; exit 0"));
    server.set(keys::HangUpCommand.name,
               inWork("while [ ! -e open ]; do sleep 0.02; done; touch hung-up"));
    DialHandle handle = 0;
    std::string error;
    ASSERT_TRUE(service.dial({"Custom", "", ""}, handle, error)) << error;

    for (int call = 0; call < 5; call++)
        EXPECT_EQ(service.state(handle), LineState::Pending);
    ASSERT_TRUE(waitUntil([&] { return work.contains("queries"); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(work.readFile("queries"), "x\n");  // never two at once

    service.hangUp(handle);  // returns while the hang-up command waits
    EXPECT_TRUE(service.hangingUp());
    EXPECT_EQ(service.state(handle), LineState::Disconnected);
    // A new dial is not answered by the query of the old handle.
    DialHandle second = 0;
    ASSERT_TRUE(service.dial({"Custom", "", ""}, second, error)) << error;
    EXPECT_EQ(service.state(second), LineState::Pending);

    work.writeFile("open", "");
    EXPECT_TRUE(waitUntil([&] { return !service.hangingUp() && work.contains("hung-up"); }));
    EXPECT_TRUE(waitUntil([&] { return service.state(second) == LineState::Connected; }));
    service.hangUp(second);
}

TEST_F(CommandDialServiceTest, LineThatNeverComesUpAfterTheDialCommandIsReportedOnce) {
    server.set(keys::DialCommand.name, "true");
    server.set(keys::StatusCommand.name, "exit 1");
    DialHandle handle = 0;
    std::string error;
    ASSERT_TRUE(service.dial({"Custom", "", ""}, handle, error)) << error;
    // As the controller does: it keeps asking while it waits for the line.
    ASSERT_TRUE(waitUntil([&] {
        EXPECT_NE(service.state(handle), LineState::Connected);
        return !failureReports().empty();
    }));
    EXPECT_EQ(service.state(handle), LineState::Disconnected);
    EXPECT_EQ(failureReports().size(), 1u);
}

TEST_F(CommandDialServiceTest, MissingDialCommandRefusesTheDial) {
    DialHandle handle = 0;
    std::string error;
    EXPECT_FALSE(service.dial({"Custom", "", ""}, handle, error));
    EXPECT_EQ(handle, 0u);
    EXPECT_TRUE(log.contains("set Server/DialCommand"));
}

}  // namespace
}  // namespace linkmoot
