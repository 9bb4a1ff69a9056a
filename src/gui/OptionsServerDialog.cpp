#include "OptionsServerDialog.h"

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

#include "PlanDialog.h"
#include "SharedSecret.h"
#include "ToolBox/Config.h"
#include "platform/SodiumCrypto.h"

namespace linkmoot {

namespace {

QLineEdit* addField(QGridLayout* grid, int row, const char* label, QWidget* parent) {
    auto* caption = new QLabel(QString::fromUtf8(label), parent);
    auto* field = new QLineEdit(parent);
    caption->setBuddy(field);
    grid->addWidget(caption, row, 0);
    grid->addWidget(field, row, 1);
    return field;
}

QLineEdit* addCheckedField(QGridLayout* grid, int row, QCheckBox* box, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    grid->addWidget(box, row, 0);
    grid->addWidget(field, row, 1);
    return field;
}

void bindCheckToField(QCheckBox* box, QLineEdit* field) {
    QObject::connect(box, &QCheckBox::clicked, field, [field](bool on) {
        field->setEnabled(on);
        if (on)
            field->setFocus(Qt::OtherFocusReason);
    });
}

QComboBox* addList(QGridLayout* grid, int row, const char* label, QWidget* parent) {
    auto* caption = new QLabel(QString::fromUtf8(label), parent);
    auto* list = new QComboBox(parent);
    list->setEditable(false);
    list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    caption->setBuddy(list);
    grid->addWidget(caption, row, 0);
    grid->addWidget(list, row, 1);
    return list;
}

}  // namespace

OptionsServerDialog::OptionsServerDialog(Settings settings, EntryLister entries, QWidget* parent)
    : ConfigDialog(settings, parent), entries(std::move(entries)) {
    setWindowTitle(QStringLiteral("Linkmoot configuration: Server options"));
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    layout->addLayout(grid);

    port = addField(grid, 0, "&Port of the server (default: 9005):", this);
    guardTime = addField(grid, 1, "&Guard time after hangup (msecs):", this);
    reconnect = new QCheckBox(QStringLiteral("Auto dis- and &reconnect (minutes):"), this);
    reconnectMinutes = addCheckedField(grid, 2, reconnect, this);
    shutdown = new QCheckBox(QStringLiteral("&Shutdown if no votes (minutes):"), this);
    shutdownMinutes = addCheckedField(grid, 3, shutdown, this);
    alwaysConnected = new QCheckBox(
        QStringLiteral("Alwa&ys connected (no client votes required, use with care!)"), this);
    grid->addWidget(alwaysConnected, 4, 0, 1, 2);
    retryBackoff = new QCheckBox(
        QStringLiteral("Wait &longer after each failed dial (5 s, doubling up to 5 minutes)"),
        this);
    grid->addWidget(retryBackoff, 5, 0, 1, 2);
    webPage = new QCheckBox(QStringLiteral("&Web page for phones and tablets on port:"), this);
    webPort = addCheckedField(grid, 6, webPage, this);
    grid->setColumnMinimumWidth(1, 120);

    auto* group = new QGroupBox(QStringLiteral("Connection properties"), this);
    auto* groupGrid = new QGridLayout(group);
    dialer = addList(groupGrid, 0, "&Dial-up service:", group);
    connection = addList(groupGrid, 1, "&Connection:", group);
    userName = addField(groupGrid, 2, "&User name:", group);
    password = addField(groupGrid, 3, "P&assword:", group);
    password->setEchoMode(QLineEdit::Password);
    groupGrid->setColumnStretch(1, 1);
    layout->addWidget(group);

    auto* voters = new QGroupBox(QStringLiteral("Voters"), this);
    auto* votersGrid = new QGridLayout(voters);
    allowedNetworks = addField(votersGrid, 0, "Allowed &networks (empty: private ones):", voters);
    allowedNetworks->setPlaceholderText(QStringLiteral("192.168.1.0/24, 10.0.0.0/8"));
    secret = addField(votersGrid, 1, "Shared s&ecret (16 characters or more):", voters);
    secret->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    generate = new QPushButton(QStringLiteral("&Generate"), voters);
    votersGrid->addWidget(generate, 1, 2);
    votersGrid->setColumnStretch(1, 1);
    layout->addWidget(voters);
    // The plan has a dialog of its own, stored on its own OK.
    auto* planButton = new QPushButton(QStringLiteral("Data &plan..."), this);
    layout->addWidget(planButton, 0, Qt::AlignLeft);
    connect(planButton, &QPushButton::clicked, this, [this] {
        PlanDialog plan(this->settings, this);
        plan.exec();
    });
    layout->addWidget(makeButtons());
    connect(generate, &QPushButton::clicked, this, [this] {
        secret->setEchoMode(QLineEdit::Normal);  // to be copied to the clients
        secret->setText(QString::fromStdString(generateSecret(sodiumCrypto())));
    });

    bindCheckToField(reconnect, reconnectMinutes);
    bindCheckToField(shutdown, shutdownMinutes);
    bindCheckToField(webPage, webPort);

    // The service's list may take a while (NetworkManager is asked over the
    // bus); the dialog stays usable meanwhile and fills the list when it comes.
    entriesTimer = new QTimer(this);
    entriesTimer->setInterval(50);
    connect(entriesTimer, &QTimer::timeout, this, &OptionsServerDialog::takeEntries);
    showForm();

    connect(dialer, &QComboBox::currentIndexChanged, this, &OptionsServerDialog::onDialerChosen);
}

void OptionsServerDialog::showForm() {
    form.load(settings, {});

    port->setText(QString::fromStdString(form.port));
    guardTime->setText(QString::fromStdString(form.guardTime));
    reconnect->setChecked(form.autoReconnect);
    reconnectMinutes->setText(QString::fromStdString(form.reconnectMinutes));
    reconnectMinutes->setEnabled(form.autoReconnect);
    shutdown->setChecked(form.shutdown);
    shutdownMinutes->setText(QString::fromStdString(form.shutdownMinutes));
    shutdownMinutes->setEnabled(form.shutdown);
    alwaysConnected->setChecked(form.alwaysConnected);
    retryBackoff->setChecked(form.retryBackoff);
    webPage->setChecked(form.webPage);
    webPort->setText(QString::fromStdString(form.webPort));
    webPort->setEnabled(form.webPage);
    for (const DialerChoice& choice : dialerChoices()) {
        dialer->addItem(QString::fromUtf8(choice.label), QString::fromUtf8(choice.value));
    }
    int chosen = dialer->findData(QString::fromStdString(form.dialer));
    if (chosen < 0) {
        // A value typed into the file by hand stays choosable and is kept.
        dialer->addItem(QString::fromStdString(form.dialer), QString::fromStdString(form.dialer));
        chosen = dialer->count() - 1;
    }
    dialer->setCurrentIndex(chosen);
    requestEntries(true);
    userName->setText(QString::fromStdString(form.userName));
    password->setText(QString::fromStdString(form.password));
    allowedNetworks->setText(QString::fromStdString(form.allowedNetworks));
    secret->setText(QString::fromStdString(form.secret));
}

void OptionsServerDialog::showConnections() {
    connection->clear();
    for (const DialEntry& entry : form.connections) {
        connection->addItem(QString::fromStdString(connectionLabel(entry)));
    }
    connection->setCurrentIndex(form.selected);
}

void OptionsServerDialog::requestEntries(bool keepStoredChoice) {
    auto answer = std::make_shared<EntriesAnswer>();
    pendingEntries = answer;  // an answer for an earlier choice is dropped
    // Until the list comes, the stored connection stays chosen, so OK keeps it.
    const std::string stored = settings.get(keys::Connection);
    std::vector<DialEntry> provisional;
    if (keepStoredChoice && !stored.empty())
        provisional.push_back(stored);
    form.setEntries(settings, provisional);
    connection->setPlaceholderText(QStringLiteral("Reading the connections…"));
    showConnections();
    entries(form.dialer, [answer](std::vector<DialEntry> listed) {
        std::lock_guard<std::mutex> lock(answer->mutex);
        answer->entries = std::move(listed);
    });
    takeEntries();
    if (pendingEntries)
        entriesTimer->start();
}

void OptionsServerDialog::takeEntries() {
    if (!pendingEntries)
        return;
    std::vector<DialEntry> listed;
    {
        std::lock_guard<std::mutex> lock(pendingEntries->mutex);
        if (!pendingEntries->entries)
            return;
        listed = std::move(*pendingEntries->entries);
    }
    pendingEntries.reset();
    entriesTimer->stop();
    form.setEntries(settings, std::move(listed));
    connection->setPlaceholderText(QString());
    showConnections();
}

void OptionsServerDialog::onDialerChosen() {
    form.dialer = dialer->currentData().toString().toStdString();
    requestEntries(false);
}

QWidget* OptionsServerDialog::control(int controlId) const {
    switch (controlId) {
        case ServerOptionsForm::PortField:
            return port;
        case ServerOptionsForm::GuardTimeField:
            return guardTime;
        case ServerOptionsForm::AutoReconnectCheck:
            return reconnect;
        case ServerOptionsForm::ReconnectField:
            return reconnectMinutes;
        case ServerOptionsForm::ShutdownCheck:
            return shutdown;
        case ServerOptionsForm::ShutdownField:
            return shutdownMinutes;
        case ServerOptionsForm::AlwaysConnectedCheck:
            return alwaysConnected;
        case ServerOptionsForm::RetryBackoffCheck:
            return retryBackoff;
        case ServerOptionsForm::DialerChoice:
            return dialer;
        case ServerOptionsForm::ConnectionList:
            return connection;
        case ServerOptionsForm::UserNameField:
            return userName;
        case ServerOptionsForm::PasswordField:
            return password;
        case ServerOptionsForm::WebPageCheck:
            return webPage;
        case ServerOptionsForm::WebPortField:
            return webPort;
        case ServerOptionsForm::AllowedNetworksField:
            return allowedNetworks;
        case ServerOptionsForm::SecretField:
            return secret;
        default:
            return nullptr;
    }
}

StoreResult OptionsServerDialog::store() {
    form.dialer = dialer->currentData().toString().toStdString();
    form.port = port->text().toStdString();
    form.guardTime = guardTime->text().toStdString();
    form.autoReconnect = reconnect->isChecked();
    form.reconnectMinutes = reconnectMinutes->text().toStdString();
    form.shutdown = shutdown->isChecked();
    form.shutdownMinutes = shutdownMinutes->text().toStdString();
    form.alwaysConnected = alwaysConnected->isChecked();
    form.retryBackoff = retryBackoff->isChecked();
    form.selected = connection->currentIndex();
    form.userName = userName->text().toStdString();
    form.password = password->text().toStdString();
    form.webPage = webPage->isChecked();
    form.webPort = webPort->text().toStdString();
    form.allowedNetworks = allowedNetworks->text().toStdString();
    form.secret = secret->text().toStdString();
    return form.store(settings);
}

}  // namespace linkmoot
