#pragma once
// The client-side controller: holds whether this computer's user votes for the
// connection, sends the vote and unvote datagrams to the server, repeats the
// vote on every tenth tick while voting (a query instead while not voting, in
// client mode), and sends a Wake-on-LAN packet before each vote when a
// hardware address is configured. One connected socket carries the requests
// and the server's answers; the server's name is looked up off the loop.
// With `Server` set to "auto" the server is the one found on the LAN (see
// ServerFinder), kept as the choice until the user chooses again.
// It calls nothing above it: a failure leaves a question for its caller to
// ask, a change of the server's line a notice for it to show.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Protocol.h"
#include "ServerFinder.h"
#include "ServerLine.h"
#include "Settings.h"
#include "UdpSocket.h"

namespace linkmoot {

class Clock;
class KeyStore;
class Network;

class Client {
public:
    static constexpr uint16_t kWakeOnLanPort = 9;
    static constexpr const char* kWakeOnLanAddress = "224.0.0.1";
    static constexpr std::size_t kMagicPacketLength = 102;
    /// A hardware address counts as configured from this many characters on.
    static constexpr std::size_t kMacTextLength = 17;

    /// Starts voting when `Client`/`AutoVote` is set, without sending anything.
    /// The `Server` value that finds the server on the LAN.
    static constexpr const char* kAutomatic = "auto";
    /// In `auto`, how often the LAN is asked again (DNS-SD follows changes
    /// in between), and how long after a re-vote, so that the server's
    /// answer limit of one a second per address keeps both answers.
    static constexpr uint32_t kRediscoverMs = 30000;
    static constexpr uint32_t kRoundOffsetMs = 5000;

    /// `keys`: the shared secret's key store (null: no secret), owned by the
    /// caller; `browser`: the DNS-SD browser (null: broadcast queries alone).
    Client(Settings settings, Network& network, Clock& clock, KeyStore* keys = nullptr,
           ServiceBrowser* browser = nullptr);
    /// Withdraws a held vote.
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    /// Connect: sets the voting state and votes (nothing when already voting).
    /// With a host name the vote leaves when its look-up answers.
    void startVoting();
    /// Disconnect: sends an unvote when voting and ends the voting state.
    void stopVoting();
    /// Every tenth tick: the Wake-on-LAN packet and the vote again while
    /// voting; a query while not voting, in client mode.
    void revote();
    /// Every tick, without waiting: takes a finished look-up (sending what
    /// waited for it) and reads the server's answers. True when what the
    /// views show of the server changed.
    bool tick();
    bool isVoting() const { return voting; }
    /// The string id of the question a failed send left (once per Connect),
    /// for the caller to ask when its command is done; 0 when none. Taking it
    /// clears it.
    int takeQuestion();
    /// The question taken could not be asked now: the next failure asks it.
    void questionDropped() { errorShown = false; }
    /// The notification text a change of the server's line left while this
    /// user votes (`Client`/`Notify`); empty when none. Taking it clears it.
    std::string takeNotice();

    /// The server's line as the latest trusted answer tells it.
    ServerView serverView() const;
    /// The status row of the server; empty when there is none (server mode,
    /// nothing asked yet).
    std::string serverLineText() const;

    /// True in client mode with `Server` set to "auto".
    bool isAutomatic() const;
    /// Looks for servers while a list of them is shown (the options, the
    /// prompt): a round now, and DNS-SD until it is called with false.
    void lookForServers(bool on);
    /// What the LAN offers now (see ServerFinder::servers).
    std::vector<FoundServer> serversFound() const { return finder.servers(); }

    /// One vote (true) or unvote (false) datagram: "vote:NAME" / "unvote:NAME".
    void sendVote(bool vote);
    void sendWakeOnLan();

    /// The magic packet for the first 17 characters of a text such as
    /// "00:1A:2B:3C:4D:5E": six 0xFF bytes, then the six bytes sixteen times.
    /// Separators are not looked at; characters that are no hex digit count as 0.
    static std::array<uint8_t, kMagicPacketLength> magicPacket(const char* macText);
    /// A dotted IPv4 address ("192.0.2.1") in host order; nullopt for a name.
    static std::optional<uint32_t> dottedAddress(const std::string& text);

private:
    void askQuestion();
    void sendRequest(protocol::Verb verb);
    /// Sends on the connected socket now (the address is known).
    void transmit(protocol::Verb verb);
    /// The configured destination; false (and the failure path) when unusable.
    bool destination(std::string& host, uint16_t& port, protocol::Verb verb);
    bool connectTo(uint32_t address, protocol::Verb verb);
    void failed(protocol::Verb verb, const char* what, const std::string& error);
    void takeLookup();
    void readAnswers(bool& changed);
    /// Compares the server's view with the one shown: changes and notices.
    void followView(bool& changed);
    std::string serverName() const;
    /// In `auto`: the chosen server's address and port; false with the
    /// failure path (or a wait for the running round) when there is none.
    bool automaticDestination(std::string& host, uint16_t& port, protocol::Verb verb);
    void discoveryStep();
    void beginRound();
    void followBrowsing();
    void followBrowsing(bool automatic);
    void sayAutomaticProblem(const std::string& problem);

    Settings settings;
    Network& network;
    Clock& clock;
    KeyStore* keys;
    bool errorShown = false;
    int pendingQuestion = 0;
    bool voting;

    std::unique_ptr<UdpSocket> socket;
    std::string targetHost;  // the host and port the socket is connected for
    uint16_t targetPort = 0;
    std::optional<uint32_t> targetAddress;
    std::unique_ptr<NameResolver> resolver;
    bool lookingUp = false;
    std::string lookupHost;
    std::optional<protocol::Verb> waiting;  // the request that waits for a look-up or the key
    protocol::Counter counter;
    ServerFinder finder;  // after the counter it shares
    bool browsing = false;
    bool listWanted = false;
    uint32_t lastRevote = 0;
    uint32_t lastRound = 0;
    std::optional<protocol::Verb> afterRound;  // the request that waits for the running round
    std::string automaticProblem;              // "No server found on the LAN", ...
    ServerWatch watch;
    ServerView shown;  // what the views last showed, for notices
    std::string notice;
};

}  // namespace linkmoot
