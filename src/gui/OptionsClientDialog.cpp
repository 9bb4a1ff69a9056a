#include "OptionsClientDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "SharedSecret.h"
#include "platform/SodiumCrypto.h"

namespace linkmoot {

OptionsClientDialog::OptionsClientDialog(Settings settings, QWidget* parent)
    : ConfigDialog(settings, parent) {
    setWindowTitle(QStringLiteral("Linkmoot configuration: Client options"));
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Server"), this);
    auto* grid = new QGridLayout(group);

    auto* serverLabel = new QLabel(QStringLiteral("&IP address or name of the server:"), group);
    server = new QLineEdit(group);
    serverLabel->setBuddy(server);
    grid->addWidget(serverLabel, 0, 0);
    grid->addWidget(server, 0, 1);

    auto* portLabel = new QLabel(QStringLiteral("&Port of the server (default: 9005):"), group);
    port = new QLineEdit(group);
    portLabel->setBuddy(port);
    grid->addWidget(portLabel, 1, 0);
    grid->addWidget(port, 1, 1);

    wakeOnLan = new QCheckBox(QStringLiteral("&Wake on LAN (MAC address):"), group);
    mac = new QLineEdit(group);
    grid->addWidget(wakeOnLan, 2, 0);
    grid->addWidget(mac, 2, 1);

    autoVote = new QCheckBox(QStringLiteral("&Automatically vote on start"), group);
    grid->addWidget(autoVote, 3, 0, 1, 2);

    auto* secretLabel = new QLabel(QStringLiteral("Shared &secret (as on the server):"), group);
    secret = new QLineEdit(group);
    secret->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    secretLabel->setBuddy(secret);
    generate = new QPushButton(QStringLiteral("&Generate"), group);
    grid->addWidget(secretLabel, 4, 0);
    grid->addWidget(secret, 4, 1);
    grid->addWidget(generate, 4, 2);

    notify =
        new QCheckBox(QStringLiteral("&Notify when the server's line changes while voting"), group);
    grid->addWidget(notify, 5, 0, 1, 3);
    grid->setColumnMinimumWidth(1, 160);

    layout->addWidget(group);
    layout->addWidget(makeButtons());

    connect(generate, &QPushButton::clicked, this, [this] {
        secret->setEchoMode(QLineEdit::Normal);  // to be copied to the server
        secret->setText(QString::fromStdString(generateSecret(sodiumCrypto())));
    });
    connect(wakeOnLan, &QCheckBox::clicked, this, [this](bool on) {
        mac->setEnabled(on);
        if (on)
            mac->setFocus(Qt::OtherFocusReason);
    });

    form.load(settings);
    server->setText(QString::fromStdString(form.server));
    port->setText(QString::fromStdString(form.port));
    wakeOnLan->setChecked(form.wakeOnLan);
    mac->setText(QString::fromStdString(form.mac));
    mac->setEnabled(form.wakeOnLan);
    autoVote->setChecked(form.autoVote);
    secret->setText(QString::fromStdString(form.secret));
    notify->setChecked(form.notify);
}

QWidget* OptionsClientDialog::control(int controlId) const {
    switch (controlId) {
        case ClientOptionsForm::ServerField:
            return server;
        case ClientOptionsForm::PortField:
            return port;
        case ClientOptionsForm::WakeOnLanCheck:
            return wakeOnLan;
        case ClientOptionsForm::MacField:
            return mac;
        case ClientOptionsForm::AutoVoteCheck:
            return autoVote;
        case ClientOptionsForm::SecretField:
            return secret;
        case ClientOptionsForm::NotifyCheck:
            return notify;
        default:
            return nullptr;
    }
}

StoreResult OptionsClientDialog::store() {
    form.server = server->text().toStdString();
    form.port = port->text().toStdString();
    form.wakeOnLan = wakeOnLan->isChecked();
    form.mac = mac->text().toStdString();
    form.autoVote = autoVote->isChecked();
    form.secret = secret->text().toStdString();
    form.notify = notify->isChecked();
    return form.store(settings);
}

}  // namespace linkmoot
