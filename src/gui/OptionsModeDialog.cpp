#include "OptionsModeDialog.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace linkmoot {

namespace {

QLabel* explanation(const char* text, QWidget* parent) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setContentsMargins(24, 0, 0, 8);
    return label;
}

}  // namespace

OptionsModeDialog::OptionsModeDialog(Settings settings, QWidget* parent)
    : ConfigDialog(settings, parent) {
    setWindowTitle(QStringLiteral("Linkmoot configuration: Mode"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(QStringLiteral("Please select the appropriate mode for this computer."), this));

    clientRadio = new QRadioButton(QStringLiteral("&Client mode."), this);
    layout->addWidget(clientRadio);
    layout->addWidget(
        explanation("In your LAN, you are connected to a server\nwith a RAS dial-up "
                    "connection.\nYou want to vote for internet connection.",
                    this));
    serverRadio = new QRadioButton(QStringLiteral("&Server mode."), this);
    layout->addWidget(serverRadio);
    layout->addWidget(explanation(
        "You have a RAS dial-up you want to offer to clients.\nYou can also vote yourself.", this));

    // One group, so arrow keys move between the two; it may start with neither on.
    auto* group = new QButtonGroup(this);
    group->addButton(clientRadio);
    group->addButton(serverRadio);

    layout->addWidget(makeButtons());

    form.load(settings);
    clientRadio->setChecked(form.choice == ModeForm::Choice::Client);
    serverRadio->setChecked(form.choice == ModeForm::Choice::Server);
}

QWidget* OptionsModeDialog::control(int controlId) const {
    switch (controlId) {
        case ModeForm::ClientRadio:
            return clientRadio;
        case ModeForm::ServerRadio:
            return serverRadio;
        default:
            return nullptr;
    }
}

StoreResult OptionsModeDialog::store() {
    form.choice = clientRadio->isChecked()   ? ModeForm::Choice::Client
                  : serverRadio->isChecked() ? ModeForm::Choice::Server
                                             : ModeForm::Choice::None;
    return form.store(settings);
}

}  // namespace linkmoot
