#include "PlanDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace linkmoot {

namespace {

QLineEdit* addRow(QGridLayout* grid, int row, QWidget* label, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    grid->addWidget(label, row, 0);
    grid->addWidget(field, row, 1);
    if (auto* text = qobject_cast<QLabel*>(label))
        text->setBuddy(field);
    return field;
}

QLineEdit* addRow(QGridLayout* grid, int row, const char* label, QWidget* parent) {
    return addRow(grid, row, new QLabel(QString::fromUtf8(label), parent), parent);
}

QString text(const std::string& value) {
    return QString::fromStdString(value);
}

std::string text(const QLineEdit* field) {
    return field->text().trimmed().toStdString();
}

}  // namespace

PlanDialog::PlanDialog(Settings settings, QWidget* parent) : ConfigDialog(settings, parent) {
    setWindowTitle(QStringLiteral("Linkmoot configuration: Data plan"));
    auto* layout = new QVBoxLayout(this);
    enabled = new QCheckBox(QStringLiteral("&Follow a data plan (a cap per billing cycle)"), this);
    layout->addWidget(enabled);
    auto* grid = new QGridLayout;
    layout->addLayout(grid);
    dataCap = addRow(grid, 0, "Data &cap (MB of 10^6 bytes, 0: none):", this);
    countSent = new QCheckBox(QStringLiteral("&Sent bytes count too"), this);
    grid->addWidget(countSent, 1, 0, 1, 2);
    timeCap = addRow(grid, 2, "Online &time cap (minutes, 0: none):", this);
    monthly = new QCheckBox(QStringLiteral("&Monthly, on day (1-31):"), this);
    cycleDay = addRow(grid, 3, monthly, this);
    everyNDays = new QCheckBox(QStringLiteral("Every &N days (1-62):"), this);
    cycleDays = addRow(grid, 4, everyNDays, this);
    cycleStart = addRow(grid, 5, "   counted from the date (YYYY-MM-DD):", this);
    cycleHour = addRow(grid, 6, "Cycles begin at the local &hour (0-23):", this);
    warnPercents = addRow(grid, 7, "&Warn at (percent):", this);
    atCap = new QComboBox(this);
    atCap->addItem(QStringLiteral("only warn"), QStringLiteral("warn"));
    atCap->addItem(QStringLiteral("dial no new connection"), QStringLiteral("refuse"));
    atCap->addItem(QStringLiteral("hang up"), QStringLiteral("hangup"));
    auto* atCapLabel = new QLabel(QStringLiteral("&At the cap:"), this);
    atCapLabel->setBuddy(atCap);
    grid->addWidget(atCapLabel, 8, 0);
    grid->addWidget(atCap, 8, 1);
    freeHours = addRow(grid, 9, "&Free hours (00:00-06:00, ...):", this);
    layout->addWidget(makeButtons());

    PlanForm form;
    form.load(settings);
    enabled->setChecked(form.enabled);
    dataCap->setText(text(form.dataCapMB));
    countSent->setChecked(form.countSent);
    timeCap->setText(text(form.timeCapMinutes));
    monthly->setChecked(!form.everyNDays);
    everyNDays->setChecked(form.everyNDays);
    cycleDay->setText(text(form.cycleDay));
    cycleDays->setText(text(form.cycleDays));
    cycleStart->setText(text(form.cycleStart));
    cycleHour->setText(text(form.cycleHour));
    warnPercents->setText(text(form.warnPercents));
    atCap->setCurrentIndex(std::max(0, atCap->findData(text(form.atCap))));
    freeHours->setText(text(form.freeHours));
}

QWidget* PlanDialog::control(int controlId) const {
    switch (controlId) {
        case PlanForm::DataCapField:
            return dataCap;
        case PlanForm::TimeCapField:
            return timeCap;
        case PlanForm::CycleDayField:
            return cycleDay;
        case PlanForm::CycleHourField:
            return cycleHour;
        case PlanForm::CycleDaysField:
            return cycleDays;
        case PlanForm::CycleStartField:
            return cycleStart;
        case PlanForm::WarnPercentsField:
            return warnPercents;
        case PlanForm::AtCapField:
            return atCap;
        case PlanForm::FreeHoursField:
            return freeHours;
        case PlanForm::CycleKindChoice:
            return everyNDays;
        default:
            return nullptr;
    }
}

StoreResult PlanDialog::store() {
    PlanForm form;
    form.enabled = enabled->isChecked();
    form.dataCapMB = text(dataCap);
    form.countSent = countSent->isChecked();
    form.timeCapMinutes = text(timeCap);
    form.everyNDays = everyNDays->isChecked();
    form.bothKinds = everyNDays->isChecked() && monthly->isChecked();
    form.cycleDay = text(cycleDay);
    form.cycleDays = text(cycleDays);
    form.cycleStart = text(cycleStart);
    form.cycleHour = text(cycleHour);
    form.warnPercents = text(warnPercents);
    form.atCap = atCap->currentData().toString().toStdString();
    form.freeHours = text(freeHours);
    return form.store(settings);
}

}  // namespace linkmoot
