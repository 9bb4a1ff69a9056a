#pragma once
// The server-mode controller: receives vote datagrams on a UDP port, keeps the
// vote table with its 22-second time-out, dials the configured connection while
// votes are held (or always), hangs up with a guard time when the last vote is
// gone, re-dials every N minutes, and shuts the computer down when idle.
//
// Everything runs on the user-interface thread, except the dial service's
// failure reports, which may arrive on any thread and are handed over through
// a mutex-guarded inbox applied at the start of the next controller step.
// The server calls nothing above it: what it has to say (the table changed, the
// socket cannot be had) are the results of its calls.
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "DialService.h"
#include "Settings.h"
#include "StatusModel.h"
#include "ToolBox/ArrayList.h"
#include "Trust.h"
#include "UdpSocket.h"

namespace linkmoot {

class Clock;
class KeyStore;
class Network;
class ShutdownService;
class UdpSocket;

/// One accepted vote: the voter's host name exactly as it stood in the datagram,
/// the tick count of the poll that read it and the IPv4 address it came from.
class Vote {
public:
    Vote(const char* host, uint32_t time, uint32_t address = 0);
    ~Vote();
    Vote(const Vote&) = delete;
    Vote& operator=(const Vote&) = delete;

    const char* getHost() const { return host; }
    uint32_t getTime() const { return time; }
    uint32_t getAddress() const { return address; }

private:
    char* host;
    uint32_t time;
    uint32_t address;
};

/// The line as the protocol's answers name it.
protocol::Line protocolLineOf(LineStatus line);

class Server {
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
    /// The idle clock's disarmed mark.
    static constexpr uint32_t kIdleClockDisarmed = 0xFFFFFFFFu;

    /// `keys`: the shared secret's key store (null: no secret), owned by the caller.
    Server(Settings settings, Network& network, Clock& clock, DialServiceProvider& dialers,
           ShutdownService& shutdown, KeyStore* keys = nullptr);
    ~Server();
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
    /// The connection test: a connection exists and its line is not down (asks
    /// the dial-up service).
    bool isConnected();
    /// The line as the controller last read it; asks nobody. A line the
    /// controller keeps has passed its last connection test.
    LineStatus line() const;
    /// Whole seconds since the first poll that saw the line up; 0 when not up.
    uint32_t secondsUp() const;
    /// Seconds until the next dial a back-off holds off; 0 when none does.
    uint32_t retryWaitSeconds() const;
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

private:
    struct FailureInbox;

    /// Reads the datagrams of one poll; true when one was served.
    bool readDatagrams(uint32_t now);
    void receiveDatagram(const protocol::Request& request, const Endpoint& source, uint32_t now);
    void sendAnswers(uint32_t now);
    void noteLineUp(uint32_t now);
    void applyFailureReports();
    bool dial();
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
    uint32_t lastVoteTime;
    std::unique_ptr<UdpSocket> socket;
    toolbox::ArrayList<Vote> votes{16, 60, 30};
    std::shared_ptr<FailureInbox> inbox;
    KeyStore* keys;
    trust::ServerGate intake;
    trust::WallClock wall;  // read once a poll
    std::vector<trust::PendingAnswer> pendingAnswers;
    // The names in `votes`, so an answer's "you" costs no scan of the table.
    std::unordered_set<std::string> voterNames;
    bool upNoted = false;
    uint32_t upSince = 0;  // tick of the first poll that saw the line up
    uint32_t lastPoll = 0;
};

}  // namespace linkmoot
