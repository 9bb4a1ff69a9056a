// linkmootd under a service manager: what it sends to the notification socket
// (a datagram socket of the test's own, named by NOTIFY_SOCKET).
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "DaemonProcess.h"
#include "support/LoopbackVoter.h"
#include "support/TempFolder.h"

namespace {

using daemontest::Instance;
using testsupport::VoteListener;

class NotifySocket {
public:
    explicit NotifySocket(const std::string& path) : path(path) {
        fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof(address.sun_path) - 1);
        bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~NotifySocket() {
        close(fd);
        unlink(path.c_str());
    }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    /// Reads messages until one contains text; that message, or "" when none
    /// came in time. Every message read is kept in `heard`.
    std::string waitFor(const std::string& text, int timeoutMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd entry{fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0)
                return "";
            char buffer[1024];
            const ssize_t got = recv(fd, buffer, sizeof(buffer), 0);
            if (got <= 0)
                continue;
            std::string message(buffer, static_cast<std::size_t>(got));
            heard += message + "|";
            if (message.find(text) != std::string::npos)
                return message;
        }
    }

    std::string path;
    std::string heard;
    int fd = -1;
    bool bound = false;
};

class ServiceNotifyTest : public ::testing::Test {
protected:
    testsupport::TempFolder folder;
};

TEST_F(ServiceNotifyTest, ReadyTheTrayTextAsStatusWatchdogAndStoppingAtExit) {
    VoteListener server;
    NotifySocket notify(folder.getPath() + "/notify");
    ASSERT_TRUE(notify.bound);
    Instance instance(folder.getPath(), "client");
    instance.extraEnvironment = {"NOTIFY_SOCKET=" + notify.path, "WATCHDOG_USEC=2000000"};
    instance.writeConfig({"<Configured>1</>", "<Mode>client</>",
                          "<Port>" + std::to_string(server.port) + "</>", "<Client>",
                          "\t<Server>127.0.0.1</>", "</Client>"});
    instance.start();

    EXPECT_EQ(notify.waitFor("READY=1", 10000), "READY=1\nSTATUS=Not voting for connection")
        << notify.heard << instance.errors();
    EXPECT_EQ(instance.ctl({"connect"}).exitStatus, 0);
    EXPECT_EQ(notify.waitFor("STATUS=", 5000), "STATUS=Voting for connection") << notify.heard;
    // Armed: sent from the tick.
    EXPECT_EQ(notify.waitFor("WATCHDOG", 5000), "WATCHDOG=1") << notify.heard;

    instance.signal(SIGTERM);
    EXPECT_EQ(notify.waitFor("STOPPING", 10000), "STOPPING=1") << notify.heard;
    EXPECT_EQ(instance.waitForExit(), 0) << instance.errors();
}

TEST_F(ServiceNotifyTest, AServerThatCannotBindItsPortIsReadyAndSaysSo) {
    VoteListener taken;  // holds the port the server is configured with
    NotifySocket notify(folder.getPath() + "/notify");
    ASSERT_TRUE(notify.bound);
    Instance instance(folder.getPath(), "server");
    instance.extraEnvironment = {"NOTIFY_SOCKET=" + notify.path};
    instance.writeConfig(
        {"<Configured>1</>", "<Mode>server</>", "<Port>" + std::to_string(taken.port) + "</>",
         "<Server>", "\t<Connection>Simulated modem</>", "\t<Dialer>simulated</>", "</Server>"});
    instance.start();

    const std::string ready = notify.waitFor("READY=1", 10000);
    EXPECT_NE(ready.find("could not start on UDP port " + std::to_string(taken.port)),
              std::string::npos)
        << notify.heard << instance.errors();
    // Still running and answering: the manager must not see a failed start.
    EXPECT_EQ(instance.ctl({"status"}).exitStatus, 0);
    // Without a watchdog armed, none is sent.
    EXPECT_EQ(notify.heard.find("WATCHDOG"), std::string::npos);
}

}  // namespace
