#pragma once
#include <string>

namespace linkmoot {

/// Everything the application asks of its front end (the Qt tray application,
/// the terminal daemon, a test fake). All calls come on the user-interface
/// thread. Modal calls keep delivering ticks while they wait.
class FrontEnd {
public:
    virtual ~FrontEnd() = default;
    /// The welcome dialog; true for "Configure", false for "Exit".
    virtual bool showWelcomeDialog() = 0;
    /// Each options dialog loads from and stores into the configuration tree
    /// itself (see DialogForms.h); true when it ended with OK.
    virtual bool showModeDialog() = 0;
    virtual bool showClientOptionsDialog() = 0;
    virtual bool showServerOptionsDialog() = 0;
    /// The modal Yes/No error question with the text of a string id and the
    /// caption "Linkmoot"; true for Yes.
    virtual bool askYesNo(int stringId) = 0;
    /// Rebuild the status rows and the tray icon from the application's state.
    virtual void refreshViews() = 0;
    virtual void showStatusWindow() = 0;
    virtual void hideStatusWindow() = 0;
    /// Opens a local document (absolute path) or a web address; failures are ignored.
    virtual void openDocument(const std::string& pathOrAddress) = 0;
    /// Exit: hide the status window and end the event loop; the application
    /// object is destroyed after the loop has ended.
    virtual void quit() = 0;
};

}  // namespace linkmoot
