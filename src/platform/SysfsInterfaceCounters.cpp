#include "platform/SysfsInterfaceCounters.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace linkmoot {

namespace {

constexpr unsigned long kUp = 0x1;        // IFF_UP
constexpr unsigned long kRunning = 0x40;  // IFF_RUNNING

/// The number in an attribute file read from its start; false when unreadable.
bool readNumber(int fd, int base, uint64_t& value) {
    char text[32];
    const ssize_t got = pread(fd, text, sizeof text - 1, 0);
    if (got <= 0)
        return false;
    text[got] = '\0';
    char* end = nullptr;
    value = std::strtoull(text, &end, base);
    return end != text;
}

bool readFileNumber(const std::string& path, int base, uint64_t& value) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool read = readNumber(fd, base, value);
    close(fd);
    return read;
}

/// A name that stays inside the root folder.
bool isInterfaceName(const std::string& name) {
    return !name.empty() && name.size() < 16 && name != "." && name != ".." &&
           name.find('/') == std::string::npos;
}

}  // namespace

SysfsInterfaceCounters::SysfsInterfaceCounters(std::string root) : root(std::move(root)) {}

SysfsInterfaceCounters::~SysfsInterfaceCounters() {
    closeInterface();
}

void SysfsInterfaceCounters::closeInterface() {
    for (int* fd : {&receivedFd, &sentFd, &flagsFd}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
    openName.clear();
}

bool SysfsInterfaceCounters::openInterface(const std::string& name) {
    closeInterface();
    if (!isInterfaceName(name))
        return false;
    const std::string folder = root + "/" + name;
    if (!readFileNumber(folder + "/ifindex", 10, identity))
        return false;
    receivedFd = open((folder + "/statistics/rx_bytes").c_str(), O_RDONLY | O_CLOEXEC);
    sentFd = open((folder + "/statistics/tx_bytes").c_str(), O_RDONLY | O_CLOEXEC);
    flagsFd = open((folder + "/flags").c_str(), O_RDONLY | O_CLOEXEC);
    if (receivedFd < 0 || sentFd < 0) {
        closeInterface();
        return false;
    }
    openName = name;
    return true;
}

InterfaceReading SysfsInterfaceCounters::read(const std::string& name) {
    InterfaceReading reading;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (name != openName && !openInterface(name))
            return reading;
        uint64_t flags = 0;
        if (readNumber(receivedFd, 10, reading.received) && readNumber(sentFd, 10, reading.sent)) {
            reading.present = true;
            reading.identity = identity;
            reading.up = flagsFd >= 0 && readNumber(flagsFd, 16, flags) &&
                         (flags & (kUp | kRunning)) == (kUp | kRunning);
            return reading;
        }
        // Gone (or made again under its name): open it afresh once.
        closeInterface();
    }
    return InterfaceReading{};
}

}  // namespace linkmoot
