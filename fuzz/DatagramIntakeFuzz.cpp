// Feeds arbitrary datagrams to the server's intake (Server::poll over an
// in-memory socket, a fake clock and a fake dial-up service) and checks the
// vote table against a model of the intake after every poll, the dial-up
// connection against the table, and the printable form of every host name.
// The datagrams carry extension blocks too: the model takes the request's
// parser (fuzzed on its own in ExtensionBlockFuzz) for what the block says.
//
// Input: records, each an operation byte, a two-byte big-endian length (taken
// modulo 320, so that datagrams above the 256-byte limit occur) and that many
// payload bytes (fewer at the end of the input). The operation's low two bits:
//   0  queue the datagram
//   1  queue it, then poll
//   2  advance the clock by (op >> 2) seconds, queue it, then poll
//   3  the line drops (bit 2 set) or the service reports the dial failed,
//      then queue it and poll
// At the end every queued datagram is read, then every vote times out.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "LogText.h"
#include "PrintableCheck.h"
#include "Protocol.h"
#include "Server.h"
#include "ToolBox/Config.h"
#include "fakes/Fakes.h"

using linkmoot::Server;
using namespace linkmoot::fakes;

namespace {

struct ModelVote {
    std::string host;
    uint32_t time;
};

/// What one accepted request does to the table. The web page's names belong
/// to its own votes, and a query only asks.
void applyRequest(std::vector<ModelVote>& table, const linkmoot::protocol::Request& request,
                  uint32_t now) {
    const std::string host(request.name);
    if (host.rfind("web:", 0) == 0 || request.verb == linkmoot::protocol::Verb::Query)
        return;
    table.erase(std::remove_if(table.begin(), table.end(),
                               [&](const ModelVote& vote) { return vote.host == host; }),
                table.end());
    if (request.verb == linkmoot::protocol::Verb::Vote)
        table.push_back({host, now});
}

/// One poll as the model sees it: time-outs, then the datagrams. Every source
/// is allowed and there is no secret, so a datagram is dropped (malformed:
/// over the limit or a broken extension block), ignored (not a request) or
/// served; a poll reads at most a thousand, dropped ones included.
void modelPoll(std::vector<ModelVote>& table, std::vector<std::string>& queue, uint32_t now) {
    table.erase(std::remove_if(table.begin(), table.end(),
                               [&](const ModelVote& vote) {
                                   return static_cast<uint32_t>(now - vote.time) >
                                          linkmoot::VoteTable::kVoteTimeoutMs;
                               }),
                table.end());
    for (int read = 0; read < linkmoot::VoteIntake::kMaxDatagramsPerPoll && !queue.empty();
         read++) {
        const std::string datagram = queue.front();
        queue.erase(queue.begin());
        // The fake socket's empty datagram stands for "nothing more": it is
        // consumed and ends the reading.
        if (datagram.empty())
            break;
        if (datagram.size() > linkmoot::protocol::kMaxDatagramLength)
            continue;
        linkmoot::protocol::Request request;
        switch (linkmoot::protocol::parseRequest(datagram, request)) {
            case linkmoot::protocol::RequestError::TooLong:
            case linkmoot::protocol::RequestError::BadBlock:
                continue;
            case linkmoot::protocol::RequestError::NotARequest:
                continue;
            case linkmoot::protocol::RequestError::None:
                applyRequest(table, request, now);
                break;
        }
    }
}

class Harness {
public:
    Harness() : server(application, network, clock, dialers, shutdown) {
        toolbox::ConfigSection* root = application.config.getRoot();
        root->getParameter("Mode")->setString("server");
        root->getParameter("Port")->setString("9005");
        root->getSection("Server")->getParameter("ShutDownMinutes")->setLong(1);
        server.start();
        if (!server.isStarted())
            fuzzcheck::fail("the server did not start", "");
    }

    void queue(std::string datagram) {
        network.inbound.push_back(datagram);
        modelQueue.push_back(std::move(datagram));
    }

    void poll() {
        modelPoll(model, modelQueue, clock.tick);
        server.poll();
        check();
    }

    void lineDrops() {
        if (server.lineController().connection() != 0)
            dialers.dialer.states[server.lineController().connection()] =
                linkmoot::LineState::Disconnected;
    }
    void dialFails() { dialers.dialer.reportFailure(server.lineController().connection()); }
    void advance(uint32_t milliseconds) { clock.advance(milliseconds); }
    bool drained() const { return network.inbound.empty(); }
    bool connected() const { return server.lineController().connection() != 0; }
    bool empty() const { return server.getVotes().empty(); }

private:
    void check() {
        const std::vector<linkmoot::Vote>& votes = server.getVotes().entries();
        if (votes.size() != model.size())
            fuzzcheck::fail("the table's size differs from the model's", "");
        for (std::size_t index = 0; index < votes.size(); index++) {
            const linkmoot::Vote& vote = votes[index];
            if (model[index].host != vote.host || model[index].time != vote.time)
                fuzzcheck::fail("the table differs from the model at", vote.host.c_str());
            fuzzcheck::checkPrintable(vote.host.c_str(), linkmoot::printable(vote.host.c_str()));
        }
        // Votes are served at once: a dial is under way or the line is there,
        // unless the guard time after a hang-up holds the dial off.
        if (!model.empty() && server.lineController().connection() == 0 &&
            server.line() != linkmoot::LineStatus::Guard)
            fuzzcheck::fail("votes are held but there is no connection", "");
        // Each dialled handle is hung up once at most, and only one is open.
        const FakeDialService& dialer = dialers.dialer;
        std::vector<linkmoot::DialHandle> hungUp = dialer.hangUps;
        std::sort(hungUp.begin(), hungUp.end());
        if (std::adjacent_find(hungUp.begin(), hungUp.end()) != hungUp.end())
            fuzzcheck::fail("a handle was hung up twice", "");
        std::size_t open = dialer.dials.size() - hungUp.size();
        if (open != (server.lineController().connection() != 0 ? 1u : 0u))
            fuzzcheck::fail("dials and hang-ups do not match the connection", "");
    }

    FakeApplication application;
    FakeNetwork network;
    FakeClock clock;
    FakeDialServices dialers;
    FakeShutdown shutdown;
    Server server;
    std::vector<ModelVote> model;
    std::vector<std::string> modelQueue;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Harness harness;
    std::size_t at = 0;
    while (at + 3 <= size) {
        const uint8_t op = data[at];
        std::size_t length = ((std::size_t{data[at + 1]} << 8) | data[at + 2]) % 320;
        at += 3;
        length = std::min(length, size - at);
        std::string datagram(reinterpret_cast<const char*>(data + at), length);
        at += length;
        switch (op & 3) {
            case 0:
                harness.queue(std::move(datagram));
                break;
            case 1:
                harness.queue(std::move(datagram));
                harness.poll();
                break;
            case 2:
                harness.advance(static_cast<uint32_t>(op >> 2) * 1000u);
                harness.queue(std::move(datagram));
                harness.poll();
                break;
            default:
                if (op & 4) {
                    harness.lineDrops();
                } else {
                    harness.dialFails();
                }
                harness.queue(std::move(datagram));
                harness.poll();
                break;
        }
    }
    while (!harness.drained())
        harness.poll();
    harness.advance(linkmoot::VoteTable::kVoteTimeoutMs + 1);
    harness.poll();
    harness.poll();  // the poll that saw the line come up hangs up only at the next one
    if (!harness.empty() || harness.connected())
        fuzzcheck::fail("votes or a connection outlived every time-out", "");
    return 0;
}
