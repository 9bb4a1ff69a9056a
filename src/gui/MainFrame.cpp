#include "MainFrame.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QSystemTrayIcon>

#include "Linkmoot.h"
#include "MainView.h"
#include "Menus.h"
#include "Strings.h"
#include "TrayIcon.h"

namespace linkmoot {

MainFrame::MainFrame(QWidget* parent)
    : QMainWindow(parent), trayProbe([] { return QSystemTrayIcon::isSystemTrayAvailable(); }) {
    setWindowTitle(QStringLiteral("Unnamed - Linkmoot"));
    setWindowIcon(icons.icon(StatusIcon::Idle));
    resize(360, 240);

    tray = std::make_unique<TrayIcon>(icons, commandHandler());

    // Refresh has no menu item, only its key.
    auto* refreshAction = new QAction(this);
    refreshAction->setShortcut(QKeySequence(Qt::Key_F5));
    refreshAction->setData(static_cast<int>(Command::Refresh));
    connect(refreshAction, &QAction::triggered, this,
            [this] { Q_EMIT commandChosen(Command::Refresh); });
    addAction(refreshAction);

    // Qt's nested event loops (dialogs, message boxes, menus) keep delivering it.
    timer.setInterval(kTickMilliseconds);
    connect(&timer, &QTimer::timeout, this, &MainFrame::tickDue);
    timer.start();
}

MainFrame::~MainFrame() = default;

CommandHandler MainFrame::commandHandler() {
    return [this](int commandId) { Q_EMIT commandChosen(commandId); };
}

void MainFrame::ensureMenuBar() {
    // Built when the window is first shown: the window starts hidden, and a
    // menu bar loads the style's icons, which would delay the tray icon.
    if (menuBuilt)
        return;
    menuBuilt = true;
    buildMainMenu(menuBar(), commandHandler());
}

MainView& MainFrame::view() {
    // Made when the window is first shown, or asked for: the tray icon comes
    // before it.
    if (statusView == nullptr) {
        statusView = new MainView(icons, this);
        setCentralWidget(statusView);
        statusView->rebuild(latest);
    }
    return *statusView;
}

void MainFrame::showEvent(QShowEvent* event) {
    view();
    ensureMenuBar();
    QMainWindow::showEvent(event);
}

void MainFrame::refresh(const StatusSnapshot& snapshot) {
    if (closedForGood)
        return;
    // Snapshots change every second while votes count down; the window and
    // the tray are redrawn only when what they show changed.
    const bool drawn =
        refreshed && snapshot.rows == shownRows && snapshot.tooltip == shownTooltip &&
        snapshot.trayIcon == shownIcon && snapshot.serverMenu == shownServerMenu &&
        snapshot.pageAddresses == shownPageAddresses && snapshot.capHolds == shownCapHolds;
    latest = snapshot;
    if (drawn)
        return;
    shownRows = snapshot.rows;
    shownTooltip = snapshot.tooltip;
    shownIcon = snapshot.trayIcon;
    shownServerMenu = snapshot.serverMenu;
    shownPageAddresses = snapshot.pageAddresses;
    shownCapHolds = snapshot.capHolds;
    tray->update(snapshot);
    if (statusView != nullptr)
        statusView->rebuild(snapshot);
    if (!refreshed) {
        refreshed = true;
        if (!trayProbe())
            tellNoTray();
    }
}

void MainFrame::tellNoTray() {
    // Without a tray the window is the only way in, so it stays on screen.
    auto* box =
        new QMessageBox(QMessageBox::Information, QString::fromUtf8(loadString(StringId::Caption)),
                        QStringLiteral("This desktop offers no system tray, so Linkmoot "
                                       "shows its status window instead. Its menus hold "
                                       "every command; closing it ends Linkmoot."),
                        QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("noTrayMessage"));
    box->setModal(false);
    box->setAttribute(Qt::WA_DeleteOnClose);
    showStatus();
    box->show();
}

void MainFrame::showStatus() {
    showNormal();
    raise();
    activateWindow();
}

void MainFrame::hideStatus() {
    if (trayProbe())
        hide();
}

void MainFrame::closeForGood() {
    if (closedForGood)
        return;
    closedForGood = true;
    hide();
    timer.stop();
    tray->remove();
}

void MainFrame::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (closedForGood) {
        event->accept();
        return;
    }
    if (trayProbe()) {
        hide();
        return;
    }
    // No tray: nothing could reach a hidden window, so closing it is Exit.
    Q_EMIT commandChosen(Command::Exit);
}

void MainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && trayProbe()) {
        // Hidden, not minimised: the tray icon is the way back. Later, since
        // showMinimized() shows the window again after this event.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (isMinimized())
                    hide();
            },
            Qt::QueuedConnection);
    }
}

}  // namespace linkmoot
