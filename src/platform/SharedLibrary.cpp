#include "platform/SharedLibrary.h"

#include <dlfcn.h>

#include <atomic>
#include <mutex>

namespace linkmoot {

namespace {

std::mutex& failuresMutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<std::string>& failures() {
    static std::vector<std::string> rows;
    return rows;
}

// Read each tick: while nothing failed, no lock is taken and nothing copied.
std::atomic<bool> anyFailure{false};

/// dlerror()'s text, which is per thread and cleared by reading it.
std::string lastLoaderError(const char* fallback) {
    const char* text = dlerror();
    return text != nullptr ? text : fallback;
}

}  // namespace

void* SharedLibrary::open(const char* soname, std::string& error) {
    // Local: the library's symbols serve only the tables made from it.
    void* handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        error = lastLoaderError("cannot be opened");
    return handle;
}

void* SharedLibrary::find(void* handle, const char* name, std::string& error) {
    dlerror();
    void* address = dlsym(handle, name);
    if (address == nullptr)
        error = lastLoaderError("a function is missing");
    return address;
}

void SharedLibrary::reportFailure(const char* soname, const std::string& reason,
                                  const char* neededFor) {
    const std::string row = "Cannot load " + std::string(soname) + " (" + reason +
                            "): " + neededFor + " cannot be used";
    std::lock_guard<std::mutex> lock(failuresMutex());
    failures().push_back(row);
    anyFailure = true;
}

std::vector<std::string> SharedLibrary::problems() {
    if (!anyFailure)
        return {};
    std::lock_guard<std::mutex> lock(failuresMutex());
    return failures();
}

}  // namespace linkmoot
