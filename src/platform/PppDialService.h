#pragma once
// Dial-up through pppd: the peers folder (/etc/ppp/peers) is the phonebook and
// each dial is a `pppd call PEER nodetach` child process.
// - Entries: the peer files, without dotfiles, backups ("*~") and the package
//   manager's leftovers ("*.dpkg-*"), sorted by name.
// - The password goes to pppd through an inherited pipe read as an options
//   file, never on a command line.
// - State: the child running is "another state", ended is "disconnected".
//   A non-zero exit before our hang-up is the failure report (on the child's
//   watcher thread). Hang-up: SIGTERM, then SIGKILL after a grace time.
// Keys (section `Server`, read at each use): `PppProgram`, `PppPeersFolder`.
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

class PppDialService : public DialService {
public:
    explicit PppDialService(Settings settings);
    ~PppDialService() override;

    const char* name() const override { return "ppp"; }
    void listEntries(EntriesCallback done) override { done(entriesNamed(peerNames())); }
    /// The peers in the peers folder (a quick local read, so answered at once).
    std::vector<std::string> peerNames();
    /// The peers in a folder; touches no settings, so any thread may call it.
    static std::vector<std::string> listPeers(const std::string& folder);
    bool dial(const DialRequest& request, DialHandle& handle, std::string& error) override;
    void hangUp(DialHandle handle) override;
    LineState state(DialHandle handle) override;
    bool hangingUp() override { return !stopping.idle(); }
    void setFailureCallback(FailureCallback callback) override;

    /// The pppd program that the configuration names, or "" when not installed.
    std::string findPppProgram();
    /// The meaning of a pppd exit status, as pppd documents it.
    static const char* exitCodeMeaning(int code);

private:
    struct Call {
        std::string entry;
        std::unique_ptr<ChildProcess> child;
        bool hungUp = false;
        bool reported = false;
        bool seenRunning = false;
    };
    void childEnded(DialHandle handle, int waitStatus);
    std::string peersFolder();

    Settings settings;
    std::mutex mutex;  // guards calls and nextHandle
    std::map<DialHandle, Call> calls;
    DialHandle nextHandle = 1;
    FailureReporter failures;
    // Ends the pppd processes that were hung up; last, so it finishes first.
    BackgroundQueue stopping;
};

}  // namespace linkmoot
