#pragma once
// The server-mode controller: one poll a second runs its parts in their order:
// the vote table's time-outs, the intake's datagrams (through the trust gate
// into the table), the line controller's step, the answers (which tell the
// state the step left), and last the idle shutdown's check.
//
// Each part has one job and its own interface: VoteTable (who votes),
// VoteIntake (the socket, the trust rules, the answers), LineController (the
// line: dial, guard time, back-off, re-dial) and IdleShutdown. Everything runs
// on the loop's thread; only the dial-up service's failure reports and the
// power-off's outcome come from other threads, through inboxes that the next
// poll empties. Nothing here waits. The server calls nothing above it: what it
// has to say (the table changed, the socket cannot be had) are the results of
// its calls.
#include <cstdint>

#include "CachedSetting.h"
#include "DialService.h"
#include "IdleShutdown.h"
#include "LineController.h"
#include "Settings.h"
#include "StatusModel.h"
#include "VoteIntake.h"
#include "VoteTable.h"

namespace linkmoot {

class Clock;
class KeyStore;
class Network;
class PlanMeter;
class ShutdownService;
class UsageRecorder;

/// The line as the protocol's answers name it.
protocol::Line protocolLineOf(LineStatus line);

class Server {
public:
    /// `keys`: the shared secret's key store (null: no secret), `usage`: the
    /// record of the line's sessions (null: none), `plan`: the data plan
    /// (null: none); all owned by the caller.
    Server(Settings settings, Network& network, Clock& clock, DialServiceProvider& dialers,
           ShutdownService& shutdown, KeyStore* keys = nullptr, UsageRecorder* usage = nullptr,
           PlanMeter* plan = nullptr);
    /// Stops first: a line still up is hung up.
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    /// Binds the configured port (nothing when started). False when the socket
    /// cannot be had: the caller offers the configuration.
    bool start();
    /// Hangs up without the guard time, closes the socket, empties the table.
    /// `reason`: how an open session ends (an idle shutdown asked for says so
    /// whatever stops the server next).
    void stop(EndReason reason = EndReason::ServerStopped);
    /// One step of every part. True when the table changed (a datagram was
    /// served or a vote timed out).
    bool poll();

    bool isStarted() const { return intake.isOpen(); }
    /// Counts the starts, so what lives only while the server runs (the web
    /// page's cookie key) can tell a restart it did not see.
    uint32_t startCount() const { return starts; }
    /// The connection test (asks the dial-up service, which answers at once).
    bool isConnected() { return lineControl.isConnected(); }
    LineStatus line() const { return lineControl.status(); }
    uint32_t secondsUp() const { return lineControl.secondsUp(); }
    uint32_t retryWaitSeconds() const { return lineControl.retryWaitSeconds(); }
    /// The port the socket is bound to; 0 when stopped.
    uint16_t boundPort() const { return intake.boundPort(); }

    const VoteTable& getVotes() const { return votes; }
    const LineController& lineController() const { return lineControl; }
    const VoteIntake& voteIntake() const { return intake; }
    const IdleShutdown& idleShutdown() const { return idle; }

    /// The web page's timed vote (the name already "web:"-prefixed and
    /// checked), for `minutes`; false when the server takes no votes now.
    bool webVote(const std::string& name, uint32_t minutes);
    /// Ends the web vote `name`; false when it was not held.
    bool webUnvote(const std::string& name);

private:
    protocol::LineReport report() const;

    Settings settings;
    CachedSetting<FlagKey> announce{settings, keys::Announce};
    Network& network;
    Clock& clock;
    PlanMeter* plan;
    uint32_t starts = 0;
    std::string hostName;  // as answers carry it, read at each start
    VoteTable votes;
    VoteIntake intake;
    LineController lineControl;
    IdleShutdown idle;
};

}  // namespace linkmoot
