#pragma once
// The byte counters of a network interface, as the system keeps them. Rules:
// - read() answers at once from what the system already knows (no waiting on
//   a device, a bus or a process) and never throws.
// - An interface that does not exist reads as not present; its counters are 0.
// - `identity` tells two interfaces of the same name apart (the kernel's
//   interface index): an interface that is removed and made again gets another
//   one, a renamed interface keeps it.
// - The counters count from the interface's creation and may go backwards
//   (a driver that resets them, 32-bit counters that wrap); TrafficCounter
//   makes deltas of them.
#include <cstdint>
#include <string>

namespace linkmoot {

struct InterfaceReading {
    bool present = false;
    uint64_t identity = 0;
    uint64_t received = 0;  ///< bytes
    uint64_t sent = 0;      ///< bytes
    bool up = false;        ///< administratively up and running
};

class InterfaceCounters {
public:
    virtual ~InterfaceCounters() = default;
    virtual InterfaceReading read(const std::string& name) = 0;
};

}  // namespace linkmoot
