#include "TrayIcon.h"

#include <QCursor>
#include <QMenu>

#include "StatusIcons.h"

namespace linkmoot {

TrayIcon::TrayIcon(const StatusIcons& icons, const CommandHandler& handler, QObject* parent)
    : QObject(parent),
      icons(icons),
      client(buildTrayMenu(false, handler)),
      server(buildTrayMenu(true, handler)) {
    connect(&tray, &QSystemTrayIcon::activated, this, &TrayIcon::onActivated);
}

TrayIcon::~TrayIcon() {
    // The tray must let go of the menus before they are destroyed.
    tray.setContextMenu(nullptr);
}

void TrayIcon::update(const StatusSnapshot& snapshot) {
    QMenu* menu = snapshot.serverMenu ? server.get() : client.get();
    showPageItem(server.get(), !snapshot.pageAddresses.empty());
    showCapItem(server.get(), snapshot.capHolds);
    // The tray shows the context menu itself on a right click (and exports it
    // to hosts that draw their own); setting it again only when it changes
    // avoids re-exporting it on every tick.
    if (tray.contextMenu() != menu)
        tray.setContextMenu(menu);
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
}

void TrayIcon::remove() {
    tray.hide();
    added = false;
}

QMenu* TrayIcon::currentMenu() const {
    QMenu* menu = tray.contextMenu();
    return menu ? menu : client.get();
}

void TrayIcon::onActivated(QSystemTrayIcon::ActivationReason reason) {
    // A right click already opened the context menu; a left click opens the
    // same one at the cursor.
    if (reason != QSystemTrayIcon::Trigger)
        return;
    currentMenu()->popup(QCursor::pos());
}

}  // namespace linkmoot
