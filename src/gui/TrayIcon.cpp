#include "TrayIcon.h"

#include <QCursor>
#include <QMenu>

#include "StatusIcons.h"

namespace linkmoot {

TrayIcon::TrayIcon(const StatusIcons& icons, const CommandHandler& handler, QObject* parent)
    : QObject(parent), icons(icons), handler(handler) {
    connect(&tray, &QSystemTrayIcon::activated, this, &TrayIcon::onActivated);
}

TrayIcon::~TrayIcon() {
    // The tray must let go of the menus before they are destroyed.
    tray.setContextMenu(nullptr);
}

QMenu* TrayIcon::menu(bool serverMode) const {
    std::unique_ptr<QMenu>& slot = serverMode ? server : client;
    if (!slot) {
        slot = buildTrayMenu(serverMode, handler);
        if (serverMode) {
            showPageItem(slot.get(), pageItemShown);
            showCapItem(slot.get(), capItemShown);
        }
    }
    return slot.get();
}

void TrayIcon::update(const StatusSnapshot& snapshot) {
    // The icon first: its menu is not needed before the first click.
    if (!added || shown != snapshot.trayIcon)
        tray.setIcon(icons.icon(snapshot.trayIcon));
    shown = snapshot.trayIcon;
    const QString tooltip = QString::fromStdString(snapshot.tooltip);
    if (tray.toolTip() != tooltip)
        tray.setToolTip(tooltip);
    if (!added) {
        tray.show();
        added = true;
    }
    // The tray shows the context menu itself on a right click (and exports it
    // to hosts that draw their own); setting it again only when it changes
    // avoids re-exporting it on every tick.
    pageItemShown = !snapshot.pageAddresses.empty();
    capItemShown = snapshot.capHolds;
    if (server) {
        showPageItem(server.get(), pageItemShown);
        showCapItem(server.get(), capItemShown);
    }
    QMenu* wanted = menu(snapshot.serverMenu);
    if (tray.contextMenu() != wanted)
        tray.setContextMenu(wanted);
}

void TrayIcon::remove() {
    tray.hide();
    added = false;
}

QMenu* TrayIcon::currentMenu() const {
    QMenu* shownMenu = tray.contextMenu();
    return shownMenu ? shownMenu : clientMenu();
}

void TrayIcon::onActivated(QSystemTrayIcon::ActivationReason reason) {
    // A right click already opened the context menu; a left click opens the
    // same one at the cursor.
    if (reason != QSystemTrayIcon::Trigger)
        return;
    currentMenu()->popup(QCursor::pos());
}

}  // namespace linkmoot
