#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace linkmoot {

class InterfaceCounters;

/// A dial-up connection as a service knows it; 0 means none.
using DialHandle = uint64_t;

enum class LineState {
    Pending,       ///< no answer counts yet for this handle
    QueryFailed,   ///< the state could not be read
    Disconnected,  ///< the line is down (or the handle is gone)
    Dialling,      ///< on its way up
    Connected      ///< up; also what a service that cannot tell reports
};

/// A connection a service offers: the name the configuration stores
/// (`Server`/`Connection`) and, for the list shown to the user, its kind.
struct DialEntry {
    // A bare name is an entry of a service that has one kind of connection.
    DialEntry(std::string entryName, std::string entryType = {})
        : name(std::move(entryName)), type(std::move(entryType)) {}
    DialEntry(const char* entryName) : name(entryName) {}

    std::string name;
    /// The kind as the service calls it (NetworkManager's profile type, such
    /// as "pppoe" or "ethernet", or "pppoe, gsm" when profiles of both kinds
    /// share the name); empty where the service has one kind only.
    std::string type;

    bool operator==(const DialEntry&) const = default;
};

/// Entries of one kind from their names.
inline std::vector<DialEntry> entriesNamed(const std::vector<std::string>& names) {
    return {names.begin(), names.end()};
}

struct DialRequest {
    std::string entry;     ///< the name of the connection to dial
    std::string userName;  ///< may be empty
    std::string password;  ///< may be empty; never logged, never on a command line
    /// The local IPv4 addresses, host order, on which the votes that asked for
    /// this dial arrived.
    std::vector<uint32_t> lanAddresses{};

    /// The request's copy of the password does not outlive the request.
    ~DialRequest() {
        // Through volatile, so the stores are not dropped as dead before the free.
        volatile char* bytes = password.data();
        for (std::size_t i = 0; i < password.size(); ++i)
            bytes[i] = 0;
    }
};

/// A dial-up facility (NetworkManager, pppd, the user's commands, the
/// simulation). Rules:
/// - dial() returns at once. It returns false when the request is refused
///   without asking anybody (with the reason in `error`); a handle may still be
///   set then, and the caller hangs it up. A service that has to ask first (a
///   bus round trip) returns true with a handle whose state is Pending, and a
///   refusal it learns then is a failure report.
/// - A dial that fails later is reported through the failure callback, with its
///   handle and the reason, from any thread, at most once per handle. A hang-up
///   by the caller is never reported as a failure.
/// - hangUp() and state() are called from the thread that dials.
/// - No call blocks: the caller is the loop that also serves the tray and the
///   control socket.
///   - state() answers at once with the latest answer that counts, or Pending.
///     Services whose answer takes time (a state command, a bus round trip)
///     fetch it in the background with a deadline, one query at a time, and a
///     later call sees it. An answer counts only if its query started after
///     that handle's latest dial or hang-up, so a stale "disconnected" never
///     breaks a new connection.
///   - hangUp() forgets the handle at once; what has to wait (a hang-up
///     command, a process to end) runs in the background, and hangingUp() is
///     true until it is done.
class DialService {
public:
    using FailureCallback = std::function<void(DialHandle handle, const std::string& reason)>;
    using EntriesCallback = std::function<void(std::vector<DialEntry> entries)>;

    virtual ~DialService() = default;
    /// The value of `Server`/`Dialer` that selects this service.
    virtual const char* name() const = 0;
    /// The connections that can be dialled, in the service's order, each name
    /// once, handed to `done` exactly once: before listEntries() returns, or
    /// later from another thread when the service has to ask (the callback
    /// then takes care of reaching its own thread). Never waits on the
    /// caller's thread; a service that cannot ask hands over an empty list and
    /// logs why.
    virtual void listEntries(EntriesCallback done) = 0;
    virtual bool dial(const DialRequest& request, DialHandle& handle, std::string& error) = 0;
    virtual void hangUp(DialHandle handle) = 0;
    virtual LineState state(DialHandle handle) = 0;
    /// True while the work of an earlier hangUp() still runs.
    virtual bool hangingUp() { return false; }
    /// The network interface that carries an established connection (its
    /// bytes are counted there); "" while the line is not up or when the
    /// service cannot tell. Answers at once, like state().
    virtual std::string interfaceName(DialHandle handle) {
        (void)handle;
        return {};
    }
    /// The counters of this service's interfaces when the system does not
    /// keep them (the simulation); null: the system's.
    virtual InterfaceCounters* ownCounters() { return nullptr; }
    /// Where failures go. The owner sets it before each dial (setting it again
    /// replaces it); implementations guard it, since reports come from other
    /// threads. An empty callback stops reports.
    virtual void setFailureCallback(FailureCallback callback) = 0;
};

/// Chooses the service by the value of `Server`/`Dialer`. Services live as long
/// as the provider; an unknown name yields a service that refuses every dial
/// with an error naming the value and the valid ones.
class DialServiceProvider {
public:
    virtual ~DialServiceProvider() = default;
    virtual DialService& service(const std::string& dialerName) = 0;
    /// The server has started with this `Dialer` value: a provider that must
    /// look around before it can choose ("auto") starts now, in the
    /// background, so the first dial finds the answer. Returns at once.
    virtual void prepare(const std::string& dialerName) { (void)dialerName; }
};

}  // namespace linkmoot
