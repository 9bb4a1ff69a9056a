// The client options dialog: load from a prepared tree, the check box that
// governs the address field, refusals in store order with the partial store,
// and the tab order.
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "ModalDriver.h"
#include "OptionsClientDialog.h"
#include "ToolBox/Config.h"

using namespace linkmoot;
using linkmoot::testing::ModalDriver;

namespace {

QString text(toolbox::ConfigSection* section, const char* name) {
    return QString::fromUtf8(section->getParameter(name)->asString());
}

}  // namespace

class OptionsClientDialogTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void loadsAPreparedTree() {
        toolbox::Config config;
        toolbox::ConfigSection* client = config.getRoot()->getSection("Client");
        client->getParameter("Server")->setString("gateway.lan");
        config.getRoot()->getParameter("Port")->setString("9010");
        client->getParameter("WakeOnLanMac")->setString("00:11:22:33:44:55");
        client->getParameter("AutoVote")->setBool(true);

        OptionsClientDialog dialog(config.getRoot());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Linkmoot configuration: Client options"));
        QCOMPARE(dialog.serverField()->text(), QStringLiteral("gateway.lan"));
        QCOMPARE(dialog.portField()->text(), QStringLiteral("9010"));
        QVERIFY(dialog.wakeOnLanBox()->isChecked());
        QCOMPARE(dialog.macField()->text(), QStringLiteral("00:11:22:33:44:55"));
        QVERIFY(dialog.macField()->isEnabled());
        QVERIFY(dialog.autoVoteBox()->isChecked());

        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(text(client, "Server"), QStringLiteral("gateway.lan"));
        QCOMPARE(text(config.getRoot(), "Port"), QStringLiteral("9010"));
        QCOMPARE(text(client, "WakeOnLanMac"), QStringLiteral("00:11:22:33:44:55"));
        QVERIFY(client->getBool("AutoVote", false));
    }

    // The list follows what the LAN offers without touching the typed text;
    // a server picked from it gives its address and its port.
    void listsTheServersFoundAndPicksOnesAddressAndPort() {
        toolbox::Config config;
        std::vector<FoundServer> found;
        OptionsClientDialog dialog(config.getRoot(), [&found] { return found; });
        dialog.serverField()->setText(QStringLiteral("typed"));
        QCOMPARE(dialog.serverChoice()->count(), 0);
        FoundServer gateway;
        gateway.name = "gw1";
        gateway.address = 0xC0000201;
        gateway.port = 9010;
        gateway.secret = true;
        found = {gateway};
        dialog.refreshServers();
        QCOMPARE(dialog.serverChoice()->count(), 1);
        QCOMPARE(dialog.serverChoice()->itemText(0),
                 QStringLiteral("gw1 (192.0.2.1, port 9010, signed votes)"));
        QCOMPARE(dialog.serverField()->text(), QStringLiteral("typed"));

        Q_EMIT dialog.serverChoice()->activated(0);
        QCOMPARE(dialog.serverField()->text(), QStringLiteral("192.0.2.1"));
        QCOMPARE(dialog.portField()->text(), QStringLiteral("9010"));
        dialog.accept();
        QCOMPARE(text(config.getRoot()->getSection("Client"), "Server"),
                 QStringLiteral("192.0.2.1"));
    }

    void freshTreeOpensWithTheDefaultPortAndWakeOnLanOff() {
        toolbox::Config config;
        OptionsClientDialog dialog(config.getRoot());
        QCOMPARE(dialog.serverField()->text(), QString());
        QCOMPARE(dialog.portField()->text(), QStringLiteral("9005"));
        QVERIFY(!dialog.wakeOnLanBox()->isChecked());
        QVERIFY(dialog.macField()->text().isEmpty());
        QVERIFY(!dialog.macField()->isEnabled());
        QVERIFY(!dialog.autoVoteBox()->isChecked());
        // Reading the port with its default stores it; the address is only created empty.
        QCOMPARE(text(config.getRoot(), "Port"), QStringLiteral("9005"));
        QVERIFY(!config.getRoot()->getSection("Client")->hasParameter("WakeOnLanMac"));
    }

    void checkBoxEnablesTheAddressFieldAndMovesTheFocus() {
        toolbox::Config config;
        OptionsClientDialog dialog(config.getRoot());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::mouseClick(dialog.wakeOnLanBox(), Qt::LeftButton);
        QVERIFY(dialog.wakeOnLanBox()->isChecked());
        QVERIFY(dialog.macField()->isEnabled());
        QCOMPARE(dialog.focusWidget(), dialog.macField());
        QTest::mouseClick(dialog.wakeOnLanBox(), Qt::LeftButton);
        QVERIFY(!dialog.macField()->isEnabled());
    }

    void refusesTheFirstEmptyFieldOnlyAndKeepsWhatWasStoredBefore() {
        toolbox::Config config;
        toolbox::ConfigSection* client = config.getRoot()->getSection("Client");
        OptionsClientDialog dialog(config.getRoot());
        dialog.show();
        ModalDriver driver;
        dialog.portField()->clear();

        dialog.accept();
        QCOMPARE(driver.boxes.size(), size_t(1));
        QCOMPARE(driver.boxes[0].text,
                 QStringLiteral("Please enter an IP address or name to specify the "
                                "Linkmoot server."));
        QCOMPARE(driver.boxes[0].icon, QMessageBox::Critical);
        QCOMPARE(driver.boxes[0].title, QStringLiteral("Linkmoot"));
        QCOMPARE(dialog.focusWidget(), dialog.serverChoice());
        QVERIFY(dialog.isVisible());

        dialog.serverField()->setText(QStringLiteral("10.0.0.1"));
        dialog.accept();
        QCOMPARE(driver.boxes.size(), size_t(2));
        QCOMPARE(driver.boxes[1].text,
                 QStringLiteral("Please enter a Linkmoot server port number (usually 9005)."));
        QCOMPARE(dialog.focusWidget(), dialog.portField());
        // The server field was stored before the port was refused.
        QCOMPARE(text(client, "Server"), QStringLiteral("10.0.0.1"));
        QVERIFY(dialog.isVisible());

        // Cancel now: the stored field stays stored.
        dialog.reject();
        QCOMPARE(text(client, "Server"), QStringLiteral("10.0.0.1"));
        QCOMPARE(text(config.getRoot(), "Port"), QStringLiteral("9005"));
    }

    void wakeOnLanPresentButEmptyOpensOnAndIsRefusedUntilTurnedOff() {
        toolbox::Config config;
        toolbox::ConfigSection* client = config.getRoot()->getSection("Client");
        client->getParameter("Server")->setString("gateway");
        client->getParameter("WakeOnLanMac")->setString("");
        OptionsClientDialog dialog(config.getRoot());
        QVERIFY(dialog.wakeOnLanBox()->isChecked());
        QVERIFY(dialog.macField()->isEnabled());
        QVERIFY(dialog.macField()->text().isEmpty());

        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.autoVoteBox()->setChecked(true);
        ModalDriver driver;
        dialog.accept();
        QCOMPARE(driver.boxes.size(), size_t(1));
        QCOMPARE(driver.boxes[0].text,
                 QStringLiteral("Please enter the Wake-on-LAN MAC address of the server."));
        QCOMPARE(dialog.focusWidget(), dialog.macField());
        // AutoVote comes after the refused field, so it is not stored yet.
        QVERIFY(!client->getBool("AutoVote", false));

        QTest::mouseClick(dialog.wakeOnLanBox(), Qt::LeftButton);
        dialog.accept();
        QCOMPARE(driver.boxes.size(), size_t(1));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!client->hasParameter("WakeOnLanMac"));
        QVERIFY(client->getBool("AutoVote", false));
    }

    void tabOrderFollowsTheForm() {
        toolbox::Config config;
        OptionsClientDialog dialog(config.getRoot());
        dialog.wakeOnLanBox()->setChecked(true);
        dialog.macField()->setEnabled(true);
        QList<QWidget*> order;
        QWidget* widget = dialog.serverChoice();
        do {
            // The combo box's own edit field is reached through the box.
            if ((widget->focusPolicy() & Qt::TabFocus) && widget != dialog.serverField())
                order << widget;
            widget = widget->nextInFocusChain();
        } while (widget != dialog.serverChoice());
        const QList<QWidget*> expected = {dialog.serverChoice(),   dialog.portField(),
                                          dialog.wakeOnLanBox(),   dialog.macField(),
                                          dialog.autoVoteBox(),    dialog.secretField(),
                                          dialog.generateButton(), dialog.notifyBox()};
        QCOMPARE(order.mid(0, expected.size()), expected);
        // Then the two buttons, in the order the desktop's style places them.
        const auto buttons = dialog.findChild<QDialogButtonBox*>();
        QCOMPARE(order.size(), expected.size() + 2);
        QVERIFY(order.contains(buttons->button(QDialogButtonBox::Ok)));
        QVERIFY(order.contains(buttons->button(QDialogButtonBox::Cancel)));
    }
};

QTEST_MAIN(OptionsClientDialogTest)
#include "OptionsClientDialogTest.moc"
