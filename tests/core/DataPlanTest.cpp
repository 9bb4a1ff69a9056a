#include "DataPlan.h"

#include <gtest/gtest.h>

namespace linkmoot {
namespace {

constexpr int64_t kDay = 86400;
const Cycle kCycle{1000 * kDay, 1030 * kDay};  // 30 days

TEST(DataPlanTest, FiguresForEachCapAndBothTogether) {
    struct Case {
        const char* what;
        uint64_t capBytes;
        bool countSent;
        uint32_t capMinutes;
        PlanUse use;
        int64_t now;  // days into the cycle
        double percent;
        bool reached;
        uint64_t budgetBytes, budgetMinutes, forecastBytes;
    };
    const uint64_t GB = 1000000000;
    const Case cases[] = {
        {"3 of 10 GB after 10 days",
         10 * GB,
         true,
         0,
         {2 * GB, 1 * GB, 0},
         10,
         30,
         false,
         7 * GB / 20,
         0,
         9 * GB},
        {"received bytes only",
         10 * GB,
         false,
         0,
         {3 * GB, 7 * GB, 0},
         15,
         30,
         false,
         7 * GB / 15,
         0,
         6 * GB},
        {"the time cap counts higher",
         10 * GB,
         true,
         600,
         {1 * GB, 0, 480 * 60},
         15,
         80,
         false,
         9 * GB / 15,
         120 / 15,
         2 * GB},
        {"exactly at the cap",
         10 * GB,
         true,
         0,
         {10 * GB, 0, 0},
         29,
         100,
         true,
         0,
         0,
         10 * GB * 30 / 29},
        {"past it", 10 * GB, true, 0, {12 * GB, 0, 0}, 20, 120, true, 0, 0, 18 * GB},
        {"no cap: figures, never reached", 0, true, 0, {5 * GB, 0, 0}, 10, 0, false, 0, 0, 15 * GB},
    };
    for (const Case& c : cases) {
        PlanLimits limits;
        limits.dataCapBytes = c.capBytes;
        limits.countSent = c.countSent;
        limits.timeCapMinutes = c.capMinutes;
        const PlanFigures figures = planFigures(limits, c.use, kCycle, kCycle.start + c.now * kDay);
        EXPECT_NEAR(figures.percent, c.percent, 0.01) << c.what;
        EXPECT_EQ(figures.reached, c.reached) << c.what;
        EXPECT_EQ(figures.dailyBudgetBytes, c.budgetBytes) << c.what;
        EXPECT_EQ(figures.dailyBudgetMinutes, c.budgetMinutes) << c.what;
        EXPECT_EQ(figures.forecastBytes, c.forecastBytes) << c.what;
    }
    // On the cycle's last evening the rest is today's.
    PlanLimits limits;
    limits.dataCapBytes = 10 * GB;
    EXPECT_EQ(planFigures(limits, {4 * GB, 0, 0}, kCycle, kCycle.end - 3600).dailyBudgetBytes,
              6 * GB);
}

// Each threshold once a cycle, a jump past several announces each; a cap
// raised in mid-cycle lets the thresholds above the new percentage come again.
TEST(DataPlanTest, ThresholdsAreAnnouncedOnceAndRearmedAboveANewPercentage) {
    PlanLimits limits;
    limits.dataCapBytes = 100;
    std::set<unsigned> announced;
    EXPECT_TRUE(thresholdsDue(limits, 79.9, announced).empty());
    EXPECT_EQ(thresholdsDue(limits, 95, announced), (std::vector<unsigned>{80, 90}));
    announced = {80, 90};
    EXPECT_TRUE(thresholdsDue(limits, 99, announced).empty());
    EXPECT_EQ(thresholdsDue(limits, 100, announced), std::vector<unsigned>{100});
    announced.insert(100);
    rearmThresholds(announced, 50);  // the cap doubled
    EXPECT_TRUE(announced.empty());
    announced = {80, 90, 100};
    rearmThresholds(announced, 85);
    EXPECT_EQ(announced, (std::set<unsigned>{80}));
    limits.dataCapBytes = 0;
    EXPECT_TRUE(thresholdsDue(limits, 500, {}).empty());  // no plan, no warnings
}

}  // namespace
}  // namespace linkmoot
