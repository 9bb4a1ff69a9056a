#include "platform/ServiceNotifier.h"

#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <charconv>
#include <cstddef>
#include <cstdlib>

#include "ToolBox/Logger.h"

namespace linkmoot {

namespace {

// One line: a newline in the text would start another assignment.
std::string oneLine(const std::string& text) {
    std::string line = text;
    for (char& c : line) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    return line;
}

/// A whole decimal number, or nothing.
bool parseNumber(const char* text, uint64_t& value) {
    if (text == nullptr || *text == '\0')
        return false;
    const char* end = text + strlen(text);
    const auto [stop, error] = std::from_chars(text, end, value);
    return error == std::errc() && stop == end;
}

/// The watchdog's interval: WATCHDOG_USEC, when WATCHDOG_PID (if set) is us.
uint64_t watchdogFromEnvironment() {
    uint64_t interval = 0;
    if (!parseNumber(std::getenv("WATCHDOG_USEC"), interval) || interval == 0)
        return 0;
    const char* pidText = std::getenv("WATCHDOG_PID");
    uint64_t pid = 0;
    if (pidText != nullptr && (!parseNumber(pidText, pid) || pid != uint64_t(getpid())))
        return 0;
    return interval;
}

/// The socket's address: a path, or "@name" for the abstract namespace.
bool socketAddress(const std::string& name, sockaddr_un& address, socklen_t& length) {
    address = {};
    address.sun_family = AF_UNIX;
    if (name.size() < 2 || name.size() > sizeof address.sun_path ||
        (name[0] != '/' && name[0] != '@'))
        return false;
    if (name[0] == '/' && name.size() == sizeof address.sun_path)
        return false;  // no room for the path's terminating zero
    name.copy(address.sun_path, name.size());
    if (name[0] == '@')
        address.sun_path[0] = '\0';
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() +
                                    (name[0] == '/' ? 1 : 0));
    return true;
}

}  // namespace

ServiceNotifier::ServiceNotifier() : active(std::getenv("NOTIFY_SOCKET") != nullptr) {
    // Kept in the environment: children (pppd, the user's commands) are not
    // the main process, and the manager ignores what they would send.
    if (active) {
        socketName = std::getenv("NOTIFY_SOCKET");
        watchdogInterval = watchdogFromEnvironment();
    }
}

ServiceNotifier::~ServiceNotifier() {
    if (fd >= 0)
        close(fd);
}

void ServiceNotifier::ready(const std::string& text) {
    if (!active || readySent)
        return;
    readySent = true;
    lastStatus = oneLine(text);
    send("READY=1\nSTATUS=" + lastStatus);
}

void ServiceNotifier::status(const std::string& text) {
    if (!active)
        return;
    std::string line = oneLine(text);
    if (line == lastStatus)
        return;
    lastStatus = line;
    send("STATUS=" + line);
}

void ServiceNotifier::watchdog() {
    // Every tick, not every half interval: a loop held up for a while (a
    // guard time) keeps the whole interval as its margin.
    if (active && watchdogInterval != 0)
        send("WATCHDOG=1");
}

void ServiceNotifier::stopping() {
    if (!active || stoppingSent)
        return;
    stoppingSent = true;
    send("STOPPING=1");
}

std::string ServiceNotifier::openSocket() {
    if (fd >= 0)
        return "";
    fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return fd >= 0 ? "" : strerror(errno);
}

void ServiceNotifier::send(const std::string& message) {
    sockaddr_un address;
    socklen_t length = 0;
    std::string problem;
    if (!socketAddress(socketName, address, length)) {
        problem = "\"" + socketName + "\" is neither an absolute path nor an @name";
    } else if (problem = openSocket(); problem.empty()) {
        // Addressed anew each time: a manager that restarts binds a new socket
        // under the same name.
        if (sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&address), length) < 0)
            problem = strerror(errno);
    }
    if (!problem.empty() && !failureLogged) {
        failureLogged = true;
        LM_LOG(Warn, "Cannot notify the service manager (NOTIFY_SOCKET): %s", problem.c_str());
    }
}

}  // namespace linkmoot
