#include "platform/SqliteUsageStorage.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ToolBox/Logger.h"

namespace linkmoot {

SqliteUsageStorage::SqliteUsageStorage(std::string path, Deliver deliver)
    : path(path), deliver(std::move(deliver)), database(std::move(path)) {}

SqliteUsageStorage::~SqliteUsageStorage() = default;

std::string SqliteUsageStorage::defaultPath(const std::string& programName,
                                            const std::string& configurationFolder) {
    const std::string file = programName + ".db";
    // The unit's StateDirectory= (the first of several).
    if (const char* state = getenv("STATE_DIRECTORY"); state != nullptr && *state != '\0') {
        std::string folder = state;
        folder = folder.substr(0, folder.find(':'));
        return folder + "/" + file;
    }
    if (const char* xdg = getenv("XDG_STATE_HOME"); xdg != nullptr && *xdg == '/') {
        const std::string folder = std::string(xdg) + "/linkmoot";
        // The base folder too, as the XDG rules ask of a missing one.
        mkdir(xdg, 0700);
        if (mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST)
            return folder + "/" + file;
        LM_LOG(Warn, "Cannot make %s (%s); the usage database goes beside the configuration",
               folder.c_str(), strerror(errno));
    }
    return configurationFolder + "/" + file;
}

bool SqliteUsageStorage::ready() {
    if (database.isOpen())
        return true;
    std::string error;
    if (database.open(error)) {
        problem.clear();
        told = false;
        return true;
    }
    problem = error;
    if (!told)
        LM_LOG(Error, "The usage database cannot be used: %s; nothing is kept", error.c_str());
    told = true;
    return false;
}

void SqliteUsageStorage::save(SessionRecord record) {
    worker.post([this, record = std::move(record)] {
        if (!ready())
            return;
        int64_t& row = rows[record.key];
        std::string error;
        if (!database.save(record, row, error)) {
            LM_LOG(Error, "Cannot write to the usage database %s: %s", path.c_str(), error.c_str());
            // A file that went bad is opened (and kept aside) afresh next time.
            database.close();
            rows.clear();
        }
    });
}

void SqliteUsageStorage::loadHistory(int64_t since, HistoryDone done) {
    // No file yet (a first start): nothing to read, no SQLite to load, and no
    // thread to start. One look at a local path, like a peer file's.
    if (access(path.c_str(), F_OK) != 0 && errno == ENOENT) {
        deliver([done = std::move(done)] { done(UsageHistory{}, ""); });
        return;
    }
    worker.post([this, since, done = std::move(done)] {
        UsageHistory history;
        std::string error;
        if (ready()) {
            const int interrupted = database.closeInterrupted(error);
            if (interrupted > 0)
                LM_LOG(Info,
                       "%d line session(s) the program could not close are marked interrupted",
                       interrupted);
            if (interrupted < 0 || !database.loadHistory(since, history, error))
                LM_LOG(Error, "Cannot read the usage database %s: %s", path.c_str(), error.c_str());
        } else {
            error = problem;
        }
        deliver([done, history = std::move(history), error] { done(history, error); });
    });
}

void SqliteUsageStorage::readSessions(int64_t sinceMs, SessionsFormatter format, TextDone done) {
    worker.post([this, sinceMs, format = std::move(format), done = std::move(done)] {
        std::vector<SessionRecord> sessions;
        std::string error;
        if (access(path.c_str(), F_OK) != 0 && errno == ENOENT) {
            // Nothing was ever kept.
        } else if (ready()) {
            database.readSessions(sinceMs, sessions, error);
        } else {
            error = problem;
        }
        std::string text = format(sessions, error);
        deliver([done, text = std::move(text)] { done(text); });
    });
}

void SqliteUsageStorage::savePlan(PlanRecord record) {
    worker.post([this, record] {
        std::string error;
        if (ready() && !database.savePlan(record, error))
            LM_LOG(Error, "Cannot write the data plan to the usage database %s: %s", path.c_str(),
                   error.c_str());
    });
}

void SqliteUsageStorage::loadPlan(PlanDone done) {
    if (access(path.c_str(), F_OK) != 0 && errno == ENOENT) {
        deliver([done = std::move(done)] { done(std::nullopt); });
        return;
    }
    worker.post([this, done = std::move(done)] {
        std::optional<PlanRecord> latest;
        std::string error;
        if (ready() && !database.loadPlan(latest, error))
            LM_LOG(Error, "Cannot read the data plan from the usage database %s: %s", path.c_str(),
                   error.c_str());
        deliver([done, latest] { done(latest); });
    });
}

}  // namespace linkmoot
