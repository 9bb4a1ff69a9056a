#include "DialogForms.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "ConfigKeys.h"
#include "Strings.h"
#include "ToolBox/Config.h"

namespace linkmoot {

namespace {

toolbox::ConfigSection* clientSection(toolbox::ConfigSection* root) {
    return root->getSection(keys::kClientSection);
}
toolbox::ConfigSection* serverSection(toolbox::ConfigSection* root) {
    return root->getSection(keys::kServerSection);
}

bool startsWithIgnoringCase(const std::string& text, const std::string& prefix) {
    if (prefix.size() > text.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); i++) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i]))) {
            return false;
        }
    }
    return true;
}

// Letter case aside; names equal but for case in byte order, so the order is
// the same whatever order the service gave.
bool lessIgnoringCase(const std::string& left, const std::string& right) {
    const auto folded = [](char character) {
        return std::tolower(static_cast<unsigned char>(character));
    };
    const std::size_t common = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < common; i++) {
        if (folded(left[i]) != folded(right[i]))
            return folded(left[i]) < folded(right[i]);
    }
    if (left.size() != right.size())
        return left.size() < right.size();
    return left < right;
}

}  // namespace

int32_t parseLong(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) i++;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        i++;
    }
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); i++) {
        // Saturate instead of overflowing: a huge number stays huge.
        value = std::min<long long>(value * 10 + (text[i] - '0'), 1LL + INT32_MAX);
    }
    if (negative) value = -value;
    return static_cast<int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

const std::vector<DialerChoice>& dialerChoices() {
    static const std::vector<DialerChoice> choices = {
        {"auto", "Automatic"},
        {"networkmanager", "NetworkManager"},
        {"ppp", "PPP peers (pppd)"},
        {"command", "Custom commands"},
        {"simulated", "Simulated (for trying Linkmoot out)"},
    };
    return choices;
}

void ModeForm::load(toolbox::ConfigSection* root) {
    const std::string mode = root->getParameter(keys::Mode.name)->asString();
    choice = mode == "server" ? Choice::Server : mode == "client" ? Choice::Client : Choice::None;
}

StoreResult ModeForm::store(toolbox::ConfigSection* root) const {
    if (choice == Choice::None) return StoreResult::refused(ClientRadio, StringId::SelectMode);
    root->getParameter(keys::Mode.name)->setString(choice == Choice::Client ? "client" : "server");
    return {};
}

void ClientOptionsForm::load(toolbox::ConfigSection* root) {
    toolbox::ConfigSection* client = clientSection(root);
    server = client->getParameter(keys::ClientServer.name)->asString();
    port = root->getString(keys::Port.name, keys::kPortDialogDefault);
    wakeOnLan = client->hasParameter(keys::WakeOnLanMac.name);
    mac = wakeOnLan ? client->getString(keys::WakeOnLanMac.name, keys::kWakeOnLanMacDefault) : "";
    autoVote = client->getBool(keys::AutoVote.name, keys::kAutoVoteDefault);
}

StoreResult ClientOptionsForm::store(toolbox::ConfigSection* root) const {
    toolbox::ConfigSection* client = clientSection(root);
    if (server.empty()) return StoreResult::refused(ServerField, StringId::EnterServerAddress);
    client->getParameter(keys::ClientServer.name)->setString(server.c_str());
    if (port.empty()) return StoreResult::refused(PortField, StringId::EnterClientPort);
    root->getParameter(keys::Port.name)->setString(port.c_str());
    if (wakeOnLan) {
        if (mac.empty()) return StoreResult::refused(MacField, StringId::EnterWakeOnLanMac);
        client->getParameter(keys::WakeOnLanMac.name)->setString(mac.c_str());
    } else {
        client->removeParameter(keys::WakeOnLanMac.name);
    }
    client->getParameter(keys::AutoVote.name)->setBool(autoVote);
    return {};
}

void ServerOptionsForm::load(toolbox::ConfigSection* root, std::vector<std::string> entries) {
    toolbox::ConfigSection* server = serverSection(root);
    dialer = server->getString(keys::Dialer.name, keys::kDialerDefault);
    port = root->getString(keys::Port.name, keys::kPortDialogDefault);
    guardTime = std::to_string(server->getLong(keys::GuardTime.name, keys::kGuardTimeDefault));
    autoReconnect = server->hasParameter(keys::AutoReconnectMinutes.name);
    reconnectMinutes = autoReconnect ? std::to_string(server->getLong(
                                           keys::AutoReconnectMinutes.name,
                                           keys::kAutoReconnectMinutesDefault))
                                     : "";
    shutdown = server->hasParameter(keys::ShutDownMinutes.name);
    shutdownMinutes = shutdown ? std::to_string(server->getLong(
                                     keys::ShutDownMinutes.name, keys::kShutDownMinutesDialogDefault))
                               : "";
    alwaysConnected = server->getBool(keys::AlwaysConnected.name, keys::kAlwaysConnectedDefault);
    setEntries(root, std::move(entries));
    userName = server->getParameter(keys::UserName.name)->asString();
    password = server->getParameter(keys::Password.name)->asString();
}

void ServerOptionsForm::setEntries(toolbox::ConfigSection* root, std::vector<std::string> entries) {
    // The list shows them alphabetically, and the pre-selection below takes the
    // first match from the top: both must see the same order.
    std::sort(entries.begin(), entries.end(), lessIgnoringCase);
    connections = std::move(entries);
    selected = -1;
    const std::string stored =
        serverSection(root)->getParameter(keys::Connection.name)->asString();
    // An empty stored name selects nothing, so the user picks a line on purpose.
    if (stored.empty()) return;
    for (std::size_t i = 0; i < connections.size(); i++) {
        if (startsWithIgnoringCase(connections[i], stored)) {
            selected = static_cast<int>(i);
            return;
        }
    }
}

StoreResult ServerOptionsForm::store(toolbox::ConfigSection* root) const {
    toolbox::ConfigSection* server = serverSection(root);
    server->getParameter(keys::Dialer.name)->setString(dialer.c_str());
    if (port.empty()) return StoreResult::refused(PortField, StringId::EnterServerPort);
    root->getParameter(keys::Port.name)->setString(port.c_str());
    server->getParameter(keys::GuardTime.name)->setLong(parseLong(guardTime));
    if (autoReconnect) {
        if (reconnectMinutes.empty()) {
            return StoreResult::refused(ReconnectField, StringId::EnterReconnectMinutes);
        }
        server->getParameter(keys::AutoReconnectMinutes.name)->setLong(parseLong(reconnectMinutes));
    } else {
        server->removeParameter(keys::AutoReconnectMinutes.name);
    }
    if (shutdown) {
        if (shutdownMinutes.empty()) {
            return StoreResult::refused(ShutdownField, StringId::EnterShutdownMinutes);
        }
        server->getParameter(keys::ShutDownMinutes.name)->setLong(parseLong(shutdownMinutes));
    } else {
        server->removeParameter(keys::ShutDownMinutes.name);
    }
    server->getParameter(keys::AlwaysConnected.name)->setBool(alwaysConnected);
    if (selected < 0 || selected >= static_cast<int>(connections.size()) ||
        connections[static_cast<std::size_t>(selected)].empty()) {
        return StoreResult::refused(ConnectionList, StringId::ChooseConnection);
    }
    server->getParameter(keys::Connection.name)
        ->setString(connections[static_cast<std::size_t>(selected)].c_str());
    server->getParameter(keys::UserName.name)->setString(userName.c_str());
    server->getParameter(keys::Password.name)->setString(password.c_str());
    return {};
}

}  // namespace linkmoot
