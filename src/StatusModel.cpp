#include "StatusModel.h"

#include <cstdio>
#include <string_view>

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

/// A row text for each of many arguments: a crowded server makes a thousand
/// vote rows a second, and printf would read the format again for each. A
/// format with one "%s" and no other directive is split there once; any
/// other goes to printf.
class RowFormat {
public:
    explicit RowFormat(const char* format) : format(format) {
        const std::string_view text(format);
        const std::size_t at = text.find("%s");
        // The first directive is that "%s", and no other follows.
        simple = text.find('%') == at && at != std::string_view::npos &&
                 text.find('%', at + 2) == std::string_view::npos;
        if (simple) {
            before = text.substr(0, at);
            after = text.substr(at + 2);
        }
    }
    std::string operator()(const std::string& argument) const {
        if (!simple)
            return formatted(format, argument);
        // As printf's %s: the argument ends at its first NUL.
        const std::string_view shown(argument.c_str());
        std::string text;
        text.reserve(before.size() + shown.size() + after.size());
        text.append(before).append(shown).append(after);
        return text;
    }

private:
    const char* format;
    bool simple = false;
    std::string_view before;
    std::string_view after;
};
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
    const RowFormat voteRow(loadString(StringId::StatusVoteFrom));
    snapshot.rows.reserve(snapshot.rows.size() + input.votes.size() + 2);
    for (const std::string& host : input.votes)
        snapshot.rows.push_back({StatusIcon::Voting, voteRow(host)});
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
