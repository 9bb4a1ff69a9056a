#include "ControlCommands.h"

#include <nlohmann/json.hpp>
#include <vector>

#include "Linkmoot.h"
#include "LogText.h"
#include "PlanText.h"
#include "UsageText.h"

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
    {"usage", 0},
    {"sessions", 0},
    {"page", 0},
    {"plan", 0},
};

/// The words of a request line.
std::vector<std::string_view> wordsOf(std::string_view request) {
    std::vector<std::string_view> words;
    while (!request.empty()) {
        const std::size_t space = request.find(' ');
        if (space != 0)
            words.push_back(request.substr(0, space));
        if (space == std::string_view::npos)
            break;
        request.remove_prefix(space + 1);
    }
    return words;
}

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

std::string ApplicationTarget::usage(bool json) {
    const UsageReport report = application.usageReport();
    if (json)
        return usageJson(report, true).dump() + "\n";
    return usageText(report);
}

std::string ApplicationTarget::plan(const std::vector<std::string_view>& words) {
    return planRequest(application.dataPlan(), words, application.localTime(), "control socket");
}

void ApplicationTarget::sessions(std::optional<CivilDate> since, bool csv,
                                 std::function<void(std::string body)> done) {
    LocalTime& local = application.localTime();
    const int64_t sinceMs = since ? local.startOf(*since) * 1000 : INT64_MIN;
    application.readSessions(
        sinceMs,
        [csv, &local](const std::vector<SessionRecord>& list, const std::string& problem) {
            if (!problem.empty())
                return std::string(kError) +
                       " the sessions cannot be read: " + printable(problem.c_str()) + "\n";
            return std::string(kOk) + "\n" + (csv ? sessionsCsv(list) : sessionsText(list, local));
        },
        std::move(done));
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

namespace {

/// "usage [json]" and "sessions [since DATE] [csv]"; nullopt when the
/// request is neither.
std::optional<std::optional<std::string>> handleUsage(CommandTarget& target,
                                                      std::string_view request,
                                                      const Later& later) {
    const std::vector<std::string_view> words = wordsOf(request);
    if (words.empty() || (words[0] != "usage" && words[0] != "sessions"))
        return std::nullopt;
    if (words[0] == "usage") {
        if (words.size() > 2 || (words.size() == 2 && words[1] != "json"))
            return errorAnswer("usage takes only json");
        return std::string(kOk) + "\n" + target.usage(words.size() == 2);
    }
    std::optional<CivilDate> since;
    bool csv = false;
    for (std::size_t i = 1; i < words.size(); ++i) {
        if (words[i] == "csv" && !csv) {
            csv = true;
        } else if (words[i] == "since" && !since && i + 1 < words.size()) {
            CivilDate date;
            if (!parseIsoDate(words[i + 1], date))
                return errorAnswer("since takes a date as YYYY-MM-DD, not " +
                                   printable(std::string(words[i + 1]).c_str()));
            since = date;
            ++i;
        } else {
            return errorAnswer("sessions takes since YYYY-MM-DD and csv");
        }
    }
    target.sessions(since, csv, later);
    return std::optional<std::string>();
}

}  // namespace

std::optional<std::string> handle(CommandTarget& target, std::string_view request, Later later) {
    if (!request.empty() && request.back() == '\r')
        request.remove_suffix(1);
    if (request.size() < kMaxRequestLength) {
        if (auto answer = handleUsage(target, request, later))
            return *answer;
    }
    return handle(target, request);
}

std::optional<std::string> handle(Linkmoot& application, std::string_view request, Later later) {
    ApplicationTarget target(application);
    return handle(target, request, std::move(later));
}

std::string handle(CommandTarget& target, std::string_view request) {
    if (!request.empty() && request.back() == '\r')
        request.remove_suffix(1);
    if (request.empty())
        return errorAnswer("empty request");
    if (request.size() >= kMaxRequestLength)
        return errorAnswer("request too long");
    const std::vector<std::string_view> words = wordsOf(request);
    if (!words.empty() && (words[0] == "usage" || words[0] == "sessions")) {
        std::optional<std::string> given;
        std::optional<std::string> answer =
            *handleUsage(target, request, [&given](std::string later) { given = later; });
        if (answer)
            return *answer;
        return given ? *given : errorAnswer("the answer is not ready");
    }
    if (!words.empty() && words[0] == "plan")
        return target.plan(words);
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
