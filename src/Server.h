#pragma once
// The server-mode controller: receives vote datagrams on a UDP port, keeps the
// vote table with its 22-second time-out, dials the configured connection while
// votes are held (or always), hangs up with a guard time when the last vote is
// gone, re-dials every N minutes, and shuts the computer down when idle.
//
// Everything runs on the user-interface thread, except the dial service's
// failure reports, which may arrive on any thread and are handed over through
// a mutex-guarded inbox applied at the start of the next controller step.
// Nothing here waits: the dial service answers at once (DialService.h), and
// the hang-up guard time is a deadline that holds the next dial off.
// The server calls nothing above it: what it has to say (the table changed, the
// socket cannot be had) are the results of its calls.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "DialService.h"
#include "Settings.h"
#include "StatusModel.h"
#include "ToolBox/ArrayList.h"
#include "Trust.h"
#include "UdpSocket.h"
#include "WebApi.h"

namespace linkmoot {

class Clock;
class KeyStore;
class Network;
class ShutdownService;
class UdpSocket;

/// One accepted vote: the voter's host name exactly as it stood in the datagram,
/// the tick count of the poll that read it and the IPv4 address it came from. A
/// web vote is not renewed every ten seconds (a phone's browser sleeps): it
/// carries its own lifetime instead.
class Vote {
public:
    Vote(const char* host, uint32_t time, uint32_t address = 0,
         std::optional<uint32_t> lifetimeMs = std::nullopt);
    ~Vote();
    Vote(const Vote&) = delete;
    Vote& operator=(const Vote&) = delete;

    const char* getHost() const { return host; }
    uint32_t getTime() const { return time; }
    /// Milliseconds from getTime() to the end of a timed vote; none for a datagram vote.
    std::optional<uint32_t> getLifetime() const { return lifetime; }
    bool isTimed() const { return lifetime.has_value(); }
    /// Milliseconds left at `now` (0 once ended); the 22-second rule for a datagram vote.
    uint32_t millisLeft(uint32_t now) const;
    uint32_t getAddress() const { return address; }

private:
    char* host;
    uint32_t time;
    uint32_t address;
    std::optional<uint32_t> lifetime;
};

/// The line as the protocol's answers name it.
protocol::Line protocolLineOf(LineStatus line);

class Server : public WebStateSource, public WebVoteSink {
public:
    /// Votes older than this many milliseconds are dropped by the next poll.
    static constexpr uint32_t kVoteTimeoutMs = 22000;
    /// At most this many accepted (or ignored) datagrams are served per poll.
    static constexpr int kMaxDatagramsPerPoll = 10;
    /// At most this many datagrams are read per poll in all, dropped ones
    /// included, so a flood cannot hold the loop.
    static constexpr int kMaxDatagramsReadPerPoll = 1000;
    /// Longer datagrams are not processed.
    static constexpr int kMaxDatagramLength = 256;
    /// Dial parameters longer than this are refused.
    static constexpr std::size_t kMaxDialParameterLength = 256;
    /// The longest timed vote, whatever the settings say.
    static constexpr uint32_t kMaxWebVoteMinutes = 24 * 60;
    /// The idle clock's disarmed mark.
    static constexpr uint32_t kIdleClockDisarmed = 0xFFFFFFFFu;

    /// `keys`: the shared secret's key store (null: no secret), owned by the caller.
    Server(Settings settings, Network& network, Clock& clock, DialServiceProvider& dialers,
           ShutdownService& shutdown, KeyStore* keys = nullptr);
    ~Server() override;
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    /// Binds the configured port (nothing when started). False when the socket
    /// cannot be had: the caller offers the configuration.
    bool start();
    void stop();
    /// One step: the vote table, the controller, the idle shut-down. True when
    /// the table changed (a datagram was read or a vote timed out).
    bool poll();

    bool isStarted() const { return socket != nullptr; }
    /// Counts the starts, so what lives only while the server runs (the web
    /// page's cookie key) can tell a restart it did not see.
    uint32_t startCount() const { return starts; }
    /// The connection test: a connection exists and its line is not down (asks
    /// the dial-up service).
    bool isConnected();
    /// The line as the controller last read it; asks nobody. Dialling until
    /// the service reported the line connected, Up after; Guard while the
    /// guard time holds the next dial off.
    LineStatus line() const;
    /// Whole seconds since the first poll that saw the line connected; 0 when
    /// not up.
    uint32_t secondsUp() const;
    /// Whole seconds the back-off still holds the next dial off; 0 when none.
    uint32_t retryWaitSeconds() const;
    /// The first wait of the back-off and its ceiling.
    static constexpr uint32_t kFirstRetryWaitMs = 5000;
    static constexpr uint32_t kLongestRetryWaitMs = 5 * 60 * 1000;
    /// How often repeated refusals are summed up at Warn.
    static constexpr uint32_t kRefusalReportMs = 10 * 60 * 1000;
    /// True while the guard time after a hang-up holds the next dial off.
    bool isGuardHeld() const { return guard.held; }
    /// The trust rules of the intake (tests read the drop counts).
    const trust::ServerGate& gate() const { return intake; }
    const toolbox::ArrayList<Vote>& getVotes() const { return votes; }

    // The controller step and its parts; public for the tests of each state.
    void controlConnection();
    void hangUpWithGuard();
    void dialFailed();
    void checkIdleShutdown();

    bool isDialling() const { return dialling; }
    DialHandle getConnection() const { return connection; }
    uint32_t getDialTime() const { return dialTime; }
    uint32_t getLastVoteTime() const { return lastVoteTime; }
    /// The port the socket is bound to; 0 when stopped.
    uint16_t boundPort() const;

    // The web page's side: its state, and timed votes entered at the table.
    WebState webState() override;
    bool vote(const std::string& name, uint32_t minutes, uint32_t peer) override;
    bool unvote(const std::string& name, uint32_t peer) override;

private:
    struct FailureInbox;
    struct ShutdownInbox;

    void applyShutdownOutcomes();

    /// Reads the datagrams of one poll; true when one was served.
    bool readDatagrams(uint32_t now);
    void receiveDatagram(const protocol::Request& request, const Endpoint& source, uint32_t now);
    void sendAnswers(uint32_t now);
    void removeVotes(const char* host);
    void rearmIdleClock();
    void applyFailureReports();
    bool dial();
    /// Reads the line once (never waits); Pending leaves the last answer.
    LineState readLine();
    /// Whether the guard time still holds the dial off; ends it when it passed.
    bool guardHolds();
    /// Whether the back-off still holds the dial off; ends it when it passed.
    bool retryHolds();
    void logRefusal(const std::string& reason);
    DialService& currentService();
    void hangUpConnection();

    Settings settings;
    Network& network;
    Clock& clock;
    DialServiceProvider& dialers;
    ShutdownService& shutdownService;

    bool dialling = false;
    DialHandle connection = 0;
    DialService* connectionService = nullptr;  // the service that owns `connection`
    bool lastDialFailed = false;
    uint32_t dialTime = 0;
    LineState lastReported = LineState::Pending;
    bool upSeen = false;
    uint32_t upSince = 0;  // tick count of the first poll that saw it connected
    // The guard time, counted from the end of the hang-up. It outlives stop
    // and start, so a Disable and Enable cannot shorten it.
    struct Guard {
        bool held = false;
        bool deadlineSet = false;  // false while the hang-up is still at work
        uint32_t milliseconds = 0;
        uint32_t deadline = 0;  // tick count
        DialService* service = nullptr;
    } guard;
    // The back-off after failed dials.
    uint32_t retryWaitMs = 0;  // 0: no failure since the line was last up
    bool retryHeld = false;
    uint32_t retryAt = 0;  // tick count
    // Repeated refusals: told at Warn once per reason, then summed up.
    std::string lastRefusal;  // until a dial is accepted
    bool lastDialRefusedAtOnce = false;
    uint32_t refusalsSinceReport = 0;
    uint32_t refusalReportAt = 0;  // tick count
    uint32_t lastVoteTime;
    uint32_t starts = 0;
    std::unique_ptr<UdpSocket> socket;
    toolbox::ArrayList<Vote> votes{16, 60, 30};
    std::shared_ptr<FailureInbox> inbox;
    std::shared_ptr<ShutdownInbox> shutdownInbox;
    KeyStore* keys;
    trust::ServerGate intake;
    trust::WallClock wall;  // read once a poll that has datagrams; answers are made in it
    std::vector<trust::PendingAnswer> pendingAnswers;
    // The names in `votes`, so an answer's "you" costs no scan of the table.
    std::unordered_set<std::string> voterNames;
};

}  // namespace linkmoot
