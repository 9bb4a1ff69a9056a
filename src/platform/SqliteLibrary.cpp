#include "platform/SqliteLibrary.h"

namespace linkmoot {

const Sqlite* loadSqlite(std::string& error) {
    static const LibraryTable<Sqlite> library(LINKMOOT_SQLITE_SONAME, "the usage record");
    const Sqlite* functions = library.functions();
    if (functions == nullptr)
        error = "cannot load " LINKMOOT_SQLITE_SONAME " (install libsqlite3-0)";
    return functions;
}

}  // namespace linkmoot
