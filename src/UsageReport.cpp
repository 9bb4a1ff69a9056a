#include "UsageReport.h"

#include <algorithm>
#include <map>

namespace linkmoot {

namespace {

void addBucket(UsageFigures& figures, const BucketTotals& totals) {
    figures.onlineMs += totals.onlineMs;
    figures.bytesIn += totals.bytesIn;
    figures.bytesOut += totals.bytesOut;
    figures.sessions += totals.sessions;
    figures.failedDials += totals.failedDials;
    figures.uncountedSessions += totals.uncounted;
}

void addFigures(UsageFigures& into, const UsageFigures& from) {
    into.onlineMs += from.onlineMs;
    into.bytesIn += from.bytesIn;
    into.bytesOut += from.bytesOut;
    into.sessions += from.sessions;
    into.failedDials += from.failedDials;
    into.uncountedSessions += from.uncountedSessions;
}

/// The local days from `first` to today and where each begins.
class DayGrid {
public:
    DayGrid(LocalTime& local, int64_t firstDay, int64_t lastDay) : firstDay(firstDay) {
        for (int64_t day = firstDay; day <= lastDay + 1; ++day)
            starts.push_back(local.startOf(civilFromDays(day)));
    }
    /// The index of the day holding `unixSeconds`; -1 outside.
    int indexOf(int64_t unixSeconds) const {
        auto after = std::upper_bound(starts.begin(), starts.end(), unixSeconds);
        if (after == starts.begin() || after == starts.end())
            return -1;
        return static_cast<int>(after - starts.begin()) - 1;
    }
    std::size_t size() const { return starts.size() - 1; }
    int64_t firstDay;

private:
    std::vector<int64_t> starts;  // one more than the days: the end of the last
};

std::vector<VoterFigures> sorted(std::map<std::string, VoterFigures>& voters) {
    std::vector<VoterFigures> list;
    for (auto& [name, voter] : voters)
        list.push_back(std::move(voter));
    std::stable_sort(list.begin(), list.end(), [](const VoterFigures& a, const VoterFigures& b) {
        const uint64_t shareA = a.shareIn + a.shareOut;
        const uint64_t shareB = b.shareIn + b.shareOut;
        return shareA != shareB ? shareA > shareB : a.heldMs > b.heldMs;
    });
    return list;
}

}  // namespace

UsageReport composeReport(const UsageHistory& closed, const SessionRecord* open, LocalTime& local,
                          int64_t nowSeconds) {
    UsageReport report;
    report.today = local.dateAt(nowSeconds);
    const int64_t today = daysFromCivil(report.today);
    const int64_t monthStart = daysFromCivil(CivilDate{report.today.year, report.today.month, 1});
    const int64_t chartStart = today - (UsageReport::kChartDays - 1);
    const DayGrid grid(local, std::min(monthStart, chartStart), today);

    std::vector<UsageFigures> perDay(grid.size());
    std::vector<std::map<std::string, VoterFigures>> votersPerDay(grid.size());
    auto addVoter = [&](int64_t start, const VoterUsage& voter) {
        const int index = grid.indexOf(start);
        if (index < 0)
            return;
        VoterFigures& kept = votersPerDay[static_cast<std::size_t>(index)][voter.name];
        kept.name = voter.name;
        kept.heldMs += voter.heldMs;
        kept.shareIn += voter.shareIn;
        kept.shareOut += voter.shareOut;
    };
    for (const auto& [start, totals] : closed.buckets) {
        const int index = grid.indexOf(start);
        if (index >= 0)
            addBucket(perDay[static_cast<std::size_t>(index)], totals);
    }
    for (const auto& [key, voter] : closed.voters)
        addVoter(key.first, voter);
    if (open != nullptr) {
        UsageHistory live;
        live.add(*open);
        for (const auto& [start, totals] : live.buckets) {
            const int index = grid.indexOf(start);
            if (index >= 0)
                addBucket(perDay[static_cast<std::size_t>(index)], totals);
        }
        for (const auto& [key, voter] : live.voters)
            addVoter(key.first, voter);
    }

    struct Period {
        PeriodUsage* usage;
        int64_t firstDay;
    };
    const Period periods[] = {
        {&report.day, today}, {&report.month, monthStart}, {&report.last30, chartStart}};
    for (const Period& period : periods) {
        period.usage->from = civilFromDays(period.firstDay);
        std::map<std::string, VoterFigures> voters;
        for (std::size_t i = 0; i < grid.size(); ++i) {
            if (grid.firstDay + static_cast<int64_t>(i) < period.firstDay)
                continue;
            addFigures(period.usage->figures, perDay[i]);
            for (const auto& [name, voter] : votersPerDay[i]) {
                VoterFigures& kept = voters[name];
                kept.name = name;
                kept.heldMs += voter.heldMs;
                kept.shareIn += voter.shareIn;
                kept.shareOut += voter.shareOut;
            }
        }
        period.usage->voters = sorted(voters);
    }
    for (int64_t day = chartStart; day <= today; ++day)
        report.days.push_back(
            {civilFromDays(day), perDay[static_cast<std::size_t>(day - grid.firstDay)]});
    return report;
}

}  // namespace linkmoot
