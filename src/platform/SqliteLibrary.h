#pragma once
// SQLite, loaded when it is first needed (the first session, or a start that
// finds a database), not at the program's start: a server that never dials
// never maps it. Debian's libsqlite3 (libsqlite3.so.0); the header comes from
// libsqlite3-dev at build time. The loading is all here: the functions the
// database code calls are the members of Sqlite, in one table.
#include <sqlite3.h>

#include <string>

namespace linkmoot {

struct Sqlite {
    decltype(&sqlite3_open_v2) open_v2;
    decltype(&sqlite3_close_v2) close_v2;
    decltype(&sqlite3_exec) exec;
    decltype(&sqlite3_free) free;
    decltype(&sqlite3_prepare_v2) prepare_v2;
    decltype(&sqlite3_step) step;
    decltype(&sqlite3_reset) reset;
    decltype(&sqlite3_clear_bindings) clear_bindings;
    decltype(&sqlite3_finalize) finalize;
    decltype(&sqlite3_bind_int64) bind_int64;
    decltype(&sqlite3_bind_text) bind_text;
    decltype(&sqlite3_bind_null) bind_null;
    decltype(&sqlite3_column_int64) column_int64;
    decltype(&sqlite3_column_text) column_text;
    decltype(&sqlite3_column_type) column_type;
    decltype(&sqlite3_errmsg) errmsg;
    decltype(&sqlite3_errstr) errstr;
    decltype(&sqlite3_extended_errcode) extended_errcode;
    decltype(&sqlite3_busy_timeout) busy_timeout;
    decltype(&sqlite3_last_insert_rowid) last_insert_rowid;
};

/// The library, loaded at the first call (any thread; once). Null, with why
/// in `error`, when it cannot be loaded.
const Sqlite* loadSqlite(std::string& error);

}  // namespace linkmoot
