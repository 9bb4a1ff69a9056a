// The mode dialog: which button the stored mode turns on, the refusal without
// a choice, and the stored mode.
#include <QRadioButton>
#include <QtTest>

#include "ModalDriver.h"
#include "OptionsModeDialog.h"
#include "ToolBox/Config.h"

using namespace linkmoot;
using linkmoot::testing::ModalDriver;

class OptionsModeDialogTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void loadTurnsOnTheStoredModeOnly_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("client");
        QTest::addColumn<bool>("server");
        QTest::newRow("server") << "server" << false << true;
        QTest::newRow("client") << "client" << true << false;
        QTest::newRow("capitalised") << "Server" << false << false;
        QTest::newRow("trailing blank") << "client " << false << false;
        QTest::newRow("empty") << "" << false << false;
    }

    void loadTurnsOnTheStoredModeOnly() {
        QFETCH(QString, mode);
        QFETCH(bool, client);
        QFETCH(bool, server);
        toolbox::Config config;
        config.getRoot()->getParameter("Mode")->setString(mode.toUtf8().constData());
        OptionsModeDialog dialog(config.getRoot());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Linkmoot configuration: Mode"));
        QCOMPARE(dialog.clientButton()->isChecked(), client);
        QCOMPARE(dialog.serverButton()->isChecked(), server);
    }

    void okWithoutAChoiceIsRefusedOnClientMode() {
        toolbox::Config config;
        OptionsModeDialog dialog(config.getRoot());
        dialog.show();
        ModalDriver driver;
        dialog.accept();
        QCOMPARE(driver.boxes.size(), size_t(1));
        QCOMPARE(driver.boxes[0].title, QStringLiteral("Linkmoot"));
        QCOMPARE(driver.boxes[0].text, QStringLiteral("Please select a mode for this computer."));
        QCOMPARE(driver.boxes[0].icon, QMessageBox::Critical);
        QCOMPARE(driver.boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(dialog.focusWidget(), dialog.clientButton());
        QCOMPARE(QString::fromUtf8(config.getRoot()->getParameter("Mode")->asString()), QString());

        dialog.serverButton()->click();
        dialog.accept();
        QCOMPARE(driver.boxes.size(), size_t(1));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(QString::fromUtf8(config.getRoot()->getParameter("Mode")->asString()),
                 QStringLiteral("server"));
    }

    void theButtonsExcludeEachOther() {
        toolbox::Config config;
        config.getRoot()->getParameter("Mode")->setString("server");
        OptionsModeDialog dialog(config.getRoot());
        dialog.clientButton()->click();
        QVERIFY(!dialog.serverButton()->isChecked());
        dialog.accept();
        QCOMPARE(QString::fromUtf8(config.getRoot()->getParameter("Mode")->asString()),
                 QStringLiteral("client"));
    }

    void cancelStoresNothing() {
        toolbox::Config config;
        config.getRoot()->getParameter("Mode")->setString("client");
        OptionsModeDialog dialog(config.getRoot());
        dialog.serverButton()->click();
        dialog.reject();
        QCOMPARE(QString::fromUtf8(config.getRoot()->getParameter("Mode")->asString()),
                 QStringLiteral("client"));
    }
};

QTEST_MAIN(OptionsModeDialogTest)
#include "OptionsModeDialogTest.moc"
