#pragma once
// The tray icon: picture and tooltip of the status, and the popup menu of the
// current mode (139 for client, 140 for server), opened at the cursor by a
// click with either button.
#include <QObject>
#include <QSystemTrayIcon>
#include <memory>

#include "Menus.h"
#include "StatusModel.h"

class QMenu;

namespace linkmoot {

class StatusIcons;

class TrayIcon : public QObject {
    Q_OBJECT
public:
    TrayIcon(const StatusIcons& icons, const CommandHandler& handler, QObject* parent = nullptr);
    ~TrayIcon() override;

    /// Sets picture, tooltip and menu; the first call also shows the icon.
    void update(const StatusSnapshot& snapshot);
    /// Removes the icon from the tray (at exit).
    void remove();

    /// The menu a click opens now.
    QMenu* currentMenu() const;
    /// Each menu is built when first needed: the icon comes before both.
    QMenu* clientMenu() const { return menu(false); }
    QMenu* serverMenu() const { return menu(true); }
    QSystemTrayIcon& icon() { return tray; }
    StatusIcon shownIcon() const { return shown; }

    /// What a click on the icon does; public so tests can click without a tray.
    void onActivated(QSystemTrayIcon::ActivationReason reason);

private:
    QMenu* menu(bool serverMode) const;

    const StatusIcons& icons;
    CommandHandler handler;
    mutable std::unique_ptr<QMenu> client;
    mutable std::unique_ptr<QMenu> server;
    // The server menu's page and cap items, also for a menu made later.
    bool pageItemShown = false;
    bool capItemShown = false;
    QSystemTrayIcon tray;
    bool added = false;
    StatusIcon shown = StatusIcon::Idle;
};

}  // namespace linkmoot
