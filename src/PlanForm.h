#pragma once
// The data plan's form, as the "Data plan..." dialog and the terminal prompts
// fill it: the Plan section's keys as texts. store() checks the values as
// the program reads them (PlanSettings) and refuses the first that cannot be
// used, naming its field and why; nothing is written then.
#include <string>

#include "DialogForms.h"
#include "Settings.h"

namespace linkmoot {

struct PlanForm {
    enum Field {
        DataCapField = 1101,
        TimeCapField,
        CycleDayField,
        CycleHourField,
        CycleDaysField,
        CycleStartField,
        WarnPercentsField,
        AtCapField,
        FreeHoursField,
        CycleKindChoice,
    };
    bool enabled = false;  ///< false: the section is removed, no plan
    std::string dataCapMB;
    bool countSent = true;
    std::string timeCapMinutes;
    /// Cycles of N days from a start date, else monthly; a dialog that has
    /// both kinds filled in refuses them (`bothKinds`).
    bool everyNDays = false;
    bool bothKinds = false;
    std::string cycleDay = "1";
    std::string cycleHour = "0";
    std::string cycleDays;
    std::string cycleStart;
    std::string warnPercents = "80,90,100";
    std::string atCap = "warn";
    std::string freeHours;

    void load(const Settings& settings);
    StoreResult store(const Settings& settings) const;
};

}  // namespace linkmoot
