// The Qt front end driving the real application object over fake network,
// clock and dial-up services: the tray follows the commands, the timer ticks
// under a modal dialog, the configuration flow runs through the real dialogs,
// questions, documents and Exit.
#include <QCheckBox>
#include <QDesktopServices>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>
#include <memory>

#include "GuiFrontEnd.h"
#include "Linkmoot.h"
#include "ModalDriver.h"
#include "OptionsClientDialog.h"
#include "OptionsModeDialog.h"
#include "Strings.h"
#include "ToolBox/Config.h"
#include "TrayIcon.h"
#include "WelcomeDialog.h"
#include "fakes/Fakes.h"
#include "mfctriext/TriExtApp.h"

using namespace linkmoot;
using linkmoot::testing::ModalDriver;

namespace {

/// Receives what the front end asks the desktop to open.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl& url) { urls << url; }
};

struct Fixture {
    QTemporaryDir home;
    fakes::FakeNetwork network;
    fakes::FakeClock clock;
    fakes::FakeDialServices dialers;
    fakes::FakeShutdown shutdown;
    std::unique_ptr<mfctriext::TriExtApp> store;
    std::unique_ptr<GuiFrontEnd> frontEnd;
    std::unique_ptr<Linkmoot> app;

    /// Built as the program builds it: the configuration, the front end, the
    /// application drawing on it, the window's wiring, the first snapshot.
    explicit Fixture(const char* mode = "client") {
        qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
        store = std::make_unique<mfctriext::TriExtApp>(getApplicationName());
        toolbox::ConfigSection* root = store->getConfigRoot();
        root->getParameter("Mode")->setString(mode);
        root->getParameter("Port")->setString("9005");
        root->getSection("Client")->getParameter("Server")->setString("127.0.0.1");
        frontEnd = std::make_unique<GuiFrontEnd>();
        app = std::make_unique<Linkmoot>(Settings(root),
                                         Services{network, clock, dialers, shutdown}, *frontEnd);
        driveCommands(frontEnd->frame(), *app);
        QObject::connect(&frontEnd->frame(), &MainFrame::tickDue, &frontEnd->frame(),
                         [this] { app->tick(); });
        frontEnd->refreshViews(app->latestStatus());
    }
    ~Fixture() {
        // The application goes first, as in the program: it may still refresh the views.
        app.reset();
        frontEnd.reset();
        store.reset();
    }
    toolbox::ConfigSection* root() { return store->getConfigRoot(); }
    TrayIcon& tray() { return frontEnd->frame().trayIcon(); }
    QString tooltip() { return tray().icon().toolTip(); }
    void trigger(QMenu* menu, const QString& text) {
        for (QAction* action : menu->actions()) {
            if (action->text() == text)
                action->trigger();
        }
    }
    QStringList sent() const {
        QStringList payloads;
        for (const auto& datagram : network.sent)
            payloads << QString::fromStdString(datagram.payload);
        return payloads;
    }
};

}  // namespace

class GuiFrontEndTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void withoutATrayTheStatusWindowShowsAtOnce() {
        // The offscreen platform has no tray.
        Fixture fixture;
        QVERIFY(fixture.frontEnd->frame().isVisible());
        QCOMPARE(fixture.tooltip(), QStringLiteral("Not voting for connection"));
        QCOMPARE(fixture.frontEnd->frame().windowTitle(), QStringLiteral("Unnamed - Linkmoot"));
    }

    void connectAndDisconnectFromTheTrayMenu() {
        Fixture fixture;
        fixture.app->refreshViews();
        QCOMPARE(fixture.tray().currentMenu(), fixture.tray().clientMenu());
        fixture.trigger(fixture.tray().clientMenu(), QStringLiteral("&Connect"));
        // The server's line is the tooltip's second line.
        QCOMPARE(fixture.tooltip(),
                 QStringLiteral("Voting for connection\nServer 127.0.0.1: waiting for an answer"));
        QCOMPARE(fixture.tray().shownIcon(), StatusIcon::Voting);
        fixture.trigger(fixture.tray().clientMenu(), QStringLiteral("&Disconnect"));
        QCOMPARE(fixture.tooltip().section('\n', 0, 0),
                 QStringLiteral("Not voting for connection"));
        QCOMPARE(fixture.tray().shownIcon(), StatusIcon::Idle);
        QCOMPARE(fixture.sent().size(), 2);
        QVERIFY(fixture.sent()[0].startsWith(QStringLiteral("vote:")));
        QVERIFY(fixture.sent()[1].startsWith(QStringLiteral("unvote:")));
    }

    void serverModeShowsTheServerMenuAndItsState() {
        Fixture fixture("server");
        fixture.trigger(fixture.tray().serverMenu()->actions()[3]->menu(),
                        QStringLiteral("&Enable"));
        QCOMPARE(fixture.tray().currentMenu(), fixture.tray().serverMenu());
        QCOMPARE(fixture.tooltip(), QStringLiteral("Disconnected - You are not voting"));
        fixture.trigger(fixture.tray().serverMenu()->actions()[3]->menu(),
                        QStringLiteral("&Disable"));
        QCOMPARE(fixture.tooltip(), QStringLiteral("Disabled"));
        QCOMPARE(fixture.tray().shownIcon(), StatusIcon::Disabled);
    }

    void ticksGoOnWhileAConfigurationDialogIsOpen() {
        Fixture fixture;
        const int before = fixture.app->getTickCounter();
        int ticksSeen = 0;
        QTimer watch;
        watch.setInterval(20);
        int last = before;
        connect(&watch, &QTimer::timeout, &watch, [&] {
            const int now = fixture.app->getTickCounter();
            if (now != last)
                ticksSeen++;
            last = now;
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog && ticksSeen >= 2)
                dialog->reject();
        });
        watch.start();
        QTimer::singleShot(10000, &watch, [] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                dialog->reject();
            }
        });
        QVERIFY(!fixture.frontEnd->showModeDialog(fixture.root()));
        QVERIFY(ticksSeen >= 2);
    }

    void configurationRunsThroughTheRealDialogs() {
        Fixture fixture("");
        fixture.trigger(fixture.tray().clientMenu(), QStringLiteral("&Connect"));
        QStringList shown;
        bool wakeOnLanWasOn = false;
        ModalDriver driver;
        driver.onWindow = [&](QWidget* window) {
            shown << window->windowTitle();
            if (auto* mode = qobject_cast<OptionsModeDialog*>(window)) {
                mode->clientButton()->click();
                mode->accept();
            } else if (auto* client = qobject_cast<OptionsClientDialog*>(window)) {
                client->serverField()->setText(QStringLiteral("gateway"));
                client->portField()->setText(QStringLiteral("9007"));
                // The vote stored an empty address, so the box opens on and refuses OK.
                wakeOnLanWasOn = client->wakeOnLanBox()->isChecked();
                client->accept();
                client->wakeOnLanBox()->click();
                client->accept();
            }
        };
        fixture.app->onCommand(Command::Configuration);
        QCOMPARE(shown, (QStringList{"Linkmoot configuration: Mode",
                                     "Linkmoot configuration: Client options"}));
        QVERIFY(wakeOnLanWasOn);
        QCOMPARE(driver.boxes.size(), size_t(1));
        QCOMPARE(driver.boxes[0].text, QString::fromUtf8(loadString(StringId::EnterWakeOnLanMac)));
        toolbox::ConfigSection* root = fixture.root();
        QCOMPARE(QString::fromUtf8(root->getParameter("Mode")->asString()),
                 QStringLiteral("client"));
        QCOMPARE(QString::fromUtf8(root->getParameter("Port")->asString()), QStringLiteral("9007"));
        QCOMPARE(QString::fromUtf8(root->getSection("Client")->getParameter("Server")->asString()),
                 QStringLiteral("gateway"));
        // A completed flow ends the vote, and the tray shows it.
        QCOMPARE(fixture.tooltip().section('\n', 0, 0),
                 QStringLiteral("Not voting for connection"));
    }

    void welcomeExitEndsStartUp() {
        Fixture fixture;
        fixture.root()->getParameter("Configured")->setBool(false);
        ModalDriver driver;
        QString title;
        driver.onWindow = [&title](QWidget* window) {
            title = window->windowTitle();
            if (auto* welcome = qobject_cast<WelcomeDialog*>(window))
                welcome->exitButton()->click();
        };
        QVERIFY(!fixture.app->initInstance());
        QCOMPARE(title, QStringLiteral("Welcome to the Linkmoot!"));
    }

    void questionsAreErrorBoxesAnsweredYesOrNo() {
        Fixture fixture;
        ModalDriver driver;
        driver.answer = QMessageBox::Yes;
        QVERIFY(fixture.frontEnd->askYesNo(StringId::QuestionServerCannotStart));
        driver.answer = QMessageBox::No;
        QVERIFY(!fixture.frontEnd->askYesNo(StringId::QuestionClientCannotConnect));
        QCOMPARE(driver.boxes.size(), size_t(2));
        QCOMPARE(driver.boxes[0].title, QStringLiteral("Linkmoot"));
        QCOMPARE(driver.boxes[0].icon, QMessageBox::Critical);
        QCOMPARE(driver.boxes[0].buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(driver.boxes[0].text,
                 QString::fromUtf8(loadString(StringId::QuestionServerCannotStart)));
        QCOMPARE(driver.boxes[1].text,
                 QString::fromUtf8(loadString(StringId::QuestionClientCannotConnect)));
    }

    void helpTermsAndWebSiteOpenThroughTheDesktop() {
        Fixture fixture;
        OpenedUrls opened;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &opened, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &opened, "open");
        fixture.app->onCommand(Command::Help);
        fixture.app->onCommand(Command::TermsAndConditions);
        fixture.app->onCommand(Command::WebSite);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(opened.urls.size(), 3);
        QVERIFY(opened.urls[0].isLocalFile());
        QVERIFY(opened.urls[0].toLocalFile().endsWith(QStringLiteral("/docs/help/index.html")));
        QVERIFY(opened.urls[1].toLocalFile().endsWith(QStringLiteral("/docs/Readme.txt")));
        QCOMPARE(opened.urls[2].scheme(), QStringLiteral("https"));
    }

    void theUsageWindowShowsThePlansFiguresOnlyWhileOneIsSet() {
        Fixture fixture("server");
        QMenu* server = fixture.tray().serverMenu()->actions()[3]->menu();
        fixture.trigger(server, QStringLiteral("&Enable"));
        fixture.app->tick();
        fixture.trigger(server, QStringLiteral("Usage..."));
        UsageWindow* window = fixture.frontEnd->usageWindow();
        QVERIFY(window != nullptr);
        QCOMPARE(window->planText(), QString());
        QVERIFY(window->figuresText().startsWith(QStringLiteral("Today")));

        // The window follows the Plan section as the next poll reads it.
        toolbox::ConfigSection* plan = fixture.root()->getSection("Plan");
        plan->getParameter("DataCapMB")->setString("100");
        plan->getParameter("AtCap")->setString("refuse");
        fixture.app->tick();
        window->refresh();
        const QString shown = window->planText();
        QVERIFY2(shown.contains(QStringLiteral("Used: 0.0 MB of 100.0 MB")), qPrintable(shown));
        QVERIFY(shown.contains(QStringLiteral("\nDaily budget: ")));
        QVERIFY(shown.contains(QStringLiteral("\nForecast: 0.0 MB by the end of the cycle")));
        QVERIFY(shown.contains(QStringLiteral("\nThis cycle: ")));
        QVERIFY(window->figuresText().startsWith(QStringLiteral("Today")));

        plan->getParameter("DataCapMB")->setString("0");
        fixture.app->tick();
        window->refresh();
        QCOMPARE(window->planText(), QString());
    }

    void exitClosesForGood() {
        Fixture fixture;
        fixture.app->onCommand(Command::Exit);
        QVERIFY(fixture.frontEnd->quitRequested());
        MainFrame& frame = fixture.frontEnd->frame();
        QVERIFY(frame.isClosedForGood());
        QVERIFY(!frame.isVisible());
        QVERIFY(!frame.tickTimer().isActive());
        QVERIFY(!fixture.tray().icon().isVisible());
    }
};

QTEST_MAIN(GuiFrontEndTest)
#include "GuiFrontEndTest.moc"
