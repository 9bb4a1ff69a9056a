#pragma once
// Tells the service manager how the daemon is doing: READY=1 once start-up has
// run, STATUS= the tray text whenever it changes, WATCHDOG=1 from the tick
// while a watchdog is armed, STOPPING=1 at Exit. Outside a service with a
// notification socket every call does nothing.
//
// No library: the manager's notification protocol is documented as stable (a
// datagram of "KEY=value" lines to the AF_UNIX socket named by NOTIFY_SOCKET,
// "@" naming an abstract one; the watchdog armed by WATCHDOG_USEC for the
// process WATCHDOG_PID, when that is set), and one socket kept open costs a
// single system call a message.
#include <cstdint>
#include <string>

namespace linkmoot {

class ServiceNotifier {
public:
    /// Reads NOTIFY_SOCKET and the watchdog's interval once.
    ServiceNotifier();
    ~ServiceNotifier();
    ServiceNotifier(const ServiceNotifier&) = delete;
    ServiceNotifier& operator=(const ServiceNotifier&) = delete;

    /// Start-up is done, whatever it achieved; status says what came of it.
    void ready(const std::string& status);
    /// A new status line; the same text again is not sent.
    void status(const std::string& text);
    /// The loop is alive (from each tick), while a watchdog is armed.
    void watchdog();
    void stopping();

    bool enabled() const { return active; }
    /// The watchdog's interval in microseconds; 0 when none is armed.
    uint64_t watchdogMicros() const { return watchdogInterval; }

private:
    void send(const std::string& message);
    /// Why NOTIFY_SOCKET cannot be used; empty when it can.
    std::string openSocket();

    bool active;
    std::string socketName;
    int fd = -1;
    uint64_t watchdogInterval = 0;
    bool readySent = false;
    bool stoppingSent = false;
    bool failureLogged = false;
    std::string lastStatus;
};

}  // namespace linkmoot
