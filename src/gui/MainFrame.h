#pragma once
// The main window: hidden for most of its life, it carries the one-second
// timer that drives the application, the menu bar with its shortcuts, the
// status view and the tray icon. Closing or minimising it only hides it while
// a tray holds the icon; Exit closes it for good. It knows no application: it
// draws the snapshots it is handed and signals ticks and commands.
#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <memory>

#include "Menus.h"
#include "StatusIcons.h"
#include "StatusModel.h"

namespace linkmoot {

class MainView;
class TrayIcon;

class MainFrame : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kTickMilliseconds = 1000;

    explicit MainFrame(QWidget* parent = nullptr);
    ~MainFrame() override;

    /// Rebuilds the status rows and the tray icon from the snapshot. The first
    /// call puts the icon in the tray, or, when the desktop has no tray, says
    /// so once and shows this window instead.
    void refresh(const StatusSnapshot& snapshot);
    /// Shows the window in its normal state and activates it.
    void showStatus();
    /// Hides the window, unless no tray could bring it back.
    void hideStatus();
    /// Exit: hides the window and the tray icon and stops the timer for good.
    void closeForGood();
    bool isClosedForGood() const { return closedForGood; }

    /// Whether the desktop offers a tray; replaceable for tests.
    void setTrayProbe(std::function<bool()> probe) { trayProbe = std::move(probe); }

    /// The status view, made when first needed (the window starts hidden).
    MainView& view();
    TrayIcon& trayIcon() { return *tray; }
    QTimer& tickTimer() { return timer; }
    const StatusIcons& statusIcons() const { return icons; }

Q_SIGNALS:
    /// Once a second while the timer runs (nested loops included).
    void tickDue();
    /// A command of the menus or shortcuts (ids of Linkmoot.h).
    void commandChosen(int commandId);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void tellNoTray();
    CommandHandler commandHandler();
    /// The menu bar with its commands, built on the first show.
    void ensureMenuBar();

    StatusIcons icons;
    MainView* statusView = nullptr;  // owned by the window once made
    StatusSnapshot latest;           // what a view made later starts with
    std::unique_ptr<TrayIcon> tray;
    QTimer timer;
    std::function<bool()> trayProbe;
    bool refreshed = false;
    // What was last drawn.
    std::vector<StatusRow> shownRows;
    std::string shownTooltip;
    StatusIcon shownIcon = StatusIcon::Idle;
    bool shownServerMenu = false;
    std::vector<std::string> shownPageAddresses;
    bool shownCapHolds = false;
    bool menuBuilt = false;
    bool closedForGood = false;
};

}  // namespace linkmoot
