#include "platform/PppDialService.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "PlatformTestSupport.h"
#include "Settings.h"

namespace linkmoot {
namespace {

using platformtest::waitUntil;

/// The interfaces pppd makes: the fake can make none in /sys.
class FakeInterfaces : public InterfaceCounters {
public:
    InterfaceReading read(const std::string& name) override {
        std::lock_guard<std::mutex> lock(mutex);
        InterfaceReading reading;
        reading.present = reading.up = upName == name;
        return reading;
    }
    void setUp(const std::string& name) {
        std::lock_guard<std::mutex> lock(mutex);
        upName = name;
    }

private:
    std::mutex mutex;
    std::string upName;
};

// pppd is replaced by data/fake-pppd, the peers folder by a temporary one.
class PppDialServiceTest : public ::testing::Test {
protected:
    PppDialServiceTest() : service(server.settings(), &interfaces) {
        server.set(keys::PppProgram.name, platformtest::dataFolder() + "/fake-pppd");
        server.set(keys::PppPeersFolder.name, peers.getPath());
        setenv("FAKE_PPP_PEERS", peers.getPath().c_str(), 1);
        setenv("FAKE_PPP_RECORD", work.file("record").c_str(), 1);
        service.setFailureCallback([this](DialHandle handle, const std::string& reason) {
            std::lock_guard<std::mutex> lock(mutex);
            reports.emplace_back(handle, reason);
        });
    }
    ~PppDialServiceTest() override {
        unsetenv("FAKE_PPP_PEERS");
        unsetenv("FAKE_PPP_RECORD");
    }

    void addPeer(const std::string& name, const std::string& behaviour) {
        peers.writeFile(name, "/dev/ttyUSB0\nnoauth\nfake-behaviour " + behaviour + "\n");
    }
    std::vector<std::pair<DialHandle, std::string>> failureReports() {
        std::lock_guard<std::mutex> lock(mutex);
        return reports;
    }
    bool started() {
        return waitUntil([&] { return work.contains("record"); });
    }

    platformtest::LogCapture log;
    testsupport::TempFolder peers;
    testsupport::TempFolder work;
    platformtest::ServerSection server;
    FakeInterfaces interfaces;
    PppDialService service;
    std::mutex mutex;
    std::vector<std::pair<DialHandle, std::string>> reports;
};

// Every process's command line, with its NUL separators as spaces.
std::string allCommandLines() {
    std::string all;
    DIR* proc = opendir("/proc");
    while (dirent* entry = proc != nullptr ? readdir(proc) : nullptr) {
        // A process may end while we read it: its read fails, and that is no error here.
        std::string line;
        const int fd = open((std::string("/proc/") + entry->d_name + "/cmdline").c_str(),
                            O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            char buffer[4096];
            ssize_t got;
            while ((got = read(fd, buffer, sizeof buffer)) > 0)
                line.append(buffer, static_cast<std::size_t>(got));
            close(fd);
        }
        for (char& character : line)
            if (character == '\0')
                character = ' ';
        all += line + "\n";
    }
    if (proc != nullptr)
        closedir(proc);
    return all;
}

TEST_F(PppDialServiceTest, PeersAreListedByNameWithoutHiddenFilesAndLeftovers) {
    addPeer("provider", "run");
    addPeer("backup-isp", "run");
    addPeer(".hidden", "run");
    addPeer("provider~", "run");
    addPeer("provider.dpkg-old", "run");
    addPeer("provider.dpkg-dist", "run");
    mkdir(peers.file("folder").c_str(), 0755);

    EXPECT_EQ(platformtest::entriesOf(service),
              (std::vector<std::string>{"backup-isp", "provider"}));

    server.set(keys::PppPeersFolder.name, peers.file("missing"));
    EXPECT_TRUE(platformtest::entriesOf(service).empty());
    EXPECT_TRUE(log.contains("install the ppp package"));
}

TEST_F(PppDialServiceTest, DialRunsPppdForThePeerAndHangUpStopsItWithoutAReport) {
    addPeer("provider", "run");
    DialHandle handle = 0;
    std::string error;
    ASSERT_TRUE(service.dial({"provider", "alice", "pa\"ss\\word"}, handle, error)) << error;
    ASSERT_TRUE(started());
    // Up once pppd has said its addresses, on the interface it named.
    ASSERT_TRUE(waitUntil([&] { return service.state(handle) == LineState::Connected; }));
    EXPECT_EQ(service.interfaceName(handle), "ppp7");

    std::string arguments = work.readFile("record");
    const std::string root = geteuid() == 0 ? "linkname provider " : "";
    EXPECT_EQ(arguments.substr(0, arguments.find(" file /dev/fd/")),
              "call provider nodetach " + root + "user alice");
    EXPECT_NE(arguments.find(" file /dev/fd/"), std::string::npos);
    EXPECT_EQ(work.readFile("record.options"), "password \"pa\\\"ss\\\\word\"\n");

    service.hangUp(handle);  // pppd is ended in the background
    ASSERT_TRUE(waitUntil([&] { return !service.hangingUp(); }));
    EXPECT_EQ(work.readFile("record.events"), "terminated\n");
    EXPECT_EQ(service.state(handle), LineState::Disconnected);
    EXPECT_TRUE(failureReports().empty());
}

TEST_F(PppDialServiceTest, DiallingUntilTheInterfaceItNamedIsUp) {
    addPeer("provider", "negotiate");
    DialHandle handle = 0;
    std::string error;
    ASSERT_TRUE(service.dial({"provider", "", ""}, handle, error)) << error;
    ASSERT_TRUE(started());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(service.state(handle), LineState::Dialling);
    EXPECT_EQ(service.interfaceName(handle), "");  // not up: nothing to count yet
    interfaces.setUp("ppp7");
    EXPECT_EQ(service.state(handle), LineState::Connected);
    EXPECT_EQ(service.interfaceName(handle), "ppp7");
    service.hangUp(handle);
}

TEST_F(PppDialServiceTest, ThePasswordIsOnNoCommandLineNorInTheLog) {
    addPeer("provider", "run");
    const std::string password = "Only-For-The-Pipe-4711";
    DialHandle handle = 0;
    std::string error;
    ASSERT_TRUE(service.dial({"provider", "", password}, handle, error)) << error;
    ASSERT_TRUE(started());

    EXPECT_NE(allCommandLines().find("fake-pppd call provider"), std::string::npos);
    EXPECT_EQ(allCommandLines().find(password), std::string::npos);
    EXPECT_NE(work.readFile("record.options").find(password), std::string::npos);
    service.hangUp(handle);
    EXPECT_FALSE(log.contains(password));
}

TEST_F(PppDialServiceTest, FailureExitsAreReportedWithPppdsMeaningAndWhatToDo) {
    addPeer("wrong-password", "exit 19");
    addPeer("not-allowed", "exit 3");
    DialHandle first = 0;
    DialHandle second = 0;
    std::string error;
    ASSERT_TRUE(service.dial({"wrong-password", "", ""}, first, error)) << error;
    ASSERT_TRUE(service.dial({"not-allowed", "", ""}, second, error)) << error;
    ASSERT_TRUE(waitUntil([&] { return failureReports().size() == 2; }));

    for (const auto& [handle, reason] : failureReports()) {
        if (handle == first)
            EXPECT_NE(reason.find("exit status 19 (we failed to authenticate ourselves"),
                      std::string::npos)
                << reason;
        else
            EXPECT_NE(reason.find("exit status 3 (pppd is not setuid-root"), std::string::npos)
                << reason;
    }
    EXPECT_TRUE(log.contains("check Server/UserName and Server/Password"));
    EXPECT_TRUE(log.contains("add its user to the group dip"));
    EXPECT_EQ(service.state(first), LineState::Disconnected);
}

TEST_F(PppDialServiceTest, CleanExitBeforeTheLineWasSeenIsReportedOnce) {
    addPeer("provider", "exit-now 0");
    DialHandle handle = 0;
    std::string error;
    ASSERT_TRUE(service.dial({"provider", "", ""}, handle, error)) << error;
    ASSERT_TRUE(waitUntil([&] { return log.contains("ended: the connection was terminated"); }));
    EXPECT_EQ(service.state(handle), LineState::Disconnected);
    EXPECT_EQ(service.state(handle), LineState::Disconnected);
    const auto reports = failureReports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].first, handle);
}

TEST_F(PppDialServiceTest, MissingPeersUnsafeNamesAndMissingPppdAreRefusedAtOnce) {
    addPeer("provider", "run");
    DialHandle handle = 0;
    std::string error;
    EXPECT_FALSE(service.dial({"nosuch", "", ""}, handle, error));
    EXPECT_NE(error.find("no pppd peer \"nosuch\""), std::string::npos) << error;
    for (const char* name : {"../provider", "sub/provider", ".hidden", ""})
        EXPECT_FALSE(service.dial({name, "", ""}, handle, error)) << name;

    server.set(keys::PppProgram.name, work.file("no-such-pppd"));
    EXPECT_FALSE(service.dial({"provider", "", ""}, handle, error));
    EXPECT_NE(error.find("pppd is not installed"), std::string::npos) << error;
    EXPECT_TRUE(log.contains("install the ppp package or set Server/PppProgram"));
    EXPECT_EQ(handle, 0u);
    EXPECT_FALSE(work.contains("record"));
}

}  // namespace
}  // namespace linkmoot
