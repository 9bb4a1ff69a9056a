#pragma once
// Tells the service manager how the daemon is doing (sd_notify): READY=1 once
// start-up has run, STATUS= the tray text whenever it changes, WATCHDOG=1 from
// the tick while a watchdog is armed, STOPPING=1 at Exit. Outside a service
// with a notification socket every call does nothing.
#include <cstdint>
#include <string>

namespace linkmoot {

class ServiceNotifier {
public:
    /// Reads NOTIFY_SOCKET and the watchdog's interval once.
    ServiceNotifier();

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

    bool active;
    uint64_t watchdogInterval = 0;
    bool readySent = false;
    bool stoppingSent = false;
    bool failureLogged = false;
    std::string lastStatus;
};

}  // namespace linkmoot
