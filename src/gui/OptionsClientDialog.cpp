#include "OptionsClientDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "Ipv4.h"
#include "SharedSecret.h"
#include "platform/SodiumCrypto.h"

namespace linkmoot {

OptionsClientDialog::OptionsClientDialog(Settings settings, FrontEnd::ServerLister servers,
                                         QWidget* parent)
    : ConfigDialog(settings, parent), lister(std::move(servers)) {
    setWindowTitle(QStringLiteral("Linkmoot configuration: Client options"));
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Server"), this);
    auto* grid = new QGridLayout(group);

    auto* serverLabel = new QLabel(QStringLiteral("&IP address or name of the server:"), group);
    server = new QComboBox(group);
    server->setEditable(true);
    server->setInsertPolicy(QComboBox::NoInsert);
    server->setToolTip(QStringLiteral(
        "Type a name or address, choose a server found on the LAN, or type auto for the one "
        "server found there"));
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

    connectControls();

    form.load(settings);
    server->setEditText(QString::fromStdString(form.server));
    refreshServers();
    port->setText(QString::fromStdString(form.port));
    wakeOnLan->setChecked(form.wakeOnLan);
    mac->setText(QString::fromStdString(form.mac));
    mac->setEnabled(form.wakeOnLan);
    autoVote->setChecked(form.autoVote);
    secret->setText(QString::fromStdString(form.secret));
    notify->setChecked(form.notify);
}

void OptionsClientDialog::connectControls() {
    connect(generate, &QPushButton::clicked, this, [this] {
        secret->setEchoMode(QLineEdit::Normal);  // to be copied to the server
        secret->setText(QString::fromStdString(generateSecret(sodiumCrypto())));
    });
    connect(wakeOnLan, &QCheckBox::clicked, this, [this](bool on) {
        mac->setEnabled(on);
        if (on)
            mac->setFocus(Qt::OtherFocusReason);
    });

    // A server picked from the list: its address, and its port.
    connect(server, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        if (index < 0 || static_cast<std::size_t>(index) >= shown.size())
            return;
        const FoundServer& picked = shown[static_cast<std::size_t>(index)];
        server->setEditText(QString::fromStdString(ipv4::format(picked.address)));
        port->setText(QString::number(picked.port));
    });
    if (lister) {
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, &OptionsClientDialog::refreshServers);
        timer->start(500);
    }
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

QLineEdit* OptionsClientDialog::serverField() const {
    return server->lineEdit();
}

void OptionsClientDialog::refreshServers() {
    std::vector<FoundServer> now = lister ? lister() : std::vector<FoundServer>();
    if (now == shown)
        return;
    shown = std::move(now);
    // The typed text stays: refilling the list must not overwrite it.
    const QString typed = server->currentText();
    server->clear();
    for (const FoundServer& found : shown)
        server->addItem(QString::fromStdString(describe(found)));
    server->setCurrentIndex(-1);
    server->setEditText(typed);
}

StoreResult OptionsClientDialog::store() {
    form.server = server->currentText().toStdString();
    form.port = port->text().toStdString();
    form.wakeOnLan = wakeOnLan->isChecked();
    form.mac = mac->text().toStdString();
    form.autoVote = autoVote->isChecked();
    form.secret = secret->text().toStdString();
    form.notify = notify->isChecked();
    return form.store(settings);
}

}  // namespace linkmoot
