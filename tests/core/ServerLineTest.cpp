#include "ServerLine.h"

#include <gtest/gtest.h>

#include "SharedSecret.h"
#include "platform/SodiumCrypto.h"

namespace linkmoot {
namespace {

using protocol::Line;
using State = ServerView::State;

std::unique_ptr<ProtocolKey> testKey(unsigned char seed) {
    unsigned char bytes[ProtocolKey::kBytes] = {seed};
    return ProtocolKey::fromBytes(sodiumCrypto(), bytes);
}

ServerView answered(Line line, uint64_t votes, bool you, uint64_t up = 0,
                    std::optional<uint64_t> retry = {}) {
    ServerView view;
    view.state = State::Answered;
    view.report.line = line;
    view.report.votes = votes;
    view.report.you = you;
    view.report.upSeconds = up;
    view.report.retrySeconds = retry;
    return view;
}

TEST(ServerLineTest, RowsSayTheLineInWordsAndTheCtlWord) {
    ServerView silent;
    silent.state = State::Silent;
    silent.silentSeconds = 35;
    ServerView never;
    never.state = State::NeverAnswered;
    ServerView unchecked;
    unchecked.state = State::SecretUnchecked;
    ServerView waiting;
    waiting.state = State::Waiting;
    struct Case {
        ServerView view;
        const char* text;
        const char* word;
    };
    const Case cases[] = {
        {answered(Line::Up, 3, true, 12 * 60 + 59),
         "Server gateway: line up for 12 min, 3 votes (yours among them)", "up"},
        {answered(Line::Up, 1, true, 45), "Server gateway: line up for 45 s, 1 vote (yours)", "up"},
        {answered(Line::Up, 2, false, 2 * 3600 + 5 * 60),
         "Server gateway: line up for 2 h 5 min, 2 votes", "up"},
        {answered(Line::Up, 0, false, 3 * 86400 + 4 * 3600 + 7),
         "Server gateway: line up for 3 d 4 h, no votes", "up"},
        {answered(Line::Dialling, 1, false), "Server gateway: dialling, 1 vote", "dialling"},
        {answered(Line::Down, 0, false), "Server gateway: down, no votes", "down"},
        {answered(Line::Guard, 0, false), "Server gateway: hung up, waiting its guard time",
         "guard"},
        {answered(Line::Guard, 1, true),
         "Server gateway: hung up, waiting its guard time, 1 vote (yours)", "guard"},
        {answered(Line::Failed, 2, true, 0, 40),
         "Server gateway: dial failed, trying again in 40 s, 2 votes (yours among them)", "failed"},
        {answered(Line::Failed, 0, false, 0, 0), "Server gateway: dial failed, trying again now",
         "failed"},
        {answered(Line::Failed, 0, false), "Server gateway: dial failed", "failed"},
        {silent, "Server gateway: no answer for 35 s", "unknown"},
        {never, "Server gateway: no answer (an older server, or the shared secret differs)",
         "unknown"},
        {unchecked, "Server gateway: the server does not check the shared secret", "unknown"},
        {waiting, "Server gateway: waiting for an answer", "unknown"},
        {ServerView(), "", "unknown"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(serverLineText("gateway", c.view), c.text);
        EXPECT_STREQ(lineWordOf(c.view), c.word) << c.text;
    }
}

TEST(ServerLineTest, WatchTrustsOnlyAnswersThatVerifyAndEchoTheLatestRequest) {
    auto key = testKey(1);
    auto otherKey = testKey(2);
    protocol::LineReport up;
    up.line = Line::Up;
    up.votes = 2;
    up.you = true;
    up.upSeconds = 100;
    const std::string unsignedAnswer = protocol::buildAnswer(up, nullptr, 0, 0);

    struct Case {
        const char* what;
        std::string datagram;
        const ProtocolKey* clientKey;
        State state;
    };
    const Case cases[] = {
        {"no secret: an unsigned answer", unsignedAnswer, nullptr, State::Answered},
        {"secret: verified, echoes the latest t", protocol::buildAnswer(up, key.get(), 20, 7),
         key.get(), State::Answered},
        {"secret: echoes an older request", protocol::buildAnswer(up, key.get(), 19, 7), key.get(),
         State::Waiting},
        {"secret: another key", protocol::buildAnswer(up, otherKey.get(), 20, 7), key.get(),
         State::Waiting},
        {"secret: unsigned", unsignedAnswer, key.get(), State::SecretUnchecked},
        {"not an answer", "vote:WS01", nullptr, State::Waiting},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServerWatch watch;
        watch.requestSent(19, 1000);
        watch.requestSent(20, 11000);
        const bool changed = watch.answerReceived(c.datagram, c.clientKey, 11500);
        EXPECT_EQ(changed, c.state != State::Waiting);
        EXPECT_EQ(watch.view(11500).state, c.state);
    }
}

TEST(ServerLineTest, WatchAgesTheAnswerAndNoticesSilence) {
    protocol::LineReport failed;
    failed.line = Line::Failed;
    failed.retrySeconds = 40;
    protocol::LineReport up;
    up.line = Line::Up;
    up.upSeconds = 600;
    up.votes = 1;
    up.you = true;

    ServerWatch watch;
    const uint32_t t0 = 0xFFFFFFF0u;  // the tick count wraps on the way
    EXPECT_EQ(watch.view(t0).state, State::Unknown);
    watch.requestSent(0, t0);
    EXPECT_EQ(watch.view(t0 + ServerWatch::kSilenceMs).state, State::Waiting);
    EXPECT_EQ(watch.view(t0 + ServerWatch::kSilenceMs + 1).state, State::NeverAnswered);

    EXPECT_TRUE(watch.answerReceived(protocol::buildAnswer(failed, nullptr, 0, 0), nullptr, t0));
    EXPECT_EQ(serverLineText("gw", watch.view(t0 + 15000)),
              "Server gw: dial failed, trying again in 25 s");
    EXPECT_TRUE(
        watch.answerReceived(protocol::buildAnswer(up, nullptr, 0, 0), nullptr, t0 + 20000));
    EXPECT_FALSE(watch.answerReceived(protocol::buildAnswer(up, nullptr, 0, 0), nullptr,
                                      t0 + 21000));  // the same line: no refresh
    EXPECT_EQ(serverLineText("gw", watch.view(t0 + 21000 + 120000 / 10)),
              "Server gw: line up for 10 min, 1 vote (yours)");
    EXPECT_EQ(serverLineText("gw", watch.view(t0 + 21000 + ServerWatch::kSilenceMs + 10000)),
              "Server gw: no answer for 35 s");
}

TEST(ServerLineTest, NoticesForLineUpLineDownAndSilence) {
    ServerView silent;
    silent.state = State::Silent;
    ServerView waiting;
    waiting.state = State::Waiting;
    struct Case {
        ServerView before;
        ServerView after;
        LineNotice notice;
    };
    const Case cases[] = {
        {answered(Line::Dialling, 1, true), answered(Line::Up, 1, true), LineNotice::CameUp},
        {waiting, answered(Line::Up, 2, true), LineNotice::CameUp},
        {answered(Line::Up, 1, true), answered(Line::Up, 2, true), LineNotice::None},
        {answered(Line::Up, 1, true), answered(Line::Guard, 0, false), LineNotice::WentDown},
        {answered(Line::Up, 1, true), silent, LineNotice::StoppedAnswering},
        {silent, silent, LineNotice::None},
        {answered(Line::Down, 0, false), answered(Line::Dialling, 1, true), LineNotice::None},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(noticeBetween(c.before, c.after), c.notice)
            << serverLineText("gw", c.before) << " -> " << serverLineText("gw", c.after);
    }
    EXPECT_EQ(noticeText("gw", LineNotice::StoppedAnswering), "Server gw does not answer");
}

}  // namespace
}  // namespace linkmoot
