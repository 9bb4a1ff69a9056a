#pragma once
// Dial-up through the user's own commands, for any facility Linkmoot does not
// drive itself (a mobile modem, a VPN). Keys of section `Server`, read at each
// use, each run through /bin/sh -c:
// - `DialCommand`: started in the background for a dial; a non-zero exit
//   before our hang-up is the failure report (from the watcher thread).
// - `StatusCommand`: run in the background, one at a time, with a 10 s
//   deadline; each state() call starts the next one and answers with the last
//   one that ended. Exit status 0 means up (a command cannot say "dialling"),
//   1 disconnected, anything else query failed. Without it the line counts as
//   up while the dial command runs.
// - `HangUpCommand`: run in the background for a hang-up; then the dial command's
//   whole process group is terminated, also when the command itself has
//   ended and left something running (a wrapper that detaches escapes it).
// - `Interface`: the network interface the line runs on, whose bytes are
//   counted while it is up (empty or missing: not counted).
// The entry, user name and password reach the commands as the environment
// variables LINKMOOT_ENTRY, LINKMOOT_USER and LINKMOOT_PASSWORD (the password
// only for the dial command), never on a command line.
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "DialService.h"
#include "Settings.h"
#include "platform/BackgroundQueue.h"
#include "platform/FailureReporter.h"

namespace linkmoot {

class ChildProcess;

class CommandDialService : public DialService {
public:
    static constexpr const char* kEntry = "Custom";

    explicit CommandDialService(Settings settings);
    ~CommandDialService() override;

    const char* name() const override { return "command"; }
    void listEntries(EntriesCallback done) override { done({kEntry}); }
    bool dial(const DialRequest& request, DialHandle& handle, std::string& error) override;
    void hangUp(DialHandle handle) override;
    LineState state(DialHandle handle) override;
    std::string interfaceName(DialHandle handle) override;
    bool hangingUp() override { return hangUps.idle() == false; }
    void setFailureCallback(FailureCallback callback) override;

private:
    struct Call {
        std::string entry;
        std::string userName;
        std::unique_ptr<ChildProcess> dialCommand;
        bool hungUp = false;
        bool reported = false;
        bool seenUp = false;
        uint64_t since = 0;  // the epoch of its dial
        LineState answer = LineState::Pending;
    };
    void dialCommandEnded(DialHandle handle, int waitStatus);
    void queryState(DialHandle handle, uint64_t started, const std::string& statusCommand);
    void hangUpInBackground(Call call, const std::string& hangUpCommand);
    /// Settles a line state the dial command never reached (under the lock);
    /// true when the failure is to be reported.
    static bool endedUnseen(Call& call, LineState line);
    std::string command(const TextKey& key);

    Settings settings;
    std::mutex mutex;  // guards calls and nextHandle
    std::map<DialHandle, Call> calls;
    DialHandle nextHandle = 1;
    uint64_t epoch = 0;  // counts dials and hang-ups
    bool queryRunning = false;
    FailureReporter failures;
    // Last, so their threads end before the members they use go.
    BackgroundQueue queries;
    BackgroundQueue hangUps;
};

}  // namespace linkmoot
