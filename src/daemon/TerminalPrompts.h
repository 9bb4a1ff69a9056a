#pragma once
// The configuration dialogs as questions at the terminal: the same fields in
// the same order, the same defaults (loaded from the configuration tree through
// the shared forms), the same checks and messages. A refused field is asked
// again (with its check box, when it has one). End of input at any question
// means Cancel.
//
// Conventions shown to the user: Enter keeps the value in brackets; "-" empties
// a text field; Ctrl-D cancels the dialog.
#include <functional>
#include <string>
#include <vector>

#include "DialogForms.h"
#include "LineInput.h"
#include "ServerFinder.h"

namespace linkmoot {
struct PlanForm;
}

namespace linkmoot::daemon {

class TerminalPrompts {
public:
    /// The connections a dial-up service offers.
    using EntriesFor = std::function<std::vector<DialEntry>(const std::string& dialer)>;

    TerminalPrompts(LineInput& input, int outputFd);

    /// The welcome text; true for "Configure", false for "Exit".
    bool welcome();
    bool mode(const Settings& settings);
    /// Looks for servers on the LAN (taking a moment) and lists them.
    using ServerSearch = std::function<std::vector<FoundServer>()>;
    /// `search`: what "?" at the server's question runs; the servers it
    /// found are then offered by number. Unset: no "?".
    bool clientOptions(const Settings& settings, const ServerSearch& search = {});
    /// Asks for the dial-up service first; its connections fill the list.
    bool serverOptions(const Settings& settings, const EntriesFor& entriesFor);
    /// The Yes/No question of a string id; No when the input ends.
    bool question(int stringId);

    /// Writes text to the terminal as it is.
    void say(const std::string& text);

private:
    /// The dial-up service, chosen from the known ones; false when the input ends.
    bool askDialer(ServerOptionsForm& form);
    bool askConnectionOf(ServerOptionsForm& form);
    bool askText(const std::string& label, std::string& value);
    bool askSecret(const std::string& label, std::string& value);
    /// The shared secret, with the offer to generate one.
    bool askSharedSecret(std::string& value);
    /// The data plan's questions (after the server options).
    bool askDataPlan(PlanForm& plan);
    bool askYesNo(const std::string& label, bool& value);
    /// A numbered list; the answer is a number, an item or one of its aliases
    /// (same index), compared without regard to case.
    bool askChoice(const std::string& label, const std::vector<std::string>& items, int& selected,
                   const std::vector<std::string>& aliases = {});
    void sayRefused(int messageId);
    /// Stores the form; while it refuses a field, says why and asks for that
    /// field again (as a dialog puts the focus on it). False on end of input.
    bool storeAskingAgain(const std::function<StoreResult()>& store,
                          const std::function<bool(int field)>& askAgain);

    LineInput& input;
    int outputFd;
};

}  // namespace linkmoot::daemon
