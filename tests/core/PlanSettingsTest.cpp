#include "PlanSettings.h"

#include <gtest/gtest.h>

#include "fakes/Fakes.h"

namespace linkmoot {
namespace {

using fakes::FakeApplication;

PlanReading readWith(std::initializer_list<std::pair<const char*, const char*>> keys) {
    static FakeApplication app;  // the reading copies what it needs
    app.config.getRoot()->removeSection("Plan");
    for (const auto& [name, value] : keys)
        app.getConfigRoot()->getSection("Plan")->getParameter(name)->setString(value);
    return readPlan(app);
}

TEST(PlanSettingsTest, NoSectionIsNoPlan) {
    FakeApplication app;
    const PlanReading reading = readPlan(app);
    EXPECT_FALSE(reading.config.active());
    EXPECT_TRUE(reading.errors.empty());
    EXPECT_TRUE(reading.fingerprint.empty());
    EXPECT_FALSE(app.getConfigRoot()->hasSection("Plan"));  // reading makes nothing
}

TEST(PlanSettingsTest, ABadValueIsNamedAndItsKeyIgnored) {
    struct Case {
        const char* name;
        const char* value;
        const char* why;
    } const cases[] = {
        {"DataCapMB", "10GB", "\"10GB\" is not a whole number from 0 to 999999"},
        {"DataCapMB", "1000000", "is not a whole number from 0 to 999999"},
        {"TimeCapMinutes", "-5", "is not a whole number from 0 to 99999"},
        {"CountSent", "yes", "\"yes\" is not 0 or 1"},
        {"CycleDay", "32", "from 1 to 31"},
        {"CycleHour", "24", "from 0 to 23"},
        {"CycleDays", "0", "from 1 to 62"},
        {"CycleStart", "14.1.2026", "not a date such as 2026-01-14"},
        {"WarnPercents", "80,x", "whole percentages from 1 to 100"},
        {"WarnPercents", "0", "whole percentages from 1 to 100"},
        {"AtCap", "stop", "not one of warn, refuse or hangup"},
        {"FreeHours", "00:00-25:00", "not a list of windows"},
    };
    for (const Case& c : cases) {
        const PlanReading reading = readWith({{"DataCapMB", "500"}, {c.name, c.value}});
        ASSERT_EQ(reading.errors.size(), 1u) << c.name << "=" << c.value;
        EXPECT_NE(reading.errors[0].find(std::string("Plan/") + c.name + ": "), std::string::npos);
        EXPECT_NE(reading.errors[0].find(c.why), std::string::npos) << reading.errors[0];
        EXPECT_NE(reading.errors[0].find("the key is ignored"), std::string::npos);
        // Ignored: it reads as missing.
        const PlanReading plain = readWith({{"DataCapMB", "500"}});
        if (std::string(c.name) != "DataCapMB") {
            EXPECT_EQ(reading.config.limits.warnPercents, plain.config.limits.warnPercents);
            EXPECT_EQ(reading.config.limits.atCap, plain.config.limits.atCap);
            EXPECT_EQ(reading.config.cycle.day, plain.config.cycle.day);
            EXPECT_EQ(reading.config.limits.countSent, plain.config.limits.countSent);
        } else {
            EXPECT_EQ(reading.config.limits.dataCapBytes, 0u);
        }
    }
}

TEST(PlanSettingsTest, CycleDaysWinsOverCycleDayWithAWarning) {
    const PlanReading both = readWith({{"DataCapMB", "500"},
                                       {"CycleDay", "14"},
                                       {"CycleDays", "28"},
                                       {"CycleStart", "2026-01-05"}});
    EXPECT_EQ(both.config.cycle.kind, CycleRule::Kind::EveryNDays);
    EXPECT_EQ(both.config.cycle.days, 28u);
    ASSERT_EQ(both.warnings.size(), 1u);
    const PlanReading noStart = readWith({{"DataCapMB", "500"}, {"CycleDays", "28"}});
    EXPECT_EQ(noStart.config.cycle.kind, CycleRule::Kind::Monthly);
    ASSERT_EQ(noStart.errors.size(), 1u);
    EXPECT_NE(noStart.errors[0].find("CycleStart"), std::string::npos);
}

TEST(PlanSettingsTest, UsedAmounts) {
    struct Case {
        const char* text;
        bool parses;
        bool minutes;
        uint64_t value;
    } const cases[] = {
        {"3.2GB", true, false, 3200000000},
        {"800 MB", true, false, 800000000},
        {"1.5tb", true, false, 1500000000000},
        {"120B", true, false, 120},
        {"90min", true, true, 90},
        {"2h", true, true, 120},
        {"3.2", false, false, 0},
        {"-1GB", false, false, 0},
        {"GB", false, false, 0},
        {"1e30GB", false, false, 0},
        {"nanGB", false, false, 0},
    };
    for (const Case& c : cases) {
        UsedAmount amount;
        std::string error;
        EXPECT_EQ(parseUsedAmount(c.text, amount, error), c.parses) << c.text;
        if (c.parses) {
            EXPECT_EQ(amount.minutes, c.minutes) << c.text;
            EXPECT_EQ(amount.value, c.value) << c.text;
        } else {
            EXPECT_FALSE(error.empty()) << c.text;
        }
    }
}

}  // namespace
}  // namespace linkmoot
