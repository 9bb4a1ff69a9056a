#include "PlanForm.h"

#include <memory>
#include <utility>

#include "ConfigCheck.h"
#include "PlanSettings.h"
#include "Strings.h"
#include "ToolBox/Config.h"

namespace linkmoot {

namespace {

struct Entry {
    const char* name;
    PlanForm::Field field;
};

constexpr Entry kFields[] = {
    {"DataCapMB", PlanForm::DataCapField},         {"TimeCapMinutes", PlanForm::TimeCapField},
    {"CycleDay", PlanForm::CycleDayField},         {"CycleHour", PlanForm::CycleHourField},
    {"CycleDays", PlanForm::CycleDaysField},       {"CycleStart", PlanForm::CycleStartField},
    {"WarnPercents", PlanForm::WarnPercentsField}, {"AtCap", PlanForm::AtCapField},
    {"FreeHours", PlanForm::FreeHoursField},
};

/// The form's keys, as they go into the file ("" values are left out).
std::vector<std::pair<const char*, std::string>> keysOf(const PlanForm& form) {
    std::vector<std::pair<const char*, std::string>> keys = {
        {"DataCapMB", form.dataCapMB.empty() ? "0" : form.dataCapMB},
        {"CountSent", form.countSent ? "1" : "0"},
        {"TimeCapMinutes", form.timeCapMinutes.empty() ? "0" : form.timeCapMinutes},
        {"CycleHour", form.cycleHour},
        {"WarnPercents", form.warnPercents},
        {"AtCap", form.atCap},
        {"FreeHours", form.freeHours},
    };
    if (form.everyNDays) {
        keys.emplace_back("CycleDays", form.cycleDays);
        keys.emplace_back("CycleStart", form.cycleStart);
    } else {
        keys.emplace_back("CycleDay", form.cycleDay);
    }
    return keys;
}

}  // namespace

void PlanForm::load(const Settings& settings) {
    toolbox::ConfigSection* section =
        configtree::findSection(settings.configRoot(), keys::kPlanSection);
    enabled = section != nullptr;
    if (section == nullptr)
        return;
    const auto read = [section](const char* name, std::string& value) {
        if (std::unique_ptr<std::string> given = configtree::valueOf(section, name))
            value = *given;
    };
    read("DataCapMB", dataCapMB);
    read("TimeCapMinutes", timeCapMinutes);
    std::string sent = countSent ? "1" : "0";
    read("CountSent", sent);
    countSent = sent != "0";
    read("CycleDay", cycleDay);
    read("CycleHour", cycleHour);
    read("CycleDays", cycleDays);
    read("CycleStart", cycleStart);
    read("WarnPercents", warnPercents);
    read("AtCap", atCap);
    read("FreeHours", freeHours);
    everyNDays = !cycleDays.empty();
}

StoreResult PlanForm::store(const Settings& settings) const {
    toolbox::ConfigSection* root = settings.configRoot();
    if (!enabled) {
        root->removeSection(keys::kPlanSection);
        return {};
    }
    if (bothKinds)
        return StoreResult::refused(CycleKindChoice, StringId::CorrectDataPlan,
                                    "A cycle is either monthly (a day of the month) or every N "
                                    "days from a date, not both.");
    // Checked exactly as the program will read them.
    toolbox::Config scratch;
    for (const auto& [name, value] : keysOf(*this))
        scratch.getRoot()
            ->getSection(keys::kPlanSection)
            ->getParameter(name)
            ->setString(value.c_str());
    const PlanReading reading = readPlan(Settings(scratch.getRoot()));
    if (!reading.errors.empty()) {
        const std::string& error = reading.errors.front();
        Field field = DataCapField;
        for (const Entry& entry : kFields) {
            if (error.rfind(std::string("Plan/") + entry.name + ":", 0) == 0)
                field = entry.field;
        }
        return StoreResult::refused(field, StringId::CorrectDataPlan,
                                    error.substr(0, error.rfind("; the key is ignored")));
    }
    if (!reading.config.active())
        return StoreResult::refused(DataCapField, StringId::CorrectDataPlan,
                                    "Set a cap on bytes or on online time (or no data plan).");
    root->removeSection(keys::kPlanSection);
    for (const auto& [name, value] : keysOf(*this)) {
        if (!value.empty())
            root->getSection(keys::kPlanSection)->getParameter(name)->setString(value.c_str());
    }
    return {};
}

}  // namespace linkmoot
