#include "platform/UsageDatabase.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "PlatformTestSupport.h"

namespace linkmoot {
namespace {

SessionRecord session(int64_t startMs, uint64_t bytesIn) {
    SessionRecord record;
    record.key = 1;
    record.startMs = startMs;
    record.clockSynchronised = true;
    record.diallingMs = 2000;
    record.onlineMs = 60000;
    record.bytesIn = bytesIn;
    record.bytesOut = bytesIn / 10;
    record.interfaceName = "ppp0";
    record.buckets = {{startMs / 1000 / 900 * 900, bytesIn, bytesIn / 10, 60000}};
    // Names come from the network: quotes and SQL stay text.
    record.voters = {
        {"office-pc", 60000, bytesIn / 2, bytesIn / 20},
        {"x'); DROP TABLE sessions;--", 30000, bytesIn - bytesIn / 2, bytesIn / 10 - bytesIn / 20}};
    return record;
}

class UsageDatabaseTest : public ::testing::Test {
protected:
    std::string path() const { return folder.file("linkmootd.db"); }
    platformtest::LogCapture log;
    testsupport::TempFolder folder;
};

TEST_F(UsageDatabaseTest, WritesReplaceAndReadBack) {
    UsageDatabase database(path());
    std::string error;
    ASSERT_TRUE(database.open(error)) << error;
    struct stat info {};
    ASSERT_EQ(stat(path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(database.version(), static_cast<int>(UsageDatabase::schemaSteps().size()));

    SessionRecord open = session(1796601600000, 1000000);
    int64_t row = 0;
    ASSERT_TRUE(database.save(open, row, error)) << error;
    ASSERT_NE(row, 0);
    // A later write of the same record: absolute figures, its bucket replaced.
    open.bytesIn = 3000000;
    open.buckets[0].bytesIn = 3000000;
    open.ended = EndReason::NoMoreVotes;
    open.endMs = open.startMs + 62000;
    ASSERT_TRUE(database.save(open, row, error)) << error;
    int64_t failedRow = 0;
    SessionRecord failed;
    failed.startMs = open.startMs + 100000;
    failed.ended = EndReason::Failed;
    failed.failure = "the line is busy";
    failed.dials = 4;
    ASSERT_TRUE(database.save(failed, failedRow, error)) << error;

    std::vector<SessionRecord> sessions;
    ASSERT_TRUE(database.readSessions(0, sessions, error)) << error;
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_EQ(sessions[0].bytesIn, 3000000u);
    EXPECT_EQ(sessions[0].ended, EndReason::NoMoreVotes);
    ASSERT_EQ(sessions[0].voters.size(), 2u);
    EXPECT_EQ(sessions[0].voters[1].name, "x'); DROP TABLE sessions;--");
    EXPECT_EQ(sessions[1].dials, 4u);
    EXPECT_EQ(sessions[1].failure, "the line is busy");

    UsageHistory history;
    ASSERT_TRUE(database.loadHistory(0, history, error)) << error;
    UsageHistory expected;
    expected.add(open);
    expected.add(failed);
    EXPECT_EQ(history, expected);
    EXPECT_EQ(database.integrityCheck(), "ok");
}

TEST_F(UsageDatabaseTest, AnOpenSessionComesBackInterrupted) {
    std::string error;
    {
        UsageDatabase database(path());
        ASSERT_TRUE(database.open(error)) << error;
        int64_t row = 0;
        ASSERT_TRUE(database.save(session(1796601600000, 5000), row, error)) << error;
    }
    UsageDatabase again(path());
    ASSERT_TRUE(again.open(error)) << error;
    EXPECT_EQ(again.closeInterrupted(error), 1);
    EXPECT_EQ(again.closeInterrupted(error), 0);
    std::vector<SessionRecord> sessions;
    ASSERT_TRUE(again.readSessions(0, sessions, error));
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].ended, EndReason::Interrupted);
    EXPECT_EQ(sessions[0].endMs, 1796601600000 + 62000);
    EXPECT_EQ(sessions[0].bytesIn, 5000u);
}

TEST_F(UsageDatabaseTest, ADamagedFileIsKeptAsBrokenAndANewOneMade) {
    folder.writeFile("linkmootd.db", std::string(8192, 'x'));
    UsageDatabase database(path());
    std::string error;
    ASSERT_TRUE(database.open(error)) << error;
    EXPECT_TRUE(folder.contains("linkmootd.db.broken"));
    EXPECT_EQ(log.count("Error", "linkmootd.db.broken"), 1u) << log.text();
    int64_t row = 0;
    EXPECT_TRUE(database.save(session(1796601600000, 10), row, error)) << error;
}

TEST_F(UsageDatabaseTest, UpgradesFromTheFirstVersionAndLeavesANewerOneAlone) {
    std::string error;
    {
        // A file of the first version, with a session in it.
        UsageDatabase first(path(), {UsageDatabase::schemaSteps()[0]});
        ASSERT_TRUE(first.open(error)) << error;
        ASSERT_EQ(first.version(), 1);
        int64_t row = 0;
        ASSERT_TRUE(first.save(session(1796601600000, 777), row, error)) << error;
    }
    std::vector<std::string> later = UsageDatabase::schemaSteps();
    later.push_back("CREATE TABLE plan_state(key TEXT PRIMARY KEY, value TEXT);");
    {
        UsageDatabase upgraded(path(), later);
        ASSERT_TRUE(upgraded.open(error)) << error;
        EXPECT_EQ(upgraded.version(), static_cast<int>(later.size()));
        std::vector<SessionRecord> sessions;
        ASSERT_TRUE(upgraded.readSessions(0, sessions, error));
        ASSERT_EQ(sessions.size(), 1u);
        EXPECT_EQ(sessions[0].bytesIn, 777u);
        // The second version's plan cycles: the latest cycle's record comes back.
        std::optional<PlanRecord> latest;
        ASSERT_TRUE(upgraded.loadPlan(latest, error)) << error;
        EXPECT_FALSE(latest);
        const PlanRecord older{1796601600, -5000, 60, {80}};
        const PlanRecord newer{1799193600, 123, -7, {80, 90, 100}};
        ASSERT_TRUE(upgraded.savePlan(older, error)) << error;
        ASSERT_TRUE(upgraded.savePlan(newer, error)) << error;
        ASSERT_TRUE(upgraded.savePlan(newer, error)) << error;  // replaces
        ASSERT_TRUE(upgraded.loadPlan(latest, error)) << error;
        EXPECT_EQ(latest, newer);
        SessionRecord capped = session(1796601700000, 1);
        capped.ended = EndReason::DataCap;
        int64_t row = 0;
        EXPECT_TRUE(upgraded.save(capped, row, error)) << error;  // its reason is known
    }
    // This program's own steps are fewer than the file's version now.
    UsageDatabase older(path());
    EXPECT_FALSE(older.open(error));
    EXPECT_NE(error.find("newer"), std::string::npos) << error;
    EXPECT_FALSE(folder.contains("linkmootd.db.broken"));
}

}  // namespace
}  // namespace linkmoot
