// The menu bar and the two tray menus: exact items, mnemonics, shortcut texts,
// command ids, and that each item sends its id.
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QtTest>

#include "Linkmoot.h"
#include "Menus.h"

using namespace linkmoot;

namespace {

/// One line per item: "text=id", "---" for a separator, "text>" then the
/// submenu's items indented for a submenu.
QStringList describe(const QMenu* menu, const QString& indent = {}) {
    QStringList lines;
    for (const QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            lines << indent + QStringLiteral("---");
        } else if (action->menu()) {
            lines << indent + action->text() + QLatin1Char('>');
            lines << describe(action->menu(), indent + QStringLiteral("  "));
        } else {
            lines << indent + action->text() + QLatin1Char('=') +
                         QString::number(commandOf(action));
        }
    }
    return lines;
}

void collect(const QMenu* menu, QList<QAction*>& into) {
    for (QAction* action : menu->actions()) {
        if (action->menu())
            collect(action->menu(), into);
        else if (!action->isSeparator())
            into << action;
    }
}

}  // namespace

class MenusTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void menuBarHoldsTheCommandsWithTheirShortcuts() {
        QMenuBar bar;
        buildMainMenu(&bar, [](int) {});
        QStringList lines;
        for (const QAction* top : bar.actions()) {
            lines << top->text() + QLatin1Char('>');
            lines << describe(top->menu(), QStringLiteral("  "));
        }
        const QStringList expected = {
            "&File>",
            "  E&xit\tAlt+X=57665",
            "&Client>",
            "  &Connect=32771",
            "  &Disconnect=32772",
            "&Server>",
            "  &Enable=32781",
            "  &Disable=32780",
            "&Options>",
            "  Configuration...\tF10=32773",
            "&Help>",
            "  &Help...\tF1=32774",
            "  &Terms and Conditions=32777",
            "  &Web Site of Linkmoot=32778",
        };
        QCOMPARE(lines, expected);

        QMap<int, QKeySequence> shortcuts;
        for (const QAction* top : bar.actions()) {
            for (const QAction* item : top->menu()->actions()) {
                if (!item->shortcut().isEmpty())
                    shortcuts[commandOf(item)] = item->shortcut();
            }
        }
        QCOMPARE(shortcuts.size(), 3);
        QCOMPARE(shortcuts[Command::Exit], QKeySequence(Qt::ALT | Qt::Key_X));
        QCOMPARE(shortcuts[Command::Configuration], QKeySequence(Qt::Key_F10));
        QCOMPARE(shortcuts[Command::Help], QKeySequence(Qt::Key_F1));
    }

    void clientTrayMenuIsMenu139() {
        auto menu = buildTrayMenu(false, [](int) {});
        const QStringList expected = {
            "&Connect=32771",
            "&Disconnect=32772",
            "---",
            "&Options>",
            "  &Configuration...=32773",
            "&Help>",
            "  &Help...=32774",
            "  &Terms and Conditions=32777",
            "  &Web Site of Linkmoot=32778",
            "---",
            "&Exit=57665",
        };
        QCOMPARE(describe(menu.get()), expected);
    }

    void serverTrayMenuIsMenu140() {
        auto menu = buildTrayMenu(true, [](int) {});
        const QStringList expected = {
            "&Connect=32771",
            "&Disconnect=32772",
            "---",
            "&Server>",
            "  &Enable=32781",
            "  &Disable=32780",
            "  ---",
            "  Status...=32782",
            "  Usage...=32784",
            "  Show the page for &phones...=32785",
            "  Allow over the &cap...=32786",
            "---",
            "&Options>",
            "  &Configuration...=32773",
            "&Help>",
            "  &Help...=32774",
            "  &Terms and Conditions=32777",
            "  &Web Site of Linkmoot=32778",
            "---",
            "&Exit=57665",
        };
        QCOMPARE(describe(menu.get()), expected);
    }

    void trayItemsAreEnabledUncheckedKeepShortcutsOutOfTheirTextAndSendTheirIds() {
        for (bool server : {false, true}) {
            QList<int> sent;
            auto menu = buildTrayMenu(server, [&sent](int id) { sent << id; });
            QList<QAction*> actions;
            collect(menu.get(), actions);
            QList<int> ids;
            for (QAction* action : actions) {
                // The page's item is hidden (and so disabled) until the page is served.
                showPageItem(menu.get(), true);
                showCapItem(menu.get(), true);
                QVERIFY(action->isEnabled());
                QVERIFY(!action->isCheckable());
                // No shortcut text after a TAB, which a StatusNotifierItem host would show
                // as part of the label; F10 and F1 are the action's shortcuts, shown by the
                // menu and bound only inside it (the tray menu belongs to no window).
                QVERIFY(!action->text().contains(QLatin1Char('\t')));
                const int id = commandOf(action);
                const QKeySequence shortcut = id == Command::Configuration
                                                  ? QKeySequence(Qt::Key_F10)
                                              : id == Command::Help ? QKeySequence(Qt::Key_F1)
                                                                    : QKeySequence();
                QCOMPARE(action->shortcut(), shortcut);
                if (!shortcut.isEmpty()) {
                    QCOMPARE(action->shortcutContext(), Qt::WidgetShortcut);
                    QVERIFY(action->isShortcutVisibleInContextMenu());
                }
                ids << id;
                action->trigger();
            }
            QCOMPARE(sent, ids);
        }
    }

    void menuBarItemsSendTheirIds() {
        QList<int> sent;
        QMenuBar bar;
        buildMainMenu(&bar, [&sent](int id) { sent << id; });
        QList<int> ids;
        for (const QAction* top : bar.actions()) {
            QList<QAction*> actions;
            collect(top->menu(), actions);
            for (QAction* action : actions) {
                QVERIFY(action->isEnabled());
                ids << commandOf(action);
                action->trigger();
            }
        }
        QCOMPARE(sent, ids);
        QCOMPARE(ids.size(), 9);
    }
};

QTEST_MAIN(MenusTest)
#include "MenusTest.moc"
