#include "platform/ServiceNotifier.h"

#include <systemd/sd-daemon.h>

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

}  // namespace

ServiceNotifier::ServiceNotifier() : active(std::getenv("NOTIFY_SOCKET") != nullptr) {
    uint64_t interval = 0;
    // Kept in the environment: children (pppd, the user's commands) are not
    // the main process, and the manager ignores what they would send.
    if (active && sd_watchdog_enabled(0, &interval) > 0)
        watchdogInterval = interval;
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

void ServiceNotifier::send(const std::string& message) {
    const int result = sd_notify(0, message.c_str());
    if (result < 0 && !failureLogged) {
        failureLogged = true;
        LM_LOG(Warn, "Cannot notify the service manager (NOTIFY_SOCKET): error %d", -result);
    }
}

}  // namespace linkmoot
