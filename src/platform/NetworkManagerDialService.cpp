#include "platform/NetworkManagerDialService.h"

#include <string.h>
#include <systemd/sd-bus.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include "Ipv4.h"
#include "ToolBox/Logger.h"
#include "Trust.h"
#include "platform/BusThread.h"
#include "platform/FailureReporter.h"
#include "platform/NetworkManagerReasons.h"

namespace linkmoot {

namespace {

constexpr const char* kService = "org.freedesktop.NetworkManager";
constexpr const char* kManagerPath = "/org/freedesktop/NetworkManager";
constexpr const char* kManager = "org.freedesktop.NetworkManager";
constexpr const char* kSettingsPath = "/org/freedesktop/NetworkManager/Settings";
constexpr const char* kSettings = "org.freedesktop.NetworkManager.Settings";
constexpr const char* kProfile = "org.freedesktop.NetworkManager.Settings.Connection";
constexpr const char* kActive = "org.freedesktop.NetworkManager.Connection.Active";
constexpr const char* kDevice = "org.freedesktop.NetworkManager.Device";
constexpr const char* kIp4Config = "org.freedesktop.NetworkManager.IP4Config";
constexpr const char* kAgentManagerPath = "/org/freedesktop/NetworkManager/AgentManager";
constexpr const char* kAgentManager = "org.freedesktop.NetworkManager.AgentManager";
constexpr const char* kAgentPath = "/org/freedesktop/NetworkManager/SecretAgent";
constexpr const char* kAgent = "org.freedesktop.NetworkManager.SecretAgent";
constexpr const char* kAgentIdentifier = "linkmoot.dialer";
constexpr const char* kNoSecrets = "org.freedesktop.NetworkManager.SecretAgent.NoSecrets";

constexpr uint32_t kActivated = 2;
constexpr uint32_t kDeactivating = 3;
constexpr uint32_t kDeactivated = 4;
constexpr uint32_t kRequestNewSecrets = 0x2;  // the last secret we gave was refused

constexpr const char* kDocs = "see docs/dialup-services.md";

constexpr std::chrono::seconds kListingTime{15};

// NetworkManager's own profile of the loopback device carries no uplink.
constexpr const char* kLoopbackType = "loopback";

// The names nmcli shows for the profile types that have a longer one.
std::string typeLabel(const std::string& type) {
    if (type == "802-3-ethernet")
        return "ethernet";
    if (type == "802-11-wireless")
        return "wifi";
    if (type == "802-11-olpc-mesh")
        return "olpc-mesh";
    return type;
}

struct Profile {
    std::string path;
    std::string id;
    std::string uuid;
    std::string type;
    std::string userName;
};

struct ErrorHolder {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    ErrorHolder() = default;
    ErrorHolder(const ErrorHolder&) = delete;
    ErrorHolder& operator=(const ErrorHolder&) = delete;
    ~ErrorHolder() { sd_bus_error_free(&error); }
    std::string text(int result) const {
        if (error.message != nullptr && *error.message != '\0')
            return error.message;
        if (error.name != nullptr)
            return error.name;
        return strerror(-result);
    }
    bool isNamed(const char* name) const { return sd_bus_error_has_name(&error, name); }
};

struct MessageHolder {
    sd_bus_message* message = nullptr;
    MessageHolder() = default;
    MessageHolder(const MessageHolder&) = delete;
    MessageHolder& operator=(const MessageHolder&) = delete;
    ~MessageHolder() { sd_bus_message_unref(message); }
};

bool isServiceMissing(const ErrorHolder& error) {
    return error.isNamed(SD_BUS_ERROR_SERVICE_UNKNOWN) ||
           error.isNamed(SD_BUS_ERROR_NAME_HAS_NO_OWNER);
}

bool isPermissionRefused(const ErrorHolder& error) {
    return error.isNamed(SD_BUS_ERROR_ACCESS_DENIED) ||
           error.isNamed(SD_BUS_ERROR_INTERACTIVE_AUTHORIZATION_REQUIRED) ||
           error.isNamed("org.freedesktop.NetworkManager.PermissionDenied");
}

// The object is gone (NetworkManager removes an active connection once it is down).
bool isObjectGone(const ErrorHolder& error) {
    return error.isNamed(SD_BUS_ERROR_UNKNOWN_OBJECT) ||
           error.isNamed(SD_BUS_ERROR_UNKNOWN_METHOD) ||
           error.isNamed(SD_BUS_ERROR_UNKNOWN_INTERFACE) ||
           error.isNamed(SD_BUS_ERROR_UNKNOWN_PROPERTY);
}

// What the user can do about an error of NetworkManager's, as a "; ..." tail.
std::string hintFor(const ErrorHolder& error) {
    if (isServiceMissing(error))
        return "; NetworkManager is not running: start it (systemctl start NetworkManager) or "
               "set Server/Dialer to another service";
    if (isPermissionRefused(error))
        return std::string(
                   "; the server's user may not control NetworkManager: run it as root "
                   "or allow it by a polkit rule for "
                   "org.freedesktop.NetworkManager.network-control (") +
               kDocs + ")";
    return "";
}

// Reads a variant holding a text; skips a variant of any other type.
int readTextVariant(sd_bus_message* message, std::string& text) {
    char type = 0;
    const char* contents = nullptr;
    int result = sd_bus_message_peek_type(message, &type, &contents);
    if (result < 0)
        return result;
    if (type != 'v' || contents == nullptr || strcmp(contents, "s") != 0)
        return sd_bus_message_skip(message, "v");
    const char* value = nullptr;
    result = sd_bus_message_read(message, "v", "s", &value);
    if (result >= 0 && value != nullptr)
        text = value;
    return result;
}

// Fills id, uuid, type and the user name from a GetSettings reply (a{sa{sv}}).
int parseSettings(sd_bus_message* message, Profile& profile) {
    int result = sd_bus_message_enter_container(message, 'a', "{sa{sv}}");
    if (result < 0)
        return result;
    while ((result = sd_bus_message_enter_container(message, 'e', "sa{sv}")) > 0) {
        const char* group = nullptr;
        if ((result = sd_bus_message_read(message, "s", &group)) < 0)
            return result;
        const std::string groupName = group;
        if ((result = sd_bus_message_enter_container(message, 'a', "{sv}")) < 0)
            return result;
        while ((result = sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
            const char* key = nullptr;
            if ((result = sd_bus_message_read(message, "s", &key)) < 0)
                return result;
            const std::string name = key;
            std::string* target = nullptr;
            if (groupName == "connection" && name == "id")
                target = &profile.id;
            if (groupName == "connection" && name == "uuid")
                target = &profile.uuid;
            if (groupName == "connection" && name == "type")
                target = &profile.type;
            if (name == "username" && (groupName == "pppoe" || groupName == "gsm" ||
                                       groupName == "cdma" || groupName == "adsl"))
                target = &profile.userName;
            result = target != nullptr ? readTextVariant(message, *target)
                                       : sd_bus_message_skip(message, "v");
            if (result < 0)
                return result;
            if ((result = sd_bus_message_exit_container(message)) < 0)
                return result;
        }
        if (result < 0)
            return result;
        if ((result = sd_bus_message_exit_container(message)) < 0)
            return result;
        if ((result = sd_bus_message_exit_container(message)) < 0)
            return result;
    }
    if (result < 0)
        return result;
    return sd_bus_message_exit_container(message);
}

// Reads an array of object paths ("ao") from where the message stands.
int readPaths(sd_bus_message* message, std::vector<std::string>& paths) {
    int result = sd_bus_message_enter_container(message, 'a', "o");
    if (result < 0)
        return result;
    const char* path = nullptr;
    while ((result = sd_bus_message_read(message, "o", &path)) > 0)
        paths.push_back(path);
    if (result < 0)
        return result;
    return sd_bus_message_exit_container(message);
}

// The "address" of each entry of an IP4Config's AddressData (aa{sv}), as
// numbers in host order.
int readAddresses(sd_bus_message* message, std::vector<uint32_t>& addresses) {
    int result = sd_bus_message_enter_container(message, 'a', "a{sv}");
    if (result < 0)
        return result;
    while ((result = sd_bus_message_enter_container(message, 'a', "{sv}")) > 0) {
        while ((result = sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
            const char* key = nullptr;
            if ((result = sd_bus_message_read(message, "s", &key)) < 0)
                return result;
            std::string text;
            result = strcmp(key, "address") == 0 ? readTextVariant(message, text)
                                                 : sd_bus_message_skip(message, "v");
            if (result < 0)
                return result;
            uint32_t parsed = 0;
            if (ipv4::parse(text, parsed))
                addresses.push_back(parsed);
            if ((result = sd_bus_message_exit_container(message)) < 0)
                return result;
        }
        if (result < 0)
            return result;
        if ((result = sd_bus_message_exit_container(message)) < 0)
            return result;
    }
    if (result < 0)
        return result;
    return sd_bus_message_exit_container(message);
}

// An object path property, or "" when it cannot be read.
std::string pathProperty(sd_bus* connection, const std::string& path, const char* interface,
                         const char* name) {
    ErrorHolder error;
    MessageHolder reply;
    const char* value = nullptr;
    if (sd_bus_get_property(connection, kService, path.c_str(), interface, name, &error.error,
                            &reply.message, "o") < 0 ||
        sd_bus_message_read(reply.message, "o", &value) < 0 || value == nullptr)
        return "";
    return value;
}

// An "ao" property, empty when it cannot be read.
std::vector<std::string> pathsProperty(sd_bus* connection, const std::string& path,
                                       const char* interface, const char* name) {
    ErrorHolder error;
    MessageHolder reply;
    std::vector<std::string> paths;
    if (sd_bus_get_property(connection, kService, path.c_str(), interface, name, &error.error,
                            &reply.message, "ao") >= 0)
        readPaths(reply.message, paths);
    return paths;
}

// One entry per name, in NetworkManager's order, with the types of every
// profile of that name (two types show that the name is ambiguous).
std::vector<DialEntry> entriesOf(const std::vector<Profile>& profiles) {
    std::vector<std::string> names;
    std::map<std::string, std::vector<std::string>> types;
    for (const Profile& profile : profiles) {
        std::vector<std::string>& known = types[profile.id];
        if (known.empty())
            names.push_back(profile.id);
        const std::string type = typeLabel(profile.type);
        if (std::find(known.begin(), known.end(), type) == known.end())
            known.push_back(type);
    }
    std::vector<DialEntry> entries;
    for (const std::string& name : names) {
        std::string joined;
        for (const std::string& type : types[name])
            joined += (joined.empty() ? "" : ", ") + type;
        entries.emplace_back(name, joined);
    }
    return entries;
}

}  // namespace

struct NetworkManagerDialService::Impl {
    struct Dial {
        std::string entry;
        std::string activePath;
        std::string profilePath;
        std::vector<std::string> devices{};  // the active connection's, for their failure reasons
        bool activated = false;
        bool reported = false;
        networkmanager::FailedActivation failed{};
    };

    FailureReporter failures;

    // The line of each dial as the bus thread last learnt it; read by state().
    std::mutex linesMutex;
    std::map<DialHandle, LineState> lines;
    // The interface of each activated dial (its device's IpInterface).
    std::map<DialHandle, std::string> interfaces;
    bool refreshing = false;
    int hangUpsRunning = 0;

    void setLine(DialHandle handle, LineState line) {
        std::lock_guard<std::mutex> lock(linesMutex);
        auto found = lines.find(handle);
        if (found != lines.end())
            found->second = line;
    }

    DialHandle nextHandle = 1;  // under linesMutex: handles are given by dial()

    // Touched only on the bus thread.
    std::map<DialHandle, Dial> dials;
    std::string lastRefusal;                     // repeats of the same refusal are logged at Debug
    std::map<std::string, std::string> secrets;  // profile path -> password
    bool agentRegistered = false;

    // Last, so it stops (and stops calling into the members above) first.
    std::unique_ptr<BusThread> bus;

    Impl() {
        bus = std::make_unique<BusThread>(
            [this](sd_bus* connection, std::string& error) { return connect(connection, error); },
            [this] { agentRegistered = false; });
    }
    ~Impl() {
        bus.reset();
        for (auto& [path, password] : secrets)
            explicit_bzero(password.data(), password.size());
    }

    bool connect(sd_bus* connection, std::string& error);
    bool listProfiles(sd_bus* connection, std::vector<Profile>& profiles, std::string& error);
    std::string findActive(sd_bus* connection, const std::string& profilePath);
    std::string lanConflict(sd_bus* connection, const Profile& profile,
                            const trust::AllowedNetworks& allowed,
                            const std::vector<uint32_t>& lanAddresses);
    bool dial(sd_bus* connection, const DialRequest& request, const trust::AllowedNetworks& allowed,
              DialHandle handle, std::string& error);
    void startDial(sd_bus* connection, const std::string& openError, const DialRequest& request,
                   const trust::AllowedNetworks& allowed, DialHandle handle);
    bool stillWanted(DialHandle handle);
    void hangUp(sd_bus* connection, DialHandle handle);
    LineState state(sd_bus* connection, DialHandle handle);
    /// The dial came up: its secret goes, its interface is read.
    void noteActivated(sd_bus* connection, DialHandle handle, Dial& dial);
    /// The IpInterface of the active connection's first device; "" when none.
    std::string readInterface(sd_bus* connection, const std::string& activePath);
    void stateChanged(sd_bus* connection, const std::string& path, uint32_t state, uint32_t reason);
    void deviceStateChanged(const std::string& path, uint32_t state, uint32_t before,
                            uint32_t reason);
    void reportFailed(sd_bus* connection, DialHandle handle, Dial& dial, uint32_t reason);
    void ownerChanged(const std::string& before, const std::string& after);
    int getSecrets(sd_bus_message* message, sd_bus_error* error);
    void keepSecret(sd_bus* connection, const std::string& profilePath,
                    const std::string& password);
    void forgetSecret(sd_bus* connection, const std::string& profilePath);

    static int onStateChanged(sd_bus_message* message, void* self, sd_bus_error*);
    static int onDeviceStateChanged(sd_bus_message* message, void* self, sd_bus_error*);
    static int onOwnerChanged(sd_bus_message* message, void* self, sd_bus_error*);
    static int onGetSecrets(sd_bus_message* message, void* self, sd_bus_error* error);
    static int onIgnoredAgentCall(sd_bus_message* message, void*, sd_bus_error*);
};

bool NetworkManagerDialService::Impl::connect(sd_bus* connection, std::string& error) {
    static const sd_bus_vtable agentVtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("GetSecrets", "a{sa{sv}}osasu", "a{sa{sv}}", &Impl::onGetSecrets,
                      SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("CancelGetSecrets", "os", "", &Impl::onIgnoredAgentCall,
                      SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("SaveSecrets", "a{sa{sv}}o", "", &Impl::onIgnoredAgentCall,
                      SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("DeleteSecrets", "a{sa{sv}}o", "", &Impl::onIgnoredAgentCall,
                      SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END};
    // Subscribed before any activation, so even a fast failure is seen.
    int result = sd_bus_match_signal(connection, nullptr, nullptr, nullptr, kActive, "StateChanged",
                                     &Impl::onStateChanged, this);
    if (result >= 0)
        result = sd_bus_match_signal(connection, nullptr, nullptr, nullptr, kDevice, "StateChanged",
                                     &Impl::onDeviceStateChanged, this);
    // A NetworkManager that stops or restarts takes its active connections and
    // the agent's registration with it.
    if (result >= 0)
        result = sd_bus_add_match(connection, nullptr,
                                  "type='signal',sender='org.freedesktop.DBus',"
                                  "interface='org.freedesktop.DBus',member='NameOwnerChanged',"
                                  "arg0='org.freedesktop.NetworkManager'",
                                  &Impl::onOwnerChanged, this);
    if (result >= 0)
        result =
            sd_bus_add_object_vtable(connection, nullptr, kAgentPath, kAgent, agentVtable, this);
    if (result < 0) {
        error = std::string("cannot set up the system bus connection: ") + strerror(-result);
        return false;
    }
    return true;
}

int NetworkManagerDialService::Impl::onStateChanged(sd_bus_message* message, void* self,
                                                    sd_bus_error*) {
    uint32_t state = 0;
    uint32_t reason = 0;
    const char* path = sd_bus_message_get_path(message);
    if (path == nullptr || sd_bus_message_read(message, "uu", &state, &reason) < 0)
        return 0;
    static_cast<Impl*>(self)->stateChanged(sd_bus_message_get_bus(message), path, state, reason);
    return 0;
}

void NetworkManagerDialService::Impl::stateChanged(sd_bus* connection, const std::string& path,
                                                   uint32_t state, uint32_t reason) {
    for (auto& [handle, dial] : dials) {
        if (dial.activePath != path)
            continue;
        // Its interface is known before the line says connected.
        const bool cameUp = state == kActivated && !dial.activated;
        if (cameUp)
            noteActivated(connection, handle, dial);
        setLine(handle, state == kActivated     ? LineState::Connected
                        : state == kDeactivated ? LineState::Disconnected
                                                : LineState::Dialling);
        if (cameUp) {
            LM_LOG(Info, "NetworkManager brought \"%s\" up", dial.entry.c_str());
        } else if (state == kDeactivated) {
            forgetSecret(connection, dial.profilePath);
            if (dial.activated) {
                LM_LOG(Info, "NetworkManager took \"%s\" down: %s", dial.entry.c_str(),
                       networkmanager::activeReasonText(reason));
            } else {
                reportFailed(connection, handle, dial, reason);
            }
        }
        return;
    }
}

// Once per dial that never came up (the signal and the state read both lead
// here): the caller would otherwise wait for it for ever.
void NetworkManagerDialService::Impl::reportFailed(sd_bus* connection, DialHandle handle,
                                                   Dial& dial, uint32_t reason) {
    if (dial.reported)
        return;
    dial.reported = true;
    forgetSecret(connection, dial.profilePath);
    dial.failed.reason = reason;
    const std::string text = networkmanager::failureText(dial.entry, dial.failed);
    LM_LOG(Warn, "%s%s", text.c_str(), networkmanager::failureHint(dial.failed).c_str());
    failures.report(handle, text);
}

int NetworkManagerDialService::Impl::onDeviceStateChanged(sd_bus_message* message, void* self,
                                                          sd_bus_error*) {
    uint32_t state = 0;
    uint32_t before = 0;
    uint32_t reason = 0;
    const char* path = sd_bus_message_get_path(message);
    if (path == nullptr || sd_bus_message_read(message, "uuu", &state, &before, &reason) < 0)
        return 0;
    static_cast<Impl*>(self)->deviceStateChanged(path, state, before, reason);
    return 0;
}

// NetworkManager says why a device failed before the active connection ends
// with its vaguer reason; the failure report weighs both.
void NetworkManagerDialService::Impl::deviceStateChanged(const std::string& path, uint32_t state,
                                                         uint32_t before, uint32_t reason) {
    if (state != networkmanager::kDeviceStateFailed)
        return;
    for (auto& [handle, dial] : dials) {
        if (dial.activated ||
            std::find(dial.devices.begin(), dial.devices.end(), path) == dial.devices.end())
            continue;
        dial.failed.deviceReason = reason;
        dial.failed.deviceStateBefore = before;
    }
}

int NetworkManagerDialService::Impl::onOwnerChanged(sd_bus_message* message, void* self,
                                                    sd_bus_error*) {
    const char* name = nullptr;
    const char* before = nullptr;
    const char* after = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &before, &after) < 0 || name == nullptr ||
        strcmp(name, kService) != 0)
        return 0;
    static_cast<Impl*>(self)->ownerChanged(before != nullptr ? before : "",
                                           after != nullptr ? after : "");
    return 0;
}

// The old instance's active connections, objects and agent registration mean
// nothing to a new one (whose object paths start afresh): its lines are down,
// and the next dial starts from nothing.
void NetworkManagerDialService::Impl::ownerChanged(const std::string& before,
                                                   const std::string& after) {
    if (before.empty()) {
        LM_LOG(Info, "NetworkManager is on the system bus");
        return;
    }
    LM_LOG(Warn, "NetworkManager %s; what Linkmoot knew of it is dropped",
           after.empty() ? "stopped" : "restarted");
    agentRegistered = false;
    for (auto& [handle, dial] : dials) {
        setLine(handle, LineState::Disconnected);
        if (dial.activated) {
            LM_LOG(Warn, "\"%s\" counts as down until it is dialled again", dial.entry.c_str());
        } else if (!dial.reported) {
            dial.reported = true;
            const std::string text =
                "NetworkManager stopped while it was bringing \"" + dial.entry + "\" up";
            LM_LOG(Warn, "%s", text.c_str());
            failures.report(handle, text);
        }
    }
    dials.clear();
    for (auto& [path, password] : secrets)
        explicit_bzero(password.data(), password.size());
    secrets.clear();
    lastRefusal.clear();
}

int NetworkManagerDialService::Impl::onIgnoredAgentCall(sd_bus_message* message, void*,
                                                        sd_bus_error*) {
    // Nothing is ever stored, so there is nothing to save, delete or cancel.
    return sd_bus_reply_method_return(message, "");
}

int NetworkManagerDialService::Impl::onGetSecrets(sd_bus_message* message, void* self,
                                                  sd_bus_error* error) {
    return static_cast<Impl*>(self)->getSecrets(message, error);
}

int NetworkManagerDialService::Impl::getSecrets(sd_bus_message* message, sd_bus_error* error) {
    sd_bus* connection = sd_bus_message_get_bus(message);
    // Anyone on the bus can call an agent: only NetworkManager gets the password.
    ErrorHolder ownerError;
    MessageHolder ownerReply;
    const char* owner = nullptr;
    const char* sender = sd_bus_message_get_sender(message);
    if (sd_bus_call_method(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "GetNameOwner", &ownerError.error,
                           &ownerReply.message, "s", kService) < 0 ||
        sd_bus_message_read(ownerReply.message, "s", &owner) < 0 || sender == nullptr ||
        strcmp(owner, sender) != 0) {
        LM_LOG(Warn, "Refused the password to %s, which is not NetworkManager",
               sender != nullptr ? sender : "an unknown caller");
        return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, "Only for NetworkManager");
    }

    const char* profilePath = nullptr;
    const char* setting = nullptr;
    uint32_t flags = 0;
    int result = sd_bus_message_skip(message, "a{sa{sv}}");
    if (result >= 0)
        result = sd_bus_message_read(message, "os", &profilePath, &setting);
    if (result >= 0)
        result = sd_bus_message_skip(message, "as");
    if (result >= 0)
        result = sd_bus_message_read(message, "u", &flags);
    if (result < 0)
        return result;

    auto found = secrets.find(profilePath);
    if (found == secrets.end())
        return sd_bus_error_set(error, kNoSecrets, "Linkmoot holds no password for this profile");
    for (auto& [handle, dial] : dials) {
        if (dial.profilePath != profilePath)
            continue;
        dial.failed.passwordGiven = true;
        if ((flags & kRequestNewSecrets) != 0)
            dial.failed.passwordRefused = true;
    }
    if ((flags & kRequestNewSecrets) != 0) {
        // Giving the same password again would only fail again.
        LM_LOG(Warn,
               "NetworkManager refused the password of Server/Password for profile %s; check it",
               profilePath);
        forgetSecret(connection, profilePath);
        return sd_bus_error_set(error, kNoSecrets, "The password was refused");
    }
    LM_LOG(Debug, "Handing the password to NetworkManager for setting \"%s\" of %s", setting,
           profilePath);
    const char* password = found->second.c_str();
    MessageHolder reply;
    result = sd_bus_message_new_method_return(message, &reply.message);
    // Sensitive: sd-bus wipes the message's memory when it frees it.
    if (result >= 0)
        result = sd_bus_message_sensitive(reply.message);
    if (result >= 0 && strcmp(setting, "vpn") == 0)
        result = sd_bus_message_append(reply.message, "a{sa{sv}}", 1, setting, 1, "secrets",
                                       "a{ss}", 1, "password", password);
    else if (result >= 0)
        result = sd_bus_message_append(reply.message, "a{sa{sv}}", 1, setting, 1, "password", "s",
                                       password);
    if (result >= 0)
        result = sd_bus_send(nullptr, reply.message, nullptr);
    return result < 0 ? result : 1;
}

void NetworkManagerDialService::Impl::keepSecret(sd_bus* connection, const std::string& profilePath,
                                                 const std::string& password) {
    std::string& kept = secrets[profilePath];
    explicit_bzero(kept.data(), kept.size());
    kept = password;
    if (agentRegistered)
        return;
    ErrorHolder error;
    const int result = sd_bus_call_method(connection, kService, kAgentManagerPath, kAgentManager,
                                          "RegisterWithCapabilities", &error.error, nullptr, "su",
                                          kAgentIdentifier, static_cast<uint32_t>(0));
    if (result < 0) {
        LM_LOG(Warn,
               "Cannot offer the password to NetworkManager as a secret agent: %s; the "
               "profile's own saved password is used%s",
               error.text(result).c_str(), hintFor(error).c_str());
        return;
    }
    agentRegistered = true;
}

void NetworkManagerDialService::Impl::forgetSecret(sd_bus* connection,
                                                   const std::string& profilePath) {
    auto found = secrets.find(profilePath);
    if (found == secrets.end())
        return;
    explicit_bzero(found->second.data(), found->second.size());
    secrets.erase(found);
    if (!secrets.empty() || !agentRegistered || connection == nullptr)
        return;
    ErrorHolder error;
    sd_bus_call_method(connection, kService, kAgentManagerPath, kAgentManager, "Unregister",
                       &error.error, nullptr, "");
    agentRegistered = false;
}

bool NetworkManagerDialService::Impl::listProfiles(sd_bus* connection,
                                                   std::vector<Profile>& profiles,
                                                   std::string& error) {
    ErrorHolder callError;
    MessageHolder reply;
    int result = sd_bus_call_method(connection, kService, kSettingsPath, kSettings,
                                    "ListConnections", &callError.error, &reply.message, "");
    std::vector<std::string> paths;
    if (result >= 0)
        result = readPaths(reply.message, paths);
    if (result < 0) {
        error = "cannot list NetworkManager's connection profiles: " + callError.text(result) +
                hintFor(callError);
        return false;
    }
    // Each call has its own deadline; a slow NetworkManager with many profiles
    // must not hold the bus thread (and the states it keeps) much longer.
    const auto giveUp = std::chrono::steady_clock::now() + kListingTime;
    for (const std::string& path : paths) {
        if (std::chrono::steady_clock::now() > giveUp) {
            error = "NetworkManager did not hand over its " + std::to_string(paths.size()) +
                    " connection profiles within " +
                    std::to_string(
                        std::chrono::duration_cast<std::chrono::seconds>(kListingTime).count()) +
                    " s";
            return false;
        }
        ErrorHolder settingsError;
        MessageHolder settings;
        Profile profile;
        profile.path = path;
        result = sd_bus_call_method(connection, kService, path.c_str(), kProfile, "GetSettings",
                                    &settingsError.error, &settings.message, "");
        if (result >= 0)
            result = parseSettings(settings.message, profile);
        if (result < 0) {
            // Removed meanwhile, or not readable for us: not dialable either.
            LM_LOG(Debug, "Skipping NetworkManager profile %s: %s", path.c_str(),
                   settingsError.text(result).c_str());
            continue;
        }
        if (profile.type != kLoopbackType && !profile.id.empty())
            profiles.push_back(profile);
    }
    return true;
}

std::string NetworkManagerDialService::Impl::findActive(sd_bus* connection,
                                                        const std::string& profilePath) {
    ErrorHolder error;
    MessageHolder reply;
    std::vector<std::string> active;
    int result = sd_bus_get_property(connection, kService, kManagerPath, kManager,
                                     "ActiveConnections", &error.error, &reply.message, "ao");
    if (result >= 0)
        result = readPaths(reply.message, active);
    if (result < 0)
        return "";
    for (const std::string& path : active) {
        ErrorHolder profileError;
        MessageHolder profileReply;
        const char* profile = nullptr;
        if (sd_bus_get_property(connection, kService, path.c_str(), kActive, "Connection",
                                &profileError.error, &profileReply.message, "o") < 0 ||
            sd_bus_message_read(profileReply.message, "o", &profile) < 0 || profilePath != profile)
            continue;
        ErrorHolder stateError;
        uint32_t state = 0;
        if (sd_bus_get_property_trivial(connection, kService, path.c_str(), kActive, "State",
                                        &stateError.error, 'u', &state) >= 0 &&
            state != kDeactivating && state != kDeactivated)
            return path;
    }
    return "";
}

// The devices NetworkManager would activate the profile on are those that list
// it among their AvailableConnections. One that carries an address of the LAN
// (an allowed network, or one that votes arrived on) must stay as it is.
std::string NetworkManagerDialService::Impl::lanConflict(
    sd_bus* connection, const Profile& profile, const trust::AllowedNetworks& allowed,
    const std::vector<uint32_t>& lanAddresses) {
    ErrorHolder error;
    MessageHolder reply;
    std::vector<std::string> devices;
    if (sd_bus_call_method(connection, kService, kManagerPath, kManager, "GetDevices", &error.error,
                           &reply.message, "") < 0 ||
        readPaths(reply.message, devices) < 0)
        return "";  // no list, no device to protect: the activation will say more
    for (const std::string& device : devices) {
        const std::vector<std::string> available =
            pathsProperty(connection, device, kDevice, "AvailableConnections");
        if (std::find(available.begin(), available.end(), profile.path) == available.end())
            continue;
        const std::string config = pathProperty(connection, device, kDevice, "Ip4Config");
        if (config.empty() || config == "/")
            continue;
        ErrorHolder addressError;
        MessageHolder addressReply;
        std::vector<uint32_t> addresses;
        if (sd_bus_get_property(connection, kService, config.c_str(), kIp4Config, "AddressData",
                                &addressError.error, &addressReply.message, "aa{sv}") < 0 ||
            readAddresses(addressReply.message, addresses) < 0)
            continue;
        for (uint32_t address : addresses) {
            const bool votedOn =
                std::find(lanAddresses.begin(), lanAddresses.end(), address) != lanAddresses.end();
            if (!votedOn && !allowed.allows(address))
                continue;
            char* name = nullptr;
            ErrorHolder nameError;
            sd_bus_get_property_string(connection, kService, device.c_str(), kDevice, "Interface",
                                       &nameError.error, &name);
            const std::string interface = name != nullptr ? name : device;
            free(name);
            return "NetworkManager would bring \"" + profile.id + "\" up on " + interface +
                   ", which carries " + ipv4::format(address) +
                   (votedOn ? ", an address that votes arrive on"
                            : ", an address of the allowed networks (Server/AllowedNetworks)") +
                   ": taking it up or down would cut the LAN off; choose the uplink's own "
                   "profile, or bind it to the uplink's device (nmcli connection modify ID "
                   "connection.interface-name DEVICE)" +
                   (votedOn ? "" : ", or narrow Server/AllowedNetworks to the LAN");
        }
    }
    return "";
}

bool NetworkManagerDialService::Impl::dial(sd_bus* connection, const DialRequest& request,
                                           const trust::AllowedNetworks& allowed, DialHandle handle,
                                           std::string& error) {
    std::vector<Profile> profiles;
    if (!listProfiles(connection, profiles, error))
        return false;
    std::vector<const Profile*> named;
    for (const Profile& profile : profiles)
        if (profile.id == request.entry)
            named.push_back(&profile);
    if (named.empty()) {
        error = "NetworkManager has no connection profile called \"" + request.entry +
                "\"; create one (" + kDocs + ") or choose another in the server options";
        return false;
    }
    if (named.size() > 1) {
        // Dialling one of them could hand the password to a profile the user
        // did not mean.
        std::string uuids;
        for (const Profile* profile : named)
            uuids += (uuids.empty() ? "" : ", ") + profile->uuid;
        error = std::to_string(named.size()) + " NetworkManager profiles are called \"" +
                request.entry + "\" (uuids " + uuids +
                "); rename all but one of them (nmcli connection modify UUID connection.id "
                "NEWNAME)";
        return false;
    }
    const Profile* chosen = named.front();
    // Before an activation and before using an active profile, whose hang-up
    // would deactivate it just the same.
    error = lanConflict(connection, *chosen, allowed, request.lanAddresses);
    if (!error.empty())
        return false;
    if (!request.userName.empty() && request.userName != chosen->userName)
        LM_LOG(Warn,
               "NetworkManager takes the user name from the profile \"%s\", not from "
               "Server/UserName; set it in the profile",
               request.entry.c_str());

    const std::string already = findActive(connection, chosen->path);
    if (!already.empty()) {
        dials[handle] = Dial{request.entry, already, chosen->path};
        setLine(handle, state(connection, handle));
        LM_LOG(Info, "NetworkManager profile \"%s\" is already active; using it",
               request.entry.c_str());
        return true;
    }

    if (!request.password.empty())
        keepSecret(connection, chosen->path, request.password);
    ErrorHolder callError;
    MessageHolder reply;
    const char* activePath = nullptr;
    int result =
        sd_bus_call_method(connection, kService, kManagerPath, kManager, "ActivateConnection",
                           &callError.error, &reply.message, "ooo", chosen->path.c_str(), "/", "/");
    if (result >= 0)
        result = sd_bus_message_read(reply.message, "o", &activePath);
    if (result < 0) {
        forgetSecret(connection, chosen->path);
        error = "NetworkManager refused to activate \"" + request.entry +
                "\": " + callError.text(result) + hintFor(callError);
        return false;
    }
    // Recorded before this thread dispatches anything else, so a StateChanged
    // that arrived meanwhile still finds its dial.
    Dial& made = dials[handle] = Dial{request.entry, activePath, chosen->path};
    made.devices = pathsProperty(connection, made.activePath, kActive, "Devices");
    setLine(handle, LineState::Dialling);
    LM_LOG(Info, "NetworkManager is activating \"%s\" (%s)", request.entry.c_str(), activePath);
    return true;
}

bool NetworkManagerDialService::Impl::stillWanted(DialHandle handle) {
    std::lock_guard<std::mutex> lock(linesMutex);
    return lines.count(handle) != 0;
}

void NetworkManagerDialService::Impl::startDial(sd_bus* connection, const std::string& openError,
                                                const DialRequest& request,
                                                const trust::AllowedNetworks& allowed,
                                                DialHandle handle) {
    // Hung up before its turn came: nothing to activate, nothing to report.
    if (!stillWanted(handle))
        return;
    std::string error = openError;
    if (connection != nullptr && dial(connection, request, allowed, handle, error)) {
        lastRefusal.clear();
        return;
    }
    // The loop dials again soon after a refusal; the same reason once is enough.
    if (error != lastRefusal)
        LM_LOG(Error, "Cannot dial with NetworkManager: %s", error.c_str());
    else
        LM_LOG(Debug, "Cannot dial with NetworkManager: %s", error.c_str());
    lastRefusal = error;
    setLine(handle, LineState::Disconnected);
    if (stillWanted(handle))
        failures.report(handle, error);
}

void NetworkManagerDialService::Impl::hangUp(sd_bus* connection, DialHandle handle) {
    auto found = dials.find(handle);
    if (found == dials.end())
        return;
    const Dial dial = found->second;
    dials.erase(found);  // later state changes of it are ours, not failures
    if (connection == nullptr) {
        LM_LOG(Warn, "Cannot reach NetworkManager to take \"%s\" down; it may still be up",
               dial.entry.c_str());
        return;
    }
    forgetSecret(connection, dial.profilePath);
    ErrorHolder error;
    const int result =
        sd_bus_call_method(connection, kService, kManagerPath, kManager, "DeactivateConnection",
                           &error.error, nullptr, "o", dial.activePath.c_str());
    if (result < 0 && isPermissionRefused(error))
        LM_LOG(Warn, "NetworkManager refused to deactivate \"%s\": %s%s", dial.entry.c_str(),
               error.text(result).c_str(), hintFor(error).c_str());
    else if (result < 0)
        LM_LOG(Debug, "Deactivating \"%s\": %s", dial.entry.c_str(), error.text(result).c_str());
}

LineState NetworkManagerDialService::Impl::state(sd_bus* connection, DialHandle handle) {
    auto found = dials.find(handle);
    if (found == dials.end())
        return LineState::Disconnected;
    Dial& dial = found->second;
    if (connection == nullptr)
        return LineState::QueryFailed;
    ErrorHolder error;
    uint32_t value = 0;
    const int result = sd_bus_get_property_trivial(connection, kService, dial.activePath.c_str(),
                                                   kActive, "State", &error.error, 'u', &value);
    LineState line = value == kActivated ? LineState::Connected : LineState::Dialling;
    if (result < 0) {
        if (!isObjectGone(error)) {
            LM_LOG(Debug, "Cannot read the state of \"%s\": %s", dial.entry.c_str(),
                   error.text(result).c_str());
            return LineState::QueryFailed;
        }
        line = LineState::Disconnected;
    } else if (value == kDeactivated) {
        line = LineState::Disconnected;
    } else if (value == kActivated && !dial.activated) {
        noteActivated(connection, handle, dial);
    }
    // Gone without ever coming up and without a signal that said so: without
    // a report the caller would wait for this dial for ever.
    if (line == LineState::Disconnected && !dial.activated)
        reportFailed(connection, handle, dial, 0);
    return line;
}

void NetworkManagerDialService::Impl::noteActivated(sd_bus* connection, DialHandle handle,
                                                    Dial& dial) {
    dial.activated = true;
    forgetSecret(connection, dial.profilePath);
    // Read with the state it came up with, for counting its bytes.
    const std::string name = readInterface(connection, dial.activePath);
    std::lock_guard<std::mutex> lock(linesMutex);
    interfaces[handle] = name;
}

std::string NetworkManagerDialService::Impl::readInterface(sd_bus* connection,
                                                           const std::string& activePath) {
    ErrorHolder error;
    MessageHolder reply;
    std::vector<std::string> devices;
    if (sd_bus_get_property(connection, kService, activePath.c_str(), kActive, "Devices",
                            &error.error, &reply.message, "ao") < 0 ||
        readPaths(reply.message, devices) < 0 || devices.empty()) {
        LM_LOG(Debug, "No device for the active connection %s", activePath.c_str());
        return "";
    }
    ErrorHolder deviceError;
    char* name = nullptr;
    if (sd_bus_get_property_string(connection, kService, devices.front().c_str(),
                                   "org.freedesktop.NetworkManager.Device", "IpInterface",
                                   &deviceError.error, &name) < 0)
        return "";
    std::string interfaceName = name != nullptr ? name : "";
    free(name);
    return interfaceName;
}

NetworkManagerDialService::NetworkManagerDialService() : impl(std::make_unique<Impl>()) {}

NetworkManagerDialService::NetworkManagerDialService(Settings settings)
    : settings(settings), impl(std::make_unique<Impl>()) {}

NetworkManagerDialService::~NetworkManagerDialService() {
    setFailureCallback(nullptr);
}

void NetworkManagerDialService::listEntries(EntriesCallback done) {
    Impl* self = impl.get();
    impl->bus->post(
        [self, done = std::move(done)](sd_bus* connection, const std::string& openError) {
            std::vector<Profile> profiles;
            std::string error = openError;
            if (connection == nullptr || !self->listProfiles(connection, profiles, error)) {
                LM_LOG(Warn, "No NetworkManager connections to offer: %s", error.c_str());
                done({});
                return;
            }
            done(entriesOf(profiles));
        });
}

bool NetworkManagerDialService::dial(const DialRequest& request, DialHandle& handle, std::string&) {
    {
        std::lock_guard<std::mutex> lock(impl->linesMutex);
        handle = impl->nextHandle++;
        impl->lines[handle] = LineState::Pending;
    }
    // The profiles have to be asked for first, so every answer, a refusal
    // too, comes from the bus thread. The copy wipes its password when freed.
    auto copy = std::make_shared<const DialRequest>(request);
    // Read here: the settings belong to the caller's thread.
    trust::AllowedNetworks allowed;
    if (settings) {
        std::string malformed;
        if (!trust::AllowedNetworks::parse(settings->get(keys::AllowedNetworks), allowed,
                                           malformed))
            LM_LOG(Debug, "Server/AllowedNetworks: %s; the private networks count as the LAN",
                   malformed.c_str());
    }
    Impl* self = impl.get();
    const DialHandle dialled = handle;
    impl->bus->post(
        [self, copy, allowed, dialled](sd_bus* connection, const std::string& openError) {
            self->startDial(connection, openError, *copy, allowed, dialled);
        });
    return true;
}

void NetworkManagerDialService::hangUp(DialHandle handle) {
    {
        std::lock_guard<std::mutex> lock(impl->linesMutex);
        impl->interfaces.erase(handle);
        if (impl->lines.erase(handle) == 0)
            return;
        impl->hangUpsRunning++;
    }
    Impl* self = impl.get();
    impl->bus->post([self, handle](sd_bus* connection, const std::string&) {
        self->hangUp(connection, handle);
        std::lock_guard<std::mutex> lock(self->linesMutex);
        self->hangUpsRunning--;
    });
}

bool NetworkManagerDialService::hangingUp() {
    std::lock_guard<std::mutex> lock(impl->linesMutex);
    return impl->hangUpsRunning > 0;
}

LineState NetworkManagerDialService::state(DialHandle handle) {
    std::lock_guard<std::mutex> lock(impl->linesMutex);
    auto found = impl->lines.find(handle);
    if (found == impl->lines.end())
        return LineState::Disconnected;
    if (!impl->refreshing) {
        // Handles are never reused and a hang-up removes its line, so the
        // answer, queued behind the dial on the bus thread, is never stale.
        impl->refreshing = true;
        Impl* self = impl.get();
        impl->bus->post([self, handle](sd_bus* connection, const std::string&) {
            const LineState line = self->state(connection, handle);
            std::lock_guard<std::mutex> lineLock(self->linesMutex);
            self->refreshing = false;
            auto current = self->lines.find(handle);
            if (current != self->lines.end())
                current->second = line;
        });
    }
    return found->second;
}

std::string NetworkManagerDialService::interfaceName(DialHandle handle) {
    std::lock_guard<std::mutex> lock(impl->linesMutex);
    auto line = impl->lines.find(handle);
    auto found = impl->interfaces.find(handle);
    if (line == impl->lines.end() || line->second != LineState::Connected ||
        found == impl->interfaces.end())
        return {};
    return found->second;
}

void NetworkManagerDialService::setFailureCallback(FailureCallback callback) {
    impl->failures.set(std::move(callback));
}

bool NetworkManagerDialService::isRunning(std::string* why) {
    sd_bus* connection = nullptr;
    int result = sd_bus_open_system(&connection);
    if (result < 0) {
        if (why != nullptr)
            *why = std::string("no system bus: ") + strerror(-result);
        return false;
    }
    sd_bus_set_method_call_timeout(connection, BusThread::kCallTimeoutUs);
    ErrorHolder error;
    MessageHolder reply;
    int owned = 0;
    result = sd_bus_call_method(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                "org.freedesktop.DBus", "NameHasOwner", &error.error,
                                &reply.message, "s", kService);
    if (result >= 0)
        result = sd_bus_message_read(reply.message, "b", &owned);
    sd_bus_flush_close_unref(connection);
    if (result < 0) {
        if (why != nullptr)
            *why = "the system bus does not answer: " + error.text(result);
        return false;
    }
    if (owned == 0 && why != nullptr)
        *why = "NetworkManager is not running on the system bus";
    return owned != 0;
}

}  // namespace linkmoot
