#pragma once
// Dial-up through NetworkManager on the system bus.
// - Entries: the ids of the connection profiles that can carry an uplink
//   (pppoe, gsm, cdma, bluetooth, adsl, vpn), in NetworkManager's order, each
//   id once. Ids need not be unique, but a dial must name one profile: an id
//   that several profiles share refuses the dial with an Error line that gives
//   their uuids (the password would otherwise go to a profile chosen by chance).
// - Dial: dial() gives the handle at once (its state Pending) and queues the
//   work for the bus thread: list the profiles, then ActivateConnection(profile,
//   "/", "/"); the handle stands for the active connection. A profile that is
//   already active is used as it is, since activating it again would drop the
//   line. A refusal met there (no such profile, NetworkManager absent or
//   refusing) and the active connection reaching DEACTIVATED before it was ever
//   ACTIVATED are failure reports, from the bus thread; the same refusal again
//   is logged at Debug. A dial hung up before its turn is not made.
// - Entries: listed on the bus thread; the answer goes to the callback there.
//   Listing gives up after 15 s in all (each call has 5 s).
// - State: kept by the bus thread from the StateChanged signals, and refreshed
//   from the active connection's State property in the background, one read
//   at a time, each state() call starting the next; ACTIVATED is "connected",
//   DEACTIVATED or a vanished object "disconnected", any error reaching
//   NetworkManager "query failed". state() never waits for the bus.
// - Hang-up: DeactivateConnection, queued for the bus thread without waiting.
//   Its DEACTIVATED is not a failure.
// - The password, when given, is handed over on request as a one-off secret by
//   a secret agent that is registered only while a dial waits for it. Only
//   NetworkManager itself gets it, in a reply marked sensitive (wiped when
//   freed); it is never logged.
// All bus traffic runs on one thread of the service's own.
#include <memory>

#include "DialService.h"

namespace linkmoot {

class NetworkManagerDialService : public DialService {
public:
    NetworkManagerDialService();
    ~NetworkManagerDialService() override;

    const char* name() const override { return "networkmanager"; }
    void listEntries(EntriesCallback done) override;
    bool dial(const DialRequest& request, DialHandle& handle, std::string& error) override;
    void hangUp(DialHandle handle) override;
    LineState state(DialHandle handle) override;
    /// The device's IpInterface, read with the state that said activated.
    std::string interfaceName(DialHandle handle) override;
    bool hangingUp() override;
    void setFailureCallback(FailureCallback callback) override;

    /// Whether NetworkManager holds its name on the system bus (a short-lived
    /// connection of the calling thread, which waits up to 5 s: never call it
    /// from the loop). `why` gets the reason when not.
    static bool isRunning(std::string* why = nullptr);

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

}  // namespace linkmoot
