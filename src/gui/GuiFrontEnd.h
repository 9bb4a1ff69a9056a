#pragma once
// The Qt front end of the application object: its dialogs, questions, views
// and documents, and the main window whose timer and menus drive it.
#include <memory>

#include "FrontEnd.h"
#include "MainFrame.h"
#include "UsageWindow.h"

namespace linkmoot {

class Linkmoot;
class PageCodeWindow;

class GuiFrontEnd : public FrontEnd {
public:
    /// Creates the (hidden) main window with its running timer; the first
    /// snapshot handed to it puts the icon in the tray.
    GuiFrontEnd();
    ~GuiFrontEnd() override;

    bool showWelcomeDialog() override;
    bool showModeDialog(const Settings& settings) override;
    bool showClientOptionsDialog(const Settings& settings, const ServerLister& servers) override;
    bool showServerOptionsDialog(const Settings& settings, const EntryLister& entries) override;
    bool askYesNo(int stringId) override;
    void refreshViews(const std::shared_ptr<const StatusSnapshot>& status) override;
    void showStatusWindow() override;
    void hideStatusWindow() override;
    void showUsageWindow(std::function<UsageWindowFigures()> figures) override;
    /// The usage window once it was opened; null before.
    UsageWindow* usageWindow() { return usage.get(); }
    void openDocument(const std::string& pathOrAddress) override;
    void quit() override;
    void notify(const std::string& text) override;
    void showPageCode(const std::vector<std::string>& addresses) override;

    /// Exit was chosen; the event loop must not be (re)entered.
    bool quitRequested() const { return quitting; }
    MainFrame& frame() { return *mainFrame; }

private:
    std::unique_ptr<MainFrame> mainFrame;
    std::unique_ptr<UsageWindow> usage;
    std::unique_ptr<PageCodeWindow> pageCode;  // made when first shown
    bool quitting = false;
};

/// The program's wiring: the window's menu commands go to `app`, which must
/// outlive the connections (they end with the window). The ticks go through
/// the session (see QtLoop.h).
void driveCommands(MainFrame& frame, Linkmoot& app);

}  // namespace linkmoot
