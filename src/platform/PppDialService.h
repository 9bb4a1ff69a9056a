#pragma once
// Dial-up through pppd: the peers folder (/etc/ppp/peers) is the phonebook and
// each dial is a `pppd call PEER nodetach` child process.
// - Entries: the peer files, without dotfiles, backups ("*~") and the package
//   manager's leftovers ("*.dpkg-*"), sorted by name.
// - The password goes to pppd through an inherited pipe read as an options
//   file, never on a command line.
// - State: pppd's output (its log lines, which it also sends to syslog) is
//   read from a pipe at each state() call: "Using interface pppN" names the
//   interface, and the line is "connected" once pppd reported its addresses
//   or that interface is up, "dialling" until then. A pppd that writes no
//   line at all (its peer sends the log elsewhere) cannot tell: after 20 s
//   it counts as connected while it runs, as it did before, and its bytes
//   are not counted. Ended is "disconnected". A non-zero exit before our
//   hang-up is the failure report (on the child's watcher thread). Hang-up:
//   SIGTERM, then SIGKILL after a grace time.
// Keys (section `Server`, read at each use): `PppProgram`, `PppPeersFolder`.
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "DialService.h"
#include "InterfaceCounters.h"
#include "Settings.h"
#include "platform/BackgroundQueue.h"
#include "platform/FailureReporter.h"

namespace linkmoot {

class ChildProcess;

class PppDialService : public DialService {
public:
    /// `interfaces` tells whether an interface is up (null: the system's).
    explicit PppDialService(Settings settings, InterfaceCounters* interfaces = nullptr);
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
    std::string interfaceName(DialHandle handle) override;
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
        // What pppd's output said.
        int output = -1;  // the pipe's reading end, not blocking
        std::string partialLine;
        bool saidAnything = false;
        std::string interfaceName;
        bool addressed = false;
        bool up = false;
        uint32_t silentPolls = 0;
        ~Call();
    };
    void childEnded(DialHandle handle, int waitStatus);
    /// Reads what pppd wrote since the last call (never waits).
    static void readOutput(Call& call);
    /// Up or still negotiating, from what pppd said and the interface.
    LineState runningState(Call& call);
    std::string peersFolder();
    /// Whether `peer` can be dialled: a safe name, a peer file, pppd found
    /// (its path in `program`); else logs why and says it in `error`.
    bool dialable(const std::string& peer, std::string& program, std::string& error);

    Settings settings;
    std::unique_ptr<InterfaceCounters> ownInterfaces;
    InterfaceCounters& interfaces;
    std::mutex mutex;  // guards calls and nextHandle
    std::map<DialHandle, Call> calls;
    DialHandle nextHandle = 1;
    FailureReporter failures;
    // Ends the pppd processes that were hung up; last, so it finishes first.
    BackgroundQueue stopping;
};

}  // namespace linkmoot
