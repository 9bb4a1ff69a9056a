#include "DialogForms.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "SharedSecret.h"
#include "Strings.h"
#include "Trust.h"

namespace linkmoot {

namespace {

bool startsWithIgnoringCase(const std::string& text, const std::string& prefix) {
    if (prefix.size() > text.size())
        return false;
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

// Empty switches the secret off; otherwise it must be long enough to guess badly.
bool secretAcceptable(const std::string& secret) {
    return secret.empty() || secretCharacters(secret) >= kMinSecretCharacters;
}

}  // namespace

std::string refusalText(const StoreResult& result) {
    std::string text = loadString(result.messageId);
    if (!result.detail.empty())
        text += "\n\n" + result.detail;
    return text;
}

int32_t parseLong(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        i++;
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
    if (negative)
        value = -value;
    return static_cast<int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

std::string connectionLabel(const DialEntry& entry) {
    return entry.type.empty() ? entry.name : entry.name + " (" + entry.type + ")";
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

void ModeForm::load(const Settings& settings) {
    const std::string mode = settings.get(keys::Mode);
    choice = mode == "server" ? Choice::Server : mode == "client" ? Choice::Client : Choice::None;
}

StoreResult ModeForm::store(const Settings& settings) const {
    if (choice == Choice::None)
        return StoreResult::refused(ClientRadio, StringId::SelectMode);
    settings.set(keys::Mode, choice == Choice::Client ? "client" : "server");
    return {};
}

void ClientOptionsForm::load(const Settings& settings) {
    server = settings.get(keys::ClientServer);
    port = settings.get(keys::PortText);
    const std::optional<std::string> storedMac = settings.get(keys::WakeOnLanMacOption);
    wakeOnLan = storedMac.has_value();
    mac = storedMac.value_or("");
    autoVote = settings.get(keys::AutoVote);
    secret = settings.get(keys::Secret);
    notify = settings.get(keys::Notify);
}

StoreResult ClientOptionsForm::store(const Settings& settings) const {
    if (server.empty())
        return StoreResult::refused(ServerField, StringId::EnterServerAddress);
    // The user chose again: what `auto` chose before no longer holds.
    if (const std::string before = settings.get(keys::ClientServer);
        before != server && (before == "auto" || server == "auto")) {
        settings.set(keys::AutoChoice, "");
        settings.set(keys::AutoAddress, "");
    }
    settings.set(keys::ClientServer, server);
    if (port.empty())
        return StoreResult::refused(PortField, StringId::EnterClientPort);
    settings.set(keys::PortText, port);
    if (wakeOnLan && mac.empty())
        return StoreResult::refused(MacField, StringId::EnterWakeOnLanMac);
    settings.set(keys::WakeOnLanMacOption,
                 wakeOnLan ? std::optional<std::string>(mac) : std::nullopt);
    settings.set(keys::AutoVote, autoVote);
    if (!secretAcceptable(secret))
        return StoreResult::refused(SecretField, StringId::SecretTooShort);
    settings.set(keys::Secret, secret);
    settings.set(keys::Notify, notify);
    return {};
}

void ServerOptionsForm::load(const Settings& settings, std::vector<DialEntry> entries) {
    dialer = settings.get(keys::Dialer);
    port = settings.get(keys::PortText);
    guardTime = std::to_string(settings.get(keys::GuardTime));
    const std::optional<int32_t> reconnect = settings.get(keys::AutoReconnectMinutes);
    autoReconnect = reconnect.has_value();
    reconnectMinutes = reconnect ? std::to_string(*reconnect) : "";
    const std::optional<int32_t> shutdownAfter = settings.get(keys::ShutDownMinutesOption);
    shutdown = shutdownAfter.has_value();
    shutdownMinutes = shutdownAfter ? std::to_string(*shutdownAfter) : "";
    alwaysConnected = settings.get(keys::AlwaysConnected);
    retryBackoff = settings.get(keys::RetryBackoffProposal);
    setEntries(settings, std::move(entries));
    userName = settings.get(keys::UserName);
    password = settings.get(keys::Password);
    allowedNetworks = settings.get(keys::AllowedNetworks);
    secret = settings.get(keys::Secret);
    const std::optional<int32_t> storedWebPort = settings.get(keys::WebPort);
    webPage = storedWebPort.has_value() && *storedWebPort != 0;
    webPort = webPage ? std::to_string(*storedWebPort) : "";
}

void ServerOptionsForm::setEntries(const Settings& settings, std::vector<DialEntry> entries) {
    // The list shows them alphabetically, and the pre-selection below takes the
    // first match from the top: both must see the same order.
    std::sort(entries.begin(), entries.end(), [](const DialEntry& left, const DialEntry& right) {
        return lessIgnoringCase(left.name, right.name);
    });
    connections = std::move(entries);
    selected = -1;
    const std::string stored = settings.get(keys::Connection);
    // An empty stored name selects nothing, so the user picks a line on purpose.
    if (stored.empty())
        return;
    for (std::size_t i = 0; i < connections.size(); i++) {
        if (startsWithIgnoringCase(connections[i].name, stored)) {
            selected = static_cast<int>(i);
            return;
        }
    }
}

StoreResult ServerOptionsForm::store(const Settings& settings) const {
    settings.set(keys::Dialer, dialer);
    if (port.empty())
        return StoreResult::refused(PortField, StringId::EnterServerPort);
    settings.set(keys::PortText, port);
    settings.set(keys::GuardTime, parseLong(guardTime));
    if (autoReconnect && reconnectMinutes.empty()) {
        return StoreResult::refused(ReconnectField, StringId::EnterReconnectMinutes);
    }
    settings.set(
        keys::AutoReconnectMinutes,
        autoReconnect ? std::optional<int32_t>(parseLong(reconnectMinutes)) : std::nullopt);
    if (shutdown && shutdownMinutes.empty()) {
        return StoreResult::refused(ShutdownField, StringId::EnterShutdownMinutes);
    }
    settings.set(keys::ShutDownMinutesOption,
                 shutdown ? std::optional<int32_t>(parseLong(shutdownMinutes)) : std::nullopt);
    settings.set(keys::AlwaysConnected, alwaysConnected);
    settings.set(keys::RetryBackoff, retryBackoff);
    if (selected < 0 || selected >= static_cast<int>(connections.size()) ||
        connections[static_cast<std::size_t>(selected)].name.empty()) {
        return StoreResult::refused(ConnectionList, StringId::ChooseConnection);
    }
    settings.set(keys::Connection, connections[static_cast<std::size_t>(selected)].name);
    settings.set(keys::UserName, userName);
    settings.set(keys::Password, password);
    trust::AllowedNetworks networks;
    std::string error;
    if (!trust::AllowedNetworks::parse(allowedNetworks, networks, error))
        return StoreResult::refused(AllowedNetworksField, StringId::EnterAllowedNetworks, error);
    settings.set(keys::AllowedNetworks, allowedNetworks);
    if (!secretAcceptable(secret))
        return StoreResult::refused(SecretField, StringId::SecretTooShort);
    settings.set(keys::Secret, secret);
    if (webPage) {
        // A port the page could never listen on is refused here, not at the next start.
        const bool digitsOnly = !webPort.empty() && webPort.size() <= 5 &&
                                webPort.find_first_not_of("0123456789") == std::string::npos;
        const int32_t number = digitsOnly ? parseLong(webPort) : 0;
        if (number < 1 || number > 65535)
            return StoreResult::refused(WebPortField, StringId::EnterWebPort);
        settings.set(keys::WebPort, number);
    } else {
        settings.set(keys::WebPort, std::nullopt);
    }
    return {};
}

}  // namespace linkmoot
