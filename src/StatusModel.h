#pragma once
// The status of one moment as every front end shows it: computed once by the
// application after each change, then handed to the front ends as an immutable
// snapshot, so the tray, the status window, the daemon's log and
// `linkmootctl status` show the same and never ask the server themselves.
#include <cstdint>
#include <string>
#include <vector>

namespace linkmoot {

/// The line as the controller last read it; Guard while the hang-up guard
/// time holds the next dial off.
enum class LineStatus { Down, Dialling, Up, Failed, Guard };

/// The four pictures: their resource ids.
enum class StatusIcon { Idle = 128, Connected = 136, Disabled = 137, Voting = 138 };

struct StatusRow {
    StatusIcon icon;
    std::string text;
    bool operator==(const StatusRow&) const = default;
};

/// One held vote: the host as the datagram (or the web page) named it, the
/// tick count of the poll that read it, its kind, and the whole seconds until
/// it ends unless renewed (a web vote's own expiry, a datagram vote's time-out).
struct VoteEntry {
    enum class Kind { Datagram, Web };
    std::string host;
    uint32_t time = 0;
    Kind kind = Kind::Datagram;
    uint32_t secondsLeft = 0;
    bool operator==(const VoteEntry&) const = default;
};

struct StatusSnapshot {
    std::vector<StatusRow> rows;  ///< row 0, then one "Vote from %s" row per vote
    std::string trayText;         ///< the whole text
    /// The first 63 characters of trayText; then, when the client has a row
    /// of the server's line, a newline and its first 63 characters.
    std::string tooltip;
    StatusIcon trayIcon = StatusIcon::Idle;
    bool serverMenu = false;  ///< tray menu 140 (server) or 139 (client)
    bool serverStarted = false;
    LineStatus line = LineStatus::Down;
    std::vector<VoteEntry> votes;  ///< the vote table in its order
    /// The line as this instance sees it (its own in server mode, the server's
    /// answers in client mode): "up", "dialling", "down", "guard", "failed" or
    /// "unknown".
    std::string lineWord = "unknown";
    /// Server mode: whole seconds since the first poll that saw the line up
    /// (0 when not up), and the back-off's seconds until the next dial (0: none).
    uint32_t secondsUp = 0;
    uint32_t retrySeconds = 0;
    /// How many times the server has started, so a view can tell a restart.
    uint32_t serverStarts = 0;
    /// What keeps the web page from being served; "" when nothing does. Never
    /// a password or a secret.
    std::string webPageProblem;
    /// The web page's addresses on the LAN while it is served
    /// ("http://192.0.2.1:8080/"), for the codes phones scan; empty otherwise.
    std::vector<std::string> pageAddresses;
    /// Server mode: the data cap holds the line (the tray offers an allowance).
    bool capHolds = false;

    bool operator==(const StatusSnapshot&) const = default;
};

struct StatusInput {
    bool serverMode = false;
    bool started = false;
    bool connected = false;  ///< the line is up
    bool voting = false;
    std::vector<std::string> votes;  ///< hosts in table order
    // Default member initialisers keep older brace-initialised inputs valid.
    std::string serverLine{};  ///< the client's row of the server's line; empty: none
    bool serverUp = false;     ///< the latest trusted answer says the line is up
    bool dialling = false;     ///< a dial is under way and the line not up yet
    /// Client mode: the server's data plan ("3.2 of 10 GB used, resets 14 Jan");
    /// empty: none. Added to the server's row and as a tooltip line of its own.
    std::string serverPlan{};
    /// Server mode: the data cap holds the line ("Data cap reached: ..."); empty: not.
    std::string capText{};

    bool operator==(const StatusInput&) const = default;
};

/// Rows, tray text and icon; the caller adds the line and the vote table.
StatusSnapshot computeStatus(const StatusInput& input);

}  // namespace linkmoot
