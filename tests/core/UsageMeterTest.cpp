#include "UsageMeter.h"

#include <gtest/gtest.h>

#include "VoteTable.h"

namespace linkmoot {
namespace {

constexpr uint64_t kWall = 1796601600000ull;  // 2026-12-07 00:00:00 UTC

// Drives a meter the way the line controller does: one poll a second.
class UsageMeterTest : public ::testing::Test {
protected:
    void begin(bool synchronised = true) { meter.begin(1, tick, {wall, synchronised}); }
    /// One second later; the interface has carried `in` and `out` more.
    void poll(bool up, uint64_t in = 0, uint64_t out = 0, bool synchronised = true) {
        tick += 1000;
        wall += 1000;
        received += in;
        sent += out;
        UsageMeter::Poll p;
        p.now = tick;
        p.wall = {wall, synchronised};
        p.up = up;
        p.interfaceName = "ppp0";
        p.reading = {true, 4, received, sent, true};
        meter.poll(p, votes);
    }
    void vote(const char* name) { votes.push_back(Vote{name, tick, 0, 0, {}}); }

    UsageMeter meter;
    std::vector<Vote> votes;
    uint32_t tick = 0xFFFFF000u;  // wraps during the test
    uint64_t wall = kWall - 5000;
    uint64_t received = 1000000;
    uint64_t sent = 100000;
};

TEST_F(UsageMeterTest, DiallingThenOnlineTimeBytesAndShares) {
    begin();
    vote("office-pc");
    poll(false);  // dialling
    poll(false);
    poll(true);  // first seen up: the baseline
    vote("laptop-2");
    for (int i = 0; i < 10; ++i)
        poll(true, 1001, 101);
    votes.clear();
    poll(true, 500, 50);  // the last interval: those of the poll before
    meter.end(EndReason::NoMoreVotes);

    const SessionRecord record = meter.record(false);
    EXPECT_EQ(record.diallingMs, 3000u);
    EXPECT_EQ(record.onlineMs, 11000u);
    EXPECT_EQ(record.bytesIn, 10510u);
    EXPECT_EQ(record.bytesOut, 1060u);
    EXPECT_EQ(record.startMs, static_cast<int64_t>(kWall - 5000));
    EXPECT_EQ(record.endMs, record.startMs + 14000);
    EXPECT_EQ(record.interfaceName, "ppp0");
    ASSERT_EQ(record.voters.size(), 2u);  // the last second went to those of the poll before
    uint64_t sharedIn = 0;
    uint64_t sharedOut = 0;
    for (const VoterUsage& voter : record.voters) {
        sharedIn += voter.shareIn;
        sharedOut += voter.shareOut;
    }
    EXPECT_EQ(sharedIn, record.bytesIn);
    EXPECT_EQ(sharedOut, record.bytesOut);
    EXPECT_EQ(record.voters[0].name, "office-pc");
    EXPECT_EQ(record.voters[0].heldMs, 11000u);
    EXPECT_EQ(record.voters[1].name, "laptop-2");
    EXPECT_EQ(record.voters[1].heldMs, 11000u);
    EXPECT_EQ(record.voters[1].shareIn, 5000u + 250u);  // the odd byte went to the first
    // The buckets hold exactly the bytes and the online time.
    uint64_t bucketIn = 0;
    uint64_t bucketOnline = 0;
    for (const UsageBucket& bucket : record.buckets) {
        EXPECT_EQ(bucket.start % kBucketSeconds, 0);
        bucketIn += bucket.bytesIn;
        bucketOnline += bucket.onlineMs;
    }
    EXPECT_EQ(bucketIn, record.bytesIn);
    EXPECT_EQ(bucketOnline, record.onlineMs);
    ASSERT_EQ(record.buckets.size(), 2u);  // across midnight
    EXPECT_EQ(record.buckets[1].start, static_cast<int64_t>(kWall / 1000));
}

TEST_F(UsageMeterTest, AlwaysConnectedBytesWithoutAVote) {
    begin();
    poll(true);
    poll(true, 700, 70);
    meter.end(EndReason::ServerStopped);
    const SessionRecord record = meter.record(false);
    ASSERT_EQ(record.voters.size(), 1u);
    EXPECT_EQ(record.voters[0].name, kAlwaysConnectedVoter);
    EXPECT_EQ(record.voters[0].shareIn, 700u);
    EXPECT_EQ(record.voters[0].heldMs, 1000u);
}

TEST_F(UsageMeterTest, TimesComputedBackWhenTheClockIsSynchronisedLater) {
    // The clock reads a day wrong until it is synchronised.
    wall += 86400000;
    begin(false);
    poll(true, 0, 0, false);
    poll(true, 1000, 10, false);
    poll(true, 1000, 10, false);
    wall -= 86400000;  // put right
    poll(true, 1000, 10, true);
    meter.end(EndReason::NoMoreVotes);
    const SessionRecord record = meter.record(false);
    EXPECT_TRUE(record.clockSynchronised);
    EXPECT_EQ(record.startMs, static_cast<int64_t>(kWall - 5000));
    EXPECT_EQ(record.endMs, record.startMs + 4000);
    ASSERT_EQ(record.buckets.size(), 1u);
    EXPECT_EQ(record.buckets[0].start, bucketOf(static_cast<int64_t>(kWall / 1000) - 5));
    EXPECT_EQ(record.buckets[0].bytesIn, 3000u);
}

TEST_F(UsageMeterTest, WritesCarryOnlyTheChangedBuckets) {
    begin();
    poll(true);
    for (int i = 0; i < 10; ++i)
        poll(true, 10, 1);
    EXPECT_EQ(meter.record(true).buckets.size(), 2u);
    poll(true, 10, 1);
    const SessionRecord next = meter.record(true);
    ASSERT_EQ(next.buckets.size(), 1u);  // the current one, absolute
    EXPECT_EQ(next.buckets[0].bytesIn, 80u);
}

TEST_F(UsageMeterTest, AFloodOfNamesIsCapped) {
    begin();
    poll(true);
    for (std::size_t i = 0; i < kMaxVotersPerSession + 10; ++i)
        vote(("host-" + std::to_string(i)).c_str());
    poll(true, 1000, 0);
    const SessionRecord record = meter.record(false);
    ASSERT_EQ(record.voters.size(), kMaxVotersPerSession + 1);
    EXPECT_EQ(record.voters.back().name, kOtherVoters);
}

}  // namespace
}  // namespace linkmoot
