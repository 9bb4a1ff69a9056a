#pragma once
// Every configuration key in one place: its section, its name, its type, its
// default and the rule a read follows when the key is missing. The server, the
// client, the dialog forms, the prompts and the dial-up services all read and
// write through Settings, so a key's default never lives apart from its name.
//
// A key that two readers treat differently (the port, the shut-down time, the
// Wake-on-LAN address) has one entry per reading; they share the name.
#include <cstdint>
#include <optional>
#include <string>

namespace toolbox {
class ConfigSection;
}

namespace linkmoot {

/// What a read does with a missing key. The saved file depends on it: a key
/// created by a read is written at the next save.
enum class MissingKey {
    /// Created empty when read; reads as "" or 0.
    CreatedEmpty,
    /// Created holding its default when read.
    StoresDefault,
    /// Stays missing: its presence switches the feature on (the dialogs show it
    /// as a check box); the default is what a present key without a value reads as.
    SwitchesOff,
};

template <typename T>
struct Key {
    const char* section;  ///< nullptr: the root section
    const char* name;
    T fallback;
    MissingKey rule;
};

/// A key whose presence switches its feature on.
template <typename T>
struct OptionalKey {
    const char* section;
    const char* name;
    T fallback;
    static constexpr MissingKey rule = MissingKey::SwitchesOff;
};

using TextKey = Key<const char*>;
using NumberKey = Key<int32_t>;
using FlagKey = Key<bool>;

namespace keys {

inline constexpr const char* kClientSection = "Client";
inline constexpr const char* kServerSection = "Server";

// The root section.
/// "client" or "server", compared exactly; anything else is neither.
inline constexpr TextKey Mode{nullptr, "Mode", "", MissingKey::CreatedEmpty};
/// Set once the first configuration flow ran to its end.
inline constexpr FlagKey Configured{nullptr, "Configured", false, MissingKey::StoresDefault};
/// The UDP port as the server binds it and the client sends to it.
inline constexpr NumberKey Port{nullptr, "Port", 0, MissingKey::CreatedEmpty};
/// The same port as the options dialogs show and store it: text.
inline constexpr TextKey PortText{nullptr, "Port", "9005", MissingKey::StoresDefault};

/// The shared secret of the voting protocol, the same on the server and every
/// client; empty: off. Kept like the password.
inline constexpr TextKey Secret{nullptr, "Secret", "", MissingKey::CreatedEmpty};

// Client
/// The server's name or address; "auto": the one server found on the LAN.
inline constexpr TextKey ClientServer{kClientSection, "Server", "", MissingKey::CreatedEmpty};
/// The server `auto` chose (its host name) and its address when last found;
/// kept until the user chooses again.
inline constexpr TextKey AutoChoice{kClientSection, "AutoChoice", "", MissingKey::CreatedEmpty};
inline constexpr TextKey AutoAddress{kClientSection, "AutoAddress", "", MissingKey::CreatedEmpty};
/// The server's hardware address as the client reads it before each vote; 17
/// characters or more switch the Wake-on-LAN packet on.
inline constexpr TextKey WakeOnLanMac{kClientSection, "WakeOnLanMac", "",
                                      MissingKey::StoresDefault};
/// The same key as the client options show it: present means the box is checked.
inline constexpr OptionalKey<const char*> WakeOnLanMacOption{kClientSection, "WakeOnLanMac", ""};
/// Vote from the start.
inline constexpr FlagKey AutoVote{kClientSection, "AutoVote", false, MissingKey::StoresDefault};
/// Desktop notifications (Info lines in the daemon) when the server's line
/// changes while this user votes.
inline constexpr FlagKey Notify{kClientSection, "Notify", true, MissingKey::StoresDefault};

// Server
/// Comma-separated IPv4 blocks whose datagrams the server reads; empty: the
/// private and link-local networks (loopback always).
inline constexpr TextKey AllowedNetworks{kServerSection, "AllowedNetworks", "",
                                         MissingKey::CreatedEmpty};
/// Milliseconds to wait after each hang-up; 0 or less: none.
inline constexpr NumberKey GuardTime{kServerSection, "GuardTime", 3000, MissingKey::StoresDefault};
/// Hang up and dial again after this many minutes online.
inline constexpr OptionalKey<int32_t> AutoReconnectMinutes{kServerSection, "AutoReconnectMinutes",
                                                           600};
/// Power off after this many minutes without a vote, as the server reads it:
/// a missing key stores 0, which means never.
inline constexpr NumberKey ShutDownMinutes{kServerSection, "ShutDownMinutes", 0,
                                           MissingKey::StoresDefault};
/// The same key as the server options show it: present means the box is checked.
inline constexpr OptionalKey<int32_t> ShutDownMinutesOption{kServerSection, "ShutDownMinutes", 600};
/// Dial even without votes.
inline constexpr FlagKey AlwaysConnected{kServerSection, "AlwaysConnected", false,
                                         MissingKey::StoresDefault};
/// After a failed dial, wait 5 s before the next, doubling up to 5 minutes
/// (off: the next poll dials again).
inline constexpr FlagKey RetryBackoff{kServerSection, "RetryBackoff", false,
                                      MissingKey::StoresDefault};
inline constexpr TextKey Connection{kServerSection, "Connection", "", MissingKey::CreatedEmpty};
inline constexpr TextKey UserName{kServerSection, "UserName", "", MissingKey::CreatedEmpty};
inline constexpr TextKey Password{kServerSection, "Password", "", MissingKey::CreatedEmpty};
/// The dial-up service: auto, networkmanager, ppp, command or simulated.
inline constexpr TextKey Dialer{kServerSection, "Dialer", "auto", MissingKey::StoresDefault};
inline constexpr TextKey PppProgram{kServerSection, "PppProgram", "pppd",
                                    MissingKey::StoresDefault};
inline constexpr TextKey PppPeersFolder{kServerSection, "PppPeersFolder", "/etc/ppp/peers",
                                        MissingKey::StoresDefault};
inline constexpr TextKey DialCommand{kServerSection, "DialCommand", "", MissingKey::StoresDefault};
inline constexpr TextKey HangUpCommand{kServerSection, "HangUpCommand", "",
                                       MissingKey::StoresDefault};
inline constexpr TextKey StatusCommand{kServerSection, "StatusCommand", "",
                                       MissingKey::StoresDefault};
/// Announce the server on the LAN (DNS-SD over multicast DNS) and answer the
/// queries clients broadcast to find it; missing: on.
inline constexpr FlagKey Announce{kServerSection, "Announce", true, MissingKey::StoresDefault};
/// The TCP port of the web page for phones; missing or 0: no page. Present
/// means the options' check box is checked.
inline constexpr OptionalKey<int32_t> WebPort{kServerSection, "WebPort", 8080};
/// The web page's own password (not the datagrams' secret); missing or empty: none.
inline constexpr OptionalKey<const char*> WebPassword{kServerSection, "WebPassword", ""};
/// The longest vote the web page takes, in minutes; missing: 120.
inline constexpr OptionalKey<int32_t> WebVoteMaxMinutes{kServerSection, "WebVoteMaxMinutes", 120};

}  // namespace keys

/// Typed reads and writes of the configuration tree. A view, like a
/// string_view of the tree (hence the implicit conversion): copies share the
/// tree, which must outlive them. Used on the thread that owns the tree.
class Settings {
public:
    Settings(toolbox::ConfigSection* root) : root(root) {}  // NOLINT(google-explicit-constructor)

    std::string get(const TextKey& key) const;
    int32_t get(const NumberKey& key) const;
    bool get(const FlagKey& key) const;
    std::optional<std::string> get(const OptionalKey<const char*>& key) const;
    std::optional<int32_t> get(const OptionalKey<int32_t>& key) const;

    void set(const TextKey& key, const std::string& value) const;
    void set(const NumberKey& key, int32_t value) const;
    void set(const FlagKey& key, bool value) const;
    /// nullopt removes the key.
    void set(const OptionalKey<const char*>& key, const std::optional<std::string>& value) const;
    void set(const OptionalKey<int32_t>& key, std::optional<int32_t> value) const;

    /// `Mode` is exactly "server" / "client" (read afresh at each call).
    bool isServerMode() const { return get(keys::Mode) == "server"; }
    bool isClientMode() const { return get(keys::Mode) == "client"; }

    /// The tree itself, for what reads it whole (saving, tests).
    toolbox::ConfigSection* configRoot() const { return root; }

private:
    toolbox::ConfigSection* section(const char* name) const;

    toolbox::ConfigSection* root;
};

}  // namespace linkmoot
