#pragma once
// Libraries that only some configurations need are opened by their soname when
// a feature first needs them, never at start: a program that does not use the
// web page, the bus or a shared secret maps none of their code (nor the
// libraries behind them). The rule for every such library:
//
// - It is not linked (no NEEDED entry); its headers may still be included, in
//   src/platform only, for its types and constants. debian/control names it,
//   since the automatic dependencies no longer see it.
// - Its functions are listed once, in an X-macro; LINKMOOT_LIBRARY_TABLE turns
//   the list into a table of pointers typed from the header's declarations, so
//   a changed signature fails to build.
// - The first use opens it (RTLD_NOW, so a missing dependency fails there and
//   not at some later call) and resolves every function in the list; a library
//   or function that is not there leaves no table and a status row naming the
//   soname, the reason and what is off (LibraryProblems, which the
//   application also logs once at Error). The feature then reports itself
//   off; nothing is tried again.
// - Once opened a library stays for the life of the process: unloading is not
//   safe for libraries that keep threads or exit handlers.
//
//     #define LINKMOOT_FOO_FUNCTIONS(F) F(foo_open) F(foo_close)
//     LINKMOOT_LIBRARY_TABLE(FooFunctions, LINKMOOT_FOO_FUNCTIONS)
//     const FooFunctions* foo() {
//         static const LibraryTable<FooFunctions> table("libfoo.so.1", "the foo feature");
//         return table.functions();
//     }
#include <cstring>
#include <string>
#include <vector>

#include "MissingFeatures.h"

namespace linkmoot {

/// Opens libraries and finds their functions; what failed is remembered for
/// the status rows. Safe from any thread.
class SharedLibrary {
public:
    /// Opens `soname`, or finds it already open; null with the reason.
    static void* open(const char* soname, std::string& error);
    /// The address of `name` in the library; null with the reason.
    static void* find(void* handle, const char* name, std::string& error);
    /// Keeps the failure as a status row: "Cannot load <soname> (<reason>):
    /// <what> cannot be used".
    static void reportFailure(const char* soname, const std::string& reason, const char* neededFor);
    /// The rows of every library that could not be loaded, in order.
    static std::vector<std::string> problems();
};

/// The libraries that could not be loaded, as the core's status rows.
class LibraryProblems : public MissingFeatures {
public:
    std::vector<std::string> rows() const override { return SharedLibrary::problems(); }
};

/// Resolves one table's functions; the first that is missing stops it.
class SymbolResolver {
public:
    explicit SymbolResolver(void* handle) : handle(handle) {}
    template <typename Function>
    void operator()(const char* name, Function& slot) {
        if (!error.empty())
            return;
        void* address = SharedLibrary::find(handle, name, error);
        // POSIX promises that an object pointer from dlsym holds a function's
        // address; the copy spells that out without a cast the language leaves open.
        static_assert(sizeof slot == sizeof address);
        std::memcpy(&slot, &address, sizeof slot);
    }
    const std::string& failure() const { return error; }

private:
    void* handle;
    std::string error;
};

/// The table of `Functions` (made by LINKMOOT_LIBRARY_TABLE), filled when the
/// object is made. Make it a function's static, so the first use opens the
/// library and concurrent first uses wait for one another.
template <typename Functions>
class LibraryTable {
public:
    LibraryTable(const char* soname, const char* neededFor) {
        std::string error;
        void* handle = SharedLibrary::open(soname, error);
        if (handle != nullptr) {
            SymbolResolver resolve(handle);
            table.resolve(resolve);
            error = resolve.failure();
        }
        loaded = error.empty();
        if (!loaded)
            SharedLibrary::reportFailure(soname, error, neededFor);
    }
    /// Null when the library could not be loaded.
    const Functions* functions() const { return loaded ? &table : nullptr; }

private:
    Functions table;
    bool loaded = false;
};

}  // namespace linkmoot

#define LINKMOOT_LIBRARY_SLOT(name) decltype(&::name) name = nullptr;
#define LINKMOOT_LIBRARY_RESOLVE(name) resolve(#name, name);
/// A struct `Type` with one pointer per function of `LIST` and the resolve()
/// that fills them.
#define LINKMOOT_LIBRARY_TABLE(Type, LIST)                                                   \
    struct Type {                                                                            \
        LIST(LINKMOOT_LIBRARY_SLOT)                                                          \
        void resolve(::linkmoot::SymbolResolver& resolve) { LIST(LINKMOOT_LIBRARY_RESOLVE) } \
    };
