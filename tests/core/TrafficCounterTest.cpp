#include "TrafficCounter.h"

#include <gtest/gtest.h>

#include <vector>

namespace linkmoot {
namespace {

struct Reading {
    const char* name;
    bool present;
    uint64_t identity;
    uint64_t received;
    uint64_t sent;
    uint64_t wantReceived;  // what this reading adds
    uint64_t wantSent;
};

struct Case {
    const char* what;
    std::vector<Reading> readings;
};

constexpr uint64_t k32 = uint64_t{1} << 32;

// Each sequence is one session's polls; the sum of what they add must be
// neither more than passed nor less than all but the poll before a loss.
const Case kCases[] = {
    {"the first reading is the baseline",
     {{"ppp0", true, 7, 5000000, 400000, 0, 0}, {"ppp0", true, 7, 5001000, 400100, 1000, 100}}},
    {"a 32-bit counter wraps",
     {{"ppp0", true, 7, k32 - 100, 10, 0, 0}, {"ppp0", true, 7, 50, 20, 150, 10}}},
    {"a counter reset counts what it holds since",
     {{"ppp0", true, 7, 9000000000, 10, 0, 0}, {"ppp0", true, 7, 300, 20, 300, 10}}},
    {"a small counter that fell far is a reset, not a wrap",
     {{"ppp0", true, 7, 3000000000, 0, 0, 0}, {"ppp0", true, 7, 1000, 0, 1000, 0}}},
    {"an interface that vanished and came back made anew counts from zero",
     {{"ppp0", true, 7, 1000, 100, 0, 0},
      {"ppp0", true, 7, 3000, 300, 2000, 200},
      {"ppp0", false, 0, 0, 0, 0, 0},
      {"ppp0", true, 9, 500, 50, 500, 50},
      {"ppp0", true, 9, 700, 60, 200, 10}}},
    {"made anew between two polls",
     {{"ppp0", true, 7, 1000, 100, 0, 0}, {"ppp0", true, 8, 40, 4, 40, 4}}},
    {"a renamed interface goes on where it was",
     {{"ppp0", true, 7, 1000, 100, 0, 0}, {"wan", true, 7, 1500, 150, 500, 50}}},
    {"another interface under another name is a new baseline",
     {{"ppp0", true, 7, 1000, 100, 0, 0},
      {"wwan0", true, 3, 80000000, 900000, 0, 0},
      {"wwan0", true, 3, 80000010, 900001, 10, 1}}},
    {"no name counts nothing and keeps the baseline",
     {{"ppp0", true, 7, 1000, 100, 0, 0},
      {"", false, 0, 0, 0, 0, 0},
      {"ppp0", true, 7, 1100, 110, 100, 10}}},
};

TEST(TrafficCounterTest, NeverDoublesAndLosesAtMostAPoll) {
    for (const Case& test : kCases) {
        TrafficCounter counter;
        std::size_t poll = 0;
        for (const Reading& reading : test.readings) {
            InterfaceReading read;
            read.present = reading.present;
            read.identity = reading.identity;
            read.received = reading.received;
            read.sent = reading.sent;
            const TrafficCounter::Delta delta = counter.add(reading.name, read);
            EXPECT_EQ(delta.received, reading.wantReceived) << test.what << ", poll " << poll;
            EXPECT_EQ(delta.sent, reading.wantSent) << test.what << ", poll " << poll;
            ++poll;
        }
    }
}

TEST(TrafficCounterTest, ResetMakesTheNextReadingABaseline) {
    TrafficCounter counter;
    InterfaceReading read{true, 7, 1000, 100, true};
    counter.add("ppp0", read);
    counter.reset();
    read.received = 5000;
    EXPECT_EQ(counter.add("ppp0", read).received, 0u);
    read.received = 5100;
    EXPECT_EQ(counter.add("ppp0", read).received, 100u);
}

}  // namespace
}  // namespace linkmoot
