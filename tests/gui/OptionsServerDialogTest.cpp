// The server options dialog: load from a prepared tree, the connection list
// and the dial-up service that fills it, the check boxes, the refusals in
// store order with the partial store, and the tab order.
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <functional>
#include <map>
#include <thread>

#include "ModalDriver.h"
#include "OptionsServerDialog.h"
#include "PlanDialog.h"
#include "Strings.h"
#include "ToolBox/Config.h"

using namespace linkmoot;
using linkmoot::testing::ModalDriver;

namespace {

/// Dial-up services by name, recording what the dialog asked for.
struct Services {
    std::map<std::string, std::vector<DialEntry>> entries = {
        {"auto", {"Modem", {"dsl-provider", "pppoe"}, "Bluetooth phone"}},
        {"simulated", {"Simulated modem"}},
        {"ppp", {}},
    };
    std::vector<std::string> asked;
    /// Held answers wait for answerFromAnotherThread(), as a bus round trip would.
    bool hold = false;
    std::map<std::string, DialService::EntriesCallback> held;
    OptionsServerDialog::EntryLister lister() {
        return [this](const std::string& dialer, DialService::EntriesCallback done) {
            asked.push_back(dialer);
            if (hold)
                held[dialer] = std::move(done);
            else
                done(entries[dialer]);
        };
    }
    void answerFromAnotherThread(const std::string& dialer) {
        std::thread([done = held[dialer], names = entries[dialer]] { done(names); }).join();
    }
};

QString text(toolbox::ConfigSection* section, const char* name) {
    return QString::fromUtf8(section->getParameter(name)->asString());
}

QStringList items(const QComboBox* list) {
    QStringList names;
    for (int i = 0; i < list->count(); i++)
        names << list->itemText(i);
    return names;
}

struct Fixture {
    toolbox::Config config;
    toolbox::ConfigSection* root = config.getRoot();
    toolbox::ConfigSection* server = root->getSection("Server");
    Services services;
};

}  // namespace

class OptionsServerDialogTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void freshTreeOpensWithDefaultsAndNothingChosen() {
        Fixture fixture;
        OptionsServerDialog dialog(fixture.root, fixture.services.lister());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Linkmoot configuration: Server options"));
        QCOMPARE(dialog.portField()->text(), QStringLiteral("9005"));
        QCOMPARE(dialog.guardTimeField()->text(), QStringLiteral("3000"));
        QVERIFY(!dialog.reconnectBox()->isChecked());
        QVERIFY(dialog.reconnectField()->text().isEmpty());
        QVERIFY(!dialog.reconnectField()->isEnabled());
        QVERIFY(!dialog.shutdownBox()->isChecked());
        QVERIFY(dialog.shutdownField()->text().isEmpty());
        QVERIFY(!dialog.shutdownField()->isEnabled());
        QVERIFY(!dialog.alwaysConnectedBox()->isChecked());
        QVERIFY(dialog.userNameField()->text().isEmpty());
        QVERIFY(dialog.passwordField()->text().isEmpty());
        QCOMPARE(dialog.passwordField()->echoMode(), QLineEdit::Password);
        QCOMPARE(dialog.dialerList()->currentData().toString(), QStringLiteral("auto"));
        QCOMPARE(fixture.services.asked, std::vector<std::string>{"auto"});
        QVERIFY(!dialog.connectionList()->isEditable());
        QCOMPARE(items(dialog.connectionList()),
                 (QStringList{"Bluetooth phone", "dsl-provider (pppoe)", "Modem"}));
        QCOMPARE(dialog.connectionList()->currentIndex(), -1);
    }

    void okWithoutAConnectionIsRefusedAfterTheEarlierFieldsAreStored() {
        Fixture fixture;
        OptionsServerDialog dialog(fixture.root, fixture.services.lister());
        dialog.show();
        dialog.guardTimeField()->setText(QStringLiteral("1500"));
        dialog.alwaysConnectedBox()->setChecked(true);
        dialog.userNameField()->setText(QStringLiteral("me"));
        ModalDriver driver;
        dialog.accept();
        QCOMPARE(driver.boxes.size(), size_t(1));
        QCOMPARE(driver.boxes[0].text,
                 QStringLiteral("Please choose a RAS (dial-up) connection to be used."));
        QCOMPARE(driver.boxes[0].icon, QMessageBox::Critical);
        QCOMPARE(dialog.focusWidget(), dialog.connectionList());
        QVERIFY(dialog.isVisible());
        QCOMPARE(fixture.server->getLong("GuardTime", -1), 1500);
        QVERIFY(fixture.server->getBool("AlwaysConnected", false));
        QCOMPARE(text(fixture.server, "UserName"), QString());
        QCOMPARE(text(fixture.server, "Connection"), QString());

        // The list shows the type; the name alone is stored.
        dialog.connectionList()->setCurrentIndex(1);
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(text(fixture.server, "Connection"), QStringLiteral("dsl-provider"));
        QCOMPARE(text(fixture.server, "UserName"), QStringLiteral("me"));
        QCOMPARE(text(fixture.server, "Password"), QString());
    }

    void emptyConnectionListRefusesOk() {
        Fixture fixture;
        fixture.server->getParameter("Dialer")->setString("ppp");
        fixture.server->getParameter("Connection")->setString("Modem");
        OptionsServerDialog dialog(fixture.root, fixture.services.lister());
        QCOMPARE(dialog.connectionList()->count(), 0);
        dialog.show();
        ModalDriver driver;
        dialog.accept();
        QCOMPARE(driver.boxes.size(), size_t(1));
        QCOMPARE(driver.boxes[0].text,
                 QStringLiteral("Please choose a RAS (dial-up) connection to be used."));
        QVERIFY(dialog.isVisible());
        dialog.reject();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }

    void loadsAPreparedTreeAndStoresItBack() {
        Fixture fixture;
        fixture.root->getParameter("Port")->setString("9100");
        fixture.server->getParameter("GuardTime")->setLong(2500);
        fixture.server->getParameter("AutoReconnectMinutes")->setLong(45);
        fixture.server->getParameter("AlwaysConnected")->setBool(true);
        fixture.server->getParameter("Connection")->setString("mod");
        fixture.server->getParameter("UserName")->setString("alice");
        fixture.server->getParameter("Password")->setString("s3cret");
        OptionsServerDialog dialog(fixture.root, fixture.services.lister());
        QCOMPARE(dialog.portField()->text(), QStringLiteral("9100"));
        QCOMPARE(dialog.guardTimeField()->text(), QStringLiteral("2500"));
        QVERIFY(dialog.reconnectBox()->isChecked());
        QCOMPARE(dialog.reconnectField()->text(), QStringLiteral("45"));
        QVERIFY(dialog.reconnectField()->isEnabled());
        QVERIFY(!dialog.shutdownBox()->isChecked());
        QVERIFY(dialog.alwaysConnectedBox()->isChecked());
        // The stored name is matched as a prefix, without regard to case.
        QCOMPARE(dialog.connectionList()->currentText(), QStringLiteral("Modem"));
        QCOMPARE(dialog.userNameField()->text(), QStringLiteral("alice"));
        QCOMPARE(dialog.passwordField()->text(), QStringLiteral("s3cret"));

        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(text(fixture.root, "Port"), QStringLiteral("9100"));
        QCOMPARE(fixture.server->getLong("AutoReconnectMinutes", -1), 45);
        QVERIFY(!fixture.server->hasParameter("ShutDownMinutes"));
        QCOMPARE(text(fixture.server, "Connection"), QStringLiteral("Modem"));
        QCOMPARE(text(fixture.server, "Password"), QStringLiteral("s3cret"));
        QCOMPARE(text(fixture.server, "Dialer"), QStringLiteral("auto"));
    }

    void shutdownMinutesZeroOpensOnAndStoresZero() {
        Fixture fixture;
        fixture.server->getParameter("ShutDownMinutes")->setLong(0);
        fixture.server->getParameter("Connection")->setString("Modem");
        OptionsServerDialog dialog(fixture.root, fixture.services.lister());
        QVERIFY(dialog.shutdownBox()->isChecked());
        QCOMPARE(dialog.shutdownField()->text(), QStringLiteral("0"));
        QVERIFY(dialog.shutdownField()->isEnabled());
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(fixture.server->hasParameter("ShutDownMinutes"));
        QCOMPARE(fixture.server->getLong("ShutDownMinutes", -1), 0);
    }

    void numbersAreStoredLikeAtolAndThePortAsTyped() {
        Fixture fixture;
        fixture.server->getParameter("Connection")->setString("Modem");
        OptionsServerDialog dialog(fixture.root, fixture.services.lister());
        dialog.portField()->setText(QStringLiteral("abc"));
        dialog.guardTimeField()->clear();
        dialog.reconnectBox()->click();
        dialog.reconnectField()->setText(QStringLiteral(" 12min"));
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(text(fixture.root, "Port"), QStringLiteral("abc"));
        QCOMPARE(fixture.server->getLong("GuardTime", -1), 0);
        QCOMPARE(fixture.server->getLong("AutoReconnectMinutes", -1), 12);
    }

    void refusalsComeInStoreOrder() {
        Fixture fixture;
        fixture.server->getParameter("Connection")->setString("Modem");
        OptionsServerDialog dialog(fixture.root, fixture.services.lister());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::mouseClick(dialog.reconnectBox(), Qt::LeftButton);
        QCOMPARE(dialog.focusWidget(), dialog.reconnectField());
        QTest::mouseClick(dialog.shutdownBox(), Qt::LeftButton);
        QCOMPARE(dialog.focusWidget(), dialog.shutdownField());
        dialog.portField()->clear();

        ModalDriver driver;
        dialog.accept();
        dialog.portField()->setText(QStringLiteral("9005"));
        dialog.accept();
        QCOMPARE(dialog.focusWidget(), dialog.reconnectField());
        dialog.reconnectField()->setText(QStringLiteral("30"));
        dialog.accept();
        QCOMPARE(dialog.focusWidget(), dialog.shutdownField());
        // The reconnect minutes were stored before the shutdown minutes were refused.
        QCOMPARE(fixture.server->getLong("AutoReconnectMinutes", -1), 30);
        QVERIFY(!fixture.server->hasParameter("ShutDownMinutes"));
        dialog.shutdownField()->setText(QStringLiteral("20"));
        dialog.accept();

        QStringList texts;
        for (const ModalDriver::Box& box : driver.boxes)
            texts << box.text;
        QCOMPARE(texts,
                 (QStringList{"Please enter a Linkmoot server port number (usually 9005).",
                              "Please enter a dis- and reconnect timeout (minutes).",
                              "Please enter the number of minutes of no votes prior to shutting "
                              "down."}));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(fixture.server->getLong("ShutDownMinutes", -1), 20);
    }

    void uncheckedBoxesRemoveTheirKeys() {
        Fixture fixture;
        fixture.server->getParameter("AutoReconnectMinutes")->setLong(45);
        fixture.server->getParameter("ShutDownMinutes")->setLong(600);
        fixture.server->getParameter("Connection")->setString("Modem");
        OptionsServerDialog dialog(fixture.root, fixture.services.lister());
        dialog.reconnectBox()->click();
        dialog.shutdownBox()->click();
        QVERIFY(!dialog.reconnectField()->isEnabled());
        QVERIFY(!dialog.shutdownField()->isEnabled());
        dialog.accept();
        QVERIFY(!fixture.server->hasParameter("AutoReconnectMinutes"));
        QVERIFY(!fixture.server->hasParameter("ShutDownMinutes"));
    }

    void choosingAnotherServiceRefillsTheListAndIsStoredFirst() {
        Fixture fixture;
        fixture.server->getParameter("Connection")->setString("Simulated");
        OptionsServerDialog dialog(fixture.root, fixture.services.lister());
        QCOMPARE(dialog.connectionList()->currentIndex(), -1);
        const int simulated = dialog.dialerList()->findData(QStringLiteral("simulated"));
        QVERIFY(simulated >= 0);
        dialog.dialerList()->setCurrentIndex(simulated);
        QCOMPARE(fixture.services.asked, (std::vector<std::string>{"auto", "simulated"}));
        QCOMPARE(items(dialog.connectionList()), QStringList{"Simulated modem"});
        // The stored connection is selected again in the new list.
        QCOMPARE(dialog.connectionList()->currentIndex(), 0);

        dialog.show();
        dialog.portField()->clear();
        ModalDriver driver;
        dialog.accept();
        QCOMPARE(driver.boxes.size(), size_t(1));
        QCOMPARE(text(fixture.server, "Dialer"), QStringLiteral("simulated"));
        dialog.portField()->setText(QStringLiteral("9005"));
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(text(fixture.server, "Connection"), QStringLiteral("Simulated modem"));
    }

    void aListThatComesLaterFillsTheDialogAndAnAnswerForAnEarlierChoiceIsDropped() {
        Fixture fixture;
        fixture.server->getParameter("Connection")->setString("Modem");
        fixture.services.hold = true;
        OptionsServerDialog dialog(fixture.root, fixture.services.lister());
        // Meanwhile the stored connection stays chosen, so OK would keep it.
        QVERIFY(dialog.readingEntries());
        QCOMPARE(items(dialog.connectionList()), QStringList{"Modem"});
        QCOMPARE(dialog.connectionList()->currentIndex(), 0);

        dialog.dialerList()->setCurrentIndex(
            dialog.dialerList()->findData(QStringLiteral("simulated")));
        QCOMPARE(dialog.connectionList()->count(), 0);
        QCOMPARE(dialog.connectionList()->placeholderText(),
                 QStringLiteral("Reading the connections…"));
        fixture.services.answerFromAnotherThread("simulated");
        fixture.services.answerFromAnotherThread("auto");  // too late: another service is chosen
        QTRY_VERIFY(!dialog.readingEntries());
        QTest::qWait(150);
        QCOMPARE(items(dialog.connectionList()), QStringList{"Simulated modem"});
        QVERIFY(dialog.connectionList()->placeholderText().isEmpty());
    }

    void anUnknownStoredServiceIsKeptAsAChoice() {
        Fixture fixture;
        fixture.server->getParameter("Dialer")->setString("carrier-pigeon");
        OptionsServerDialog dialog(fixture.root, fixture.services.lister());
        QCOMPARE(dialog.dialerList()->currentData().toString(), QStringLiteral("carrier-pigeon"));
        QCOMPARE(fixture.services.asked, std::vector<std::string>{"carrier-pigeon"});
        QCOMPARE(dialog.dialerList()->count(), int(dialerChoices().size()) + 1);
    }

    void theWebPortIsRefusedAndFocusedUntilItIsAPort() {
        Fixture fixture;
        fixture.server->getParameter("Connection")->setString("Modem");
        OptionsServerDialog dialog(fixture.root, fixture.services.lister());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY(!dialog.webPortField()->isEnabled());
        QTest::mouseClick(dialog.webPageBox(), Qt::LeftButton);
        QCOMPARE(dialog.focusWidget(), dialog.webPortField());
        dialog.webPortField()->setText(QStringLiteral("70000"));

        ModalDriver driver;
        dialog.accept();
        QCOMPARE(dialog.focusWidget(), dialog.webPortField());
        QVERIFY(!fixture.server->hasParameter("WebPort"));
        dialog.webPortField()->setText(QStringLiteral("8080"));
        dialog.accept();
        QCOMPARE(driver.boxes.size(), std::size_t(1));
        QCOMPARE(driver.boxes[0].text, QString::fromUtf8(loadString(StringId::EnterWebPort)));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(fixture.server->getLong("WebPort", -1), 8080);
    }

    void tabOrderFollowsTheForm() {
        Fixture fixture;
        OptionsServerDialog dialog(fixture.root, fixture.services.lister());
        dialog.reconnectField()->setEnabled(true);
        dialog.shutdownField()->setEnabled(true);
        dialog.webPortField()->setEnabled(true);
        QList<QWidget*> order;
        QWidget* widget = dialog.portField();
        do {
            if (widget->focusPolicy() & Qt::TabFocus)
                order << widget;
            widget = widget->nextInFocusChain();
        } while (widget != dialog.portField());
        const QList<QWidget*> expected = {
            dialog.portField(),          dialog.guardTimeField(),  dialog.reconnectBox(),
            dialog.reconnectField(),     dialog.shutdownBox(),     dialog.shutdownField(),
            dialog.alwaysConnectedBox(), dialog.retryBackoffBox(), dialog.webPageBox(),
            dialog.webPortField(),       dialog.dialerList(),      dialog.connectionList(),
            dialog.userNameField(),      dialog.passwordField(),   dialog.allowedNetworksField(),
            dialog.secretField(),        dialog.generateButton()};
        QCOMPARE(order.mid(0, expected.size()), expected);
        QCOMPARE(order.size(), expected.size() + 3);  // Data plan..., OK, Cancel
    }

    void thePlanDialogRefusesWithTheFieldFocusedAndStoresOnlyWhatTheProgramReads() {
        toolbox::Config config;
        PlanDialog dialog(config.getRoot());
        dialog.show();
        QVERIFY(!dialog.enabledBox()->isChecked());  // no section: no plan
        dialog.enabledBox()->setChecked(true);
        dialog.dataCapField()->setText(QStringLiteral("10GB"));
        ModalDriver driver;
        dialog.accept();
        QCOMPARE(driver.boxes.size(), size_t(1));
        QVERIFY(
            driver.boxes[0].text.contains(QStringLiteral("not a whole number from 0 to 999999")));
        QCOMPARE(dialog.focusWidget(), dialog.dataCapField());
        QVERIFY(!config.getRoot()->hasSection("Plan"));

        dialog.dataCapField()->setText(QStringLiteral("10000"));
        dialog.everyNDaysBox()->setChecked(true);  // and monthly still checked
        dialog.accept();
        QCOMPARE(driver.boxes.size(), size_t(2));
        QVERIFY(driver.boxes[1].text.contains(QStringLiteral("not both")));
        QCOMPARE(dialog.focusWidget(), dialog.everyNDaysBox());

        dialog.everyNDaysBox()->setChecked(false);
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(text(config.getRoot()->getSection("Plan"), "DataCapMB"), QStringLiteral("10000"));
        QCOMPARE(text(config.getRoot()->getSection("Plan"), "CycleDay"), QStringLiteral("1"));
    }
};

QTEST_MAIN(OptionsServerDialogTest)
#include "OptionsServerDialogTest.moc"
