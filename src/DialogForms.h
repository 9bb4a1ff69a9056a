#pragma once
// The load and store steps of the configuration dialogs, shared by every front
// end: a form holds the fields as the user sees them; load() fills them from the
// configuration tree, store() writes them back field by field and stops at the
// first refused field (fields stored before it stay stored).
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "DialService.h"
#include "Settings.h"

namespace linkmoot {

/// The outcome of store(): ok, or the control id of the refused field and the
/// string id of its message.
struct StoreResult {
    bool ok = true;
    int field = 0;
    int messageId = 0;
    std::string detail;  ///< what exactly is wrong, when the message needs it
    static StoreResult refused(int field, int messageId, std::string detail = {}) {
        return {false, field, messageId, std::move(detail)};
    }
};

/// The message a refused store shows: the string, then the detail.
std::string refusalText(const StoreResult& result);

struct ModeForm {
    enum Control { ClientRadio = 1019, ServerRadio = 1020 };
    enum class Choice { None, Client, Server };
    Choice choice = Choice::None;

    void load(const Settings& settings);
    StoreResult store(const Settings& settings) const;
};

struct ClientOptionsForm {
    enum Control {
        AutoVoteCheck = 1014,
        PortField = 1015,
        ServerField = 1016,
        WakeOnLanCheck = 1017,
        MacField = 1018,
        SecretField = 1040,
        NotifyCheck = 1041
    };
    std::string server;
    std::string port;
    bool wakeOnLan = false;
    std::string mac;
    bool autoVote = false;
    std::string secret;  ///< the root `Secret`: empty, or 16 characters at least
    bool notify = true;

    void load(const Settings& settings);
    StoreResult store(const Settings& settings) const;
};

struct ServerOptionsForm {
    enum Control {
        AlwaysConnectedCheck = 1021,
        AutoReconnectCheck = 1022,
        ReconnectField = 1023,
        ConnectionList = 1024,
        GuardTimeField = 1025,
        PasswordField = 1026,
        PortField = 1027,
        ShutdownCheck = 1028,
        ShutdownField = 1029,
        UserNameField = 1030,
        DialerChoice = 1031,
        RetryBackoffCheck = 1032,
        WebPageCheck = 1040,
        WebPortField = 1041,
        AllowedNetworksField = 1042,
        SecretField = 1043
    };
    std::string dialer;  ///< `Server`/`Dialer`, stored first
    std::string port;
    std::string guardTime;
    bool autoReconnect = false;
    std::string reconnectMinutes;
    bool shutdown = false;
    std::string shutdownMinutes;
    bool alwaysConnected = false;
    bool retryBackoff = false;
    std::vector<DialEntry> connections;  ///< sorted by name regardless of case, as listed
    int selected = -1;                   ///< index into connections; -1: none
    std::string userName;
    std::string password;
    bool webPage = false;  ///< `Server`/`WebPort` present and not 0
    std::string webPort;
    std::string allowedNetworks;  ///< comma-separated IPv4 blocks; empty: the private networks
    std::string secret;           ///< the root `Secret`: empty, or 16 characters at least

    /// Loads every field; `entries` are the dial service's (sorted here).
    void load(const Settings& settings, std::vector<DialEntry> entries);
    /// Refills the list (after the dial-up service changed) and selects the
    /// stored connection again.
    void setEntries(const Settings& settings, std::vector<DialEntry> entries);
    StoreResult store(const Settings& settings) const;
};

/// How the connection list shows an entry: "Dial-in (pppoe)", or the bare
/// name when the service gives no type.
std::string connectionLabel(const DialEntry& entry);

/// The dial-up service choices offered: value stored in `Dialer` and label.
struct DialerChoice {
    const char* value;
    const char* label;
};
const std::vector<DialerChoice>& dialerChoices();

/// atol semantics: leading white space, optional sign, decimal digits.
int32_t parseLong(const std::string& text);

}  // namespace linkmoot
