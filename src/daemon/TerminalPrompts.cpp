#include "TerminalPrompts.h"

#include <errno.h>
#include <stdlib.h>
#include <strings.h>
#include <unistd.h>

#include "Ipv4.h"
#include "LogText.h"
#include "PlanForm.h"
#include "SharedSecret.h"
#include "Strings.h"
#include "platform/SodiumCrypto.h"

namespace linkmoot::daemon {

namespace {

constexpr const char* kHint =
    "(Enter keeps the value in brackets, - empties a field, Ctrl-D cancels.)\n";

std::string lowerCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Continuation lines of a multi-line text, indented under their item.
std::string indented(const std::string& text, const std::string& indent) {
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '\n')
            out += indent;
    }
    return out;
}

}  // namespace

TerminalPrompts::TerminalPrompts(LineInput& input, int outputFd)
    : input(input), outputFd(outputFd) {}

void TerminalPrompts::say(const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t written = write(outputFd, data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

bool TerminalPrompts::storeAskingAgain(const std::function<StoreResult()>& store,
                                       const std::function<bool(int field)>& askAgain) {
    for (;;) {
        const StoreResult result = store();
        if (result.ok)
            return true;
        say(refusalText(result) + "\n");
        if (!askAgain(result.field))
            return false;
    }
}

void TerminalPrompts::sayRefused(int messageId) {
    say(std::string(loadString(messageId)) + "\n");
}

bool TerminalPrompts::askText(const std::string& label, std::string& value) {
    say(label + " [" + value + "]: ");
    std::optional<std::string> line = input.readLine();
    if (!line) {
        say("\n");
        return false;
    }
    if (*line == "-") {
        value.clear();
    } else if (!line->empty()) {
        value = *line;
    }
    return true;
}

bool TerminalPrompts::askSecret(const std::string& label, std::string& value) {
    // Echo goes off before the question shows, so no typed character can slip through.
    input.setEcho(false);
    say(label + (value.empty() ? std::string(" []: ") : std::string(" [unchanged]: ")));
    std::optional<std::string> line = input.readLine();
    input.setEcho(true);
    say("\n");  // the Enter key was not echoed
    if (!line)
        return false;
    if (*line == "-") {
        value.clear();
    } else if (!line->empty()) {
        value = *line;
    }
    return true;
}

bool TerminalPrompts::askSharedSecret(std::string& value) {
    if (!askSecret("Shared secret (the same on the server and every client; at least 16 "
                   "characters; \"g\" generates one)",
                   value)) {
        return false;
    }
    if (value == "g") {
        value = generateSecret(sodiumCrypto());
        // Shown once, so it can be entered on the other computers.
        say("Generated shared secret: " + value + "\n");
    }
    return true;
}

bool TerminalPrompts::askYesNo(const std::string& label, bool& value) {
    for (;;) {
        say(label + (value ? " [Y/n]: " : " [y/N]: "));
        std::optional<std::string> line = input.readLine();
        if (!line) {
            say("\n");
            return false;
        }
        std::string answer = lowerCase(*line);
        if (answer.empty())
            return true;
        if (answer == "y" || answer == "yes") {
            value = true;
            return true;
        }
        if (answer == "n" || answer == "no") {
            value = false;
            return true;
        }
        say("Please answer y or n.\n");
    }
}

bool TerminalPrompts::askChoice(const std::string& label, const std::vector<std::string>& items,
                                int& selected, const std::vector<std::string>& aliases) {
    for (;;) {
        say(label + "\n");
        if (items.empty())
            say("  (none available)\n");
        for (std::size_t i = 0; i < items.size(); i++) {
            say("  " + std::to_string(i + 1) + ") " + items[i] + "\n");
        }
        std::string current;
        if (selected >= 0 && selected < static_cast<int>(items.size())) {
            current = items[static_cast<std::size_t>(selected)];
        }
        say("Number [" + current + "]: ");
        std::optional<std::string> line = input.readLine();
        if (!line) {
            say("\n");
            return false;
        }
        if (line->empty())
            return true;
        char* end = nullptr;
        long number = strtol(line->c_str(), &end, 10);
        if (end != line->c_str() && *end == '\0' && number >= 1 &&
            number <= static_cast<long>(items.size())) {
            selected = static_cast<int>(number - 1);
            return true;
        }
        for (std::size_t i = 0; i < items.size(); i++) {
            bool alias = i < aliases.size() && strcasecmp(aliases[i].c_str(), line->c_str()) == 0;
            if (alias || strcasecmp(items[i].c_str(), line->c_str()) == 0) {
                selected = static_cast<int>(i);
                return true;
            }
        }
        if (items.empty()) {
            say("There is nothing to choose from.\n");
        } else {
            say("Please type a number from 1 to " + std::to_string(items.size()) + ".\n");
        }
    }
}

bool TerminalPrompts::welcome() {
    say("\nWelcome to the Linkmoot!\n\n"
        "This tool helps you to share your RAS connection\n"
        "(usually your Internet modem dial-up) within your LAN.\n\n"
        "The Linkmoot server automatically connects if requested by any client, and "
        "disconnects again if no client needs the connection anymore.\n\n"
        "The Server automatically checks whether all the clients have revoked their connection "
        "vote, so you don't have the problem that a client closes the connection while another "
        "one still requires it.\n\n"
        "The Linkmoot does not rely on application activity to connect, so automatically "
        "updating software like Windows won't cause any unwanted (and maybe expensive) "
        "connections.\n\n"
        "Instead, you have an easy-to-use Client control to connect manually.\n\n"
        "Please take a moment now to configure this instance of the Linkmoot.\n\n");
    bool configure = true;
    if (!askYesNo("Configure now (n: Exit)?", configure))
        return false;
    return configure;
}

bool TerminalPrompts::mode(const Settings& settings) {
    ModeForm form;
    form.load(settings);
    say("\nLinkmoot configuration: Mode\n");
    say(kHint);
    say("Please select the appropriate mode for this computer.\n");
    const std::string indent = "                ";
    say("  1) Client mode. " +
        indented("In your LAN, you are connected to a server\nwith a RAS dial-up connection.\n"
                 "You want to vote for internet connection.",
                 indent) +
        "\n");
    say("  2) Server mode. " +
        indented(
            "You have a RAS dial-up you want to offer to clients.\nYou can also vote yourself.",
            indent) +
        "\n");
    for (;;) {
        const char* current = form.choice == ModeForm::Choice::Client   ? "client"
                              : form.choice == ModeForm::Choice::Server ? "server"
                                                                        : "";
        say(std::string("Mode, 1 or 2 [") + current + "]: ");
        std::optional<std::string> line = input.readLine();
        if (!line) {
            say("\n");
            return false;
        }
        std::string answer = lowerCase(*line);
        if (answer == "1" || answer == "c" || answer == "client") {
            form.choice = ModeForm::Choice::Client;
        } else if (answer == "2" || answer == "s" || answer == "server") {
            form.choice = ModeForm::Choice::Server;
        } else if (!answer.empty()) {
            say("Please type 1 (client) or 2 (server).\n");
            continue;
        }
        StoreResult result = form.store(settings);
        if (result.ok)
            return true;
        sayRefused(result.messageId);
    }
}

bool TerminalPrompts::clientOptions(const Settings& settings, const ServerSearch& search) {
    ClientOptionsForm form;
    form.load(settings);
    say("\nLinkmoot configuration: Client options\n");
    say(kHint);

    std::vector<FoundServer> found;
    auto askServer = [&] {
        if (search)
            say("Type ? to look for servers on the LAN, or auto to vote to the one found there.\n");
        for (;;) {
            const std::string before = form.server;
            if (!askText("IP address or name of the server", form.server))
                return false;
            if (form.server == "?" && search) {
                form.server = before;
                found = search();
                say(found.empty() ? "No server found on the LAN.\n"
                                  : "Servers found on the LAN:\n");
                for (std::size_t i = 0; i < found.size(); i++) {
                    say("  " + std::to_string(i + 1) + ") " +
                        printable(describe(found[i]).c_str()) + "\n");
                }
                if (!found.empty())
                    say("Type a number to choose one of them.\n");
                continue;
            }
            // A number picks a listed server: its address and its port.
            const int32_t number = parseLong(form.server);
            if (number >= 1 && static_cast<std::size_t>(number) <= found.size() &&
                form.server == std::to_string(number)) {
                const FoundServer& chosen = found[static_cast<std::size_t>(number) - 1];
                form.server = ipv4::format(chosen.address);
                form.port = std::to_string(chosen.port);
            }
            return true;
        }
    };
    auto askPort = [&] { return askText("Port of the server (default: 9005)", form.port); };
    auto askWakeOnLan = [&] {
        if (!askYesNo("Wake on LAN?", form.wakeOnLan))
            return false;
        return !form.wakeOnLan || askText("Wake on LAN (MAC address)", form.mac);
    };
    auto askAutoVote = [&] { return askYesNo("Automatically vote on start?", form.autoVote); };
    auto askClientSecret = [&] { return askSharedSecret(form.secret); };
    auto askNotify = [&] {
        return askYesNo("Notify when the server's line changes while voting?", form.notify);
    };

    if (!askServer() || !askPort() || !askWakeOnLan() || !askAutoVote() || !askClientSecret() ||
        !askNotify()) {
        return false;
    }
    return storeAskingAgain([&] { return form.store(settings); },
                            [&](int field) {
                                switch (field) {
                                    case ClientOptionsForm::ServerField:
                                        return askServer();
                                    case ClientOptionsForm::PortField:
                                        return askPort();
                                    case ClientOptionsForm::MacField:
                                        return askWakeOnLan();
                                    case ClientOptionsForm::SecretField:
                                        return askClientSecret();
                                    default:
                                        return askServer() && askPort() && askWakeOnLan() &&
                                               askAutoVote() && askClientSecret() && askNotify();
                                }
                            });
}

constexpr const char* kAllowedNetworksPrompt =
    "Allowed networks (IPv4 blocks separated by commas; empty: the private networks)";

bool TerminalPrompts::askDialer(ServerOptionsForm& form) {
    const std::vector<DialerChoice>& dialers = dialerChoices();
    std::vector<std::string> dialerLabels;
    std::vector<std::string> dialerValues;
    int dialerIndex = -1;
    for (std::size_t i = 0; i < dialers.size(); i++) {
        dialerLabels.push_back(std::string(dialers[i].label) + " (" + dialers[i].value + ")");
        dialerValues.push_back(dialers[i].value);
        if (form.dialer == dialers[i].value)
            dialerIndex = static_cast<int>(i);
    }
    if (dialerIndex < 0 && !form.dialer.empty()) {
        say("The configured dial-up service \"" + form.dialer + "\" is unknown.\n");
    }
    if (!askChoice("Dial-up service:", dialerLabels, dialerIndex, dialerValues))
        return false;
    if (dialerIndex >= 0)
        form.dialer = dialers[static_cast<std::size_t>(dialerIndex)].value;
    return true;
}

// Listed with their types; a name typed alone chooses too.
bool TerminalPrompts::askConnectionOf(ServerOptionsForm& form) {
    std::vector<std::string> labels;
    std::vector<std::string> names;
    for (const DialEntry& entry : form.connections) {
        labels.push_back(connectionLabel(entry));
        names.push_back(entry.name);
    }
    return askChoice("Connection:", labels, form.selected, names);
}

bool TerminalPrompts::serverOptions(const Settings& settings, const EntriesFor& entriesFor) {
    ServerOptionsForm form;
    form.load(settings, {});
    say("\nLinkmoot configuration: Server options\n");
    say(kHint);

    if (!askDialer(form))
        return false;
    form.setEntries(settings, entriesFor(form.dialer));

    auto askPort = [&] { return askText("Port of the server (default: 9005)", form.port); };
    auto askGuardTime = [&] { return askText("Guard time after hangup (msecs)", form.guardTime); };
    auto askReconnect = [&] {
        if (!askYesNo("Auto dis- and reconnect?", form.autoReconnect))
            return false;
        return !form.autoReconnect ||
               askText("Auto dis- and reconnect (minutes)", form.reconnectMinutes);
    };
    auto askShutdown = [&] {
        if (!askYesNo("Shutdown if no votes?", form.shutdown))
            return false;
        return !form.shutdown || askText("Shutdown if no votes (minutes)", form.shutdownMinutes);
    };
    auto askAlways = [&] {
        return askYesNo("Always connected (no client votes required, use with care!)?",
                        form.alwaysConnected);
    };
    auto askBackoff = [&] {
        return askYesNo("Wait longer after each failed dial (5 s, doubling up to 5 minutes)?",
                        form.retryBackoff);
    };
    auto askConnection = [&] { return askConnectionOf(form); };
    auto askUserName = [&] { return askText("User name", form.userName); };
    auto askPassword = [&] { return askSecret("Password", form.password); };
    auto askWebPage = [&] {
        if (!askYesNo("Web page for phones and tablets?", form.webPage))
            return false;
        return !form.webPage || askText("Web page for phones and tablets on port", form.webPort);
    };
    auto askAllowed = [&] { return askText(kAllowedNetworksPrompt, form.allowedNetworks); };
    auto askServerSecret = [&] { return askSharedSecret(form.secret); };
    // The data plan comes after the options; it is stored with them.
    PlanForm plan;
    plan.load(settings);
    auto askPlan = [&] { return askDataPlan(plan); };

    auto askAll = [&] {
        return askPort() && askGuardTime() && askReconnect() && askShutdown() && askAlways() &&
               askBackoff() && askConnection() && askUserName() && askPassword() && askAllowed() &&
               askServerSecret() && askWebPage();
    };
    if (!askAll() || !askPlan())
        return false;
    if (!storeAskingAgain([&] { return plan.store(settings); }, [&](int) { return askPlan(); }))
        return false;
    return storeAskingAgain([&] { return form.store(settings); },
                            [&](int field) {
                                switch (field) {
                                    case ServerOptionsForm::PortField:
                                        return askPort();
                                    case ServerOptionsForm::ReconnectField:
                                        return askReconnect();
                                    case ServerOptionsForm::ShutdownField:
                                        return askShutdown();
                                    case ServerOptionsForm::ConnectionList:
                                        return askConnection();
                                    case ServerOptionsForm::WebPortField:
                                        return askWebPage();
                                    case ServerOptionsForm::AllowedNetworksField:
                                        return askAllowed();
                                    case ServerOptionsForm::SecretField:
                                        return askServerSecret();
                                    default:
                                        return askAll();
                                }
                            });
}

bool TerminalPrompts::askDataPlan(PlanForm& plan) {
    if (!askYesNo("Data plan (a cap per billing cycle)?", plan.enabled))
        return false;
    if (!plan.enabled)
        return true;
    bool monthly = !plan.everyNDays;
    if (!askText("Data cap in MB of 10^6 bytes (0: none)", plan.dataCapMB) ||
        !askYesNo("Sent bytes count against the cap too?", plan.countSent) ||
        !askText("Online time cap in minutes (0: none)", plan.timeCapMinutes) ||
        !askYesNo("Monthly cycles (n: every N days from a date)?", monthly))
        return false;
    plan.everyNDays = !monthly;
    if (monthly ? !askText("Cycle begins on day of the month (1-31)", plan.cycleDay)
                : !askText("Cycle length in days (1-62)", plan.cycleDays) ||
                      !askText("Cycles count from the date (YYYY-MM-DD)", plan.cycleStart))
        return false;
    return askText("Cycle begins at the local hour (0-23)", plan.cycleHour) &&
           askText("Warn at these percentages", plan.warnPercents) &&
           askText("At the cap: warn, refuse (no new dial) or hangup", plan.atCap) &&
           askText("Free hours (such as 00:00-06:00; empty: none)", plan.freeHours);
}

bool TerminalPrompts::question(int stringId) {
    say(std::string("\n") + loadString(StringId::Caption) + ": " + loadString(stringId) + "\n");
    bool yes = false;
    if (!askYesNo("Answer", yes))
        return false;
    return yes;
}

}  // namespace linkmoot::daemon
