#pragma once
// The sessions' database: one SQLite file (WAL journal, synchronous FULL),
// versioned by PRAGMA user_version and brought up to date step by step when
// opened. Rules:
// - Used from one thread at a time (the storage's worker); every call may
//   wait for the disk.
// - The file is made with mode 0600 (its -wal and -shm follow it).
// - A file SQLite calls damaged (not a database, corrupt, failing its quick
//   check) is renamed to NAME.broken (its journal with it), an Error line
//   says so, and a new one is made. A file of a newer version than this
//   program knows is left alone and not used.
// - A busy database is waited for (busy timeout) and a write tried again.
// - Every value goes in as a bound parameter; nothing from the network is
//   ever part of a statement's text.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "UsageHistory.h"
#include "UsageRecord.h"
#include "UsageStorage.h"

struct sqlite3;

namespace linkmoot {

struct Sqlite;

class UsageDatabase {
public:
    /// The steps that make each version from the one before: step i makes
    /// version i + 1. Never changed once released; a new version adds one.
    static const std::vector<std::string>& schemaSteps();

    /// `steps`: the schema (tests give a shorter list to make an old file).
    explicit UsageDatabase(std::string path, std::vector<std::string> steps = schemaSteps());
    ~UsageDatabase();
    UsageDatabase(const UsageDatabase&) = delete;
    UsageDatabase& operator=(const UsageDatabase&) = delete;

    /// Opens (or makes) and upgrades the file; false with why.
    bool open(std::string& error);
    bool isOpen() const { return db != nullptr; }
    void close();
    const std::string& path() const { return file; }
    /// The file's PRAGMA user_version; -1 when unreadable.
    int version();

    /// Writes the record's figures; `row` is its id (0: insert, and set).
    bool save(const SessionRecord& record, int64_t& row, std::string& error);
    /// Closes the sessions a crash left open as interrupted, with the end
    /// their last written figures give; returns how many, -1 on error.
    int closeInterrupted(std::string& error);
    /// The figures of the sessions begun since `sinceUnixSeconds`.
    bool loadHistory(int64_t sinceUnixSeconds, UsageHistory& history, std::string& error);
    /// The sessions begun at or after `sinceUnixMs`, oldest first, with
    /// their voters (not their buckets).
    bool readSessions(int64_t sinceUnixMs, std::vector<SessionRecord>& sessions,
                      std::string& error);
    /// Replaces what was kept of the record's cycle.
    bool savePlan(const PlanRecord& record, std::string& error);
    /// The latest cycle's record; nullopt when none was kept.
    bool loadPlan(std::optional<PlanRecord>& latest, std::string& error);
    /// PRAGMA integrity_check: "ok" or what it found.
    std::string integrityCheck();

private:
    bool openFile(std::string& error, bool& damaged);
    bool upgrade(std::string& error, bool& damaged);
    void keepBroken(const std::string& why);
    bool execute(const char* sql, std::string& error);
    int64_t nameId(const std::string& name, std::string& error);
    bool saveOnce(const SessionRecord& record, int64_t& row, std::string& error);
    std::string lastError() const;

    std::string file;
    std::vector<std::string> steps;
    const Sqlite* api = nullptr;
    sqlite3* db = nullptr;
    std::map<std::string, int64_t> names;  // voter names already in the names table
};

}  // namespace linkmoot
