// The readiness messages as the service manager receives them: on an abstract
// socket ("@name") and a path, the watchdog armed only for our own process,
// and a name that cannot be a socket said once.
#include "platform/ServiceNotifier.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <string>

#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace linkmoot {
namespace {

/// The manager's end: a datagram socket bound to `name` ("@..." abstract).
class ManagerSocket {
public:
    explicit ManagerSocket(const std::string& name) {
        fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        name.copy(address.sun_path, sizeof address.sun_path - 1);
        if (name[0] == '@')
            address.sun_path[0] = '\0';
        const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() +
                                                   (name[0] == '@' ? 0 : 1));
        bound = bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
    }
    ~ManagerSocket() { close(fd); }

    /// The next message, or "" when none comes within a second.
    std::string next() {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, 1000) <= 0)
            return "";
        char buffer[512];
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : "";
    }

    int fd = -1;
    bool bound = false;
};

/// Sets the variables for one test and takes them away after it.
struct Environment {
    Environment(const std::string& socketName, const char* watchdogUsec, const char* watchdogPid) {
        setenv("NOTIFY_SOCKET", socketName.c_str(), 1);
        set("WATCHDOG_USEC", watchdogUsec);
        set("WATCHDOG_PID", watchdogPid);
    }
    ~Environment() {
        unsetenv("NOTIFY_SOCKET");
        unsetenv("WATCHDOG_USEC");
        unsetenv("WATCHDOG_PID");
    }
    static void set(const char* name, const char* value) {
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
};

TEST(ServiceNotifierTest, MessagesReachAnAbstractOrAPathSocketAndTheWatchdogIsOurs) {
    testsupport::TempFolder folder;
    const std::string self = std::to_string(getpid());
    struct Case {
        const char* what;
        std::string socket;
        const char* watchdogUsec;
        std::string watchdogPid;  // "" leaves it unset
        uint64_t expectedInterval;
    };
    const Case cases[] = {
        {"abstract, watchdog for us", "@linkmoot-test-notify-" + self, "2000000", self, 2000000},
        {"path, watchdog without a pid", folder.getPath() + "/notify", "3000000", "", 3000000},
        {"watchdog for another process", "@linkmoot-test-other-" + self, "2000000", "1", 0},
        {"watchdog interval not a number", "@linkmoot-test-nan-" + self, "2s", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ManagerSocket manager(c.socket);
        ASSERT_TRUE(manager.bound);
        Environment environment(c.socket, c.watchdogUsec,
                                c.watchdogPid.empty() ? nullptr : c.watchdogPid.c_str());
        ServiceNotifier notifier;
        EXPECT_TRUE(notifier.enabled());
        EXPECT_EQ(notifier.watchdogMicros(), c.expectedInterval);
        notifier.ready("Server ready\nsecond line");
        EXPECT_EQ(manager.next(), "READY=1\nSTATUS=Server ready second line");
        notifier.status("Server ready second line");  // the same text: not sent again
        notifier.status("Connected (1 vote(s))");
        EXPECT_EQ(manager.next(), "STATUS=Connected (1 vote(s))");
        notifier.watchdog();
        if (c.expectedInterval != 0) {
            EXPECT_EQ(manager.next(), "WATCHDOG=1");
        }
        notifier.stopping();
        notifier.stopping();
        EXPECT_EQ(manager.next(), "STOPPING=1");
        EXPECT_EQ(manager.next(), "");
    }
}

TEST(ServiceNotifierTest, WithoutASocketNothingIsSentAndABadNameIsSaidOnce) {
    unsetenv("NOTIFY_SOCKET");
    ServiceNotifier silent;
    EXPECT_FALSE(silent.enabled());
    silent.ready("ready");  // nothing to send it to, nothing said

    testsupport::LogCapture log;
    Environment environment("relative/name", nullptr, nullptr);
    ServiceNotifier notifier;
    notifier.ready("ready");
    notifier.status("changed");
    EXPECT_EQ(log.count("Warn", "Cannot notify the service manager"), 1u) << log.text();
}

}  // namespace
}  // namespace linkmoot
