#pragma once
// The figures every view shows (linkmootctl usage, the web page, the tray's
// usage window), computed in one place from the closed sessions' history and
// the open session, so the views cannot disagree. Days and months are local
// (LocalTime); the sums are of 15-minute buckets.
#include <cstdint>
#include <string>
#include <vector>

#include "LocalTime.h"
#include "UsageHistory.h"

namespace linkmoot {

struct UsageFigures {
    uint64_t onlineMs = 0;
    uint64_t bytesIn = 0;
    uint64_t bytesOut = 0;
    uint32_t sessions = 0;
    uint32_t failedDials = 0;
    uint32_t uncountedSessions = 0;  ///< came up without counted bytes
    bool operator==(const UsageFigures&) const = default;
};

struct VoterFigures {
    std::string name;
    uint64_t heldMs = 0;
    uint64_t shareIn = 0;
    uint64_t shareOut = 0;
    bool operator==(const VoterFigures&) const = default;
};

struct PeriodUsage {
    CivilDate from;  ///< its first local day
    UsageFigures figures;
    std::vector<VoterFigures> voters;  ///< largest share first
    bool operator==(const PeriodUsage&) const = default;
};

struct DayUsage {
    CivilDate date;
    UsageFigures figures;
    bool operator==(const DayUsage&) const = default;
};

struct UsageReport {
    static constexpr int kChartDays = 30;

    /// The history of earlier runs is in (false until the database answered,
    /// or for good when there is none: then `problem` says why).
    bool historyLoaded = false;
    std::string problem;
    CivilDate today;
    PeriodUsage day;
    PeriodUsage month;
    PeriodUsage last30;
    std::vector<DayUsage> days;  ///< the last 30 local days, oldest first, today last
    /// The open session: the line is up now, on this interface ("" not counted).
    bool lineUp = false;
    std::string interfaceName;
    bool operator==(const UsageReport&) const = default;
};

/// The report at `nowSeconds` of the closed history and the open session
/// (null when none).
UsageReport composeReport(const UsageHistory& closed, const SessionRecord* open, LocalTime& local,
                          int64_t nowSeconds);

}  // namespace linkmoot
