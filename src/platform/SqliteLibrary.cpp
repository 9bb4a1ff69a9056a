#include "platform/SqliteLibrary.h"

#include <dlfcn.h>

#include <mutex>

namespace linkmoot {

namespace {

constexpr const char* kLibrary = "libsqlite3.so.0";

template <typename Function>
bool bind(void* library, const char* name, Function& function, std::string& error) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    if (function == nullptr)
        error = std::string(kLibrary) + " has no " + name;
    return function != nullptr;
}

bool bindAll(void* library, Sqlite& api, std::string& error) {
    return bind(library, "sqlite3_open_v2", api.open_v2, error) &&
           bind(library, "sqlite3_close_v2", api.close_v2, error) &&
           bind(library, "sqlite3_exec", api.exec, error) &&
           bind(library, "sqlite3_free", api.free, error) &&
           bind(library, "sqlite3_prepare_v2", api.prepare_v2, error) &&
           bind(library, "sqlite3_step", api.step, error) &&
           bind(library, "sqlite3_reset", api.reset, error) &&
           bind(library, "sqlite3_clear_bindings", api.clear_bindings, error) &&
           bind(library, "sqlite3_finalize", api.finalize, error) &&
           bind(library, "sqlite3_bind_int64", api.bind_int64, error) &&
           bind(library, "sqlite3_bind_text", api.bind_text, error) &&
           bind(library, "sqlite3_bind_null", api.bind_null, error) &&
           bind(library, "sqlite3_column_int64", api.column_int64, error) &&
           bind(library, "sqlite3_column_text", api.column_text, error) &&
           bind(library, "sqlite3_column_type", api.column_type, error) &&
           bind(library, "sqlite3_errmsg", api.errmsg, error) &&
           bind(library, "sqlite3_errstr", api.errstr, error) &&
           bind(library, "sqlite3_extended_errcode", api.extended_errcode, error) &&
           bind(library, "sqlite3_busy_timeout", api.busy_timeout, error) &&
           bind(library, "sqlite3_last_insert_rowid", api.last_insert_rowid, error);
}

}  // namespace

const Sqlite* loadSqlite(std::string& error) {
    static std::mutex mutex;
    static Sqlite api{};
    static bool loaded = false;
    static std::string failure;
    std::lock_guard<std::mutex> lock(mutex);
    if (loaded) {
        return &api;
    }
    if (!failure.empty()) {
        error = failure;
        return nullptr;
    }
    // Kept for the process's life: the table points into it.
    void* library = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = dlerror();
        failure = std::string("cannot load ") + kLibrary + ": " +
                  (why != nullptr ? why : "unknown error") + " (install libsqlite3-0)";
    } else if (!bindAll(library, api, failure)) {
        dlclose(library);
    } else {
        loaded = true;
        return &api;
    }
    error = failure;
    return nullptr;
}

}  // namespace linkmoot
