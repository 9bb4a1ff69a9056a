#pragma once
// The data plan as the `Plan` section of the configuration gives it. Every key
// is off until set: without the section there is no plan and nothing changes.
// A value that cannot be used is named (to be logged at Error) and its key
// ignored, as if missing; the rest of the plan still holds.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "BillingCycle.h"
#include "DataPlan.h"
#include "Settings.h"

namespace linkmoot {

struct PlanConfig {
    PlanLimits limits;
    CycleRule cycle;
    FreeHours freeHours;
    bool active() const { return limits.any(); }
};

struct PlanReading {
    PlanConfig config;
    /// "Plan/DataCapMB: \"ten\" is not a whole number from 0 to 9999999; the key is ignored".
    std::vector<std::string> errors;
    /// Keys that were read but overruled (CycleDays beside CycleDay).
    std::vector<std::string> warnings;
    /// The section's texts as read, to tell a change of them.
    std::string fingerprint;
};

PlanReading readPlan(const Settings& settings);
/// "a cap of 100.0 MB (sent bytes count), monthly on day 1 at 00:00, warnings at 80, 90, 100 %,
/// at the cap: refuse" for the log.
std::string describePlan(const PlanConfig& config);

/// "80,90,100": whole percentages from 1 to 100; "" when they parse, else why.
std::string parseWarnPercents(std::string_view text, std::vector<unsigned>& percents);

/// What a provider says was used: "3.2GB", "800 MB", "1.5TB", "120000000B"
/// (decimal units) or "90min", "2h". False with why.
struct UsedAmount {
    bool minutes = false;  ///< online time rather than bytes
    uint64_t value = 0;    ///< bytes, or minutes
};
bool parseUsedAmount(std::string_view text, UsedAmount& amount, std::string& error);

/// "10.0 GB", "850.0 MB", "3.2 TB": one decimal, decimal units.
std::string bytesShort(uint64_t bytes);

}  // namespace linkmoot
