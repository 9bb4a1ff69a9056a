#include "PlanSettings.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "ConfigCheck.h"
#include "TextTools.h"

namespace linkmoot {

namespace {

constexpr const char* kIgnored = "; the key is ignored";

/// Reads the plan's keys as the file holds them, without making anything.
class PlanKeys {
public:
    explicit PlanKeys(const Settings& settings)
        : section(configtree::findSection(settings.configRoot(), keys::kPlanSection)) {}

    /// The value, or null when the key is missing.
    std::unique_ptr<std::string> text(const char* name) {
        if (section == nullptr)
            return nullptr;
        std::unique_ptr<std::string> value = configtree::valueOf(section, name);
        if (value)
            reading.fingerprint += std::string(name) + "=" + *value + "\n";
        return value;
    }
    /// A number within its row's range; false (with the error) when it is not one.
    bool number(const char* name, int64_t& value) {
        std::unique_ptr<std::string> given = text(name);
        if (!given)
            return false;
        const KeyRow* row = keys::findRow(keys::kPlanSection, name);
        const std::string trimmed(trimBlanks(*given));
        char* end = nullptr;
        const long long parsed = std::strtoll(trimmed.c_str(), &end, 10);
        if (trimmed.empty() || *end != '\0' || parsed < row->min || parsed > row->max) {
            error(name, quoted(*given) + " is not a whole number from " + std::to_string(row->min) +
                            " to " + std::to_string(row->max));
            return false;
        }
        value = parsed;
        return true;
    }
    bool flag(const char* name, bool& value) {
        std::unique_ptr<std::string> given = text(name);
        if (!given)
            return false;
        const std::string_view trimmed = trimBlanks(*given);
        if (trimmed != "0" && trimmed != "1") {
            error(name, quoted(*given) + " is not 0 or 1");
            return false;
        }
        value = trimmed == "1";
        return true;
    }
    /// A text its row's check accepts.
    std::unique_ptr<std::string> checked(const char* name) {
        std::unique_ptr<std::string> given = text(name);
        if (!given)
            return nullptr;
        const KeyRow* row = keys::findRow(keys::kPlanSection, name);
        if (const std::string problem = row->problem(*given); !problem.empty()) {
            error(name, quoted(*given) + " is " + problem);
            return nullptr;
        }
        return given;
    }
    void error(const char* name, const std::string& why) {
        reading.errors.push_back(configtree::pathOf(keys::kPlanSection, name) + ": " + why +
                                 kIgnored);
    }

    toolbox::ConfigSection* section;
    PlanReading reading;
};

void readCycle(PlanKeys& keys, CycleRule& cycle) {
    int64_t number = 0;
    if (keys.number("CycleDay", number))
        cycle.day = static_cast<unsigned>(number);
    if (keys.number("CycleHour", number))
        cycle.hour = static_cast<unsigned>(number);
    const bool monthlyGiven =
        keys.section != nullptr && configtree::valueOf(keys.section, "CycleDay") != nullptr;
    std::unique_ptr<std::string> start = keys.checked("CycleStart");
    if (!keys.number("CycleDays", number)) {
        if (start)
            keys.reading.warnings.push_back(
                "Plan/CycleStart is set without Plan/CycleDays: the cycles are monthly");
        return;
    }
    CivilDate date;
    if (!start || !parseIsoDate(*start, date)) {
        keys.error("CycleDays", "given without a Plan/CycleStart date to count from");
        return;
    }
    cycle.kind = CycleRule::Kind::EveryNDays;
    cycle.days = static_cast<unsigned>(number);
    cycle.start = date;
    if (monthlyGiven)
        keys.reading.warnings.push_back(
            "Plan/CycleDays and Plan/CycleDay are both set: the cycles run every " +
            std::to_string(number) + " days from " + isoDate(date));
}

}  // namespace

PlanReading readPlan(const Settings& settings) {
    PlanKeys keys(settings);
    PlanConfig& config = keys.reading.config;
    int64_t number = 0;
    if (keys.number("DataCapMB", number))
        config.limits.dataCapBytes = static_cast<uint64_t>(number) * 1000000;
    keys.flag("CountSent", config.limits.countSent);
    if (keys.number("TimeCapMinutes", number))
        config.limits.timeCapMinutes = static_cast<uint32_t>(number);
    readCycle(keys, config.cycle);
    if (std::unique_ptr<std::string> percents = keys.checked("WarnPercents"))
        parseWarnPercents(*percents, config.limits.warnPercents);
    if (std::unique_ptr<std::string> atCap = keys.checked("AtCap")) {
        config.limits.atCap = *atCap == "refuse"   ? PlanLimits::AtCap::Refuse
                              : *atCap == "hangup" ? PlanLimits::AtCap::HangUp
                                                   : PlanLimits::AtCap::Warn;
    }
    if (std::unique_ptr<std::string> hours = keys.checked("FreeHours")) {
        std::string unused;
        FreeHours::parse(*hours, config.freeHours, unused);
    }
    return keys.reading;
}

std::string describePlan(const PlanConfig& config) {
    const PlanLimits& limits = config.limits;
    std::string text;
    if (limits.dataCapBytes != 0)
        text = "a cap of " + bytesShort(limits.dataCapBytes) +
               (limits.countSent ? " (sent bytes count)" : " (received bytes only)");
    if (limits.timeCapMinutes != 0)
        text += std::string(text.empty() ? "" : " and ") + "a cap of " +
                std::to_string(limits.timeCapMinutes) + " min online";
    const CycleRule& cycle = config.cycle;
    char hour[8];
    std::snprintf(hour, sizeof hour, "%02u:00", cycle.hour);
    text += cycle.kind == CycleRule::Kind::Monthly
                ? ", monthly on day " + std::to_string(cycle.day) + " at " + hour
                : ", every " + std::to_string(cycle.days) + " days from " + isoDate(cycle.start) +
                      " at " + hour;
    text += ", warnings at";
    for (std::size_t i = 0; i < limits.warnPercents.size(); ++i)
        text += (i == 0 ? " " : ", ") + std::to_string(limits.warnPercents[i]);
    text += " %, at the cap: ";
    text += limits.atCap == PlanLimits::AtCap::Refuse   ? "refuse"
            : limits.atCap == PlanLimits::AtCap::HangUp ? "hangup"
                                                        : "warn";
    if (!config.freeHours.empty())
        text += ", with free hours";
    return text;
}

std::string parseWarnPercents(std::string_view text, std::vector<unsigned>& percents) {
    std::vector<unsigned> parsed;
    std::size_t start = 0;
    while (start <= text.size() && !trimBlanks(text).empty()) {
        const std::size_t comma = text.find(',', start);
        const std::string item(trimBlanks(text.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start)));
        char* end = nullptr;
        const long value = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || value < 1 || value > 100)
            return "not a list of whole percentages from 1 to 100 such as 80,90,100";
        parsed.push_back(static_cast<unsigned>(value));
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    percents = parsed;
    return {};
}

bool parseUsedAmount(std::string_view text, UsedAmount& amount, std::string& error) {
    const std::string trimmed(trimBlanks(text));
    char* end = nullptr;
    const double value = std::strtod(trimmed.c_str(), &end);
    std::string unit(trimBlanks(std::string_view(end)));
    for (char& c : unit)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    struct Unit {
        const char* name;
        double factor;
        bool minutes;
    };
    static constexpr Unit kUnits[] = {{"b", 1, false},    {"kb", 1e3, false},  {"mb", 1e6, false},
                                      {"gb", 1e9, false}, {"tb", 1e12, false}, {"min", 1, true},
                                      {"h", 60, true}};
    if (end == trimmed.c_str() || !std::isfinite(value) || value < 0 || trimmed[0] == '-') {
        error = "not an amount such as 3.2GB or 90min";
        return false;
    }
    for (const Unit& known : kUnits) {
        if (unit != known.name)
            continue;
        const double scaled = std::round(value * known.factor);
        if (scaled > 1e15) {
            error = "more than any plan holds";
            return false;
        }
        amount.minutes = known.minutes;
        amount.value = static_cast<uint64_t>(scaled);
        return true;
    }
    error = "no unit: give B, kB, MB, GB or TB for bytes, min or h for online time";
    return false;
}

std::string bytesShort(uint64_t bytes) {
    const char* unit = "MB";
    double value = static_cast<double>(bytes) / 1e6;
    if (bytes >= 1000000000000ULL) {
        unit = "TB";
        value = static_cast<double>(bytes) / 1e12;
    } else if (bytes >= 1000000000ULL) {
        unit = "GB";
        value = static_cast<double>(bytes) / 1e9;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, unit);
    return text;
}

}  // namespace linkmoot
