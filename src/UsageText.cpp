#include "UsageText.h"

#include <cinttypes>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "LocalTime.h"
#include "LogText.h"

namespace linkmoot {

namespace {

using Json = nlohmann::json;

std::string formatted(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string voterNames(const std::vector<VoterUsage>& voters) {
    std::string names;
    for (const VoterUsage& voter : voters) {
        if (!names.empty())
            names += ", ";
        names += printable(voter.name.c_str());
    }
    return names;
}

std::string figuresLine(const char* title, const UsageFigures& figures) {
    std::string line = std::string(title) + ": " + formatDuration(figures.onlineMs) + " online, ";
    const bool noneCounted = figures.uncountedSessions > 0 && figures.bytesIn == 0 &&
                             figures.bytesOut == 0 && figures.uncountedSessions == figures.sessions;
    if (noneCounted) {
        line += "bytes not counted";
    } else {
        line += formatBytes(figures.bytesIn) + " in, " + formatBytes(figures.bytesOut) + " out";
        if (figures.uncountedSessions > 0)
            line += " (" + std::to_string(figures.uncountedSessions) + " session(s) not counted)";
    }
    line += ", " + std::to_string(figures.sessions) + " session(s), " +
            std::to_string(figures.failedDials) + " failed dial(s)\n";
    return line;
}

Json figuresJson(const UsageFigures& figures) {
    return Json{{"onlineSeconds", figures.onlineMs / 1000},
                {"bytesIn", figures.bytesIn},
                {"bytesOut", figures.bytesOut},
                {"sessions", figures.sessions},
                {"failedDials", figures.failedDials},
                {"uncountedSessions", figures.uncountedSessions}};
}

Json periodJson(const PeriodUsage& period, bool withVoters) {
    Json json = figuresJson(period.figures);
    json["from"] = isoDate(period.from);
    if (withVoters) {
        Json voters = Json::array();
        for (const VoterFigures& voter : period.voters)
            voters.push_back({{"name", voter.name},
                              {"heldSeconds", voter.heldMs / 1000},
                              {"shareIn", voter.shareIn},
                              {"shareOut", voter.shareOut}});
        json["voters"] = std::move(voters);
    }
    return json;
}

std::string number(uint64_t value) {
    return std::to_string(value);
}

}  // namespace

std::string formatBytes(uint64_t bytes) {
    if (bytes < 1000)
        return std::to_string(bytes) + " bytes";
    if (bytes < 1000000)
        return formatted("%.1f kB", static_cast<double>(bytes) / 1e3);
    if (bytes < 1000000000)
        return formatted("%.1f MB", static_cast<double>(bytes) / 1e6);
    return formatted("%.2f GB", static_cast<double>(bytes) / 1e9);
}

std::string formatDuration(uint64_t milliseconds) {
    const uint64_t seconds = milliseconds / 1000;
    if (seconds < 60)
        return std::to_string(seconds) + " s";
    const uint64_t minutes = seconds / 60;
    if (minutes < 60)
        return std::to_string(minutes) + " min";
    char text[48];
    std::snprintf(text, sizeof text, "%" PRIu64 " h %02" PRIu64 " min", minutes / 60, minutes % 60);
    return text;
}

std::string sessionEndedLine(const SessionRecord& session) {
    std::string line = "Line session ended after " + formatDuration(session.onlineMs) + ": ";
    if (session.counted())
        line += formatBytes(session.bytesIn) + " in, " + formatBytes(session.bytesOut) + " out";
    else
        line += "bytes not counted";
    line += "; held by " +
            (session.voters.empty() ? std::string("nobody") : voterNames(session.voters));
    return line;
}

std::string usageText(const UsageReport& report) {
    std::string text;
    if (!report.problem.empty())
        text += "(only this run's figures: " + report.problem + ")\n";
    else if (!report.historyLoaded)
        text += "(the earlier figures are still being read)\n";
    text += figuresLine(("Today (" + isoDate(report.day.from) + ")").c_str(), report.day.figures);
    text += figuresLine(("This month (from " + isoDate(report.month.from) + ")").c_str(),
                        report.month.figures);
    text += figuresLine(("Last 30 days (from " + isoDate(report.last30.from) + ")").c_str(),
                        report.last30.figures);
    if (report.lineUp && report.interfaceName.empty())
        text += "The line is up; its bytes are not counted (no network interface known)\n";
    text += "Voters this month (time held, share of the bytes):\n";
    if (report.month.voters.empty())
        text += "  none\n";
    for (const VoterFigures& voter : report.month.voters) {
        text += "  " + printable(voter.name.c_str()) + ": " + formatDuration(voter.heldMs) + ", " +
                formatBytes(voter.shareIn) + " in, " + formatBytes(voter.shareOut) + " out\n";
    }
    return text;
}

Json usageJson(const UsageReport& report, bool withVoters) {
    Json days = Json::array();
    for (const DayUsage& day : report.days) {
        Json json = figuresJson(day.figures);
        json["date"] = isoDate(day.date);
        days.push_back(std::move(json));
    }
    return Json{{"historyLoaded", report.historyLoaded},
                {"problem", report.problem},
                {"today", periodJson(report.day, withVoters)},
                {"month", periodJson(report.month, withVoters)},
                {"last30Days", periodJson(report.last30, withVoters)},
                {"days", std::move(days)},
                {"lineUp", report.lineUp},
                {"counted", !report.lineUp || !report.interfaceName.empty()}};
}

std::string sessionsText(const std::vector<SessionRecord>& sessions, LocalTime& local) {
    if (sessions.empty())
        return "no sessions\n";
    std::string text;
    for (const SessionRecord& session : sessions) {
        text += local.minuteText(session.startMs / 1000) + "  ";
        if (session.ended == EndReason::Failed) {
            text += "failed";
            if (session.dials > 1)
                text += " (" + std::to_string(session.dials) + " dials)";
            if (!session.failure.empty())
                text += ": " + printable(session.failure.c_str());
            text += "\n";
            continue;
        }
        text += formatDuration(session.onlineMs) + " online, ";
        text += session.counted() ? formatBytes(session.bytesIn) + " in, " +
                                        formatBytes(session.bytesOut) + " out"
                                  : std::string("bytes not counted");
        text += ", ";
        text += session.ended ? endReasonName(*session.ended) : "open";
        if (!session.voters.empty())
            text += "; held by " + voterNames(session.voters);
        text += "\n";
    }
    return text;
}

std::string csvCell(std::string_view text) {
    std::string cell;
    if (!text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@' ||
                          text[0] == '\t' || text[0] == '\r'))
        cell += '\'';
    cell += text;
    if (cell.find_first_of(",\"\r\n") == std::string::npos)
        return cell;
    std::string quoted = "\"";
    for (char c : cell) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string sessionsCsv(const std::vector<SessionRecord>& sessions) {
    std::string csv =
        "session,start,end,dialling_seconds,online_seconds,bytes_in,bytes_out,dials,ended,"
        "failure,interface,voter,held_seconds,share_in,share_out\r\n";
    for (const SessionRecord& session : sessions) {
        std::string common =
            number(static_cast<uint64_t>(session.id)) + "," + isoUtc(session.startMs) + "," +
            (session.endMs != 0 ? isoUtc(session.endMs) : std::string()) + "," +
            number(session.diallingMs / 1000) + "," + number(session.onlineMs / 1000) + "," +
            number(session.bytesIn) + "," + number(session.bytesOut) + "," + number(session.dials) +
            "," + csvCell(session.ended ? endReasonName(*session.ended) : "open") + "," +
            csvCell(session.failure) + "," + csvCell(session.interfaceName) + ",";
        if (session.voters.empty()) {
            csv += common + ",,,\r\n";
            continue;
        }
        for (const VoterUsage& voter : session.voters) {
            csv += common + csvCell(voter.name) + "," + number(voter.heldMs / 1000) + "," +
                   number(voter.shareIn) + "," + number(voter.shareOut) + "\r\n";
        }
    }
    return csv;
}

}  // namespace linkmoot
