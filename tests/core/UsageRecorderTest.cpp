#include "UsageRecorder.h"

#include <gtest/gtest.h>

#include "InterfaceCounters.h"
#include "LineController.h"
#include "LogCapture.h"
#include "VoteTable.h"
#include "fakes/Fakes.h"

namespace linkmoot {
namespace {

using fakes::FakeApplication;
using fakes::FakeClock;

/// Keeps each write as it came.
class RecordingStorage : public UsageStorage {
public:
    void save(SessionRecord record) override { saved.push_back(std::move(record)); }
    void loadHistory(int64_t, HistoryDone done) override { done({}, ""); }
    void readSessions(int64_t, SessionsFormatter format, TextDone done) override {
        done(format({}, ""));
    }
    std::vector<SessionRecord> saved;
};

/// An interface whose counter grows by 1000 bytes in (100 out) a second of the fake clock.
class GrowingCounters : public InterfaceCounters {
public:
    explicit GrowingCounters(FakeClock& clock) : clock(clock) {}
    InterfaceReading read(const std::string& name) override {
        return {name == "ppp0", 3, clock.tick, clock.tick / 10, true};
    }
    FakeClock& clock;
};

/// A line that runs on ppp0 while it is up.
class NamedLine : public fakes::FakeDialService {
public:
    std::string interfaceName(DialHandle handle) override {
        return state(handle) == LineState::Connected ? "ppp0" : "";
    }
};

class NamedLines : public DialServiceProvider {
public:
    DialService& service(const std::string&) override { return dialer; }
    NamedLine dialer;
};

// The line controller and the recorder together, over the fakes: what the
// database gets and when, and how each session ended.
class UsageRecorderTest : public ::testing::Test {
protected:
    void SetUp() override { server()->getParameter("Connection")->setString("Modem"); }
    toolbox::ConfigSection* server() { return app.getConfigRoot()->getSection("Server"); }
    void steps(int count) {
        for (int i = 0; i < count; ++i) {
            clock.advance(1000);
            line.step(votes);
        }
    }

    testsupport::LogCapture log;
    FakeApplication app;
    FakeClock clock;
    GrowingCounters counters{clock};
    UtcTime calendar;
    RecordingStorage storage;
    UsageRecorder recorder{clock, counters, calendar, &storage};
    NamedLines dialers;
    VoteTable votes;
    LineController line{app, clock, dialers, &recorder};
};

TEST_F(UsageRecorderTest, ASessionIsWrittenAtItsStartEveryMinuteAndAtItsEnd) {
    votes.vote("office-pc", clock.tick, 0xC0A80114, 0);
    steps(1);  // dials; the fake line is up at once
    steps(130);
    votes.clear();
    steps(1);
    ASSERT_EQ(storage.saved.size(), 4u);  // start, two minutes, end
    const SessionRecord& last = storage.saved.back();
    EXPECT_EQ(last.ended, EndReason::NoMoreVotes);
    EXPECT_EQ(last.onlineMs, 130000u);
    EXPECT_EQ(last.bytesIn, 130000u);
    for (const SessionRecord& write : storage.saved)
        EXPECT_EQ(write.key, last.key);
    ASSERT_EQ(last.voters.size(), 1u);
    EXPECT_EQ(last.voters[0].shareIn, 130000u);
    EXPECT_EQ(log.count("Info",
                        "Line session ended after 2 min: 130.0 kB in, 13.0 kB out; "
                        "held by office-pc"),
              1u)
        << log.text();
    const UsageReport report = recorder.report();
    EXPECT_EQ(report.day.figures.sessions, 1u);
    EXPECT_EQ(report.day.figures.bytesIn, 130000u);
}

TEST_F(UsageRecorderTest, RefusedDialsInARowShareOneRecord) {
    dialers.dialer.refuse = true;
    votes.vote("office-pc", clock.tick, 0xC0A80114, 0);
    steps(150);  // a refusal every second, no back-off
    ASSERT_GE(storage.saved.size(), 2u);
    ASSERT_LE(storage.saved.size(), 4u);  // its start, then once a minute
    for (const SessionRecord& write : storage.saved) {
        EXPECT_EQ(write.key, storage.saved[0].key);
        EXPECT_EQ(write.ended, EndReason::Failed);
        EXPECT_EQ(write.failure, "refused by the test");
    }
    EXPECT_EQ(recorder.report().day.figures.failedDials, 150u);
    EXPECT_EQ(recorder.report().day.figures.sessions, 0u);
    // Once the line is had, the run is written to the end and a session begins.
    dialers.dialer.refuse = false;
    steps(2);
    EXPECT_EQ(storage.saved[storage.saved.size() - 2].dials, 150u);
    EXPECT_FALSE(storage.saved.back().ended.has_value());
}

TEST_F(UsageRecorderTest, EachWayOfEndingIsRecorded) {
    votes.vote("office-pc", clock.tick, 0xC0A80114, 0);
    steps(3);
    dialers.dialer.states[dialers.dialer.nextHandle - 1] = LineState::Disconnected;
    steps(1);
    EXPECT_EQ(storage.saved.back().ended, EndReason::DroppedByLine);
    server()->getParameter("GuardTime")->setLong(0);
    steps(3);
    line.stop(EndReason::Exit);
    EXPECT_EQ(storage.saved.back().ended, EndReason::Exit);
    EXPECT_FALSE(recorder.isRecording());
}

}  // namespace
}  // namespace linkmoot
