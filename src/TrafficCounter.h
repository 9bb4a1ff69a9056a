#pragma once
// Turns the successive readings of an interface's byte counters into the
// bytes that passed between them. The rules keep a count from ever being
// doubled, at the price of at most one poll's bytes:
// - The first reading (of a session, or of another interface that the
//   connection moved to) is the baseline: what the interface carried before
//   is not this line's.
// - A counter below its last reading wrapped (a 32-bit counter, from near
//   its top to near 0: the bytes across the wrap count) or was reset (the
//   driver: what it holds now counts).
// - An interface that vanished counts nothing until it is back; the bytes
//   between the last reading and its going are lost. When it comes back under
//   the same name as another interface (PPP makes its interface again), its
//   counters started at 0 and all of them count.
// - A renamed interface (same identity, other name) goes on where it was.
#include <cstdint>
#include <string>

#include "InterfaceCounters.h"

namespace linkmoot {

class TrafficCounter {
public:
    struct Delta {
        uint64_t received = 0;
        uint64_t sent = 0;
    };

    /// Forgets the interface: the next reading is a baseline.
    void reset();
    /// The bytes since the last reading of `name`.
    Delta add(const std::string& name, const InterfaceReading& reading);

    /// How near the top and the bottom of 32 bits a counter must be to be
    /// taken for wrapped (268 MB: more than a poll of any metered line).
    static constexpr uint64_t kLargestWrap = uint64_t{1} << 28;

private:
    static uint64_t forward(uint64_t last, uint64_t now);
    void remember(const std::string& name, const InterfaceReading& reading);

    bool known = false;
    std::string lastName;
    uint64_t identity = 0;
    uint64_t received = 0;
    uint64_t sent = 0;
};

}  // namespace linkmoot
