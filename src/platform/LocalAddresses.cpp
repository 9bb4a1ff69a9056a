#include "platform/LocalAddresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

namespace linkmoot {

bool LocalAddresses::contains(uint32_t address) {
    if (std::find(addresses.begin(), addresses.end(), address) != addresses.end())
        return true;
    reload();
    return std::find(addresses.begin(), addresses.end(), address) != addresses.end();
}

void LocalAddresses::reload() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return;
    addresses.clear();
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET) {
            addresses.push_back(
                ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr));
        }
    }
    freeifaddrs(list);
}

std::vector<std::string> localHostNames() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return {};
    const std::string full = name;
    const std::string label = full.substr(0, full.find('.'));
    std::vector<std::string> names{label};
    if (label != full)
        names.push_back(full);
    names.push_back(label + ".local");
    return names;
}

}  // namespace linkmoot
