#pragma once
// The client-side controller: holds whether this computer's user votes for the
// connection, sends the vote and unvote datagrams to the server (a new socket
// for each), repeats the vote on every tenth tick while voting, and sends a
// Wake-on-LAN packet before each vote when a hardware address is configured.
// It calls nothing above it: a failure leaves a question for its caller to ask.
#include <array>
#include <cstddef>
#include <cstdint>

#include "Settings.h"

namespace linkmoot {

class Network;

class Client {
public:
    static constexpr uint16_t kWakeOnLanPort = 9;
    static constexpr const char* kWakeOnLanAddress = "224.0.0.1";
    static constexpr std::size_t kMagicPacketLength = 102;
    /// A hardware address counts as configured from this many characters on.
    static constexpr std::size_t kMacTextLength = 17;

    /// Starts voting when `Client`/`AutoVote` is set, without sending anything.
    Client(Settings settings, Network& network);
    /// Withdraws a held vote.
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    /// Connect: sets the voting state and votes at once (nothing when already voting).
    void startVoting();
    /// Disconnect: sends an unvote when voting and ends the voting state.
    void stopVoting();
    /// Every tenth tick: the Wake-on-LAN packet and the vote again while voting.
    void revote();
    bool isVoting() const { return voting; }
    /// The string id of the question a failed send left (once per Connect),
    /// for the caller to ask when its command is done; 0 when none. Taking it
    /// clears it.
    int takeQuestion();

    /// One vote (true) or unvote (false) datagram: "vote:NAME" / "unvote:NAME".
    void sendVote(bool vote);
    void sendWakeOnLan();

    /// The magic packet for the first 17 characters of a text such as
    /// "00:1A:2B:3C:4D:5E": six 0xFF bytes, then the six bytes sixteen times.
    /// Separators are not looked at; characters that are no hex digit count as 0.
    static std::array<uint8_t, kMagicPacketLength> magicPacket(const char* macText);

private:
    void askQuestion();

    Settings settings;
    Network& network;
    bool errorShown = false;
    int pendingQuestion = 0;
    bool voting;
};

}  // namespace linkmoot
