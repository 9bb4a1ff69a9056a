#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ToolBox/Memory.h"
#include "ToolBox/ProcessArguments.h"
#include "ToolBox/posix/Os.h"

namespace toolbox::os {

namespace {

char* joined(const char* folder, std::size_t folderLength, const char* name) {
    std::size_t nameLength = std::strlen(name);
    char* path = static_cast<char*>(allocate(folderLength + 1 + nameLength + 1));
    std::memcpy(path, folder, folderLength);
    path[folderLength] = '/';
    std::memcpy(path + folderLength + 1, name, nameLength + 1);
    return path;
}

bool isExecutableFile(const char* path) {
    struct stat status {};
    return stat(path, &status) == 0 && S_ISREG(status.st_mode) && access(path, X_OK) == 0;
}

// The link's target, growing the buffer until it fits; null when unreadable.
char* readLink(const char* link) {
    for (std::size_t size = 256; size <= (1u << 20); size *= 2) {
        char* buffer = static_cast<char*>(allocate(size));
        ssize_t length = readlink(link, buffer, size);
        if (length < 0) {
            release(buffer);
            return nullptr;
        }
        if (static_cast<std::size_t>(length) < size) {
            buffer[length] = '\0';
            return buffer;
        }
        release(buffer);
    }
    return nullptr;
}

char* currentFolder() {
    for (std::size_t size = 256; size <= (1u << 20); size *= 2) {
        char* buffer = static_cast<char*>(allocate(size));
        if (getcwd(buffer, size) != nullptr)
            return buffer;
        release(buffer);
        if (errno != ERANGE)
            return nullptr;
    }
    return nullptr;
}

}  // namespace

char* resolveProgramArgument(const char* argument, const char* current, const char* pathVariable) {
    if (argument == nullptr || argument[0] == '\0')
        return nullptr;
    if (argument[0] == '/')
        return duplicate(argument);
    if (std::strchr(argument, '/') != nullptr) {
        // A relative name such as "./bin/tool" is relative to the current folder.
        return current != nullptr ? joined(current, std::strlen(current), argument)
                                  : duplicate(argument);
    }
    // A bare name was found along PATH, the way the shell searched it.
    const char* folder = pathVariable != nullptr ? pathVariable : "";
    while (pathVariable != nullptr) {
        const char* end = std::strchr(folder, ':');
        std::size_t length =
            end != nullptr ? static_cast<std::size_t>(end - folder) : std::strlen(folder);
        char* candidate = length == 0 ? duplicate(argument) : joined(folder, length, argument);
        if (isExecutableFile(candidate)) {
            if (candidate[0] == '/' || current == nullptr)
                return candidate;
            char* absolute = joined(current, std::strlen(current), candidate);
            release(candidate);
            return absolute;
        }
        release(candidate);
        if (end == nullptr)
            break;
        folder = end + 1;
    }
    return duplicate(argument);
}

char* programFile() {
    char* file = readLink("/proc/self/exe");
    if (file != nullptr)
        return file;
    char* current = currentFolder();
    char* resolved = nullptr;
    try {
        resolved = resolveProgramArgument(processProgramArgument(), current, std::getenv("PATH"));
    } catch (...) {
        release(current);
        throw;
    }
    release(current);
    return resolved;
}

}  // namespace toolbox::os
