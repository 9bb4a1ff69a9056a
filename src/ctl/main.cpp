// linkmootctl COMMAND [--timeout=SECONDS]: sends one command to the running
// Linkmoot instance of this user (or to the system service) and prints the
// answer. linkmootctl wait up|down polls the instance's line until it matches.
// linkmootctl servers looks for servers on the LAN itself (no instance needed);
// linkmootctl page-code prints the QR codes of the instance's web page.
//
// Exit status: 0 success; 1 no instance runs (or none can be reached, or it
// went away while waiting); 2 unknown command or bad option; 3 no answer in
// time (wait: the line did not match in time); 4 error answer.
#include <errno.h>
#include <pwd.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ControlCommands.h"
#include "Discovery.h"
#include "LocalTime.h"
#include "platform/ControlServer.h"

using linkmoot::controlsocket::Reply;

namespace {

constexpr int kSuccess = 0;
constexpr int kNoInstance = 1;
constexpr int kUsageError = 2;
constexpr int kTimeout = 3;
constexpr int kErrorAnswer = 4;

constexpr const char* kUsage =
    "Usage: linkmootctl COMMAND [--timeout=SECONDS]\n"
    "       linkmootctl servers [--json] [--port=PORT]\n"
    "\n"
    "Sends one command to the running Linkmoot instance (linkmootd or the tray\n"
    "application) and prints its answer.\n"
    "\n"
    "Commands:\n"
    "  status      the tray text, then the status rows (connection, votes held)\n"
    "  line        the line as the instance sees it: up, dialling, down, guard,\n"
    "              failed or unknown\n"
    "  wait up|down  waits until the line is up (or down); without --timeout\n"
    "              without limit. Example:\n"
    "              linkmootctl connect && linkmootctl wait up --timeout=120 && fetchmail\n"
    "  connect     vote for the connection\n"
    "  disconnect  withdraw the vote\n"
    "  enable      enable the server\n"
    "  disable     disable the server\n"
    "  refresh     refresh the status\n"
    "  page-code   QR codes of the instance's web page addresses, for phones\n"
    "  reload      read the configuration file again and apply it\n"
    "  usage [--json]  what the line was used for: today, this month and the\n"
    "              last 30 days (online time, bytes in and out, sessions, failed\n"
    "              dials), and the voters with their time and share\n"
    "  sessions [--since YYYY-MM-DD] [--csv]  the line sessions, one per line or\n"
    "              as CSV (RFC 4180, with a header)\n"
    "  plan [--json]  the data plan: this cycle's use of the cap, the daily\n"
    "              budget, the forecast, the warnings given, whether the cap\n"
    "              holds the line;\n"
    "              plan set-used AMOUNT: what the provider says was used this\n"
    "              cycle (3.2GB, 800MB, 90min); later counts add to it;\n"
    "              plan allow [--for DURATION | --until-reset | --cancel]: let\n"
    "              the line run over the cap (60m, 2h, 1d; default until the\n"
    "              cycle resets), or end that\n"
    "  exit        end the instance\n"
    "  servers     the servers on the LAN, found by DNS-SD and by a broadcast\n"
    "              query (2 s; no instance needed); --json for scripts,\n"
    "              --port=PORT the servers' UDP port (default 9005)\n"
    "\n"
    "  --timeout=SECONDS  how long to wait for the answer (default 10); for\n"
    "                     wait, how long to wait for the line\n"
    "\n"
    "Tries $XDG_RUNTIME_DIR/linkmoot.sock, then /run/linkmoot/linkmoot.sock.\n"
    "Exit status: 0 success, 1 no instance (or it went away while waiting),\n"
    "2 unknown command, 3 timeout (servers: none found), 4 error.\n";

void complain(const std::string& message) {
    fprintf(stderr, "linkmootctl: %s\n", message.c_str());
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

/// Asks `path` for its line twice a second until it reads `wanted`.
int waitForLine(const std::string& path, const std::string& wanted, bool limited,
                double timeoutSeconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(std::lround(timeoutSeconds * 1000));
    const std::string ok = std::string(linkmoot::control::kOk) + "\n";
    for (;;) {
        const Reply reply = linkmoot::controlsocket::sendRequest(path, "line", 2000);
        if (reply.status == Reply::Status::NoInstance || reply.status == Reply::Status::Failed) {
            complain(path + ": the instance went away");
            return kNoInstance;
        }
        if (reply.status == Reply::Status::Answered) {
            if (reply.answer.rfind(ok, 0) != 0) {
                complain(path + " answered: " + trimmed(reply.answer));
                return kErrorAnswer;
            }
            if (trimmed(reply.answer.substr(ok.size())) == wanted)
                return kSuccess;
        }
        if (limited && Clock::now() >= deadline) {
            complain("the line was not " + wanted + " in time");
            return kTimeout;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
}

}  // namespace

/// The options of usage and sessions, added to the request line; false
/// (with the complaint made) when one does not belong or is malformed.
bool takeUsageOption(const std::string& command, const std::string& argument,
                     const char* nextArgument, int& i, std::string& request) {
    if (command == "sessions" && argument == "--csv" && request.find(" csv") == std::string::npos) {
        request += " csv";
        return true;
    }
    if (command == "sessions" && (argument == "--since" || argument.rfind("--since=", 0) == 0) &&
        request.find(" since ") == std::string::npos) {
        std::string date = argument == "--since" ? (nextArgument != nullptr ? nextArgument : "")
                                                 : argument.substr(strlen("--since="));
        if (argument == "--since")
            ++i;
        linkmoot::CivilDate parsed;
        if (!linkmoot::parseIsoDate(date, parsed)) {
            complain("--since takes a date as YYYY-MM-DD, not '" + date + "'");
            return false;
        }
        request += " since " + date;
        return true;
    }
    complain("unexpected argument '" + argument + "' (see linkmootctl --help)");
    return false;
}

/// "60m", "2h", "1d" or bare minutes, as whole minutes; 0 when it is none.
long durationMinutes(const std::string& text) {
    char* end = nullptr;
    const long value = strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || value <= 0)
        return 0;
    const std::string unit = end;
    const long factor = unit.empty() || unit == "m" || unit == "min" ? 1
                        : unit == "h"                                ? 60
                        : unit == "d"                                ? 1440
                                                                     : 0;
    return value <= 527040 / (factor == 0 ? 1 : factor) ? value * factor : 0;
}

/// The words of a plan request from its arguments; false (with the
/// complaint made) when they are not one.
bool planRequest(const std::vector<std::string>& arguments, bool json, std::string& request) {
    request = "plan";
    if (arguments.empty()) {
        if (json)
            request += " json";
        return true;
    }
    if (json) {
        complain("--json belongs to plan alone, not to plan " + arguments[0]);
        return false;
    }
    if (arguments[0] == "set-used" && arguments.size() >= 2) {
        for (std::size_t i = 1; i < arguments.size(); ++i)
            request += (i == 1 ? " set-used " : "") + arguments[i];
    } else if (arguments[0] == "allow" && arguments.size() == 1) {
        request += " allow";
    } else if (arguments[0] == "allow" && arguments.size() == 2 && arguments[1] == "--cancel") {
        request += " allow cancel";
    } else if (arguments[0] == "allow" && arguments.size() == 2 &&
               arguments[1] == "--until-reset") {
        request += " allow until-reset";
    } else if (arguments[0] == "allow" && (arguments.size() == 3 || arguments.size() == 2) &&
               arguments[1].rfind("--for", 0) == 0) {
        const std::string given = arguments.size() == 3                  ? arguments[2]
                                  : arguments[1].rfind("--for=", 0) == 0 ? arguments[1].substr(6)
                                                                         : "";
        const long minutes = durationMinutes(given);
        if (minutes == 0) {
            complain("--for takes a duration such as 60m, 2h or 1d (up to 366 days), not '" +
                     given + "'");
            return false;
        }
        request += " allow for " + std::to_string(minutes);
    } else {
        complain(
            "plan takes --json, set-used AMOUNT, or allow [--for DURATION | --until-reset | "
            "--cancel] (see linkmootctl --help)");
        return false;
    }
    // Who asked, for the instance's log line.
    if (const struct passwd* user = getpwuid(getuid()); user != nullptr && user->pw_name != nullptr)
        request += std::string(" by ") + user->pw_name;
    else
        request += " by uid" + std::to_string(getuid());
    return true;
}

/// What the command line asks for.
struct Invocation {
    std::string command;
    std::string request;  // as sent to the instance
    std::string waitFor;
    bool json = false;
    int serverPort = 9005;
    double timeoutSeconds = 10;
    bool timeoutGiven = false;
    std::vector<std::string> planArguments;
    bool drawCodes = false;  // page-code: the page's addresses as QR codes
};

constexpr int kGoOn = -1;

/// Reads the arguments into `call`; an exit status when the program ends
/// here (help, version, a usage error), else kGoOn.
int readArguments(int argc, char** argv, Invocation& call) {
    for (int i = 1; i < argc; i++) {
        std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            fputs(kUsage, stdout);
            return kSuccess;
        }
        if (argument == "--version") {
            printf("linkmootctl %s\n", LINKMOOT_VERSION);
            return kSuccess;
        }
        if (argument.rfind("--timeout=", 0) == 0) {
            const char* value = argument.c_str() + strlen("--timeout=");
            char* end = nullptr;
            errno = 0;
            call.timeoutSeconds = strtod(value, &end);
            if (end == value || *end != '\0' || errno != 0 || !std::isfinite(call.timeoutSeconds) ||
                call.timeoutSeconds <= 0 || call.timeoutSeconds > 86400) {
                complain("the timeout must be a number of seconds above 0: " + argument);
                return kUsageError;
            }
            call.timeoutGiven = true;
            continue;
        }
        if (argument == "--json") {
            call.json = true;
            continue;
        }
        if (argument.rfind("--port=", 0) == 0) {
            const char* value = argument.c_str() + strlen("--port=");
            char* end = nullptr;
            const long port = strtol(value, &end, 10);
            if (end == value || *end != '\0' || port < 1 || port > 65535) {
                complain("the port must be a number from 1 to 65535: " + argument);
                return kUsageError;
            }
            call.serverPort = static_cast<int>(port);
            continue;
        }
        if (call.command == "wait" && call.waitFor.empty() && argument.rfind("-", 0) != 0) {
            call.waitFor = argument;
            if (call.waitFor != "up" && call.waitFor != "down") {
                complain("wait takes up or down, not '" + argument + "'");
                return kUsageError;
            }
            continue;
        }
        if (call.command == "plan") {
            call.planArguments.push_back(argument);
            continue;
        }
        if ((call.command == "usage" || call.command == "sessions") &&
            argument.rfind("--", 0) == 0) {
            if (!takeUsageOption(call.command, argument, i + 1 < argc ? argv[i + 1] : nullptr, i,
                                 call.request))
                return kUsageError;
            continue;
        }
        if (!call.command.empty() || argument.rfind("-", 0) == 0) {
            complain("unexpected argument '" + argument + "' (see linkmootctl --help)");
            return kUsageError;
        }
        call.command = argument;
        call.request = argument;
    }
    return kGoOn;
}

/// Checks what was asked and turns it into the request; an exit status when
/// the program ends here, else kGoOn.
int checkInvocation(Invocation& call) {
    if (call.command.empty()) {
        fputs(kUsage, stderr);
        return kUsageError;
    }
    // usage and servers both take --json, in any place on the line.
    if (call.json && call.command == "usage") {
        call.request += " json";
        call.json = false;
    }
    if (call.command == "plan") {
        if (!planRequest(call.planArguments, call.json, call.request))
            return kUsageError;
        call.json = false;
    }
    if ((call.json || call.serverPort != 9005) && call.command != "servers") {
        complain(
            "--json belongs to usage, plan and servers, --port to servers (see linkmootctl "
            "--help)");
        return kUsageError;
    }
    if (call.command == "servers")
        return linkmoot::ctl::listServers(call.json, static_cast<uint16_t>(call.serverPort));
    call.drawCodes = call.command == "page-code";
    if (call.drawCodes)
        call.command = call.request = "page";
    const bool waiting = call.command == "wait";
    if (waiting && call.waitFor.empty()) {
        complain("wait needs up or down (see linkmootctl --help)");
        return kUsageError;
    }
    if (!waiting && !linkmoot::control::isKnownRequest(call.command)) {
        complain("unknown command '" + call.command +
                 "'; the commands are status, line, wait, connect, disconnect, enable, "
                 "disable, refresh, page-code, reload, usage, sessions, plan, exit, servers");
        return kUsageError;
    }

    return kGoOn;
}

/// Sends the request to the first instance that answers and prints its answer.
int askInstance(const Invocation& call) {
    const bool waiting = call.command == "wait";
    const bool drawing = call.drawCodes;
    std::vector<std::string> candidates;
    // Root without XDG_RUNTIME_DIR (sudo, a root shell) usually means the
    // system service; nothing is made for an instance that is not there.
    std::string userPath = linkmoot::controlsocket::clientSocketPath();
    if (!userPath.empty())
        candidates.push_back(userPath);
    if (userPath != linkmoot::controlsocket::kSystemSocketPath) {
        candidates.push_back(linkmoot::controlsocket::kSystemSocketPath);
    }

    const int timeoutMs = static_cast<int>(std::lround(call.timeoutSeconds * 1000));
    std::vector<std::string> reasons;
    for (const std::string& path : candidates) {
        Reply reply =
            linkmoot::controlsocket::sendRequest(path, waiting ? "line" : call.request, timeoutMs);
        switch (reply.status) {
            case Reply::Status::NoInstance:
                reasons.push_back(path + ": nobody listens");
                continue;
            case Reply::Status::Failed:
                // Typically a permission: the system service's socket is for its group.
                reasons.push_back(reply.error);
                continue;
            case Reply::Status::Timeout:
                char seconds[32];
                snprintf(seconds, sizeof(seconds), "%g", timeoutMs / 1000.0);
                complain("no answer from " + path + " within " + seconds +
                         " s (a busy or stopped instance; try --timeout=SECONDS)");
                return kTimeout;
            case Reply::Status::Answered:
                break;
        }
        const std::string& answer = reply.answer;
        const std::string ok = std::string(linkmoot::control::kOk) + "\n";
        if (waiting && answer.rfind(ok, 0) == 0)
            return waitForLine(path, call.waitFor, call.timeoutGiven, call.timeoutSeconds);
        if (drawing && answer.rfind(ok, 0) == 0)
            return linkmoot::ctl::printPageCodes(answer.substr(ok.size()));
        if (answer.rfind(ok, 0) == 0) {
            fputs(answer.c_str() + ok.size(), stdout);
            return kSuccess;
        }
        std::string message = answer;
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
            message.pop_back();
        }
        if (message.empty())
            message = "(empty answer; the instance may have ended)";
        complain(path + " answered: " + message);
        return kErrorAnswer;
    }
    std::string message =
        "no Linkmoot instance is running (start linkmootd or the tray "
        "application)";
    for (const std::string& reason : reasons)
        message += "\n  " + reason;
    complain(message);
    return kNoInstance;
}

int main(int argc, char** argv) {
    Invocation call;
    if (const int status = readArguments(argc, argv, call); status != kGoOn)
        return status;
    if (const int status = checkInvocation(call); status != kGoOn)
        return status;
    return askInstance(call);
}
