#include "Menus.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "Linkmoot.h"

namespace linkmoot {

namespace {

QAction* addCommand(QMenu* menu, const char* text, int commandId, const CommandHandler& handler,
                    const QKeySequence& shortcut = {}) {
    QAction* action = menu->addAction(QString::fromUtf8(text));
    action->setData(commandId);
    if (!shortcut.isEmpty())
        action->setShortcut(shortcut);
    QObject::connect(action, &QAction::triggered, menu,
                     [handler, commandId] { handler(commandId); });
    return action;
}

// A tray item's shortcut goes in the action, not after a TAB in its text: a
// StatusNotifierItem host shows the text of the exported menu as it is and
// draws the dbusmenu shortcut itself, and Qt's own menu draws the shortcut
// after the text. It is bound only inside the open menu: the tray menu
// belongs to no window.
void addTrayShortcut(QAction* action, const QKeySequence& shortcut) {
    action->setShortcut(shortcut);
    action->setShortcutContext(Qt::WidgetShortcut);
    action->setShortcutVisibleInContextMenu(true);
}

void addOptionsItems(QMenu* menu, const CommandHandler& handler) {
    addTrayShortcut(addCommand(menu, "&Configuration...", Command::Configuration, handler),
                    QKeySequence(Qt::Key_F10));
}

void addHelpItems(QMenu* menu, const CommandHandler& handler) {
    addTrayShortcut(addCommand(menu, "&Help...", Command::Help, handler), QKeySequence(Qt::Key_F1));
    addCommand(menu, "&Terms and Conditions", Command::TermsAndConditions, handler);
    addCommand(menu, "&Web Site of Linkmoot", Command::WebSite, handler);
}

}  // namespace

void buildMainMenu(QMenuBar* bar, const CommandHandler& handler) {
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    addCommand(file, "E&xit\tAlt+X", Command::Exit, handler, QKeySequence(Qt::ALT | Qt::Key_X));

    QMenu* client = bar->addMenu(QStringLiteral("&Client"));
    addCommand(client, "&Connect", Command::Connect, handler);
    addCommand(client, "&Disconnect", Command::Disconnect, handler);

    QMenu* server = bar->addMenu(QStringLiteral("&Server"));
    addCommand(server, "&Enable", Command::EnableServer, handler);
    addCommand(server, "&Disable", Command::DisableServer, handler);

    QMenu* options = bar->addMenu(QStringLiteral("&Options"));
    addCommand(options, "Configuration...\tF10", Command::Configuration, handler,
               QKeySequence(Qt::Key_F10));

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    addCommand(help, "&Help...\tF1", Command::Help, handler, QKeySequence(Qt::Key_F1));
    addCommand(help, "&Terms and Conditions", Command::TermsAndConditions, handler);
    addCommand(help, "&Web Site of Linkmoot", Command::WebSite, handler);
}

std::unique_ptr<QMenu> buildTrayMenu(bool serverMode, const CommandHandler& handler) {
    auto menu =
        std::make_unique<QMenu>(serverMode ? QStringLiteral("&Server") : QStringLiteral("&Client"));
    addCommand(menu.get(), "&Connect", Command::Connect, handler);
    addCommand(menu.get(), "&Disconnect", Command::Disconnect, handler);
    menu->addSeparator();
    if (serverMode) {
        QMenu* server = menu->addMenu(QStringLiteral("&Server"));
        addCommand(server, "&Enable", Command::EnableServer, handler);
        addCommand(server, "&Disable", Command::DisableServer, handler);
        server->addSeparator();
        addCommand(server, "Status...", Command::Status, handler);
        addCommand(server, "Usage...", Command::Usage, handler);
        // Shown while the web page is served (see showPageItem).
        addCommand(server, "Show the page for &phones...", Command::ShowPageCode, handler)
            ->setVisible(false);
        // Shown while the data cap holds the line (see showCapItem).
        addCommand(server, "Allow over the &cap...", Command::AllowOverCap, handler)
            ->setVisible(false);
        menu->addSeparator();
    }
    addOptionsItems(menu->addMenu(QStringLiteral("&Options")), handler);
    addHelpItems(menu->addMenu(QStringLiteral("&Help")), handler);
    menu->addSeparator();
    addCommand(menu.get(), "&Exit", Command::Exit, handler);
    return menu;
}

namespace {
void showItem(QMenu* menu, int commandId, bool visible) {
    for (QAction* item : menu->actions()) {
        if (item->menu() != nullptr)
            showItem(item->menu(), commandId, visible);
        else if (commandOf(item) == commandId)
            item->setVisible(visible);
    }
}
}  // namespace

void showPageItem(QMenu* trayMenu, bool visible) {
    showItem(trayMenu, Command::ShowPageCode, visible);
}

void showCapItem(QMenu* trayMenu, bool visible) {
    showItem(trayMenu, Command::AllowOverCap, visible);
}

int commandOf(const QAction* action) {
    return action->data().isValid() ? action->data().toInt() : 0;
}

}  // namespace linkmoot
