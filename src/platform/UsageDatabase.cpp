#include "platform/UsageDatabase.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ToolBox/Logger.h"
#include "platform/SqliteLibrary.h"

namespace linkmoot {

namespace {

constexpr int kBusyTimeoutMs = 5000;
constexpr int kWriteAttempts = 3;

/// One prepared statement, finalized with its scope.
class Statement {
public:
    Statement(const Sqlite& api, sqlite3* db, const char* sql) : api(api) {
        result = api.sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    }
    ~Statement() { api.sqlite3_finalize(statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool prepared() const { return result == SQLITE_OK; }
    Statement& bind(int index, int64_t value) {
        api.sqlite3_bind_int64(statement, index, value);
        return *this;
    }
    Statement& bind(int index, uint64_t value) { return bind(index, static_cast<int64_t>(value)); }
    Statement& bind(int index, const std::string& text) {
        api.sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                              SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bindNull(int index) {
        api.sqlite3_bind_null(statement, index);
        return *this;
    }
    /// SQLITE_ROW, SQLITE_DONE or an error.
    int step() { return result = api.sqlite3_step(statement); }
    bool run() { return step() == SQLITE_DONE; }
    void reset() {
        api.sqlite3_reset(statement);
        api.sqlite3_clear_bindings(statement);
    }
    int64_t integer(int column) const { return api.sqlite3_column_int64(statement, column); }
    uint64_t count(int column) const {
        const int64_t value = integer(column);
        return value > 0 ? static_cast<uint64_t>(value) : 0;
    }
    bool isNull(int column) const {
        return api.sqlite3_column_type(statement, column) == SQLITE_NULL;
    }
    std::string text(int column) const {
        const unsigned char* value = api.sqlite3_column_text(statement, column);
        return value != nullptr ? reinterpret_cast<const char*>(value) : "";
    }
    int code() const { return result; }

private:
    const Sqlite& api;
    sqlite3_stmt* statement = nullptr;
    int result = SQLITE_ERROR;
};

bool isDamage(int code) {
    const int primary = code & 0xFF;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

}  // namespace

const std::vector<std::string>& UsageDatabase::schemaSteps() {
    static const std::vector<std::string> steps = {
        // Version 1.
        "CREATE TABLE end_reasons(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);"
        "INSERT INTO end_reasons(id, name) VALUES (1, 'no more votes'), (2, 'periodic re-dial'),"
        " (3, 'failed'), (4, 'dropped by the line'), (5, 'server stopped'), (6, 'exit'),"
        " (7, 'idle shutdown'), (8, 'interrupted');"
        "CREATE TABLE sessions("
        " id INTEGER PRIMARY KEY,"
        " start_ms INTEGER NOT NULL,"  // Unix milliseconds, UTC
        " end_ms INTEGER,"             // NULL while open
        " clock_synchronised INTEGER NOT NULL,"
        " dialling_ms INTEGER NOT NULL,"
        " online_ms INTEGER NOT NULL,"
        " bytes_in INTEGER NOT NULL,"
        " bytes_out INTEGER NOT NULL,"
        " dials INTEGER NOT NULL DEFAULT 1,"
        " end_reason INTEGER REFERENCES end_reasons(id),"  // NULL while open
        " failure TEXT NOT NULL DEFAULT '',"
        " interface TEXT NOT NULL DEFAULT '');"  // '': not counted
        "CREATE INDEX sessions_by_start ON sessions(start_ms);"
        "CREATE TABLE buckets("
        " session INTEGER NOT NULL REFERENCES sessions(id) ON DELETE CASCADE,"
        " start INTEGER NOT NULL,"  // Unix seconds, a multiple of 900
        " bytes_in INTEGER NOT NULL,"
        " bytes_out INTEGER NOT NULL,"
        " online_ms INTEGER NOT NULL,"
        " PRIMARY KEY(session, start)) WITHOUT ROWID;"
        "CREATE INDEX buckets_by_start ON buckets(start);"
        "CREATE TABLE names(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);"
        "CREATE TABLE voters("
        " session INTEGER NOT NULL REFERENCES sessions(id) ON DELETE CASCADE,"
        " name INTEGER NOT NULL REFERENCES names(id),"
        " held_ms INTEGER NOT NULL,"
        " share_in INTEGER NOT NULL,"
        " share_out INTEGER NOT NULL,"
        " PRIMARY KEY(session, name)) WITHOUT ROWID;",
        // Version 2: the data plan's cycles and a reason of its own.
        "INSERT INTO end_reasons(id, name) VALUES (9, 'data cap');"
        "CREATE TABLE plan_cycles("
        " cycle_start INTEGER PRIMARY KEY,"  // Unix seconds
        " bytes_correction INTEGER NOT NULL DEFAULT 0,"
        " seconds_correction INTEGER NOT NULL DEFAULT 0,"
        " announced TEXT NOT NULL DEFAULT '');",  // "80,90"
    };
    return steps;
}

UsageDatabase::UsageDatabase(std::string path, std::vector<std::string> steps)
    : file(std::move(path)), steps(std::move(steps)) {}

UsageDatabase::~UsageDatabase() {
    close();
}

void UsageDatabase::close() {
    if (db != nullptr)
        api->sqlite3_close_v2(db);
    db = nullptr;
    names.clear();
}

std::string UsageDatabase::lastError() const {
    return db != nullptr ? api->sqlite3_errmsg(db) : "no database";
}

bool UsageDatabase::execute(const char* sql, std::string& error) {
    char* message = nullptr;
    const int result = api->sqlite3_exec(db, sql, nullptr, nullptr, &message);
    if (result == SQLITE_OK)
        return true;
    error = message != nullptr ? message : api->sqlite3_errstr(result);
    api->sqlite3_free(message);
    return false;
}

int UsageDatabase::version() {
    Statement query(*api, db, "PRAGMA user_version");
    if (!query.prepared() || query.step() != SQLITE_ROW)
        return -1;
    return static_cast<int>(query.integer(0));
}

bool UsageDatabase::open(std::string& error) {
    if (db != nullptr)
        return true;
    api = loadSqlite(error);
    if (api == nullptr)
        return false;
    bool damaged = false;
    if (openFile(error, damaged) && upgrade(error, damaged))
        return true;
    close();
    if (!damaged)
        return false;
    keepBroken(error);
    damaged = false;
    if (openFile(error, damaged) && upgrade(error, damaged))
        return true;
    close();
    return false;
}

bool UsageDatabase::openFile(std::string& error, bool& damaged) {
    // Made private before SQLite sees it; its journal files take its mode.
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot open " + file + ": " + strerror(errno);
        return false;
    }
    ::close(fd);
    const int result = api->sqlite3_open_v2(file.c_str(), &db,
                                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (result != SQLITE_OK) {
        error = "cannot open " + file + ": " + api->sqlite3_errstr(result);
        damaged = isDamage(result);
        return false;
    }
    api->sqlite3_busy_timeout(db, kBusyTimeoutMs);
    if (!execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;",
                 error)) {
        damaged = isDamage(api->sqlite3_extended_errcode(db));
        error = file + ": " + error;
        return false;
    }
    Statement check(*api, db, "PRAGMA quick_check(1)");
    if (!check.prepared() || check.step() != SQLITE_ROW || check.text(0) != "ok") {
        damaged = true;
        error = file + " is damaged: " + (check.code() == SQLITE_ROW ? check.text(0) : lastError());
        return false;
    }
    return true;
}

bool UsageDatabase::upgrade(std::string& error, bool& damaged) {
    const int current = version();
    if (current < 0) {
        damaged = isDamage(api->sqlite3_extended_errcode(db));
        error = file + ": cannot read its version: " + lastError();
        return false;
    }
    if (current > static_cast<int>(steps.size())) {
        error = file + " is of version " + std::to_string(current) +
                ", newer than this program knows (" + std::to_string(steps.size()) +
                "); it is left alone";
        return false;
    }
    for (int next = current; next < static_cast<int>(steps.size()); ++next) {
        // Each step and its version number in one transaction: a crash
        // leaves the file at one version or the next, never between.
        const std::string sql = "BEGIN IMMEDIATE;" + steps[static_cast<std::size_t>(next)] +
                                "PRAGMA user_version=" + std::to_string(next + 1) + ";COMMIT;";
        if (!execute(sql.c_str(), error)) {
            damaged = isDamage(api->sqlite3_extended_errcode(db));
            std::string ignored;
            execute("ROLLBACK", ignored);
            error =
                file + ": cannot bring it to version " + std::to_string(next + 1) + ": " + error;
            return false;
        }
        if (current > 0)
            LM_LOG(Info, "The usage database %s is now of version %d", file.c_str(), next + 1);
    }
    return true;
}

void UsageDatabase::keepBroken(const std::string& why) {
    const std::string broken = file + ".broken";
    int kept = rename(file.c_str(), broken.c_str());
    for (const char* tail : {"-wal", "-shm"}) {
        const std::string journal = file + tail;
        if (rename(journal.c_str(), (broken + tail).c_str()) != 0)
            unlink(journal.c_str());
    }
    if (kept == 0)
        LM_LOG(Error, "%s; kept it as %s and started a new one", why.c_str(), broken.c_str());
    else
        LM_LOG(Error, "%s; it could not be kept as %s (%s)", why.c_str(), broken.c_str(),
               strerror(errno));
}

int64_t UsageDatabase::nameId(const std::string& name, std::string& error) {
    auto found = names.find(name);
    if (found != names.end())
        return found->second;
    Statement insert(*api, db, "INSERT INTO names(name) VALUES (?1) ON CONFLICT(name) DO NOTHING");
    Statement select(*api, db, "SELECT id FROM names WHERE name = ?1");
    if (!insert.bind(1, name).run() || select.bind(1, name).step() != SQLITE_ROW) {
        error = lastError();
        return 0;
    }
    const int64_t id = select.integer(0);
    names.emplace(name, id);
    return id;
}

bool UsageDatabase::saveOnce(const SessionRecord& record, int64_t& row, std::string& error) {
    if (!execute("BEGIN IMMEDIATE", error))
        return false;
    const char* sql =
        row == 0 ? "INSERT INTO sessions(start_ms, end_ms, clock_synchronised, dialling_ms,"
                   " online_ms, bytes_in, bytes_out, dials, end_reason, failure, interface)"
                   " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)"
                 : "UPDATE sessions SET start_ms = ?1, end_ms = ?2, clock_synchronised = ?3,"
                   " dialling_ms = ?4, online_ms = ?5, bytes_in = ?6, bytes_out = ?7, dials = ?8,"
                   " end_reason = ?9, failure = ?10, interface = ?11 WHERE id = ?12";
    bool written = false;
    {
        Statement session(*api, db, sql);
        session.bind(1, record.startMs);
        if (record.endMs != 0)
            session.bind(2, record.endMs);
        else
            session.bindNull(2);
        session.bind(3, int64_t{record.clockSynchronised ? 1 : 0})
            .bind(4, record.diallingMs)
            .bind(5, record.onlineMs)
            .bind(6, record.bytesIn)
            .bind(7, record.bytesOut)
            .bind(8, int64_t{record.dials});
        if (record.ended)
            session.bind(9, int64_t{static_cast<int>(*record.ended)});
        else
            session.bindNull(9);
        session.bind(10, record.failure).bind(11, record.interfaceName);
        if (row != 0)
            session.bind(12, row);
        written = session.prepared() && session.run();
    }
    const int64_t id = row != 0 ? row : api->sqlite3_last_insert_rowid(db);
    if (written) {
        Statement bucket(*api, db,
                         "INSERT INTO buckets(session, start, bytes_in, bytes_out, online_ms)"
                         " VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT(session, start) DO UPDATE SET"
                         " bytes_in = excluded.bytes_in, bytes_out = excluded.bytes_out,"
                         " online_ms = excluded.online_ms");
        for (const UsageBucket& counts : record.buckets) {
            written = written && bucket.bind(1, id)
                                     .bind(2, counts.start)
                                     .bind(3, counts.bytesIn)
                                     .bind(4, counts.bytesOut)
                                     .bind(5, counts.onlineMs)
                                     .run();
            bucket.reset();
        }
    }
    if (written) {
        Statement voter(*api, db,
                        "INSERT INTO voters(session, name, held_ms, share_in, share_out)"
                        " VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT(session, name) DO UPDATE SET"
                        " held_ms = excluded.held_ms, share_in = excluded.share_in,"
                        " share_out = excluded.share_out");
        for (const VoterUsage& usage : record.voters) {
            const int64_t name = nameId(usage.name, error);
            written = written && name != 0 &&
                      voter.bind(1, id)
                          .bind(2, name)
                          .bind(3, usage.heldMs)
                          .bind(4, usage.shareIn)
                          .bind(5, usage.shareOut)
                          .run();
            voter.reset();
        }
    }
    if (!written || !execute("COMMIT", error)) {
        if (error.empty())
            error = lastError();
        std::string ignored;
        execute("ROLLBACK", ignored);
        names.clear();  // the rollback may have taken new names with it
        return false;
    }
    row = id;
    return true;
}

bool UsageDatabase::save(const SessionRecord& record, int64_t& row, std::string& error) {
    for (int attempt = 1;; ++attempt) {
        error.clear();
        if (saveOnce(record, row, error))
            return true;
        const int code = api->sqlite3_extended_errcode(db) & 0xFF;
        if ((code != SQLITE_BUSY && code != SQLITE_LOCKED) || attempt == kWriteAttempts)
            return false;
        LM_LOG(Debug, "The usage database is busy; writing again");
    }
}

int UsageDatabase::closeInterrupted(std::string& error) {
    Statement update(*api, db,
                     "UPDATE sessions SET end_reason = ?1,"
                     " end_ms = start_ms + dialling_ms + online_ms WHERE end_ms IS NULL");
    if (!update.bind(1, int64_t{static_cast<int>(EndReason::Interrupted)}).run()) {
        error = lastError();
        return -1;
    }
    Statement changes(*api, db, "SELECT changes()");
    return changes.step() == SQLITE_ROW ? static_cast<int>(changes.integer(0)) : 0;
}

bool UsageDatabase::loadHistory(int64_t since, UsageHistory& history, std::string& error) {
    Statement buckets(*api, db,
                      "SELECT start, SUM(bytes_in), SUM(bytes_out), SUM(online_ms) FROM buckets"
                      " WHERE start >= ?1 GROUP BY start");
    buckets.bind(1, since);
    while (buckets.step() == SQLITE_ROW) {
        BucketTotals& totals = history.buckets[buckets.integer(0)];
        totals.bytesIn += buckets.count(1);
        totals.bytesOut += buckets.count(2);
        totals.onlineMs += buckets.count(3);
    }
    Statement sessions(*api, db,
                       "SELECT start_ms, dials, end_reason, online_ms, interface FROM sessions"
                       " WHERE start_ms >= ?1");
    sessions.bind(1, since * 1000);
    while (sessions.step() == SQLITE_ROW) {
        BucketTotals& totals = history.buckets[bucketOf(sessions.integer(0) / 1000)];
        if (sessions.integer(2) == static_cast<int>(EndReason::Failed)) {
            totals.failedDials += static_cast<uint32_t>(sessions.count(1));
        } else {
            totals.sessions += 1;
            if (sessions.integer(3) > 0 && sessions.text(4).empty())
                totals.uncounted += 1;
        }
    }
    Statement voters(*api, db,
                     "SELECT s.start_ms, n.name, v.held_ms, v.share_in, v.share_out FROM voters v"
                     " JOIN sessions s ON s.id = v.session JOIN names n ON n.id = v.name"
                     " WHERE s.start_ms >= ?1");
    voters.bind(1, since * 1000);
    while (voters.step() == SQLITE_ROW) {
        VoterUsage& kept = history.voters[{bucketOf(voters.integer(0) / 1000), voters.text(1)}];
        kept.name = voters.text(1);
        kept.heldMs += voters.count(2);
        kept.shareIn += voters.count(3);
        kept.shareOut += voters.count(4);
    }
    for (const Statement* query : {&buckets, &sessions, &voters}) {
        if (query->code() != SQLITE_DONE) {
            error = lastError();
            return false;
        }
    }
    return true;
}

bool UsageDatabase::readSessions(int64_t sinceMs, std::vector<SessionRecord>& list,
                                 std::string& error) {
    Statement sessions(*api, db,
                       "SELECT id, start_ms, end_ms, clock_synchronised, dialling_ms, online_ms,"
                       " bytes_in, bytes_out, dials, end_reason, failure, interface FROM sessions"
                       " WHERE start_ms >= ?1 ORDER BY start_ms, id");
    sessions.bind(1, sinceMs);
    std::map<int64_t, std::size_t> byId;
    while (sessions.step() == SQLITE_ROW) {
        SessionRecord record;
        record.id = sessions.integer(0);
        record.startMs = sessions.integer(1);
        record.endMs = sessions.isNull(2) ? 0 : sessions.integer(2);
        record.clockSynchronised = sessions.integer(3) != 0;
        record.diallingMs = sessions.count(4);
        record.onlineMs = sessions.count(5);
        record.bytesIn = sessions.count(6);
        record.bytesOut = sessions.count(7);
        record.dials = static_cast<uint32_t>(sessions.count(8));
        if (!sessions.isNull(9))
            record.ended = endReasonOf(static_cast<int>(sessions.integer(9)));
        record.failure = sessions.text(10);
        record.interfaceName = sessions.text(11);
        byId.emplace(record.id, list.size());
        list.push_back(std::move(record));
    }
    Statement voters(*api, db,
                     "SELECT v.session, n.name, v.held_ms, v.share_in, v.share_out FROM voters v"
                     " JOIN sessions s ON s.id = v.session JOIN names n ON n.id = v.name"
                     " WHERE s.start_ms >= ?1 ORDER BY v.session, v.share_in + v.share_out DESC");
    voters.bind(1, sinceMs);
    while (voters.step() == SQLITE_ROW) {
        auto found = byId.find(voters.integer(0));
        if (found == byId.end())
            continue;
        list[found->second].voters.push_back(
            VoterUsage{voters.text(1), voters.count(2), voters.count(3), voters.count(4)});
    }
    if (sessions.code() != SQLITE_DONE || voters.code() != SQLITE_DONE) {
        error = lastError();
        return false;
    }
    return true;
}

std::string UsageDatabase::integrityCheck() {
    Statement check(*api, db, "PRAGMA integrity_check");
    std::string found;
    while (check.step() == SQLITE_ROW) {
        if (!found.empty())
            found += "; ";
        found += check.text(0);
    }
    return found.empty() ? lastError() : found;
}

bool UsageDatabase::savePlan(const PlanRecord& record, std::string& error) {
    std::string announced;
    for (unsigned percent : record.announced)
        announced += (announced.empty() ? "" : ",") + std::to_string(percent);
    Statement upsert(*api, db,
                     "INSERT INTO plan_cycles(cycle_start, bytes_correction, seconds_correction,"
                     " announced) VALUES (?1, ?2, ?3, ?4) ON CONFLICT(cycle_start) DO UPDATE SET"
                     " bytes_correction = excluded.bytes_correction,"
                     " seconds_correction = excluded.seconds_correction,"
                     " announced = excluded.announced");
    upsert.bind(1, record.cycleStart)
        .bind(2, record.bytesCorrection)
        .bind(3, record.secondsCorrection)
        .bind(4, announced);
    if (upsert.prepared() && upsert.run())
        return true;
    error = lastError();
    return false;
}

bool UsageDatabase::loadPlan(std::optional<PlanRecord>& latest, std::string& error) {
    Statement query(*api, db,
                    "SELECT cycle_start, bytes_correction, seconds_correction, announced"
                    " FROM plan_cycles ORDER BY cycle_start DESC LIMIT 1");
    const int result = query.prepared() ? query.step() : SQLITE_ERROR;
    if (result == SQLITE_DONE) {
        latest.reset();
        return true;
    }
    if (result != SQLITE_ROW) {
        error = lastError();
        return false;
    }
    PlanRecord record;
    record.cycleStart = query.integer(0);
    record.bytesCorrection = query.integer(1);
    record.secondsCorrection = query.integer(2);
    const std::string announced = query.text(3);
    for (std::size_t at = 0; at < announced.size();) {
        char* end = nullptr;
        const unsigned long percent = std::strtoul(announced.c_str() + at, &end, 10);
        if (end == announced.c_str() + at)
            break;
        record.announced.insert(static_cast<unsigned>(percent));
        at = static_cast<std::size_t>(end - announced.c_str()) + 1;
    }
    latest = record;
    return true;
}

}  // namespace linkmoot
