#pragma once
// The Qt front end of the application object: its dialogs, questions, views
// and documents, and the main window that drives its tick and commands.
#include <memory>

#include "FrontEnd.h"
#include "MainFrame.h"

namespace linkmoot {

class Linkmoot;

class GuiFrontEnd : public FrontEnd, private FrameHost {
public:
    /// Creates the (hidden) main window with its running timer and refreshes
    /// it once, which puts the icon in the tray. Registers itself with `app`,
    /// which must be destroyed (or given another front end) first.
    explicit GuiFrontEnd(Linkmoot& app);
    ~GuiFrontEnd() override;

    bool showWelcomeDialog() override;
    bool showModeDialog() override;
    bool showClientOptionsDialog() override;
    bool showServerOptionsDialog() override;
    bool askYesNo(int stringId) override;
    void refreshViews() override;
    void showStatusWindow() override;
    void hideStatusWindow() override;
    void openDocument(const std::string& pathOrAddress) override;
    void quit() override;

    /// Exit was chosen; the event loop must not be (re)entered.
    bool quitRequested() const { return quitting; }
    MainFrame& frame() { return *mainFrame; }

private:
    void tick() override;
    void onCommand(int commandId) override;
    StatusSnapshot status() override;

    Linkmoot& app;
    std::unique_ptr<MainFrame> mainFrame;
    bool quitting = false;
};

}  // namespace linkmoot
