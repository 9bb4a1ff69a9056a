#pragma once
// The figures of a data plan for one moment: how much of the cycle's cap is
// used, whether the cap is reached, what is left for each remaining day, and
// where the cycle is heading. Pure arithmetic over what the usage counts give
// (the cycle's counted bytes and online time: free hours left out, the
// user's correction added); decimal units as providers bill (1 MB = 10^6 bytes).
#include <cstdint>
#include <set>
#include <vector>

#include "BillingCycle.h"

namespace linkmoot {

struct PlanLimits {
    enum class AtCap { Warn, Refuse, HangUp };
    uint64_t dataCapBytes = 0;    ///< 0: no cap on bytes
    bool countSent = true;        ///< sent bytes count as well as received ones
    uint32_t timeCapMinutes = 0;  ///< 0: no cap on online time
    std::vector<unsigned> warnPercents{80, 90, 100};
    AtCap atCap = AtCap::Warn;
    bool any() const { return dataCapBytes != 0 || timeCapMinutes != 0; }
};

/// What counted against the caps in the cycle so far.
struct PlanUse {
    uint64_t bytesIn = 0;
    uint64_t bytesOut = 0;
    uint64_t onlineSeconds = 0;
};

struct PlanFigures {
    uint64_t usedBytes = 0;    ///< in, and out when they count
    uint64_t usedMinutes = 0;  ///< whole minutes online
    /// Of the cap, in percent; with both caps the higher of the two.
    double percent = 0;
    bool reached = false;  ///< at or past a cap
    /// What is left divided by the days left (today included); 0 once reached.
    uint64_t dailyBudgetBytes = 0;
    uint64_t dailyBudgetMinutes = 0;
    /// This cycle's rate so far carried to its end.
    uint64_t forecastBytes = 0;
    uint64_t forecastMinutes = 0;
};

PlanFigures planFigures(const PlanLimits& limits, const PlanUse& use, const Cycle& cycle,
                        int64_t nowUtc);

/// The warning thresholds reached at `percent` that this cycle has not
/// announced yet, lowest first (a jump past several announces each).
std::vector<unsigned> thresholdsDue(const PlanLimits& limits, double percent,
                                    const std::set<unsigned>& announced);
/// After a change of the caps: thresholds above the new percentage may be
/// announced again.
void rearmThresholds(std::set<unsigned>& announced, double percent);

}  // namespace linkmoot
