#include "Protocol.h"

#include <gtest/gtest.h>

#include <string>

#include "SharedSecret.h"
#include "platform/SodiumCrypto.h"

namespace linkmoot::protocol {
namespace {

using namespace std::string_literals;

const std::string kHex(64, 'a');

std::unique_ptr<ProtocolKey> testKey(unsigned char fill) {
    unsigned char bytes[ProtocolKey::kBytes];
    for (unsigned char& byte : bytes)
        byte = fill++;
    return ProtocolKey::fromBytes(sodiumCrypto(), bytes);
}

TEST(ProtocolTest, RequestsParseAsOldServersReadThemAndTheBlockByItsRules) {
    struct Case {
        std::string datagram;
        RequestError error;
        Verb verb;
        std::string name;
        Signing signing;
        uint64_t t;
    };
    const std::string n = "vote:WS01\0"s;
    const Case cases[] = {
        {"vote:WS01", RequestError::None, Verb::Vote, "WS01", Signing::None, 0},
        {"unvote:A:B", RequestError::None, Verb::Unvote, "A:B", Signing::None, 0},
        {"query:WS01", RequestError::None, Verb::Query, "WS01", Signing::None, 0},
        {"vote:", RequestError::None, Verb::Vote, "", Signing::None, 0},
        {"Vote:WS01", RequestError::NotARequest, Verb::Vote, "", Signing::None, 0},
        {"WS01", RequestError::NotARequest, Verb::Vote, "", Signing::None, 0},
        {"vote\0:WS01"s, RequestError::NotARequest, Verb::Vote, "", Signing::None, 0},
        {n, RequestError::None, Verb::Vote, "WS01", Signing::None, 0},
        {n + "v=2,future=x", RequestError::None, Verb::Vote, "WS01", Signing::None, 0},
        {n + "t=12", RequestError::None, Verb::Vote, "WS01", Signing::None, 0},
        {n + "a=1,a=2", RequestError::BadBlock, Verb::Vote, "WS01", Signing::None, 0},
        {n + "a=1,,b=2", RequestError::BadBlock, Verb::Vote, "WS01", Signing::None, 0},
        {n + "a=1,", RequestError::BadBlock, Verb::Vote, "WS01", Signing::None, 0},
        {n + "a b=1", RequestError::BadBlock, Verb::Vote, "WS01", Signing::None, 0},
        {n + "a=b=c", RequestError::BadBlock, Verb::Vote, "WS01", Signing::None, 0},
        {n + "=1", RequestError::BadBlock, Verb::Vote, "WS01", Signing::None, 0},
        {n + "a", RequestError::BadBlock, Verb::Vote, "WS01", Signing::None, 0},
        {n + "a=\x01", RequestError::BadBlock, Verb::Vote, "WS01", Signing::None, 0},
        {n + "a=\xC3\xA4", RequestError::BadBlock, Verb::Vote, "WS01", Signing::None, 0},
        {n + "a=1\0"s, RequestError::BadBlock, Verb::Vote, "WS01", Signing::None, 0},
        {n + "t=12,mac=" + kHex, RequestError::None, Verb::Vote, "WS01", Signing::Signed, 12},
        {n + "t=9999999999999999,x=1,mac=" + kHex, RequestError::None, Verb::Vote, "WS01",
         Signing::Signed, 9999999999999999ull},
        {n + "t=12,mac=" + kHex + ",x=1", RequestError::None, Verb::Vote, "WS01",
         Signing::Malformed, 0},
        {n + "x=1,t=12,mac=" + kHex, RequestError::None, Verb::Vote, "WS01", Signing::Malformed, 0},
        {n + "mac=" + kHex, RequestError::None, Verb::Vote, "WS01", Signing::Malformed, 0},
        {n + "t=12,mac=" + std::string(64, 'A'), RequestError::None, Verb::Vote, "WS01",
         Signing::Malformed, 0},
        {n + "t=12,mac=" + std::string(63, 'a'), RequestError::None, Verb::Vote, "WS01",
         Signing::Malformed, 0},
        {n + "t=12345678901234567,mac=" + kHex, RequestError::None, Verb::Vote, "WS01",
         Signing::Malformed, 0},
        {n + "t=+1,mac=" + kHex, RequestError::None, Verb::Vote, "WS01", Signing::Malformed, 0},
        {"vote:" + std::string(251, 'x'), RequestError::None, Verb::Vote, std::string(251, 'x'),
         Signing::None, 0},
        {"vote:" + std::string(252, 'x'), RequestError::TooLong, Verb::Vote, "", Signing::None, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.datagram));
        Request request;
        ASSERT_EQ(parseRequest(c.datagram, request), c.error);
        if (c.error != RequestError::None && c.error != RequestError::BadBlock)
            continue;
        EXPECT_EQ(request.verb, c.verb);
        EXPECT_EQ(request.name, c.name);
        if (c.error == RequestError::BadBlock)
            continue;
        EXPECT_EQ(request.signing, c.signing);
        if (c.signing == Signing::Signed) {
            EXPECT_EQ(request.t, c.t);
            EXPECT_EQ(request.mac, kHex);
            // The mac covers every byte before its comma, the NUL included.
            EXPECT_EQ(request.signedBytes, c.datagram.substr(0, c.datagram.size() - 69));
        }
    }
}

TEST(ProtocolTest, AnswersParseWithTheirRequiredFieldsAndSkipUnknownOnes) {
    struct Case {
        std::string datagram;
        AnswerError error;
        Line line = Line::Down;
        uint64_t votes = 0;
        bool you = false;
        uint64_t up = 0;
        std::optional<uint64_t> retry = {};
    };
    const std::string base = "state:v=2,line=up,votes=3,you=1,up=754";
    const Case cases[] = {
        {base, AnswerError::None, Line::Up, 3, true, 754, {}},
        {"state:up=0,you=0,votes=0,line=failed,v=2,retry=40", AnswerError::None, Line::Failed, 0,
         false, 0, 40},
        {"state:v=3,line=guard,votes=1,you=0,up=0,later=x",
         AnswerError::None,
         Line::Guard,
         1,
         false,
         0,
         {}},
        {"state:v=2,line=dialling,votes=18446744073709551615,you=0,up=0",
         AnswerError::None,
         Line::Dialling,
         UINT64_MAX,
         false,
         0,
         {}},
        {"state:v=2,line=up,votes=18446744073709551616,you=0,up=0", AnswerError::BadValue},
        {"state:v=1,line=up,votes=3,you=1,up=754", AnswerError::BadValue},
        {"state:v=2,line=sideways,votes=3,you=1,up=754", AnswerError::BadValue},
        {"state:v=2,line=up,votes=3,you=2,up=754", AnswerError::BadValue},
        {"state:v=2,line=up,votes=-3,you=1,up=754", AnswerError::BadValue},
        {base + ",retry=", AnswerError::BadValue},
        {"state:v=2,line=up,votes=3,you=1", AnswerError::MissingField},
        {"state:", AnswerError::MissingField},
        {base + ",v=2", AnswerError::BadFields},
        {base + ",", AnswerError::BadFields},
        {"State:v=2,line=up,votes=3,you=1,up=754", AnswerError::NotAnAnswer},
        {base + "\0"s, AnswerError::NotAnAnswer},
        {base + ",pad=" + std::string(256 - base.size() - 5, 'x'),
         AnswerError::None,
         Line::Up,
         3,
         true,
         754,
         {}},
        {base + ",pad=" + std::string(257 - base.size() - 5, 'x'), AnswerError::TooLong},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.datagram);
        Answer answer;
        ASSERT_EQ(parseAnswer(c.datagram, answer), c.error);
        if (c.error != AnswerError::None)
            continue;
        EXPECT_EQ(answer.report.line, c.line);
        EXPECT_EQ(answer.report.votes, c.votes);
        EXPECT_EQ(answer.report.you, c.you);
        EXPECT_EQ(answer.report.upSeconds, c.up);
        EXPECT_EQ(answer.report.retrySeconds, c.retry);
        EXPECT_EQ(answer.signing, Signing::None);
    }
}

TEST(ProtocolTest, BuiltRequestsKeepTheOldFormatAndSignedOnesVerifyAfterParsing) {
    auto key = testKey(1);
    // Unsigned: byte for byte what every server version reads.
    EXPECT_EQ(buildRequest(Verb::Vote, "WS01", nullptr, 0), "vote:WS01");
    EXPECT_EQ(buildRequest(Verb::Unvote, "WS01", nullptr, 0), "unvote:WS01");
    EXPECT_EQ(buildRequest(Verb::Query, "WS01", nullptr, 0), "query:WS01");

    for (Verb verb : {Verb::Vote, Verb::Unvote, Verb::Query}) {
        const std::string datagram = buildRequest(verb, "WS01", key.get(), 1700000000000ull);
        Request request;
        ASSERT_EQ(parseRequest(datagram, request), RequestError::None);
        EXPECT_EQ(request.verb, verb);
        EXPECT_EQ(request.name, "WS01");
        ASSERT_EQ(request.signing, Signing::Signed);
        EXPECT_EQ(request.t, 1700000000000ull);
        EXPECT_TRUE(key->verify(request.signedBytes, request.mac));
        // An old server ends the name at the NUL: it sees a plain vote for WS01.
        EXPECT_EQ(std::string(datagram.c_str()), std::string(verbWord(verb)) + ":WS01");
    }

    // Refused: a NUL in the name, a counter of 17 digits, a datagram past 256 bytes.
    EXPECT_EQ(buildRequest(Verb::Vote,
                           "WS\0"s
                           "01",
                           nullptr, 0),
              "");
    EXPECT_EQ(buildRequest(Verb::Vote, "WS01", key.get(), kMaxCounter + 1), "");
    const std::size_t signedOverhead =
        buildRequest(Verb::Unvote, "", key.get(), kMaxCounter).size();
    const std::string longest(kMaxDatagramLength - signedOverhead, 'n');
    EXPECT_EQ(buildRequest(Verb::Unvote, longest, key.get(), kMaxCounter).size(),
              kMaxDatagramLength);
    EXPECT_EQ(buildRequest(Verb::Unvote, longest + "n", key.get(), kMaxCounter), "");
}

TEST(ProtocolTest, BuiltAnswersRoundTripAndStayWithin256BytesAtTheirLargest) {
    auto key = testKey(7);
    // The largest a server sends (the budget of docs/protocol.md), and
    // numbers past it, where the optional host no longer fits and is left out.
    LineReport largest;
    largest.line = Line::Dialling;
    largest.votes = UINT32_MAX;
    largest.you = true;
    largest.upSeconds = UINT32_MAX;
    largest.retrySeconds = 300;
    largest.host = std::string(kMaxHostLength, 'h');
    LineReport beyond = largest;
    beyond.votes = UINT64_MAX;
    beyond.upSeconds = UINT64_MAX;
    beyond.retrySeconds = UINT64_MAX;
    LineReport plain;
    plain.line = Line::Up;
    plain.votes = 3;
    plain.you = true;
    plain.upSeconds = 754;
    EXPECT_EQ(buildAnswer(plain, nullptr, 0, 0), "state:v=2,line=up,votes=3,you=1,up=754");

    const LineReport reports[] = {plain, largest, beyond};
    for (const LineReport& report : reports) {
        for (const ProtocolKey* signer : {static_cast<const ProtocolKey*>(nullptr),
                                          static_cast<const ProtocolKey*>(key.get())}) {
            const std::string datagram = buildAnswer(report, signer, kMaxCounter, kMaxCounter - 1);
            SCOPED_TRACE(datagram);
            EXPECT_LE(datagram.size(), kMaxDatagramLength);
            Answer answer;
            ASSERT_EQ(parseAnswer(datagram, answer), AnswerError::None);
            EXPECT_EQ(answer.report.line, report.line);
            EXPECT_EQ(answer.report.votes, report.votes);
            EXPECT_EQ(answer.report.you, report.you);
            EXPECT_EQ(answer.report.upSeconds, report.upSeconds);
            EXPECT_EQ(answer.report.retrySeconds, report.retrySeconds);
            EXPECT_EQ(answer.report.host, &report == &reports[2] && signer ? "" : report.host);
            if (signer != nullptr) {
                ASSERT_EQ(answer.signing, Signing::Signed);
                EXPECT_EQ(answer.echo, kMaxCounter);
                EXPECT_EQ(answer.t, kMaxCounter - 1);
                EXPECT_TRUE(key->verify(answer.signedBytes, answer.mac));
            }
        }
    }
}

TEST(ProtocolTest, ThePlanFieldsFitTheLongestSignedAnswerAndHostYields) {
    auto key = testKey(7);
    LineReport largest;
    largest.line = Line::Dialling;
    largest.votes = UINT32_MAX;
    largest.you = true;
    largest.upSeconds = UINT32_MAX;
    largest.retrySeconds = 300;
    largest.host = std::string(kMaxHostLength, 'h');
    PlanReport plan{PlanReport::kMaxMB,      PlanReport::kMaxMB,    PlanReport::kMaxMinutes,
                    PlanReport::kMaxMinutes, PlanReport::kMaxReset, true};
    largest.plan = plan;
    LineReport overshoot = largest;  // used figures past the caps go clamped
    overshoot.plan->usedMB = UINT64_MAX;
    overshoot.plan->usedMinutes = UINT64_MAX;
    LineReport dataOnly = largest;
    dataOnly.plan = PlanReport{3200, 10000, 0, 0, 1799906400, false};
    dataOnly.host = "gw";  // a short one still fits beside it
    const LineReport reports[] = {largest, overshoot, dataOnly};
    for (const LineReport& report : reports) {
        const std::string datagram = buildAnswer(report, key.get(), kMaxCounter, kMaxCounter);
        SCOPED_TRACE(datagram);
        EXPECT_LE(datagram.size(), kMaxDatagramLength);
        Answer answer;
        ASSERT_EQ(parseAnswer(datagram, answer), AnswerError::None);
        ASSERT_EQ(answer.signing, Signing::Signed);
        EXPECT_TRUE(key->verify(answer.signedBytes, answer.mac));
        EXPECT_EQ(answer.report.plan, &report == &reports[1] ? plan : *report.plan);
        // At the maxima there is no room left for the host; it yields.
        EXPECT_EQ(answer.report.host, &report == &reports[2] ? report.host : "");
    }
    EXPECT_EQ(buildAnswer(largest, key.get(), kMaxCounter, kMaxCounter).size(), 256u);
    LineReport plain;
    plain.plan = PlanReport{3200, 10000, 0, 0, 1799906400, false};
    EXPECT_EQ(buildAnswer(plain, nullptr, 0, 0),
              "state:v=2,line=down,votes=0,you=0,up=0,used=3200,cap=10000,reset=1799906400,"
              "capped=0");
    // A previous client skips the fields; a malformed plan leaves the state readable.
    for (const char* bad : {"capped=1,cap=0,used=0", "capped=1,used=1", "capped=1,cap=x,used=1",
                            "capped=2,used=1,cap=2", "used=1,cap=2"}) {
        Answer answer;
        const std::string datagram =
            std::string("state:v=2,line=up,votes=1,you=1,up=5,reset=9,") + bad;
        ASSERT_EQ(parseAnswer(datagram, answer), AnswerError::None) << bad;
        EXPECT_FALSE(answer.report.plan) << bad;
    }
}

TEST(ProtocolTest, TheHostFieldIsAShortNameCutTo63BytesOrNothing) {
    const struct {
        std::string name;
        std::string carried;
    } cases[] = {
        {"gw1", "gw1"},
        {std::string(64, 'a'), std::string(63, 'a')},
        {"my gateway", ""},  // a space
        {"a=b", ""},
        {"a,b", ""},
        {"g\xc3\xa4te", ""},  // not ASCII
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(answerHostName(c.name), c.carried);
        LineReport report;
        report.host = c.name;
        Answer answer;
        ASSERT_EQ(parseAnswer(buildAnswer(report, nullptr, 0, 0), answer), AnswerError::None);
        EXPECT_EQ(answer.report.host, c.carried);
    }
}

TEST(ProtocolTest, CounterFollowsTheClockButNeverRepeatsOrGoesBack) {
    Counter counter;
    EXPECT_EQ(counter.next(1000), 1000u);
    EXPECT_EQ(counter.next(1000), 1001u);  // same millisecond
    EXPECT_EQ(counter.next(500), 1002u);   // the clock stepped back
    EXPECT_EQ(counter.next(5000), 5000u);
}

}  // namespace
}  // namespace linkmoot::protocol
