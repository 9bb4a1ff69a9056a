#pragma once
// Dial-up through NetworkManager on the system bus.
// - Entries: every connection profile by its name (id), in NetworkManager's
//   order, each name once with its type ("pppoe", "ethernet", "wifi", ...; the
//   types of all profiles that share the name); the loopback profile is no
//   uplink and is left out. Ids need not be unique, but a dial must name one
//   profile: an id that several profiles share refuses the dial with an Error
//   line that gives their uuids (the password would otherwise go to a profile
//   chosen by chance).
// - The LAN stays up: a profile that NetworkManager would activate on a device
//   (one whose AvailableConnections hold it) that carries an address of the
//   allowed networks (`Server`/`AllowedNetworks`) or one that votes arrived on
//   (DialRequest::lanAddresses) is refused, naming the device and the address:
//   activating or deactivating it would cut the LAN off.
// - Dial: dial() gives the handle at once (its state Pending) and queues the
//   work for the bus thread: list the profiles, then ActivateConnection(profile,
//   "/", "/"); the handle stands for the active connection. A profile that is
//   already active is used as it is, since activating it again would drop the
//   line. A refusal met there (no such profile, NetworkManager absent or
//   refusing) and the active connection reaching DEACTIVATED before it was ever
//   ACTIVATED are failure reports, from the bus thread, whose text names the
//   cause as far as NetworkManager and the secret agent tell it
//   (NetworkManagerReasons.h); the same refusal again is logged at Debug. A dial
//   hung up before its turn is not made.
// - Entries: listed on the bus thread; the answer goes to the callback there.
//   Listing gives up after 15 s in all (each call has 5 s).
// - State: kept by the bus thread from the StateChanged signals, and refreshed
//   from the active connection's State property in the background, one read
//   at a time, each state() call starting the next; ACTIVATED is "connected",
//   DEACTIVATED or a vanished object "disconnected", any error reaching
//   NetworkManager "query failed". state() never waits for the bus.
// - NetworkManager stopping or restarting (its bus name changing owner) drops
//   everything kept of the old instance: its lines are down (a dial still on
//   its way is a failure), the secret agent is registered afresh, and the next
//   dial reads the profiles of the new one.
// - Hang-up: DeactivateConnection, queued for the bus thread without waiting.
//   Its DEACTIVATED is not a failure.
// - The password, when given, is handed over on request as a one-off secret by
//   a secret agent that is registered only while a dial waits for it. Only
//   NetworkManager itself gets it, in a reply marked sensitive (wiped when
//   freed); it is never logged. NetworkManager takes an agent's password for a
//   system-wide profile without any right to modify profiles only when the
//   profile's password flags say agent-owned (1); see docs/dialup-services.md.
// All bus traffic runs on one thread of the service's own.
#include <memory>

#include <optional>

#include "DialService.h"
#include "Settings.h"

namespace linkmoot {

class NetworkManagerDialService : public DialService {
public:
    /// Without settings the allowed networks are the default ones.
    NetworkManagerDialService();
    /// Reads `Server`/`AllowedNetworks` through `settings` at each dial.
    explicit NetworkManagerDialService(Settings settings);
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
    std::optional<Settings> settings;
    std::unique_ptr<Impl> impl;
};

}  // namespace linkmoot
