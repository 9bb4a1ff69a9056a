#pragma once
// The data plan's own dialog, opened by the server options' "Data plan..."
// button: the Plan section's keys (PlanForm). OK stores them at once; a
// value that cannot be used is refused, its field focused and the reason said.
#include "ConfigDialog.h"
#include "PlanForm.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace linkmoot {

class PlanDialog : public ConfigDialog {
    Q_OBJECT
public:
    PlanDialog(Settings settings, QWidget* parent = nullptr);
    QWidget* control(int controlId) const override;

    QCheckBox* enabledBox() const { return enabled; }
    QLineEdit* dataCapField() const { return dataCap; }
    QCheckBox* monthlyBox() const { return monthly; }
    QCheckBox* everyNDaysBox() const { return everyNDays; }

protected:
    StoreResult store() override;

private:
    QCheckBox* enabled;
    QLineEdit* dataCap;
    QCheckBox* countSent;
    QLineEdit* timeCap;
    QCheckBox* monthly;
    QLineEdit* cycleDay;
    QCheckBox* everyNDays;
    QLineEdit* cycleDays;
    QLineEdit* cycleStart;
    QLineEdit* cycleHour;
    QLineEdit* warnPercents;
    QComboBox* atCap;
    QLineEdit* freeHours;
};

}  // namespace linkmoot
