// linkmootctl COMMAND [--timeout=SECONDS]: sends one command to the running
// Linkmoot instance of this user (or to the system service) and prints the
// answer.
//
// Exit status: 0 success; 1 no instance runs (or none can be reached);
// 2 unknown command or bad option; 3 no answer in time; 4 error answer.
#include <errno.h>
#include <string.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ControlCommands.h"
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
    "\n"
    "Sends one command to the running Linkmoot instance (linkmootd or the tray\n"
    "application) and prints its answer.\n"
    "\n"
    "Commands:\n"
    "  status      the tray text, then the status rows (connection, votes held)\n"
    "  connect     vote for the connection\n"
    "  disconnect  withdraw the vote\n"
    "  enable      enable the server\n"
    "  disable     disable the server\n"
    "  refresh     refresh the status\n"
    "  reload      read the configuration file again and apply it\n"
    "  exit        end the instance\n"
    "\n"
    "  --timeout=SECONDS  how long to wait for the answer (default 10; a server\n"
    "                     does not answer during a hang-up's guard time)\n"
    "\n"
    "Tries $XDG_RUNTIME_DIR/linkmoot.sock, then /run/linkmoot/linkmoot.sock.\n"
    "Exit status: 0 success, 1 no instance, 2 unknown command, 3 timeout, 4 error.\n";

void complain(const std::string& message) {
    fprintf(stderr, "linkmootctl: %s\n", message.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    std::string command;
    double timeoutSeconds = 10;
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
            timeoutSeconds = strtod(value, &end);
            if (end == value || *end != '\0' || errno != 0 || !std::isfinite(timeoutSeconds) ||
                timeoutSeconds <= 0 || timeoutSeconds > 86400) {
                complain("the timeout must be a number of seconds above 0: " + argument);
                return kUsageError;
            }
            continue;
        }
        if (!command.empty() || argument.rfind("-", 0) == 0) {
            complain("unexpected argument '" + argument + "' (see linkmootctl --help)");
            return kUsageError;
        }
        command = argument;
    }
    if (command.empty()) {
        fputs(kUsage, stderr);
        return kUsageError;
    }
    if (!linkmoot::control::isKnownRequest(command)) {
        complain("unknown command '" + command +
                 "'; the commands are status, connect, disconnect, enable, disable, refresh, "
                 "reload, exit");
        return kUsageError;
    }

    std::vector<std::string> candidates;
    std::string error;
    std::string userPath = linkmoot::controlsocket::userSocketPath(error);
    if (!userPath.empty())
        candidates.push_back(userPath);
    if (userPath != linkmoot::controlsocket::kSystemSocketPath) {
        candidates.push_back(linkmoot::controlsocket::kSystemSocketPath);
    }

    const int timeoutMs = static_cast<int>(std::lround(timeoutSeconds * 1000));
    std::vector<std::string> reasons;
    if (!error.empty())
        reasons.push_back(error);
    for (const std::string& path : candidates) {
        Reply reply = linkmoot::controlsocket::sendRequest(path, command, timeoutMs);
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
                         " s (a server does not answer during a hang-up's guard time; try "
                         "--timeout=SECONDS)");
                return kTimeout;
            case Reply::Status::Answered:
                break;
        }
        const std::string& answer = reply.answer;
        const std::string ok = std::string(linkmoot::control::kOk) + "\n";
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
