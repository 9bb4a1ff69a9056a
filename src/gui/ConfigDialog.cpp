#include "ConfigDialog.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMessageBox>

#include "Strings.h"

namespace linkmoot {

ConfigDialog::ConfigDialog(Settings settings, QWidget* parent)
    : QDialog(parent), settings(settings) {
    setModal(true);
}

QDialogButtonBox* ConfigDialog::makeButtons() {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &ConfigDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ConfigDialog::reject);
    return buttons;
}

void ConfigDialog::accept() {
    const StoreResult result = store();
    if (!result.ok) {
        refuse(result);
        return;
    }
    QDialog::accept();
}

void ConfigDialog::refuse(const StoreResult& result) {
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(loadString(StringId::Caption)),
                    QString::fromStdString(refusalText(result)), QMessageBox::Ok, this);
    box.exec();
    QWidget* widget = control(result.field);
    if (!widget)
        return;
    widget->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        edit->selectAll();
}

}  // namespace linkmoot
