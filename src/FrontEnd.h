#pragma once
// What the application asks of its front end (the Qt tray application, the
// terminal daemon, a test fake). The calls go one way: a front end never calls
// back into the application, the server or a dial-up service to draw; it draws
// the snapshot it was handed, and its user's commands reach the application
// through the wiring its program sets up.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DialService.h"
#include "ServerFinder.h"
#include "Settings.h"
#include "StatusModel.h"
#include "UsageReport.h"

namespace linkmoot {

/// What the tray's usage window shows: the usage report, and the data plan's
/// figures as `linkmootctl plan` writes them (planText; "" when no plan is set).
struct UsageWindowFigures {
    UsageReport usage;
    std::string plan;
};

/// A view that draws the snapshots the application pushes (the web page; the
/// front end's own views get them through FrontEnd::refreshViews). Called on
/// the loop's thread after every change; it must not call back into the
/// application from inside show().
class StatusView {
public:
    virtual ~StatusView() = default;
    virtual void show(const std::shared_ptr<const StatusSnapshot>& status) = 0;
};

class FrontEnd {
public:
    /// Asks for the connections the dial-up service of a `Dialer` value
    /// offers. They reach `done` once, possibly later and from another thread
    /// (DialService::listEntries); the front end gets them to its own.
    using EntryLister =
        std::function<void(const std::string& dialer, DialService::EntriesCallback done)>;
    /// The servers found on the LAN so far. The first call starts looking
    /// (broadcast queries and DNS-SD, until the dialog ends), so a front end
    /// calls it only when the user wants the list; the list grows for about
    /// 2 s, so ask again.
    using ServerLister = std::function<std::vector<FoundServer>()>;

    virtual ~FrontEnd() = default;
    /// All calls come on the user-interface thread. Modal calls keep
    /// delivering ticks while they wait.
    /// The welcome dialog; true for "Configure", false for "Exit".
    virtual bool showWelcomeDialog() = 0;
    /// Each options dialog loads from and stores into the settings itself (see
    /// DialogForms.h); true when it ended with OK.
    virtual bool showModeDialog(const Settings& settings) = 0;
    virtual bool showClientOptionsDialog(const Settings& settings, const ServerLister& servers) = 0;
    virtual bool showServerOptionsDialog(const Settings& settings, const EntryLister& entries) = 0;
    /// The modal Yes/No error question with the text of a string id and the
    /// caption "Linkmoot"; true for Yes.
    virtual bool askYesNo(int stringId) = 0;
    /// Draw the status rows and the tray icon from this snapshot (never null).
    virtual void refreshViews(const std::shared_ptr<const StatusSnapshot>& status) = 0;
    virtual void showStatusWindow() = 0;
    virtual void hideStatusWindow() = 0;
    /// Opens (or raises) the usage window, which shows what `figures` gives
    /// while it is open; an empty `figures` closes it (the application goes).
    /// A front end without windows does nothing.
    virtual void showUsageWindow(std::function<UsageWindowFigures()> figures) { (void)figures; }
    /// Opens a local document (absolute path) or a web address; failures are ignored.
    virtual void openDocument(const std::string& pathOrAddress) = 0;
    /// A change of the server's line while this user votes ("The line of
    /// gateway is up"): a desktop notification, or a log line.
    virtual void notify(const std::string& text) = 0;
    /// Shows the QR codes of the web page's addresses (never null, never
    /// empty) for phones to scan; a front end without a screen shows nothing.
    virtual void showPageCode(const std::vector<std::string>& addresses) { (void)addresses; }
    /// Exit: hide the status window and end the event loop; the application
    /// object is destroyed after the loop has ended.
    virtual void quit() = 0;
};

}  // namespace linkmoot
