#pragma once
// The status rows and the tray text and icon, computed from the state of the
// server and the client, so that every front end and `linkmootctl status` show
// the same.
#include <string>
#include <vector>

namespace linkmoot {

class Server;
class Client;

/// The four pictures: their resource ids.
enum class StatusIcon { Idle = 128, Connected = 136, Disabled = 137, Voting = 138 };

struct StatusRow {
    StatusIcon icon;
    std::string text;
};

struct StatusSnapshot {
    std::vector<StatusRow> rows;  ///< row 0, then one "Vote from %s" row per vote
    std::string trayText;         ///< the whole text
    std::string tooltip;          ///< at most the first 63 characters of trayText
    StatusIcon trayIcon = StatusIcon::Idle;
    bool serverMenu = false;  ///< tray menu 140 (server) or 139 (client)
};

struct StatusInput {
    bool serverMode = false;
    bool started = false;
    bool connected = false;
    bool voting = false;
    std::vector<std::string> votes;  ///< hosts in table order
};

StatusSnapshot computeStatus(const StatusInput& input);

}  // namespace linkmoot
