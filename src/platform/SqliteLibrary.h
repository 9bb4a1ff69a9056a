#pragma once
// SQLite, opened when it is first needed (the first session, or a start that
// finds a database), not at the program's start: a server that never dials
// never maps it. It follows the rule of SharedLibrary.h; the header comes
// from libsqlite3-dev at build time, the soname from its library.
#include <sqlite3.h>

#include <string>

#include "platform/SharedLibrary.h"

#define LINKMOOT_SQLITE_FUNCTIONS(F) \
    F(sqlite3_open_v2)               \
    F(sqlite3_close_v2)              \
    F(sqlite3_exec)                  \
    F(sqlite3_free)                  \
    F(sqlite3_prepare_v2)            \
    F(sqlite3_step)                  \
    F(sqlite3_reset)                 \
    F(sqlite3_clear_bindings)        \
    F(sqlite3_finalize)              \
    F(sqlite3_bind_int64)            \
    F(sqlite3_bind_text)             \
    F(sqlite3_bind_null)             \
    F(sqlite3_column_int64)          \
    F(sqlite3_column_text)           \
    F(sqlite3_column_type)           \
    F(sqlite3_errmsg)                \
    F(sqlite3_errstr)                \
    F(sqlite3_extended_errcode)      \
    F(sqlite3_busy_timeout)          \
    F(sqlite3_last_insert_rowid)

namespace linkmoot {

LINKMOOT_LIBRARY_TABLE(Sqlite, LINKMOOT_SQLITE_FUNCTIONS)

/// The library, opened at the first call (any thread; once). Null, with why
/// in `error`, when it cannot be opened.
const Sqlite* loadSqlite(std::string& error);

}  // namespace linkmoot
