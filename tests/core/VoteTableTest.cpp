#include "VoteTable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace linkmoot {
namespace {

constexpr uint32_t kLan = 0xC0A80114;    // 192.168.1.20
constexpr uint32_t kOther = 0xC0A80199;  // 192.168.1.153
constexpr uint32_t kLocal = 0xC0A80101;

std::vector<std::string> hosts(const VoteTable& table) {
    std::vector<std::string> names;
    for (const Vote& vote : table.entries())
        names.push_back(vote.host);
    return names;
}

TEST(VoteTableTest, ARenewedVoteMovesToTheEndAndNamesAreKeptByteForByte) {
    VoteTable table;
    for (const char* name : {"A", "B", "ws01", "WS01", "evil\nHost", ""})
        table.vote(name, 1000, kLan, kLocal);
    table.vote("A", 2000, kLan, kLocal);
    EXPECT_EQ(hosts(table), (std::vector<std::string>{"B", "ws01", "WS01", "evil\nHost", "", "A"}));
    EXPECT_EQ(table.entries().back().time, 2000u);
    EXPECT_TRUE(table.holds("WS01"));
    EXPECT_FALSE(table.holds("ws02"));
    EXPECT_EQ(table.localAddresses(), std::vector<uint32_t>{kLocal});
}

// Without a secret only the address of the name's vote may withdraw it; with
// one the mac proves the name, wherever it comes from.
TEST(VoteTableTest, AnUnvoteCountsFromTheVotesAddressUnlessTheNameIsProven) {
    VoteTable table;
    table.vote("A", 1000, kLan, kLocal);
    EXPECT_EQ(table.unvote("nobody", kLan, false), VoteTable::Unvote::NotHeld);
    EXPECT_EQ(table.unvote("A", kOther, false), VoteTable::Unvote::OtherAddress);
    EXPECT_TRUE(table.holds("A"));
    EXPECT_EQ(table.unvote("A", kOther, true), VoteTable::Unvote::Removed);
    EXPECT_TRUE(table.empty());
}

// Ages are unsigned differences: a count that passes 2^31 or wraps changes
// nothing. A datagram vote exactly 22 s old stays; a web vote ends at its
// own lifetime.
TEST(VoteTableTest, VotesEndAtTheirTimeAcrossTheWrap) {
    for (uint32_t start : {0x7FFFF000u, 0xFFFFF000u}) {
        VoteTable table;
        table.vote("pc", start, kLan, kLocal);
        table.webVote("web:anna", start, 2);
        EXPECT_TRUE(table.holdsTimedVote());
        EXPECT_FALSE(table.expire(start + 22000)) << std::hex << start;
        EXPECT_EQ(table.entries()[0].millisLeft(start + 20000), 2000u);
        EXPECT_TRUE(table.expire(start + 22001));
        EXPECT_EQ(hosts(table), std::vector<std::string>{"web:anna"});
        EXPECT_EQ(table.entries()[0].millisLeft(start + 30000), 90000u);
        EXPECT_FALSE(table.expire(start + 119999));
        EXPECT_TRUE(table.expire(start + 120000));
        EXPECT_TRUE(table.empty());
        EXPECT_FALSE(table.holdsTimedVote());
    }
}

TEST(VoteTableTest, TheWebEndsOnlyItsOwnVotesAndRenewsThemInPlaceOfASecond) {
    VoteTable table;
    table.vote("pc", 1000, kLan, kLocal);
    table.webVote("web:anna", 1000, 1);
    table.webVote("web:anna", 1000, 5);
    EXPECT_EQ(hosts(table), (std::vector<std::string>{"pc", "web:anna"}));
    EXPECT_EQ(table.entries()[1].millisLeft(1000), 300000u);
    EXPECT_FALSE(table.webUnvote("pc"));
    EXPECT_TRUE(table.webUnvote("web:anna"));
    EXPECT_FALSE(table.webUnvote("web:anna"));
    table.webVote("web:long", 1000, 100000);  // at most a day
    EXPECT_EQ(table.entries().back().millisLeft(1000), 24u * 60 * 60 * 1000);
    table.clear();
    EXPECT_FALSE(table.holds("pc"));
}

}  // namespace
}  // namespace linkmoot
