#pragma once
// The front end of linkmootd: the dialogs become terminal prompts when there is
// a terminal; without one, dialogs end with Cancel and questions are answered
// No (logged at Warn), so the daemon never waits for input that cannot come.
// The status "view" is the log: a changed tray text is logged at Info, and
// handed to the service manager as the service's status.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "EventLoop.h"
#include "FrontEnd.h"
#include "TerminalPrompts.h"
#include "platform/ServiceNotifier.h"

namespace linkmoot::daemon {

/// A service's list may take a while (NetworkManager asks over the bus); one
/// that takes longer than this is broken, and the user can still type a name.
inline constexpr int64_t kListingWaitMs = 20000;

/// The connection names of a dial-up service, waited for by running the loop,
/// so that ticks, the control socket and held votes go on meanwhile. Empty
/// (with a Warn line) when they do not come within `waitMs`.
std::vector<DialEntry> listThroughLoop(EventLoop& loop, const FrontEnd::EntryLister& lister,
                                       const std::string& dialer, int64_t waitMs = kListingWaitMs);

class DaemonFrontEnd : public FrontEnd {
public:
    /// prompts: null when standard input is not a terminal; canAsk tells
    /// whether the terminal may be used now (we are its foreground job);
    /// notifier: null, or what tells the service manager the status and Exit.
    DaemonFrontEnd(EventLoop& loop, TerminalPrompts* prompts, std::function<bool()> canAsk,
                   ServiceNotifier* notifier = nullptr);

    bool showWelcomeDialog() override;
    bool showModeDialog(const Settings& settings) override;
    bool showClientOptionsDialog(const Settings& settings, const ServerLister& servers) override;
    bool showServerOptionsDialog(const Settings& settings, const EntryLister& entries) override;
    bool askYesNo(int stringId) override;
    void refreshViews(const std::shared_ptr<const StatusSnapshot>& status) override;
    void showStatusWindow() override;
    void hideStatusWindow() override {}
    void openDocument(const std::string& pathOrAddress) override;
    void quit() override;
    void notify(const std::string& text) override;

    bool quitRequested() const { return quitting; }

private:
    bool noTerminal(const char* dialog);
    bool terminalUsable() const;

    EventLoop& loop;
    TerminalPrompts* prompts;
    std::function<bool()> canAsk;
    ServiceNotifier* notifier;
    std::shared_ptr<const StatusSnapshot> latest;
    std::string lastTrayText;
    bool quitting = false;
};

}  // namespace linkmoot::daemon
