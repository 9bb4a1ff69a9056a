#include "DaemonFrontEnd.h"

#include <mutex>
#include <optional>

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

// How often the wait looks for the answer between the loop's other events.
constexpr int kListingPollMs = 50;

}  // namespace

std::vector<DialEntry> listThroughLoop(EventLoop& loop, const FrontEnd::EntryLister& lister,
                                       const std::string& dialer, int64_t waitMs) {
    struct Answer {
        std::mutex mutex;
        std::optional<std::vector<DialEntry>> entries;
    };
    auto answer = std::make_shared<Answer>();
    lister(dialer, [answer](std::vector<DialEntry> listed) {
        std::lock_guard<std::mutex> lock(answer->mutex);
        answer->entries = std::move(listed);
    });
    const int64_t deadline = monotonicMillis() + waitMs;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(answer->mutex);
            if (answer->entries)
                return *answer->entries;
        }
        if (loop.isStopped())
            return {};
        if (monotonicMillis() >= deadline) {
            LM_LOG(Warn, "The dial-up service \"%s\" did not list its connections within %d s",
                   dialer.c_str(), static_cast<int>(waitMs / 1000));
            return {};
        }
        const Loop::TimerId wake = loop.startTimer(kListingPollMs, [] {});
        loop.runOnce();
        loop.cancelTimer(wake);
    }
}

DaemonFrontEnd::DaemonFrontEnd(EventLoop& loop, TerminalPrompts* prompts,
                               std::function<bool()> canAsk, ServiceNotifier* notifier)
    : loop(loop), prompts(prompts), canAsk(std::move(canAsk)), notifier(notifier) {}

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

bool DaemonFrontEnd::showModeDialog(const Settings& settings) {
    if (!terminalUsable())
        return noTerminal("mode dialog");
    return prompts->mode(settings);
}

bool DaemonFrontEnd::showClientOptionsDialog(const Settings& settings,
                                             const ServerLister& servers) {
    if (!terminalUsable())
        return noTerminal("client options");
    // Asked for at the prompt: one round of looking, the loop running meanwhile.
    return prompts->clientOptions(settings, [this, &servers] {
        servers();
        const int64_t until = monotonicMillis() + ServerFinder::kRoundMs + 500;
        while (!loop.isStopped() && monotonicMillis() < until) {
            const Loop::TimerId wake = loop.startTimer(kListingPollMs, [] {});
            loop.runOnce();
            loop.cancelTimer(wake);
        }
        return servers();
    });
}

bool DaemonFrontEnd::showServerOptionsDialog(const Settings& settings, const EntryLister& entries) {
    if (!terminalUsable())
        return noTerminal("server options");
    return prompts->serverOptions(settings, [this, &entries](const std::string& dialer) {
        return listThroughLoop(loop, entries, dialer);
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

void DaemonFrontEnd::refreshViews(const std::shared_ptr<const StatusSnapshot>& status) {
    latest = status;
    if (status->trayText == lastTrayText)
        return;
    lastTrayText = status->trayText;
    LM_LOG(Info, "Status: %s", status->trayText.c_str());
    if (notifier != nullptr)
        notifier->status(status->trayText);
}

void DaemonFrontEnd::showStatusWindow() {
    // The status as last handed over; nothing to show before the first.
    if (!latest)
        return;
    LM_LOG(Info, "Status: %s", latest->trayText.c_str());
    for (const StatusRow& row : latest->rows)
        LM_LOG(Info, "Status row: %s", row.text.c_str());
}

void DaemonFrontEnd::openDocument(const std::string& pathOrAddress) {
    // A daemon opens no browser; it says where the document is.
    LM_LOG(Info, "Document: %s", pathOrAddress.c_str());
}

void DaemonFrontEnd::notify(const std::string& text) {
    LM_LOG(Info, "%s", text.c_str());
}

void DaemonFrontEnd::quit() {
    if (notifier != nullptr)
        notifier->stopping();
    quitting = true;
    loop.stop();
}

}  // namespace linkmoot::daemon
