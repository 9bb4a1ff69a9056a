#include "DataPlan.h"

#include <algorithm>

namespace linkmoot {

namespace {

constexpr int64_t kDay = 86400;

uint64_t perDay(uint64_t left, int64_t secondsLeft) {
    // Today counts as a day: on the last evening the rest is today's.
    const int64_t days = std::max<int64_t>(1, (secondsLeft + kDay - 1) / kDay);
    return left / static_cast<uint64_t>(days);
}

uint64_t forecast(uint64_t used, int64_t elapsed, int64_t length) {
    if (elapsed <= 0)
        return used;
    return static_cast<uint64_t>(static_cast<double>(used) * static_cast<double>(length) /
                                 static_cast<double>(elapsed));
}

}  // namespace

PlanFigures planFigures(const PlanLimits& limits, const PlanUse& use, const Cycle& cycle,
                        int64_t nowUtc) {
    PlanFigures figures;
    figures.usedBytes = use.bytesIn + (limits.countSent ? use.bytesOut : 0);
    figures.usedMinutes = use.onlineSeconds / 60;
    const int64_t left = std::max<int64_t>(0, cycle.end - nowUtc);
    const int64_t elapsed = std::max<int64_t>(0, nowUtc - cycle.start);
    const int64_t length = cycle.end - cycle.start;
    figures.forecastBytes = forecast(figures.usedBytes, elapsed, length);
    figures.forecastMinutes = forecast(figures.usedMinutes, elapsed, length);
    if (limits.dataCapBytes != 0) {
        figures.percent = 100.0 * static_cast<double>(figures.usedBytes) /
                          static_cast<double>(limits.dataCapBytes);
        if (figures.usedBytes < limits.dataCapBytes)
            figures.dailyBudgetBytes = perDay(limits.dataCapBytes - figures.usedBytes, left);
    }
    if (limits.timeCapMinutes != 0) {
        figures.percent = std::max(figures.percent, 100.0 * static_cast<double>(use.onlineSeconds) /
                                                        (60.0 * limits.timeCapMinutes));
        if (figures.usedMinutes < limits.timeCapMinutes)
            figures.dailyBudgetMinutes = perDay(limits.timeCapMinutes - figures.usedMinutes, left);
    }
    figures.reached = limits.any() && figures.percent >= 100.0;
    if (figures.reached) {
        figures.dailyBudgetBytes = 0;
        figures.dailyBudgetMinutes = 0;
    }
    return figures;
}

std::vector<unsigned> thresholdsDue(const PlanLimits& limits, double percent,
                                    const std::set<unsigned>& announced) {
    std::vector<unsigned> due;
    if (!limits.any())
        return due;
    for (unsigned threshold : limits.warnPercents) {
        if (percent >= threshold && announced.count(threshold) == 0)
            due.push_back(threshold);
    }
    std::sort(due.begin(), due.end());
    due.erase(std::unique(due.begin(), due.end()), due.end());
    return due;
}

void rearmThresholds(std::set<unsigned>& announced, double percent) {
    for (auto threshold = announced.begin(); threshold != announced.end();) {
        if (*threshold > percent)
            threshold = announced.erase(threshold);
        else
            ++threshold;
    }
}

}  // namespace linkmoot
