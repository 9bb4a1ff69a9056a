#include "StatusModel.h"

#include <cstdio>

#include "Strings.h"

namespace linkmoot {

namespace {
constexpr std::size_t kTooltipLength = 63;

std::string formatted(const char* format, const std::string& argument) {
    const int length = std::snprintf(nullptr, 0, format, argument.c_str());
    std::string text(static_cast<std::size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, format, argument.c_str());
    return text;
}
}  // namespace

StatusSnapshot computeStatus(const StatusInput& input) {
    StatusSnapshot snapshot;
    if (input.started && input.connected) {
        snapshot.rows.push_back({StatusIcon::Connected, loadString(StringId::StatusConnected)});
    } else if (input.started) {
        snapshot.rows.push_back({StatusIcon::Idle, loadString(StringId::StatusNotConnected)});
    } else {
        snapshot.rows.push_back({StatusIcon::Disabled, loadString(StringId::StatusDisabled)});
    }
    for (const std::string& host : input.votes) {
        snapshot.rows.push_back(
            {StatusIcon::Voting, formatted(loadString(StringId::StatusVoteFrom), host)});
    }
    if (!input.capText.empty())
        snapshot.rows.push_back({StatusIcon::Disabled, input.capText});
    if (!input.serverLine.empty()) {
        snapshot.rows.push_back({input.serverUp ? StatusIcon::Connected : StatusIcon::Idle,
                                 input.serverPlan.empty()
                                     ? input.serverLine
                                     : input.serverLine + "; " + input.serverPlan});
    }

    snapshot.serverMenu = input.serverMode;
    if (input.serverMode) {
        if (!input.started) {
            snapshot.trayText = "Disabled";
            snapshot.trayIcon = StatusIcon::Disabled;
        } else {
            const std::string count = " (" + std::to_string(input.votes.size()) + " vote(s))";
            // A dial under way is not a line that is up: row, icon and text say so.
            snapshot.trayText = input.connected          ? "Connected" + count
                                : input.dialling         ? "Dialling" + count
                                : !input.capText.empty() ? "Data cap reached" + count
                                                         : "Disconnected";
            snapshot.trayText += input.voting ? " - You are voting" : " - You are not voting";
            snapshot.trayIcon = input.voting      ? StatusIcon::Voting
                                : input.connected ? StatusIcon::Connected
                                                  : StatusIcon::Idle;
        }
    } else {
        snapshot.trayText = input.voting ? "Voting for connection" : "Not voting for connection";
        // The voter sees at a glance that the server's line is up.
        snapshot.trayIcon = !input.voting    ? StatusIcon::Idle
                            : input.serverUp ? StatusIcon::Connected
                                             : StatusIcon::Voting;
    }
    snapshot.tooltip = snapshot.trayText.substr(0, kTooltipLength);
    if (!input.serverLine.empty())
        snapshot.tooltip += "\n" + input.serverLine.substr(0, kTooltipLength);
    if (!input.serverLine.empty() && !input.serverPlan.empty())
        snapshot.tooltip += "\n" + input.serverPlan.substr(0, kTooltipLength);
    return snapshot;
}

}  // namespace linkmoot
