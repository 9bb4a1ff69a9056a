#pragma once
// Every configuration key in one place. The key table lists each key of the
// file once: its section, name, type, what a missing key reads as, the values
// it takes, whether it is a secret, and whether a change of it restarts the
// server on reload. The readings below (what the server, the client, the
// dialog forms, the prompts and the dial-up services read and write through
// Settings) are made from its rows, so a key's name and default never live
// apart; a reading of a key the table lacks does not compile.
//
// A key that two readers treat differently (the port, the shut-down time, the
// Wake-on-LAN address) has one reading per reader; they share the row.
#include <climits>
#include <cstdint>
#include <optional>
#include <string>

namespace toolbox {
class ConfigSection;
}

namespace linkmoot {

enum class KeyType { Text, Number, Flag };

/// One key of the configuration file.
struct KeyRow {
    const char* section;  ///< nullptr: the root section
    const char* name;
    KeyType type;
    /// What the program works with when the key is missing, in file form;
    /// null: a missing key switches its feature off.
    const char* fallback;
    int32_t min = INT32_MIN;  ///< numbers: the values that make sense
    int32_t max = INT32_MAX;
    /// Texts: why a value cannot be used ("" when it can); null: any text.
    std::string (*problem)(const std::string& value) = nullptr;
    bool secret = false;          ///< shown only as "(set)", "(empty)" or "(changed)"
    bool restartsServer = false;  ///< a reload that changes it restarts the server

    constexpr KeyRow range(int32_t low, int32_t high) const {
        KeyRow row = *this;
        row.min = low;
        row.max = high;
        return row;
    }
    constexpr KeyRow checkedBy(std::string (*check)(const std::string&)) const {
        KeyRow row = *this;
        row.problem = check;
        return row;
    }
    constexpr KeyRow hidden() const {
        KeyRow row = *this;
        row.secret = true;
        return row;
    }
    constexpr KeyRow restarts() const {
        KeyRow row = *this;
        row.restartsServer = true;
        return row;
    }
};

namespace keys {

inline constexpr const char* kClientSection = "Client";
inline constexpr const char* kServerSection = "Server";
inline constexpr const char* kPlanSection = "Plan";

/// Why a text key's value cannot be used; "" when it can.
std::string modeProblem(const std::string& value);
std::string secretProblem(const std::string& value);
std::string macProblem(const std::string& value);
std::string networksProblem(const std::string& value);
std::string dialerProblem(const std::string& value);
std::string warnPercentsProblem(const std::string& value);
std::string atCapProblem(const std::string& value);
std::string freeHoursProblem(const std::string& value);
std::string cycleStartProblem(const std::string& value);

constexpr KeyRow text(const char* section, const char* name, const char* fallback) {
    return {section, name, KeyType::Text, fallback};
}
constexpr KeyRow number(const char* section, const char* name, const char* fallback) {
    return {section, name, KeyType::Number, fallback};
}
constexpr KeyRow flag(const char* section, const char* name, const char* fallback) {
    return {section, name, KeyType::Flag, fallback};
}

/// The key table.
inline constexpr KeyRow kKeyTable[] = {
    // The root section.
    /// "client" or "server", compared exactly; anything else is neither.
    text(nullptr, "Mode", "").checkedBy(modeProblem).restarts(),
    /// Set once the first configuration flow ran to its end.
    flag(nullptr, "Configured", "0"),
    /// The UDP port the server binds and the client sends to.
    number(nullptr, "Port", "").range(1, 65535).restarts(),
    /// The shared secret of the voting protocol, the same on the server and
    /// every client; empty: off. Kept like the password.
    text(nullptr, "Secret", "").checkedBy(secretProblem).hidden().restarts(),

    // Client
    /// The server's name or address; "auto": the one server found on the LAN.
    text(kClientSection, "Server", ""),
    /// The server `auto` chose (its host name) and its address when last
    /// found; kept until the user chooses again.
    text(kClientSection, "AutoChoice", ""),
    text(kClientSection, "AutoAddress", ""),
    /// The server's hardware address; 17 characters or more switch the
    /// Wake-on-LAN packet on.
    text(kClientSection, "WakeOnLanMac", "").checkedBy(macProblem),
    /// Vote from the start.
    flag(kClientSection, "AutoVote", "0"),
    /// Desktop notifications (Info lines in the daemon) when the server's line
    /// changes while this user votes.
    flag(kClientSection, "Notify", "1"),

    // Server
    /// Comma-separated IPv4 blocks whose datagrams the server reads; empty:
    /// the private and link-local networks (loopback always).
    text(kServerSection, "AllowedNetworks", "").checkedBy(networksProblem).restarts(),
    /// Milliseconds to wait after each hang-up; 0 or less: none.
    number(kServerSection, "GuardTime", "3000"),
    /// Hang up and dial again after this many minutes online; missing: never.
    number(kServerSection, "AutoReconnectMinutes", nullptr).range(1, INT32_MAX),
    /// Power off after this many minutes without a vote; 0 or less: never.
    number(kServerSection, "ShutDownMinutes", "0"),
    /// Dial even without votes.
    flag(kServerSection, "AlwaysConnected", "0"),
    /// After a failed dial, wait 5 s before the next, doubling up to 5 minutes
    /// (off: the next poll dials again).
    flag(kServerSection, "RetryBackoff", "0"),
    text(kServerSection, "Connection", "").restarts(),
    text(kServerSection, "UserName", ""),
    text(kServerSection, "Password", "").hidden(),
    /// The dial-up service: auto, networkmanager, ppp, command or simulated.
    text(kServerSection, "Dialer", "auto").checkedBy(dialerProblem).restarts(),
    text(kServerSection, "PppProgram", "pppd"),
    text(kServerSection, "PppPeersFolder", "/etc/ppp/peers"),
    text(kServerSection, "DialCommand", ""),
    text(kServerSection, "HangUpCommand", ""),
    text(kServerSection, "StatusCommand", ""),
    /// The command service's network interface, whose bytes are counted
    /// while the line is up; missing or empty: not counted.
    text(kServerSection, "Interface", ""),
    /// The simulated line's received bytes a second (a tenth of it is sent);
    /// missing: 20000.
    number(kServerSection, "SimulatedBytesPerSecond", "20000").range(0, INT32_MAX),
    /// Announce the server on the LAN (DNS-SD over multicast DNS) and answer
    /// the queries clients broadcast to find it; missing: on.
    flag(kServerSection, "Announce", "1"),
    /// The TCP port of the web page for phones; missing or 0: no page. The
    /// page follows its own settings: a change restarts the page, not the server.
    number(kServerSection, "WebPort", "0").range(0, 65535),
    /// The web page's own password (not the datagrams' secret); missing or empty: none.
    text(kServerSection, "WebPassword", "").hidden(),
    /// The longest vote the web page takes, in minutes.
    number(kServerSection, "WebVoteMaxMinutes", "120").range(1, 24 * 60),

    // Plan: every key off until set (see docs/plan.md). The caps' bounds keep
    // the answers' plan fields within their length budget (docs/protocol.md).
    /// The cycle's cap on bytes, in MB of 10^6 bytes; missing or 0: none.
    number(kPlanSection, "DataCapMB", "0").range(0, 999999),
    /// Sent bytes count against the cap as well as received ones.
    flag(kPlanSection, "CountSent", "1"),
    /// The cycle's cap on online time, in minutes; missing or 0: none.
    number(kPlanSection, "TimeCapMinutes", "0").range(0, 99999),
    /// Monthly cycles: the day (a shorter month uses its last) and the local hour.
    number(kPlanSection, "CycleDay", "1").range(1, 31),
    number(kPlanSection, "CycleHour", "0").range(0, 23),
    /// Cycles of N days from CycleStart (YYYY-MM-DD); wins over CycleDay.
    number(kPlanSection, "CycleDays", nullptr).range(1, 62),
    text(kPlanSection, "CycleStart", "").checkedBy(cycleStartProblem),
    text(kPlanSection, "WarnPercents", "80,90,100").checkedBy(warnPercentsProblem),
    /// warn, refuse or hangup.
    text(kPlanSection, "AtCap", "warn").checkedBy(atCapProblem),
    /// Local windows whose traffic does not count: "00:00-06:00,23:00-01:00".
    text(kPlanSection, "FreeHours", "").checkedBy(freeHoursProblem),
};

/// The row of a key; null when the table has none.
const KeyRow* findRow(const char* section, const char* name);

}  // namespace keys

/// What a read does with a missing key. The saved file depends on it: a key
/// created by a read is written at the next save.
enum class MissingKey {
    /// Created empty when read; reads as "" or 0.
    CreatedEmpty,
    /// Created holding its default when read.
    StoresDefault,
    /// Reads as its default and stays missing (a proposal a form shows).
    ReadsDefault,
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

namespace detail {

constexpr bool sameName(const char* a, const char* b) {
    if (a == nullptr || b == nullptr)
        return a == b;
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

constexpr const KeyRow& row(const char* section, const char* name, KeyType type) {
    for (const KeyRow& row : kKeyTable) {
        if (sameName(row.section, section) && sameName(row.name, name)) {
            if (row.type != type)
                throw "a reading must have the type of its row";
            return row;
        }
    }
    throw "every key read must be in the key table";
}

/// atol on the row's fallback text (digits only, as the table writes them).
constexpr int32_t numberOf(const char* text) {
    if (text == nullptr)
        return 0;
    const bool negative = *text == '-';
    if (negative)
        ++text;
    int32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        value = value * 10 + (*text - '0');
    return negative ? -value : value;
}

}  // namespace detail

/// Readings of a row, with the row's fallback as their default.
constexpr TextKey textKey(const char* section, const char* name, MissingKey rule) {
    const KeyRow& row = detail::row(section, name, KeyType::Text);
    return {row.section, row.name, row.fallback, rule};
}
constexpr NumberKey numberKey(const char* section, const char* name, MissingKey rule) {
    const KeyRow& row = detail::row(section, name, KeyType::Number);
    return {row.section, row.name, detail::numberOf(row.fallback), rule};
}
constexpr FlagKey flagKey(const char* section, const char* name, MissingKey rule,
                          std::optional<bool> fallback = std::nullopt) {
    const KeyRow& row = detail::row(section, name, KeyType::Flag);
    return {row.section, row.name, fallback.value_or(detail::numberOf(row.fallback) != 0), rule};
}
/// A number key as the text a form shows and stores, with the form's default.
constexpr TextKey numberAsText(const char* section, const char* name, const char* fallback,
                               MissingKey rule) {
    const KeyRow& row = detail::row(section, name, KeyType::Number);
    return {row.section, row.name, fallback, rule};
}
/// An optional reading, with its own default for a present key without a value.
template <typename T>
constexpr OptionalKey<T> optionalKey(const char* section, const char* name, KeyType type,
                                     T fallback) {
    const KeyRow& row = detail::row(section, name, type);
    return {row.section, row.name, fallback};
}

// The root section.
inline constexpr TextKey Mode = textKey(nullptr, "Mode", MissingKey::CreatedEmpty);
inline constexpr FlagKey Configured = flagKey(nullptr, "Configured", MissingKey::StoresDefault);
/// The UDP port as the server binds it and the client sends to it.
inline constexpr NumberKey Port = numberKey(nullptr, "Port", MissingKey::CreatedEmpty);
/// The same port as the options dialogs show and store it: text.
inline constexpr TextKey PortText =
    numberAsText(nullptr, "Port", "9005", MissingKey::StoresDefault);
inline constexpr TextKey Secret = textKey(nullptr, "Secret", MissingKey::CreatedEmpty);

// Client
inline constexpr TextKey ClientServer = textKey(kClientSection, "Server", MissingKey::CreatedEmpty);
inline constexpr TextKey AutoChoice =
    textKey(kClientSection, "AutoChoice", MissingKey::CreatedEmpty);
inline constexpr TextKey AutoAddress =
    textKey(kClientSection, "AutoAddress", MissingKey::CreatedEmpty);
/// The server's hardware address as the client reads it before each vote.
inline constexpr TextKey WakeOnLanMac =
    textKey(kClientSection, "WakeOnLanMac", MissingKey::StoresDefault);
/// The same key as the client options show it: present means the box is checked.
inline constexpr OptionalKey<const char*> WakeOnLanMacOption =
    optionalKey<const char*>(kClientSection, "WakeOnLanMac", KeyType::Text, "");
inline constexpr FlagKey AutoVote = flagKey(kClientSection, "AutoVote", MissingKey::StoresDefault);
inline constexpr FlagKey Notify = flagKey(kClientSection, "Notify", MissingKey::StoresDefault);

// Server
inline constexpr TextKey AllowedNetworks =
    textKey(kServerSection, "AllowedNetworks", MissingKey::CreatedEmpty);
inline constexpr NumberKey GuardTime =
    numberKey(kServerSection, "GuardTime", MissingKey::StoresDefault);
inline constexpr OptionalKey<int32_t> AutoReconnectMinutes =
    optionalKey<int32_t>(kServerSection, "AutoReconnectMinutes", KeyType::Number, 600);
/// As the server reads it: a missing key stores 0, which means never.
inline constexpr NumberKey ShutDownMinutes =
    numberKey(kServerSection, "ShutDownMinutes", MissingKey::StoresDefault);
/// The same key as the server options show it: present means the box is checked.
inline constexpr OptionalKey<int32_t> ShutDownMinutesOption =
    optionalKey<int32_t>(kServerSection, "ShutDownMinutes", KeyType::Number, 600);
inline constexpr FlagKey AlwaysConnected =
    flagKey(kServerSection, "AlwaysConnected", MissingKey::StoresDefault);
inline constexpr FlagKey RetryBackoff =
    flagKey(kServerSection, "RetryBackoff", MissingKey::StoresDefault);
/// The same key as a first configuration proposes it: on, since a failing
/// line dialled again every second is a failed login at the provider each
/// time; a file that has the key keeps its value.
inline constexpr FlagKey RetryBackoffProposal =
    flagKey(kServerSection, "RetryBackoff", MissingKey::ReadsDefault, true);
inline constexpr TextKey Connection =
    textKey(kServerSection, "Connection", MissingKey::CreatedEmpty);
inline constexpr TextKey UserName = textKey(kServerSection, "UserName", MissingKey::CreatedEmpty);
inline constexpr TextKey Password = textKey(kServerSection, "Password", MissingKey::CreatedEmpty);
inline constexpr TextKey Dialer = textKey(kServerSection, "Dialer", MissingKey::StoresDefault);
inline constexpr TextKey PppProgram =
    textKey(kServerSection, "PppProgram", MissingKey::StoresDefault);
inline constexpr TextKey PppPeersFolder =
    textKey(kServerSection, "PppPeersFolder", MissingKey::StoresDefault);
inline constexpr TextKey DialCommand =
    textKey(kServerSection, "DialCommand", MissingKey::StoresDefault);
inline constexpr TextKey HangUpCommand =
    textKey(kServerSection, "HangUpCommand", MissingKey::StoresDefault);
inline constexpr TextKey StatusCommand =
    textKey(kServerSection, "StatusCommand", MissingKey::StoresDefault);
/// The command service's network interface, whose bytes are counted while
/// the line is up; missing or empty: not counted.
inline constexpr OptionalKey<const char*> CommandInterface =
    optionalKey<const char*>(kServerSection, "Interface", KeyType::Text, "");
/// The simulated line's received bytes a second (a tenth of it is sent).
inline constexpr OptionalKey<int32_t> SimulatedBytesPerSecond =
    optionalKey<int32_t>(kServerSection, "SimulatedBytesPerSecond", KeyType::Number, 20000);
inline constexpr FlagKey Announce = flagKey(kServerSection, "Announce", MissingKey::StoresDefault);
/// Present means the options' check box is checked.
inline constexpr OptionalKey<int32_t> WebPort =
    optionalKey<int32_t>(kServerSection, "WebPort", KeyType::Number, 8080);
inline constexpr OptionalKey<const char*> WebPassword =
    optionalKey<const char*>(kServerSection, "WebPassword", KeyType::Text, "");
/// Missing: 120.
inline constexpr OptionalKey<int32_t> WebVoteMaxMinutes =
    optionalKey<int32_t>(kServerSection, "WebVoteMaxMinutes", KeyType::Number, 120);

}  // namespace keys

/// Typed reads and writes of the configuration tree. A view, like a
/// string_view of the tree (hence the implicit conversion): copies share the
/// tree, which must outlive them. Used on the thread that owns the tree.
class Settings {
public:
    Settings(toolbox::ConfigSection* root) : root(root) {}  // NOLINT(google-explicit-constructor)
    /// A view whose reads store nothing and make no section: a missing key
    /// reads as its reading's default, as an empty one for a key a read
    /// creates empty. For comparing trees, and for readers that only follow
    /// the settings (the web page). Writes are as usual.
    static Settings peeking(toolbox::ConfigSection* root) { return Settings(root, false); }
    Settings peeking() const { return peeking(root); }

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
    /// Asked many times a tick: the mode is read again only after the
    /// configuration changed.
    bool isServerMode() const { return mode() == ModeReading::Server; }
    bool isClientMode() const { return mode() == ModeReading::Client; }

    /// The tree itself, for what reads it whole (saving, tests).
    toolbox::ConfigSection* configRoot() const { return root; }

private:
    enum class ModeReading { Server, Client, Other };

    Settings(toolbox::ConfigSection* root, bool storesReads)
        : root(root), storesReads(storesReads) {}
    ModeReading mode() const;
    /// The key's section, made when missing; null when missing and peeking.
    toolbox::ConfigSection* section(const char* name) const;
    /// For writes: the key's section, made when missing.
    toolbox::ConfigSection* sectionToWrite(const char* name) const;
    /// Whether a read of a missing key under rule stores it.
    bool stores(MissingKey rule) const {
        return storesReads &&
               (rule == MissingKey::CreatedEmpty || rule == MissingKey::StoresDefault);
    }

    toolbox::ConfigSection* root;
    bool storesReads = true;
    mutable std::optional<uint64_t> modeReadAt;  ///< the configuration's change count then
    mutable ModeReading modeRead = ModeReading::Other;
};

}  // namespace linkmoot
