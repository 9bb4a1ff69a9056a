#include "ToolBox/Exception.h"

#include <cstring>

#include "ToolBox/Logger.h"
#include "ToolBox/Memory.h"

namespace toolbox {

constinit EOutOfMemory theOutOfMemory;

namespace {
// The part after the last backslash, or slash for the paths of this platform.
const char* baseName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/')
            name = p + 1;
    }
    return name;
}
}  // namespace

Exception::Exception(const char* className, const char* message, const char* sourceFile, int line)
    : className(className), line(line), message(nullptr), sourceFile(nullptr) {
    this->message = duplicate(message != nullptr ? message : "");
    try {
        this->sourceFile = duplicate(baseName(sourceFile != nullptr ? sourceFile : ""));
    } catch (...) {
        // The destructor does not run for a half-built object.
        release(this->message);
        throw;
    }
}

Exception::~Exception() {
    if (owned) {
        release(message);
        release(sourceFile);
    }
}

EAutoBreaking::EAutoBreaking(const char* className, const char* message, const char* sourceFile,
                             int line)
    : Exception(className, message, sourceFile, line) {
    Logger::log(sourceFile, line, LogLevel::Exception, "%s.\nMessage: %s", getClassName(),
                getMessage());
}

EIllegalArgument::EIllegalArgument(const char* message, const char* sourceFile, int line)
    : EAutoBreaking("EIllegalArgument", message, sourceFile, line) {}

EIllegalState::EIllegalState(const char* message, const char* sourceFile, int line)
    : EAutoBreaking("EIllegalState", message, sourceFile, line) {}

}  // namespace toolbox
