#include "TrafficCounter.h"

namespace linkmoot {

void TrafficCounter::reset() {
    known = false;
    lastName.clear();
}

uint64_t TrafficCounter::forward(uint64_t last, uint64_t now) {
    if (now >= last)
        return now - last;
    // A wrap only when it is plain: the counter was near the top of 32 bits
    // and is near the bottom now. Anything else is a reset, and counting what
    // it holds since can only lose, never double, a poll's bytes.
    constexpr uint64_t k32 = uint64_t{1} << 32;
    if (last < k32 && last >= k32 - kLargestWrap && now < kLargestWrap)
        return now + k32 - last;
    return now;
}

void TrafficCounter::remember(const std::string& name, const InterfaceReading& reading) {
    known = true;
    lastName = name;
    identity = reading.identity;
    received = reading.received;
    sent = reading.sent;
}

TrafficCounter::Delta TrafficCounter::add(const std::string& name,
                                          const InterfaceReading& reading) {
    Delta delta;
    if (!reading.present || name.empty())
        return delta;
    if (!known) {
        remember(name, reading);
        return delta;
    }
    if (reading.identity == identity) {
        delta.received = forward(received, reading.received);
        delta.sent = forward(sent, reading.sent);
    } else if (name == lastName) {
        // Made again under its name: its counters began at 0.
        delta.received = reading.received;
        delta.sent = reading.sent;
    }
    // Another interface under another name: a baseline, nothing counted.
    remember(name, reading);
    return delta;
}

}  // namespace linkmoot
