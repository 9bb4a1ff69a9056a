#include "platform/SystemWallClock.h"

#include <gtest/gtest.h>

#include <chrono>

namespace linkmoot {
namespace {

// The window check compares with counters in Unix milliseconds: a clock read
// in seconds or microseconds would put every signed datagram outside it.
TEST(SystemWallClockTest, ReadsUnixMilliseconds) {
    const auto before = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    const trust::WallClock wall = readSystemWallClock();
    const auto after = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    EXPECT_GE(wall.unixMs, static_cast<uint64_t>(before));
    EXPECT_LE(wall.unixMs, static_cast<uint64_t>(after));
}

}  // namespace
}  // namespace linkmoot
