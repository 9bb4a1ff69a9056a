#pragma once
// The menus of the program: the menu bar of the status window (128) and the
// tray menus of client mode (139) and server mode (140). Every command item
// carries its command id (Linkmoot.h) as its data and is always enabled.
#include <QString>
#include <functional>
#include <memory>

class QAction;
class QMenu;
class QMenuBar;

namespace linkmoot {

using CommandHandler = std::function<void(int commandId)>;

/// Fills the menu bar; Exit, Configuration and Help get their shortcuts
/// (Alt+X, F10, F1), active while the window has the focus.
void buildMainMenu(QMenuBar* bar, const CommandHandler& handler);

/// The tray menu of a mode. Configuration and Help carry their shortcuts (F10,
/// F1) as the action's shortcut, not in the text, bound only while the menu
/// itself is open: the tray menu belongs to no window.
std::unique_ptr<QMenu> buildTrayMenu(bool serverMode, const CommandHandler& handler);

/// Shows or hides the server menu's "Show the page for phones..." (while the
/// web page is served).
void showPageItem(QMenu* trayMenu, bool visible);
/// Shows or hides "Allow over the cap..." (while the data cap holds the line).
void showCapItem(QMenu* trayMenu, bool visible);

/// The command id of an item, 0 for separators and submenus.
int commandOf(const QAction* action);

}  // namespace linkmoot
