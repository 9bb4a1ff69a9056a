#include "DaemonFrontEnd.h"

#include "Linkmoot.h"
#include "Strings.h"
#include "ToolBox/Logger.h"

namespace linkmoot::daemon {

namespace {

// A question's text on one log line.
std::string oneLine(const char* text) {
    std::string line;
    for (const char* c = text; *c != '\0'; ++c)
        line += (*c == '\n') ? ' ' : *c;
    return line;
}

}  // namespace

DaemonFrontEnd::DaemonFrontEnd(EventLoop& loop, TerminalPrompts* prompts,
                               std::function<bool()> canAsk)
    : loop(loop), prompts(prompts), canAsk(std::move(canAsk)) {}

bool DaemonFrontEnd::terminalUsable() const {
    return prompts != nullptr && !quitting && (!canAsk || canAsk());
}

bool DaemonFrontEnd::noTerminal(const char* dialog) {
    LM_LOG(Warn, "No terminal to show the %s: cancelled (run linkmootd --configure)", dialog);
    return false;
}

bool DaemonFrontEnd::showWelcomeDialog() {
    if (!terminalUsable())
        return noTerminal("welcome");
    return prompts->welcome();
}

bool DaemonFrontEnd::showModeDialog() {
    if (!terminalUsable() || application == nullptr)
        return noTerminal("mode dialog");
    return prompts->mode(application->getConfigRoot());
}

bool DaemonFrontEnd::showClientOptionsDialog() {
    if (!terminalUsable() || application == nullptr) {
        return noTerminal("client options");
    }
    return prompts->clientOptions(application->getConfigRoot());
}

bool DaemonFrontEnd::showServerOptionsDialog() {
    if (!terminalUsable() || application == nullptr) {
        return noTerminal("server options");
    }
    Linkmoot* app = application;
    return prompts->serverOptions(app->getConfigRoot(), [app](const std::string& dialer) {
        return app->dialEntries(dialer);
    });
}

bool DaemonFrontEnd::askYesNo(int stringId) {
    if (quitting)
        return false;
    if (!terminalUsable()) {
        LM_LOG(Warn, "Answered No, no terminal to ask: %s", oneLine(loadString(stringId)).c_str());
        return false;
    }
    return prompts->question(stringId);
}

void DaemonFrontEnd::refreshViews() {
    if (application == nullptr)
        return;
    StatusSnapshot status = application->status();
    if (status.trayText == lastTrayText)
        return;
    lastTrayText = status.trayText;
    LM_LOG(Info, "Status: %s", status.trayText.c_str());
}

void DaemonFrontEnd::showStatusWindow() {
    if (application == nullptr)
        return;
    StatusSnapshot status = application->status();
    LM_LOG(Info, "Status: %s", status.trayText.c_str());
    for (const StatusRow& row : status.rows)
        LM_LOG(Info, "Status row: %s", row.text.c_str());
}

void DaemonFrontEnd::openDocument(const std::string& pathOrAddress) {
    // A daemon opens no browser; it says where the document is.
    LM_LOG(Info, "Document: %s", pathOrAddress.c_str());
}

void DaemonFrontEnd::quit() {
    quitting = true;
    loop.stop();
}

}  // namespace linkmoot::daemon
