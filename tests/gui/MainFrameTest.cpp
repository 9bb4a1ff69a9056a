// The main window with a scripted host: status rows, tray text and picture,
// the tray menu of the mode, hiding instead of closing, the window without a
// tray, the shortcuts, and the timer that keeps ticking under a modal box.
#include <QDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QtTest>

#include "Linkmoot.h"
#include "MainFrame.h"
#include "MainView.h"
#include "ModalDriver.h"
#include "TrayIcon.h"

using namespace linkmoot;

namespace {

/// The state the test scripts, and what the window signals.
struct ScriptedHost {
    StatusInput input;
    int ticks = 0;
    QList<int> commands;
};

struct Fixture {
    ScriptedHost host;
    MainFrame frame;
    explicit Fixture(bool tray = true) {
        frame.setTrayProbe([tray] { return tray; });
        QObject::connect(&frame, &MainFrame::tickDue, [this] { host.ticks++; });
        QObject::connect(&frame, &MainFrame::commandChosen,
                         [this](int commandId) { host.commands << commandId; });
    }
    /// Hands the window the snapshot of the scripted state.
    void refresh() { frame.refresh(computeStatus(host.input)); }
};

QStringList rowTexts(MainView& view) {
    QStringList texts;
    for (int i = 0; i < view.count(); i++)
        texts << view.item(i)->text();
    return texts;
}

}  // namespace

Q_DECLARE_METATYPE(linkmoot::StatusIcon)

class MainFrameTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void windowHasItsTitleAndARunningOneSecondTimer() {
        Fixture fixture;
        QCOMPARE(fixture.frame.windowTitle(), QStringLiteral("Unnamed - Linkmoot"));
        QVERIFY(fixture.frame.tickTimer().isActive());
        QCOMPARE(fixture.frame.tickTimer().interval(), 1000);
        QVERIFY(!fixture.frame.isVisible());
    }

    void trayTextAndPicture_data() {
        QTest::addColumn<bool>("serverMode");
        QTest::addColumn<bool>("started");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("voting");
        QTest::addColumn<int>("votes");
        QTest::addColumn<QString>("text");
        QTest::addColumn<StatusIcon>("icon");
        QTest::newRow("server up, voting")
            << true << true << true << true << 3 << "Connected (3 vote(s)) - You are voting"
            << StatusIcon::Voting;
        QTest::newRow("server up, not voting")
            << true << true << true << false << 1 << "Connected (1 vote(s)) - You are not voting"
            << StatusIcon::Connected;
        QTest::newRow("server down, voting")
            << true << true << false << true << 2 << "Disconnected - You are voting"
            << StatusIcon::Voting;
        QTest::newRow("server down, not voting")
            << true << true << false << false << 2 << "Disconnected - You are not voting"
            << StatusIcon::Idle;
        QTest::newRow("server disabled")
            << true << false << false << true << 0 << "Disabled" << StatusIcon::Disabled;
        QTest::newRow("client voting")
            << false << false << true << true << 0 << "Voting for connection" << StatusIcon::Voting;
        QTest::newRow("client not voting") << false << true << true << false << 0
                                           << "Not voting for connection" << StatusIcon::Idle;
    }

    void trayTextAndPicture() {
        QFETCH(bool, serverMode);
        QFETCH(bool, started);
        QFETCH(bool, connected);
        QFETCH(bool, voting);
        QFETCH(int, votes);
        QFETCH(QString, text);
        QFETCH(StatusIcon, icon);
        Fixture fixture;
        fixture.host.input = {serverMode, started, connected, voting, {}};
        for (int i = 0; i < votes; i++)
            fixture.host.input.votes.push_back("host" + std::to_string(i));
        fixture.refresh();

        TrayIcon& tray = fixture.frame.trayIcon();
        QCOMPARE(tray.icon().toolTip(), text);
        QCOMPARE(tray.shownIcon(), icon);
        QCOMPARE(tray.icon().icon().cacheKey(), fixture.frame.statusIcons().key(icon));
        QCOMPARE(tray.currentMenu(), serverMode ? tray.serverMenu() : tray.clientMenu());
    }

    void statusRowsFollowEveryRefresh() {
        Fixture fixture;
        fixture.host.input = {true, true, false, false, {"A", "B"}};
        fixture.refresh();
        MainView& view = fixture.frame.view();
        QCOMPARE(rowTexts(view),
                 (QStringList{"RAS dial-up is not connected.", "Vote from A", "Vote from B"}));
        QCOMPARE(view.rowIcon(0), StatusIcon::Idle);
        QCOMPARE(view.rowIcon(1), StatusIcon::Voting);
        QCOMPARE(view.rowIcon(2), StatusIcon::Voting);
        QCOMPARE(fixture.frame.trayIcon().icon().toolTip(),
                 QStringLiteral("Disconnected - You are not voting"));

        fixture.host.input.connected = true;
        fixture.host.input.votes = {"C"};
        fixture.refresh();
        QCOMPARE(rowTexts(view), (QStringList{"RAS dial-up is connected, votes:", "Vote from C"}));
        QCOMPARE(view.rowIcon(0), StatusIcon::Connected);

        fixture.host.input = {true, false, false, false, {}};
        fixture.refresh();
        QCOMPARE(rowTexts(view), QStringList{"Linkmoot server is disabled."});
        QCOMPARE(view.rowIcon(0), StatusIcon::Disabled);
    }

    void clickWithEitherButtonOpensTheMenuOfTheCurrentMode() {
        Fixture fixture;
        TrayIcon& tray = fixture.frame.trayIcon();
        fixture.refresh();
        QCOMPARE(tray.icon().contextMenu(), tray.clientMenu());
        tray.onActivated(QSystemTrayIcon::Trigger);
        QTRY_VERIFY(tray.clientMenu()->isVisible());
        tray.clientMenu()->hide();

        // The mode is read at every refresh; a right click shows the context menu.
        fixture.host.input.serverMode = true;
        fixture.host.input.started = true;
        fixture.refresh();
        QCOMPARE(tray.icon().contextMenu(), tray.serverMenu());
        tray.onActivated(QSystemTrayIcon::Trigger);
        QTRY_VERIFY(tray.serverMenu()->isVisible());
        tray.serverMenu()->hide();

        tray.onActivated(QSystemTrayIcon::DoubleClick);
        QVERIFY(!tray.serverMenu()->isVisible());
    }

    void trayMenuCommandsReachTheHost() {
        Fixture fixture;
        fixture.host.input.serverMode = true;
        fixture.refresh();
        for (QAction* action : fixture.frame.trayIcon().serverMenu()->actions()) {
            if (action->text() == QStringLiteral("&Connect"))
                action->trigger();
        }
        QCOMPARE(fixture.host.commands, QList<int>{Command::Connect});
    }

    void closingOrMinimisingHidesWhileATrayHoldsTheIcon() {
        Fixture fixture;
        fixture.refresh();
        fixture.frame.showStatus();
        QVERIFY(QTest::qWaitForWindowExposed(&fixture.frame));
        QVERIFY(fixture.frame.close() == false);
        QVERIFY(!fixture.frame.isVisible());

        fixture.frame.showStatus();
        QVERIFY(QTest::qWaitForWindowExposed(&fixture.frame));
        fixture.frame.showMinimized();
        QTRY_VERIFY(!fixture.frame.isVisible());
        fixture.frame.showStatus();
        QTRY_VERIFY(fixture.frame.isVisible());
        QVERIFY(!fixture.frame.isMinimized());

        QVERIFY(fixture.host.commands.isEmpty());
        QVERIFY(!fixture.frame.isClosedForGood());
        QVERIFY(fixture.frame.tickTimer().isActive());
    }

    void withoutATrayTheWindowStaysAndClosingItIsExit() {
        Fixture fixture(false);
        fixture.refresh();
        fixture.refresh();
        QVERIFY(fixture.frame.isVisible());
        const auto notes =
            fixture.frame.findChildren<QMessageBox*>(QStringLiteral("noTrayMessage"));
        QCOMPARE(notes.size(), 1);
        QVERIFY(notes.first()->isVisible());
        QVERIFY(!notes.first()->isModal());
        QCOMPARE(notes.first()->windowTitle(), QStringLiteral("Linkmoot"));

        // The application would hide the window after a client configuration: not without a tray.
        fixture.frame.hideStatus();
        QVERIFY(fixture.frame.isVisible());
        fixture.frame.showMinimized();
        QTest::qWait(50);
        QVERIFY(fixture.frame.isVisible());

        fixture.frame.close();
        QCOMPARE(fixture.host.commands, QList<int>{Command::Exit});
    }

    void closeForGoodStopsTheTimerAndRemovesTheIcon() {
        Fixture fixture;
        fixture.refresh();
        fixture.frame.showStatus();
        fixture.frame.closeForGood();
        QVERIFY(!fixture.frame.isVisible());
        QVERIFY(!fixture.frame.tickTimer().isActive());
        QVERIFY(!fixture.frame.trayIcon().icon().isVisible());
        fixture.host.input.votes = {"A", "B"};
        fixture.refresh();  // drawn no more
        QCOMPARE(fixture.frame.view().count(), 1);
        QVERIFY(fixture.frame.close());
    }

    void shortcutsWorkWhileTheWindowHasTheFocus() {
        Fixture fixture;
        fixture.refresh();
        fixture.frame.showStatus();
        QVERIFY(QTest::qWaitForWindowActive(&fixture.frame));
        QTest::keyClick(&fixture.frame, Qt::Key_F5);
        QTest::keyClick(&fixture.frame, Qt::Key_F1);
        QTest::keyClick(&fixture.frame, Qt::Key_F10);
        QTest::keyClick(&fixture.frame, Qt::Key_X, Qt::AltModifier);
        QCOMPARE(fixture.host.commands, (QList<int>{Command::Refresh, Command::Help,
                                                    Command::Configuration, Command::Exit}));
    }

    void timerKeepsTickingUnderAModalBox() {
        Fixture fixture;
        fixture.refresh();
        QDialog box(&fixture.frame);
        const int before = fixture.host.ticks;
        QTimer poll;
        poll.setInterval(20);
        connect(&poll, &QTimer::timeout, &box, [&] {
            if (fixture.host.ticks >= before + 2)
                box.accept();
        });
        poll.start();
        QTimer::singleShot(10000, &box, &QDialog::reject);  // a stuck timer ends the test
        QCOMPARE(box.exec(), int(QDialog::Accepted));
        QVERIFY(fixture.host.ticks >= before + 2);
    }
};

QTEST_MAIN(MainFrameTest)
#include "MainFrameTest.moc"
