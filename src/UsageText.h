#pragma once
// The usage figures as the views write them: the text and JSON of
// `linkmootctl usage` (the JSON is also the web page's /api/usage), the list
// and CSV of `linkmootctl sessions`, and the log line at a session's end.
// Units are decimal (1 MB = 10^6 bytes), as providers bill.
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "UsageRecord.h"
#include "UsageReport.h"

namespace linkmoot {

class LocalTime;

/// "18.3 MB", "950.0 kB", "2.41 GB", "120 bytes".
std::string formatBytes(uint64_t bytes);
/// "35 s", "42 min", "3 h 05 min".
std::string formatDuration(uint64_t milliseconds);

/// The Info line at the end of a session that came up.
std::string sessionEndedLine(const SessionRecord& session);

/// `linkmootctl usage`: today, this month, the last 30 days, the voters.
std::string usageText(const UsageReport& report);
/// The same as one object; voters' names and shares only `withVoters`.
nlohmann::json usageJson(const UsageReport& report, bool withVoters);

/// `linkmootctl sessions`: one line per session, local times.
std::string sessionsText(const std::vector<SessionRecord>& sessions, LocalTime& local);
/// RFC 4180 with a header: one row per session and voter (a session without
/// voters has one row with empty voter cells), times in UTC.
std::string sessionsCsv(const std::vector<SessionRecord>& sessions);
/// One CSV cell: quoted when it must be, and a text a spreadsheet would take
/// for a formula (=, +, -, @, tab, CR first) led by a '.
std::string csvCell(std::string_view text);

}  // namespace linkmoot
