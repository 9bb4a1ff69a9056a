// Sends arbitrary bytes as one connection to a real control socket (a
// ControlServer in a private folder, served by control::handle) and checks the
// answer against the protocol: the request is the first line, at most 255
// bytes; exactly the known words (with one CR tolerated) get "OK" and run at
// most their one command; anything else gets a single "ERROR" line and changes
// nothing. The target's vote rows carry the input's further lines as host
// names, so that a status answer also shows hostile names.
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "ControlCommands.h"
#include "Linkmoot.h"
#include "PrintableCheck.h"
#include "platform/ControlServer.h"

using fuzzcheck::fail;
using linkmoot::ControlServer;
namespace control = linkmoot::control;

namespace {

class RecordingTarget : public control::CommandTarget {
public:
    void runCommand(int commandId) override { commands.push_back(commandId); }
    linkmoot::StatusSnapshot currentStatus() override {
        statusCalls++;
        return linkmoot::computeStatus({true, true, true, false, hosts});
    }
    bool reloadConfiguration(std::string&) override {
        reloads++;
        return true;
    }
    std::vector<std::string> hosts;
    std::vector<int> commands;
    int statusCalls = 0;
    int reloads = 0;
};

/// The socket lives for the whole run, in a folder of its own.
struct Instance {
    Instance() {
        const char* base = getenv("TMPDIR");
        folder =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/linkmoot-fuzz-XXXXXX";
        if (mkdtemp(folder.data()) == nullptr)
            fail("mkdtemp failed", folder);
        path = folder + "/control.sock";
        std::string error;
        if (server.bind(path, linkmoot::controlsocket::kUserMode, error) !=
            ControlServer::BindResult::Listening) {
            fail("cannot bind the control socket", error);
        }
    }
    ~Instance() {
        server.close();
        rmdir(folder.c_str());
    }
    std::string folder;
    std::string path;
    ControlServer server;
};

Instance& instance() {
    static Instance theInstance;
    return theInstance;
}

std::string exchange(std::string_view bytes, RecordingTarget& target) {
    Instance& control = instance();
    int client = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, control.path.c_str(), control.path.size() + 1);
    if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        fail("cannot connect", control.path);
    if (!bytes.empty() && send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL) !=
                              static_cast<ssize_t>(bytes.size())) {
        fail("cannot send the request", "");
    }
    shutdown(client, SHUT_WR);
    // The server moves each connection on as far as it can without waiting:
    // accepting, reading and answering may take a few turns of the loop. A
    // request it refuses itself (too long) is answered without the handler.
    int served = 0;
    for (int turn = 0; turn < 200 && served == 0; turn++) {
        served += control.server.servePending(
            [&](std::string_view request) { return control::handle(target, request); });
        pollfd answered{client, POLLIN, 0};
        if (served == 0 && poll(&answered, 1, 0) == 1)
            break;
        if (served == 0) {
            pollfd ready{control.server.fd(), POLLIN, 0};
            poll(&ready, 1, 10);
        }
    }
    if (served > 1)
        fail("the connection was served twice", "");
    // Whatever is left of the exchange (closing) is done by the time the
    // answer has been read to its end.
    for (int turn = 0; turn < 10 && control.server.openConnections() != 0; turn++)
        control.server.servePending(
            [&](std::string_view request) { return control::handle(target, request); });
    std::string answer;
    char buffer[4096];
    for (;;) {
        ssize_t got = recv(client, buffer, sizeof buffer, 0);
        if (got < 0)
            fail("cannot read the answer", "");
        if (got == 0)
            break;
        answer.append(buffer, static_cast<std::size_t>(got));
    }
    close(client);
    return answer;
}

int commandOf(std::string_view word) {
    struct Known {
        std::string_view word;
        int command;
    };
    static const Known kKnown[] = {
        {"connect", linkmoot::Command::Connect},
        {"disconnect", linkmoot::Command::Disconnect},
        {"enable", linkmoot::Command::EnableServer},
        {"disable", linkmoot::Command::DisableServer},
        {"refresh", linkmoot::Command::Refresh},
        {"exit", linkmoot::Command::Exit},
        {"status", 0},
    };
    for (const Known& known : kKnown) {
        if (known.word == word)
            return known.command;
    }
    return -1;
}

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> result;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        if (end == std::string_view::npos)
            fail("an answer line without its newline", text);
        result.push_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    RecordingTarget target;
    // Every line after the first is a host name, as far as a NUL lets it be one.
    std::size_t firstEnd = input.find('\n');
    for (std::string_view rest = firstEnd == std::string_view::npos ? ""
                                                                    : input.substr(firstEnd + 1);
         !rest.empty();) {
        std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        target.hosts.emplace_back(line.substr(0, line.find('\0')));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }

    const std::string answer = exchange(input, target);

    if (input.empty()) {
        if (!answer.empty())
            fail("an answer to no request", answer);
        return 0;
    }
    const std::size_t limit = control::kMaxRequestLength;
    std::size_t newline = input.substr(0, limit).find('\n');
    std::vector<std::string_view> answerLines = lines(answer);
    if (newline == std::string_view::npos && input.size() >= limit) {
        if (answer != "ERROR request too long\n")
            fail("a long request got", answer);
        if (!target.commands.empty() || target.statusCalls != 0)
            fail("a long request acted", answer);
        return 0;
    }
    std::string_view request = input.substr(0, newline);
    if (!request.empty() && request.back() == '\r')
        request.remove_suffix(1);
    if (request == "reload") {
        if (answer != "OK\n" || target.reloads != 1 || !target.commands.empty() ||
            target.statusCalls != 0) {
            fail("reload ran otherwise than once", answer);
        }
        return 0;
    }
    if (request == "line") {
        // One word, read from the status the target pushed.
        if (answerLines.size() != 2 || answerLines[0] != "OK" || answerLines[1].empty() ||
            answerLines[1].find(' ') != std::string_view::npos || !target.commands.empty() ||
            target.statusCalls != 1 || target.reloads != 0) {
            fail("line answered otherwise than with one word", answer);
        }
        return 0;
    }
    // The record's, the plan's and the page's requests may take words after
    // theirs and answer from the target's own figures: "OK" and a body, or
    // one ERROR line; they run no command and reload nothing.
    // Their words are parted by spaces, any number of them.
    std::string_view first =
        request.substr(std::min(request.find_first_not_of(' '), request.size()));
    first = first.substr(0, first.find(' '));
    if (first == "usage" || first == "sessions" || first == "plan" || first == "page") {
        const bool ok = answer.rfind("OK\n", 0) == 0;
        if (!ok && (answerLines.size() != 1 || answer.rfind("ERROR ", 0) != 0))
            fail("a record request got", answer);
        if (!target.commands.empty() || target.reloads != 0)
            fail("a record request acted", answer);
        return 0;
    }
    const int command = commandOf(request);
    if (command < 0) {
        if (answerLines.size() != 1 || answer.rfind("ERROR ", 0) != 0)
            fail("a bad request got", answer);
        for (char c : answerLines[0]) {
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)
                fail("an error answer holds a byte outside printable ASCII", answer);
        }
        if (!target.commands.empty() || target.statusCalls != 0 || target.reloads != 0)
            fail("a bad request acted", answer);
        return 0;
    }
    if (answerLines.empty() || answerLines[0] != "OK")
        fail("a good request got", answer);
    if (command > 0) {
        if (answerLines.size() != 1 || target.commands != std::vector<int>{command} ||
            target.statusCalls != 0) {
            fail("a command ran otherwise than once", answer);
        }
        return 0;
    }
    // status: OK, the tray text, the connection row, then one row per host.
    if (!target.commands.empty() || target.statusCalls != 1)
        fail("status acted", answer);
    if (answerLines.size() != 3 + target.hosts.size())
        fail("status has the wrong lines", answer);
    for (std::size_t index = 0; index < target.hosts.size(); index++) {
        std::string_view row = answerLines[3 + index];
        if (row.substr(0, 10) != "Vote from ")
            fail("a vote row", row);
        fuzzcheck::checkPrintable(target.hosts[index], row.substr(10));
    }
    return 0;
}
