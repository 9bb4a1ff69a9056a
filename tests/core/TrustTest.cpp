#include "Trust.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "SharedSecret.h"
#include "platform/SodiumCrypto.h"

namespace linkmoot::trust {
namespace {

using namespace std::string_literals;
using protocol::Verb;

constexpr uint32_t ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return a << 24 | b << 16 | c << 8 | d;
}

std::unique_ptr<ProtocolKey> testKey() {
    unsigned char bytes[ProtocolKey::kBytes];
    for (std::size_t i = 0; i < sizeof bytes; i++)
        bytes[i] = static_cast<unsigned char>(i * 7);
    return ProtocolKey::fromBytes(sodiumCrypto(), bytes);
}

TEST(TrustTest, AllowedNetworksParseOrExplainAndMatch) {
    struct Case {
        std::string text;
        std::string error;  // a part of the message; empty when accepted
        std::vector<uint32_t> allowed;
        std::vector<uint32_t> refused;
    };
    const Case cases[] = {
        {"",
         "",
         {ip(10, 1, 2, 3), ip(172, 31, 255, 255), ip(192, 168, 7, 1), ip(169, 254, 0, 9),
          ip(127, 0, 0, 1), ip(127, 200, 0, 1)},
         {ip(172, 32, 0, 1), ip(192, 0, 2, 1), ip(203, 0, 113, 5), ip(100, 64, 0, 1),
          ip(11, 0, 0, 1)}},
        {"  ", "", {ip(10, 0, 0, 1)}, {ip(192, 0, 2, 1)}},
        {"192.0.2.0/24, 100.64.0.0/10",
         "",
         {ip(192, 0, 2, 200), ip(100, 127, 255, 255), ip(127, 0, 0, 1)},
         {ip(192, 0, 3, 1), ip(10, 0, 0, 1), ip(100, 128, 0, 0)}},
        {"0.0.0.0/0", "", {ip(203, 0, 113, 5), ip(255, 255, 255, 255), 0}, {}},
        {"203.0.113.5", "", {ip(203, 0, 113, 5)}, {ip(203, 0, 113, 6)}},
        {"203.0.113.5/32", "", {ip(203, 0, 113, 5)}, {ip(203, 0, 113, 4)}},
        {"192.0.2.0/24,", "An entry is empty", {}, {}},
        {"192.0.2.0/24,,10.0.0.0/8", "An entry is empty", {}, {}},
        {"192.0.2.300/24", "300 is above 255", {}, {}},
        {"192.0.2.0/33", "the prefix length 33 is above 32", {}, {}},
        {"192.0.2.5/24", "has bits set past its prefix; the network is 192.0.2.0/24", {}, {}},
        {"010.0.0.0/8", "010 has a leading zero", {}, {}},
        {"192.0.2/24", "'192.0.2/24' is not an IPv4 network such as 192.168.1.0/24", {}, {}},
        {"192.0.2.0.1/24", "not an IPv4 network", {}, {}},
        {"192.0.2.0/", "not an IPv4 network", {}, {}},
        {"192.0.2.0/-1", "not an IPv4 network", {}, {}},
        {"gateway", "not an IPv4 network", {}, {}},
        {"192.0.2.0 /24", "not an IPv4 network", {}, {}},
        {"::1/128", "not an IPv4 network", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        AllowedNetworks networks;
        std::string error;
        ASSERT_TRUE(AllowedNetworks::parse("198.51.100.0/24", networks, error));
        const bool parsed = AllowedNetworks::parse(c.text, networks, error);
        if (!c.error.empty()) {
            EXPECT_FALSE(parsed);
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            // A refused text leaves the networks as they were.
            EXPECT_TRUE(networks.allows(ip(198, 51, 100, 1)));
            continue;
        }
        ASSERT_TRUE(parsed) << error;
        for (uint32_t address : c.allowed)
            EXPECT_TRUE(networks.allows(address)) << address;
        for (uint32_t address : c.refused)
            EXPECT_FALSE(networks.allows(address)) << address;
    }
}

TEST(TrustTest, ReplayGuardAcceptsOnlyRisingCountersForgetsAfter600sAndKeeps4096Names) {
    ReplayGuard guard;
    const uint32_t start = 0xFFFFF000u;  // the tick count wraps on the way
    EXPECT_TRUE(guard.accept("WS01", 100, start));
    EXPECT_FALSE(guard.accept("WS01", 100, start + 1000));
    EXPECT_FALSE(guard.accept("WS01", 99, start + 1000));
    EXPECT_TRUE(guard.accept("WS02", 50, start + 1000));  // per name
    EXPECT_TRUE(guard.accept("WS01", 101, start + 2000));
    // 600 s after its last use a name is still known; a millisecond later it is not.
    EXPECT_FALSE(guard.accept("WS01", 101, start + 2000 + ReplayGuard::kKeepMs));
    guard.expire(start + 2001 + ReplayGuard::kKeepMs);
    EXPECT_EQ(guard.size(), 0u);
    EXPECT_TRUE(guard.accept("WS01", 1, start + 2001 + ReplayGuard::kKeepMs));

    ReplayGuard full;
    for (std::size_t i = 0; i < ReplayGuard::kMaxNames; i++) {
        ASSERT_TRUE(full.accept("host" + std::to_string(i), 10, 0));
    }
    ASSERT_TRUE(full.accept("host0", 11, 1));  // host0 used again: host1 is now the oldest
    ASSERT_TRUE(full.accept("newcomer", 10, 2));
    EXPECT_EQ(full.size(), ReplayGuard::kMaxNames);
    EXPECT_FALSE(full.accept("host0", 11, 3));
    EXPECT_FALSE(full.accept("host2", 10, 3));
    EXPECT_TRUE(full.accept("host1", 10, 3));  // evicted, so forgotten
}

TEST(TrustTest, AnswersAreLimitedPerSourceAndInAll) {
    AnswerLimiter limiter;
    const uint32_t t0 = 0xFFFFFF00u;
    EXPECT_TRUE(limiter.allow(ip(192, 168, 1, 2), t0));
    EXPECT_FALSE(limiter.allow(ip(192, 168, 1, 2), t0 + 999));
    EXPECT_TRUE(limiter.allow(ip(192, 168, 1, 3), t0 + 999));
    EXPECT_TRUE(limiter.allow(ip(192, 168, 1, 2), t0 + 1000));
    // Twice in one poll: one answer.
    EXPECT_EQ(limiter.admit({ip(192, 168, 1, 4), ip(192, 168, 1, 4)}, t0 + 1000),
              (std::vector<bool>{true, false}));

    // 400 at once, then 400 a second: a quarter second later room for 100.
    AnswerLimiter flood;
    auto answered = [&](uint32_t first, uint32_t count, uint32_t tick) {
        std::vector<uint32_t> sources(count);
        for (uint32_t i = 0; i < count; i++)
            sources[i] = ip(10, 0, 0, 0) + first + i;
        const std::vector<bool> admitted = flood.admit(sources, tick);
        return std::count(admitted.begin(), admitted.end(), true);
    };
    EXPECT_EQ(answered(0, 500, 5000), 400);
    EXPECT_EQ(answered(500, 500, 5250), 100);
    EXPECT_EQ(answered(1000, 500, 7250), 400);  // never more than 400 at once
}

// 2000 sources, each asking every ten seconds but all of them late in their
// second, against room for 400 a second: each is answered at least every
// 20 s, since those held back go first the next time.
TEST(TrustTest, TheAnswerBudgetIsSharedSoThatNoSourceStarves) {
    AnswerLimiter limiter;
    std::vector<uint32_t> lastAnswered(2000, 0);
    uint32_t longestWait = 0;
    for (uint32_t second = 0; second < 120; second++) {
        // A crowd of the same 800 in each poll, plus this second's share of the rest.
        std::vector<uint32_t> sources;
        for (uint32_t i = 0; i < 2000; i++) {
            if (i % 10 == second % 10 || i < 800)
                sources.push_back(ip(10, 0, 0, 0) + i);
        }
        const std::vector<bool> admitted = limiter.admit(sources, 1000 * second + 900);
        for (std::size_t k = 0; k < sources.size(); k++) {
            const uint32_t index = sources[k] - ip(10, 0, 0, 0);
            if (admitted[k]) {
                if (second >= 20)
                    longestWait = std::max(longestWait, second - lastAnswered[index]);
                lastAnswered[index] = second;
            }
        }
        EXPECT_LE(std::count(admitted.begin(), admitted.end(), true), 400) << second;
    }
    for (uint32_t i = 800; i < 2000; i++)
        EXPECT_GE(lastAnswered[i], 100u) << i;  // none left out
    EXPECT_LE(longestWait, 20u);
}

TEST(TrustTest, DropsWarnAtOnceThenOnceAnHourWithTheCounts) {
    DropLog log;
    EXPECT_EQ(log.due(0), "");
    log.count(ip(203, 0, 113, 5), DropReason::NotAllowed, 1000);
    EXPECT_EQ(log.due(1000),
              "Dropped a datagram from 203.0.113.5: not from an allowed network; further drops "
              "are counted and reported at most once an hour");
    for (int i = 0; i < 3; i++)
        log.count(ip(203, 0, 113, 5), DropReason::Replayed, 2000);
    for (uint32_t i = 0; i < 70; i++)
        log.count(ip(192, 0, 2, 0) + i, DropReason::WrongMac, 3000);
    EXPECT_EQ(log.due(1000 + DropLog::kReportIntervalMs - 1), "");
    const std::string summary = log.due(1000 + DropLog::kReportIntervalMs);
    EXPECT_EQ(summary.rfind("Dropped 73 datagrams since the last report: 203.0.113.5 3 "
                            "(counter not above the last one), 192.0.2.0 1 (wrong mac)",
                            0),
              0u)
        << summary;
    // 64 sources kept: 203.0.113.5 and 63 others; 7 sources beyond that, and
    // 56 of the kept ones past the 8 listed, fold into the rest.
    EXPECT_NE(summary.find(", 63 from other sources"), std::string::npos) << summary;
    EXPECT_EQ(log.due(1000 + 2 * DropLog::kReportIntervalMs), "");  // nothing new

    // After a quiet hour the next drop is reported with the next poll.
    log.count(ip(198, 51, 100, 7), DropReason::Unsigned, 5 * DropLog::kReportIntervalMs);
    EXPECT_EQ(log.due(5 * DropLog::kReportIntervalMs),
              "Dropped 1 datagrams since the last report: 198.51.100.7 1 (not signed with the "
              "shared secret)");
}

TEST(TrustTest, GateDropsForgedReplayedAndLateDatagramsAndCountsThem) {
    auto key = testKey();
    unsigned char otherBytes[ProtocolKey::kBytes] = {9};
    auto otherKey = ProtocolKey::fromBytes(sodiumCrypto(), otherBytes);
    const uint64_t now = 1700000000000ull;
    const WallClock synced{now, true};
    const WallClock unsynced{now + 3600000, false};
    auto vote = [&](const char* name, uint64_t t, const ProtocolKey* signer = nullptr) {
        return protocol::buildRequest(Verb::Vote, name, signer, t);
    };
    const std::string tampered = [&] {
        std::string datagram = vote("WS01", now + 9, key.get());
        datagram[6] = 'X';  // "vote:WX01..."
        return datagram;
    }();

    struct Case {
        const char* what;
        std::string datagram;
        const ProtocolKey* serverKey;
        WallClock wall;
        ServerGate::Verdict verdict;
        std::string name;
    };
    using V = ServerGate::Verdict;
    // One gate through the whole table: the replay cases rely on the earlier rows.
    const Case cases[] = {
        {"plain vote, no secret", "vote:WS01", nullptr, synced, V::Accepted, "WS01"},
        {"signed vote, no secret: the plain name", vote("WS09", 5, key.get()), nullptr, synced,
         V::Accepted, "WS09"},
        {"another verb", "ping:WS01", nullptr, synced, V::Ignored, ""},
        {"broken block", "vote:WS01\0a=1,a=2"s, nullptr, synced, V::Dropped, ""},
        {"signed vote", vote("WS01", now, key.get()), key.get(), synced, V::Accepted, "WS01"},
        {"plain vote with a secret", "vote:WS01", key.get(), synced, V::Dropped, ""},
        {"unsigned block with a secret", "vote:WS01\0t=1700000000001"s, key.get(), synced,
         V::Dropped, ""},
        {"another key", vote("WS01", now + 1, otherKey.get()), key.get(), synced, V::Dropped, ""},
        {"a changed name", tampered, key.get(), synced, V::Dropped, ""},
        {"replayed", vote("WS01", now, key.get()), key.get(), synced, V::Dropped, ""},
        {"counter went back", vote("WS01", now - 1, key.get()), key.get(), synced, V::Dropped, ""},
        {"301 s ahead", vote("WS01", now + 301000, key.get()), key.get(), synced, V::Dropped, ""},
        {"301 s behind", vote("WS02", now - 301000, key.get()), key.get(), synced, V::Dropped, ""},
        {"300 s ahead", vote("WS01", now + 300000, key.get()), key.get(), synced, V::Accepted,
         "WS01"},
        {"unsynchronised: the counter alone", vote("WS02", now - 301000, key.get()), key.get(),
         unsynced, V::Accepted, "WS02"},
        {"unsynchronised, replayed", vote("WS02", now - 301000, key.get()), key.get(), unsynced,
         V::Dropped, ""},
        {"the same counter, another name", vote("WS03", now + 300000, key.get()), key.get(), synced,
         V::Accepted, "WS03"},
    };
    ServerGate gate;
    uint64_t dropped = 0;
    uint32_t tick = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tick += 1000;
        ASSERT_TRUE(gate.sourceAllowed(ip(192, 168, 1, 2), tick));
        protocol::Request request;
        EXPECT_EQ(gate.check(c.datagram, ip(192, 168, 1, 2), c.serverKey, c.wall, tick, request),
                  c.verdict);
        if (c.verdict == V::Accepted) {
            EXPECT_EQ(request.name, c.name);
        }
        if (c.verdict == V::Dropped)
            dropped++;
    }
    EXPECT_FALSE(gate.sourceAllowed(ip(203, 0, 113, 5), tick));
    dropped++;
    // The first drop went out as its own Warn line, the rest are counted.
    EXPECT_EQ(gate.drops().total(), dropped - 1);
    const std::vector<std::string> warnings = gate.housekeeping(tick);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0],
              "The system clock is not synchronised: signed datagrams are checked by their "
              "counter alone until it is");
    EXPECT_EQ(warnings[1].rfind("Dropped a datagram from 192.168.1.2: malformed", 0), 0u);
}

TEST(TrustTest, GateSignsAnswersEchoingTheRequestAndHoldsBackAnswersOverTheLimit) {
    auto key = testKey();
    ServerGate gate;
    PendingAnswer pending{ip(192, 168, 1, 2), 40000, 0, "WS01", 1700000000000ull};
    protocol::LineReport report;
    report.line = protocol::Line::Dialling;
    report.votes = 1;
    report.you = true;
    const WallClock wall{1700000000500ull, true};

    EXPECT_EQ(gate.admit({pending}, 1000), std::vector<bool>{true});
    const std::string answer = gate.answer(pending, report, key.get(), wall);
    protocol::Answer parsed;
    ASSERT_EQ(protocol::parseAnswer(answer, parsed), protocol::AnswerError::None) << answer;
    ASSERT_EQ(parsed.signing, protocol::Signing::Signed);
    EXPECT_EQ(parsed.echo, pending.echo);
    EXPECT_EQ(parsed.t, wall.unixMs);
    EXPECT_TRUE(key->verify(parsed.signedBytes, parsed.mac));
    EXPECT_EQ(parsed.report.line, protocol::Line::Dialling);

    EXPECT_EQ(gate.admit({pending}, 1500), std::vector<bool>{false});  // served, not answered
    EXPECT_EQ(gate.admit({pending}, 2000), std::vector<bool>{true});
    EXPECT_EQ(gate.answer(pending, report, nullptr, wall),
              "state:v=2,line=dialling,votes=1,you=1,up=0");
}

}  // namespace
}  // namespace linkmoot::trust
