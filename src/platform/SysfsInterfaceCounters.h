#pragma once
// The kernel's interface counters from /sys/class/net/IF/statistics. The
// files of the interface last asked for stay open and are read again from
// their start (a sysfs attribute gives its current value at each read), so a
// poll costs three short reads and no path look-up. A file that fails (the
// interface went: ENODEV) is closed and the name opened again at the next
// read. Never waits: sysfs answers from memory.
#include <string>

#include "InterfaceCounters.h"

namespace linkmoot {

class SysfsInterfaceCounters : public InterfaceCounters {
public:
    /// `root`: the folder holding the interfaces (tests give their own).
    explicit SysfsInterfaceCounters(std::string root = "/sys/class/net");
    ~SysfsInterfaceCounters() override;
    SysfsInterfaceCounters(const SysfsInterfaceCounters&) = delete;
    SysfsInterfaceCounters& operator=(const SysfsInterfaceCounters&) = delete;

    InterfaceReading read(const std::string& name) override;

private:
    bool openInterface(const std::string& name);
    void closeInterface();

    std::string root;
    std::string openName;
    int receivedFd = -1;
    int sentFd = -1;
    int flagsFd = -1;
    uint64_t identity = 0;
};

}  // namespace linkmoot
