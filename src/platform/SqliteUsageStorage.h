#pragma once
// The sessions' storage in the database file: every call queues its work on
// a worker thread of its own (BackgroundQueue) and returns; results go back
// through `deliver`, which hands them to the loop's thread (a LoopInbox).
// The database is opened at the first job that needs it, so SQLite is
// loaded only then (a start that finds no file loads nothing). A database
// that cannot be opened is told once at Error; voting and dialling go on,
// and its problem is what the views show.
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "UsageStorage.h"
#include "platform/BackgroundQueue.h"
#include "platform/UsageDatabase.h"

namespace linkmoot {

class SqliteUsageStorage : public UsageStorage {
public:
    using Deliver = std::function<void(std::function<void()> job)>;

    SqliteUsageStorage(std::string path, Deliver deliver);
    /// Runs the writes still queued, then closes the file.
    ~SqliteUsageStorage() override;

    void save(SessionRecord record) override;
    void loadHistory(int64_t sinceUnixSeconds, HistoryDone done) override;
    void readSessions(int64_t sinceUnixMs, SessionsFormatter format, TextDone done) override;
    void savePlan(PlanRecord record) override;
    void loadPlan(PlanDone done) override;

    /// The database's place: $STATE_DIRECTORY, else $XDG_STATE_HOME/linkmoot,
    /// else `configurationFolder`; the file named after the program
    /// (`programName`.db). Makes the XDG folder (0700) when missing.
    static std::string defaultPath(const std::string& programName,
                                   const std::string& configurationFolder);

private:
    /// On the worker: opens when needed; false (told once) when it cannot.
    bool ready();

    std::string path;
    Deliver deliver;
    UsageDatabase database;            // the worker's only
    std::map<uint64_t, int64_t> rows;  // record key to row, the worker's only
    std::string problem;               // the worker's only
    bool told = false;                 // the worker's only
    BackgroundQueue worker;            // last: ends first, with the other members still there
};

}  // namespace linkmoot
