#include "PlanMeter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "InterfaceCounters.h"
#include "LineController.h"
#include "LogCapture.h"
#include "UsageRecorder.h"
#include "VoteTable.h"
#include "fakes/Fakes.h"

namespace linkmoot {
namespace {

using fakes::FakeApplication;
using fakes::FakeClock;

/// Keeps the sessions' buckets and the plan's record as a database would,
/// across programs (`generation` tells one program's record keys apart).
class PlanStorage : public UsageStorage {
public:
    void save(SessionRecord record) override {
        SessionRecord& kept = sessions[{generation, record.key}];
        std::vector<UsageBucket> buckets = kept.buckets;
        for (const UsageBucket& bucket : record.buckets) {
            auto same = std::find_if(buckets.begin(), buckets.end(),
                                     [&](const UsageBucket& b) { return b.start == bucket.start; });
            if (same != buckets.end())
                *same = bucket;
            else
                buckets.push_back(bucket);
        }
        kept = record;
        kept.buckets = buckets;
    }
    void loadHistory(int64_t, HistoryDone done) override {
        UsageHistory history;
        for (const auto& [key, session] : sessions)
            history.add(session);
        done(history, "");
    }
    void readSessions(int64_t, SessionsFormatter format, TextDone done) override {
        done(format({}, ""));
    }
    void savePlan(PlanRecord record) override { kept = record; }
    void loadPlan(PlanDone done) override {
        if (slow)
            pending = std::move(done);
        else
            done(kept);
    }
    bool slow = false;
    PlanDone pending;
    std::optional<PlanRecord> kept;
    std::map<std::pair<int, uint64_t>, SessionRecord> sessions;
    int generation = 0;
};

/// 100 kB in and 10 kB out a second of the fake clock on ppp0.
class FastCounters : public InterfaceCounters {
public:
    explicit FastCounters(FakeClock& clock) : clock(clock) {}
    InterfaceReading read(const std::string& name) override {
        return {name == "ppp0", 3, uint64_t{clock.tick} * 100, uint64_t{clock.tick} * 10, true};
    }
    FakeClock& clock;
};

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

/// The line, the usage record and the plan over the fakes; `restart()` makes
/// a new program over the same storage, as a restart would.
class PlanMeterTest : public ::testing::Test {
protected:
    struct Program {
        Program(FakeApplication& app, FakeClock& clock, FastCounters& counters, UtcTime& zone,
                PlanStorage& storage, NamedLines& dialers)
            : recorder(clock, counters, zone, &storage),
              plan(app, recorder, zone, clock),
              line(app, clock, dialers, &recorder, &plan) {
            recorder.loadHistory();
        }
        UsageRecorder recorder;
        PlanMeter plan;
        LineController line;
    };

    void SetUp() override {
        app.getConfigRoot()->getSection("Server")->getParameter("Connection")->setString("Modem");
        app.getConfigRoot()->getSection("Server")->getParameter("GuardTime")->setLong(0);
        setPlan("DataCapMB", "1");
        setPlan("AtCap", "refuse");
    }
    void setPlan(const char* name, const char* value) {
        app.getConfigRoot()->getSection("Plan")->getParameter(name)->setString(value);
    }
    void steps(int count) {
        for (int i = 0; i < count; ++i) {
            clock.advance(1000);
            program->line.step(votes);
        }
    }
    void restart() {
        program->line.stop(EndReason::Exit);
        program.reset();
        storage.generation++;
        program = std::make_unique<Program>(app, clock, counters, zone, storage, dialers);
    }
    bool lineUp() const { return program->line.status() == LineStatus::Up; }

    testsupport::LogCapture log;
    FakeApplication app;
    FakeClock clock;
    FastCounters counters{clock};
    UtcTime zone;
    PlanStorage storage;
    NamedLines dialers;
    VoteTable votes;
    std::unique_ptr<Program> program =
        std::make_unique<Program>(app, clock, counters, zone, storage, dialers);
};

TEST_F(PlanMeterTest, EachThresholdIsAnnouncedOnceAlsoAcrossARestart) {
    votes.vote("office-pc", clock.tick, 0xC0A80114, 0);
    steps(9);  // dial, first reading, then 110 kB a step: 770 kB
    EXPECT_EQ(log.count("Warn", "Data plan: 80 % of the cap used"), 0u) << log.text();
    steps(1);  // 880 kB
    EXPECT_EQ(log.count("Warn", "Data plan: 80 % of the cap used"), 1u) << log.text();
    restart();  // the session's bytes come back from the database
    steps(3);
    EXPECT_EQ(log.count("Warn", "Data plan: 80 % of the cap used"), 1u) << log.text();
    EXPECT_EQ(log.count("Warn", "Data plan: 90 % of the cap used"), 1u) << log.text();
    steps(20);
    EXPECT_EQ(log.count("Warn", "Data plan: 100 % of the cap used"), 1u) << log.text();
    EXPECT_EQ(program->plan.takeNotices().size(), 2u);  // 90 and 100 in this run
    ASSERT_TRUE(storage.kept);
    EXPECT_EQ(storage.kept->announced, (std::set<unsigned>{80, 90, 100}));
}

TEST_F(PlanMeterTest, RefuseKeepsTheLineUpButDialsNoNewOneUntilAnAllowance) {
    votes.vote("office-pc", clock.tick, 0xC0A80114, 0);
    steps(15);
    EXPECT_TRUE(program->plan.holdsDial());
    EXPECT_TRUE(lineUp());  // refuse does not hang up
    EXPECT_EQ(program->plan.capText(), "Data cap reached: 1.4 MB of 1.0 MB; resets 1 Jan 00:00");
    votes.clear();
    steps(2);
    votes.vote("office-pc", clock.tick, 0xC0A80114, 0);
    const std::size_t dials = dialers.dialer.dials.size();
    steps(5);
    EXPECT_EQ(dialers.dialer.dials.size(), dials);
    EXPECT_EQ(votes.size(), 1u);  // still taken and shown
    std::string error;
    ASSERT_TRUE(program->plan.allow(3600, "tray", error)) << error;
    steps(1);
    EXPECT_EQ(dialers.dialer.dials.size(), dials + 1);
    EXPECT_EQ(log.count("Info", "asked by tray"), 1u) << log.text();
    ASSERT_TRUE(program->plan.cancelAllowance("tray"));
    EXPECT_TRUE(program->plan.holdsDial());
}

TEST_F(PlanMeterTest, ARestartPastTheCapDialsNotBeforeTheDatabaseAnswered) {
    votes.vote("office-pc", clock.tick, 0xC0A80114, 0);
    steps(15);
    storage.slow = true;
    restart();
    steps(3);
    EXPECT_EQ(dialers.dialer.dials.size(), 1u);  // only the first run's
    ASSERT_TRUE(storage.pending);
    storage.pending(storage.kept);
    steps(3);
    EXPECT_EQ(dialers.dialer.dials.size(), 1u);
    EXPECT_TRUE(program->plan.status().capped);
}

TEST_F(PlanMeterTest, HangupEndsTheSessionWithinOneStepOfTheCap) {
    setPlan("AtCap", "hangup");
    votes.vote("office-pc", clock.tick, 0xC0A80114, 0);
    steps(30);
    EXPECT_FALSE(lineUp());
    EXPECT_EQ(log.count("Warn", "hanging up (AtCap=hangup)"), 1u) << log.text();
    const UsageReport report = program->recorder.report();
    const uint64_t used = report.day.figures.bytesIn + report.day.figures.bytesOut;
    EXPECT_GE(used, 1000000u);
    EXPECT_LT(used, 1000000u + 110000u);  // at most one step's traffic over
    EXPECT_EQ(program->plan.status().figures.usedBytes, used);
}

TEST_F(PlanMeterTest, ARaisedCapReArmsAndTheCorrectionCounts) {
    votes.vote("office-pc", clock.tick, 0xC0A80114, 0);
    steps(10);                  // 880 kB: 80 announced
    setPlan("DataCapMB", "2");  // now under 50 %
    steps(1);
    EXPECT_TRUE(program->plan.status().announced.empty());
    std::string error;
    ASSERT_TRUE(program->plan.setUsed({false, 1700000}, "ctl", error)) << error;
    EXPECT_EQ(program->plan.status().figures.usedBytes, 1700000u);
    EXPECT_EQ(program->plan.status().announced, (std::set<unsigned>{80}));
    steps(1);  // later counts add to it
    EXPECT_EQ(program->plan.status().figures.usedBytes, 1810000u);
    EXPECT_EQ(program->plan.status().announced, (std::set<unsigned>{80, 90}));
}

TEST_F(PlanMeterTest, FreeHoursDoNotCount) {
    setPlan("FreeHours", "23:00-01:00");  // the fake clock reads 00:00
    votes.vote("office-pc", clock.tick, 0xC0A80114, 0);
    steps(30);
    EXPECT_TRUE(lineUp());
    EXPECT_EQ(program->plan.status().figures.usedBytes, 0u);
    EXPECT_GT(program->recorder.report().day.figures.bytesIn, 1000000u);  // still recorded
}

}  // namespace
}  // namespace linkmoot
