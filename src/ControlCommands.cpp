#include "ControlCommands.h"

#include "Linkmoot.h"
#include "LogText.h"

namespace linkmoot::control {

namespace {

struct Request {
    std::string_view word;
    int commandId;
};

constexpr Request kRequests[] = {
    {"connect", Command::Connect},
    {"disconnect", Command::Disconnect},
    {"enable", Command::EnableServer},
    {"disable", Command::DisableServer},
    {"refresh", Command::Refresh},
    {"exit", Command::Exit},
    {"status", 0},
    {"reload", 0},
    {"line", 0},
    {"page", 0},
};

std::string errorAnswer(std::string_view reason) {
    std::string answer(kError);
    answer += ' ';
    answer += reason;
    answer += '\n';
    return answer;
}

// Host names in the rows come from the network: they must neither forge answer
// lines nor pass for another name.
void appendLine(std::string& out, const std::string& text) {
    out += printable(text.c_str());
    out += '\n';
}

}  // namespace

void ApplicationTarget::runCommand(int commandId) {
    application.onCommand(commandId);
}

StatusSnapshot ApplicationTarget::currentStatus() {
    return *application.latestStatus();
}

bool ApplicationTarget::reloadConfiguration(std::string& problem) {
    return application.reload(problem);
}

int commandIdOf(std::string_view word) {
    for (const Request& request : kRequests) {
        if (request.word == word)
            return request.commandId;
    }
    return 0;
}

bool isKnownRequest(std::string_view word) {
    for (const Request& request : kRequests) {
        if (request.word == word)
            return true;
    }
    return false;
}

std::string formatStatus(const StatusSnapshot& status) {
    std::string body;
    appendLine(body, status.trayText);
    for (const StatusRow& row : status.rows)
        appendLine(body, row.text);
    return body;
}

std::string handle(CommandTarget& target, std::string_view request) {
    if (!request.empty() && request.back() == '\r')
        request.remove_suffix(1);
    if (request.empty())
        return errorAnswer("empty request");
    if (request.size() >= kMaxRequestLength)
        return errorAnswer("request too long");
    if (!isKnownRequest(request)) {
        for (char c : request) {
            unsigned char byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte >= 0x7f)
                return errorAnswer("malformed request");
        }
        return errorAnswer("unknown command: " + std::string(request));
    }
    if (request == "reload") {
        std::string problem;
        if (!target.reloadConfiguration(problem))
            return errorAnswer("configuration not reloaded: " + printable(problem.c_str()));
        return std::string(kOk) + '\n';
    }
    std::string answer(kOk);
    answer += '\n';
    if (request == "status") {
        answer += formatStatus(target.currentStatus());
    } else if (request == "line") {
        appendLine(answer, target.currentStatus().lineWord);
    } else if (request == "page") {
        for (const std::string& address : target.currentStatus().pageAddresses)
            appendLine(answer, address);
    } else {
        target.runCommand(commandIdOf(request));
    }
    return answer;
}

std::string handle(Linkmoot& application, std::string_view request) {
    ApplicationTarget target(application);
    return handle(target, request);
}

}  // namespace linkmoot::control
