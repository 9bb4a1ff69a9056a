#include "Discovery.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "Ipv4.h"
#include "LogText.h"
#include "PageCode.h"
#include "PollEvents.h"
#include "ServerFinder.h"
#include "platform/AvahiDnsSd.h"
#include "platform/PosixClock.h"
#include "platform/PosixNetwork.h"
#include "platform/QrEncoder.h"

namespace linkmoot::ctl {

namespace {

std::string how(const FoundServer& server) {
    if (server.announced && server.answered)
        return "DNS-SD and broadcast";
    return server.announced ? "DNS-SD" : "broadcast";
}

void printText(const std::vector<FoundServer>& servers) {
    for (const FoundServer& server : servers) {
        std::string line = printable(server.name.c_str()) + "  " + ipv4::format(server.address) +
                           "  port " + std::to_string(server.port);
        if (server.secret)
            line += "  signed votes";
        if (server.webPort)
            line += "  page http://" + ipv4::format(server.address) + ":" +
                    std::to_string(*server.webPort) + "/";
        line += "  (" + how(server) + ")";
        printf("%s\n", line.c_str());
    }
}

void printJson(const std::vector<FoundServer>& servers) {
    nlohmann::json list = nlohmann::json::array();
    for (const FoundServer& server : servers) {
        nlohmann::json entry = {{"name", server.name},
                                {"instance", server.instance},
                                {"address", ipv4::format(server.address)},
                                {"port", server.port},
                                {"secret", server.secret},
                                {"dnsSd", server.announced},
                                {"broadcast", server.answered}};
        entry["web"] = server.webPort ? nlohmann::json(*server.webPort) : nlohmann::json(nullptr);
        list.push_back(entry);
    }
    printf("%s\n", list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

}  // namespace

int listServers(bool json, uint16_t port) {
    PollEvents events;
    AvahiDnsSd dnsSd(events);
    PosixNetwork network;
    PosixClock clock;
    protocol::Counter counter;
    ServerFinder finder(network, clock, nullptr, counter, &dnsSd);
    finder.browse(true);
    std::string name;
    network.computerName(name);
    finder.startRound(port, name);
    events.runFor(static_cast<int>(ServerFinder::kRoundMs) + 100, [&finder] { finder.poll(); });
    finder.poll();
    const std::vector<FoundServer> servers = finder.servers();
    if (!dnsSd.problem().empty())
        fprintf(stderr, "linkmootctl: %s\n", dnsSd.problem().c_str());
    if (json)
        printJson(servers);
    else
        printText(servers);
    if (servers.empty()) {
        fprintf(stderr, "linkmootctl: no server found on the LAN within %u s\n",
                ServerFinder::kRoundMs / 1000);
        return 3;
    }
    return 0;
}

int printPageCodes(const std::string& addresses) {
    std::istringstream lines(addresses);
    std::string address;
    int printed = 0;
    while (std::getline(lines, address)) {
        if (address.empty())
            continue;
        QrModules code;
        std::string error;
        if (!qrcode::encode(address, code, error)) {
            fprintf(stderr, "linkmootctl: no code for %s: %s\n", address.c_str(), error.c_str());
            return 4;
        }
        printf("%s%s\n\n", blockText(code).c_str(), address.c_str());
        printed++;
    }
    if (printed == 0) {
        fprintf(stderr,
                "linkmootctl: the instance serves no web page (Server/WebPort) on the LAN\n");
        return 4;
    }
    return 0;
}

}  // namespace linkmoot::ctl
