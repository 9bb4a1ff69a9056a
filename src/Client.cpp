#include "Client.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "Strings.h"
#include "ToolBox/Logger.h"
#include "ToolBox/String.h"
#include "UdpSocket.h"

namespace linkmoot {

namespace {

uint8_t hexValue(char character) {
    if (character >= '0' && character <= '9')
        return static_cast<uint8_t>(character - '0');
    if (character >= 'A' && character <= 'F')
        return static_cast<uint8_t>(character - 'A' + 10);
    if (character >= 'a' && character <= 'f')
        return static_cast<uint8_t>(character - 'a' + 10);
    return 0;
}

}  // namespace

Client::Client(Settings settings, Network& network)
    : settings(settings), network(network), voting(settings.get(keys::AutoVote)) {
    LM_LOG(Debug, "Created client");
}

Client::~Client() {
    LM_LOG(Debug, "Destroying client");
    stopVoting();
    LM_LOG(Debug, "Destroyed client");
}

void Client::startVoting() {
    LM_LOG(Debug, "Starting voting");
    if (voting)
        return;
    voting = true;
    errorShown = false;
    sendWakeOnLan();
    sendVote(true);
}

void Client::stopVoting() {
    LM_LOG(Debug, "Stopping voting");
    if (!voting)
        return;
    sendVote(false);
    voting = false;
}

void Client::revote() {
    if (!voting)
        return;
    sendWakeOnLan();
    sendVote(true);
}

void Client::askQuestion() {
    if (errorShown)
        return;
    errorShown = true;
    pendingQuestion = StringId::QuestionClientCannotConnect;
}

int Client::takeQuestion() {
    const int question = pendingQuestion;
    pendingQuestion = 0;
    return question;
}

void Client::sendVote(bool vote) {
    LM_LOG(Info, vote ? "Voting for RAS connection" : "Unvoting for RAS connection");
    const bool wakeOnLan = settings.get(keys::WakeOnLanMac).size() >= kMacTextLength;

    std::unique_ptr<UdpSocket> socket = network.createSocket();
    LM_LOG(Debug, "Creating client socket");
    if (!socket->open(0)) {
        LM_LOG(Error, "Cannot create client socket: %s", socket->lastErrorText().c_str());
        socket.reset();
        if (!wakeOnLan)
            askQuestion();
        return;
    }

    const std::string host =
        settings.isServerMode() ? std::string("localhost") : settings.get(keys::ClientServer);
    const int32_t port = settings.get(keys::Port);

    LM_LOG(Debug, "Connecting to server");
    bool connected = false;
    std::string error;
    if (port < 0 || port > 65535) {
        // A port the network cannot carry is refused rather than silently wrapped.
        error = toolbox::systemErrorText(EINVAL).c_str();
    } else {
        connected = socket->connect(host.c_str(), static_cast<uint16_t>(port));
        if (!connected)
            error = socket->lastErrorText();
    }
    if (!connected) {
        LM_LOG(Error, "Cannot connect to server: %s", error.c_str());
        socket->close();
        socket.reset();
        if (!wakeOnLan)
            askQuestion();
        return;
    }

    std::string name;
    if (!network.computerName(name)) {
        LM_LOG(Error, "Cannot get computer name of localhost");
        socket->close();
        socket.reset();
        askQuestion();
        return;
    }

    std::string text = std::string(vote ? "vote" : "unvote") + ":" + name;
    LM_LOG(Debug, "Sending '%s'", text.c_str());
    socket->send(text.data(), text.size());
    socket->close();
}

std::array<uint8_t, Client::kMagicPacketLength> Client::magicPacket(const char* macText) {
    uint8_t mac[6];
    for (int i = 0; i < 6; i++) {
        mac[i] = static_cast<uint8_t>(hexValue(macText[3 * i]) * 16 + hexValue(macText[3 * i + 1]));
    }
    std::array<uint8_t, kMagicPacketLength> packet{};
    for (int i = 0; i < 6; i++)
        packet[i] = 0xFF;
    for (std::size_t n = 6; n < kMagicPacketLength; n++)
        packet[n] = mac[n % 6];
    return packet;
}

void Client::sendWakeOnLan() {
    const std::string mac = settings.get(keys::WakeOnLanMac);
    if (mac.size() < kMacTextLength)
        return;
    const std::string macText = mac.substr(0, kMacTextLength);
    LM_LOG(Info, "Sending Wake-on-LAN packet");

    std::unique_ptr<UdpSocket> socket = network.createSocket();
    LM_LOG(Debug, "Creating client socket");
    if (!socket->open(0)) {
        LM_LOG(Error, "Cannot create client socket: %s", socket->lastErrorText().c_str());
        return;
    }
    LM_LOG(Debug, "Connecting to server");
    if (!socket->setBroadcast() || !socket->connect(kWakeOnLanAddress, kWakeOnLanPort)) {
        LM_LOG(Error, "Cannot connect to server: %s", socket->lastErrorText().c_str());
        socket->close();
        return;
    }
    const std::array<uint8_t, kMagicPacketLength> packet = magicPacket(macText.c_str());
    LM_LOG(Debug, "Sending Wake-on-LAN data");
    if (!socket->send(packet.data(), packet.size())) {
        // A lost packet is not fatal: the vote still follows.
        LM_LOG(Warn, "The Wake-on-LAN packet could not be sent: %s",
               socket->lastErrorText().c_str());
    }
    socket->close();
}

}  // namespace linkmoot
