#include "ToolBox/posix/FileStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "ToolBox/Memory.h"

namespace toolbox::os {

namespace {

int openRetrying(const char* path, int flags, mode_t mode = 0) {
    int descriptor;
    do {
        descriptor = ::open(path, flags, mode);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor;
}

}  // namespace

ReadOutcome readWholeFile(const char* path, std::size_t maxBytes, char*& text, std::size_t& length,
                          int& error) {
    error = 0;
    // Without O_NONBLOCK opening a FIFO waits for a writer; O_NOCTTY keeps a
    // terminal from becoming ours. Neither flag matters for a regular file.
    int descriptor = openRetrying(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (descriptor < 0) {
        error = errno;
        return error == ENOENT || error == ENOTDIR ? ReadOutcome::Missing : ReadOutcome::Refused;
    }
    struct stat status;
    if (fstat(descriptor, &status) != 0) {
        error = errno;
        ::close(descriptor);
        return ReadOutcome::Refused;
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(descriptor);
        return ReadOutcome::Refused;
    }
    if (status.st_size < 0 || static_cast<uint64_t>(status.st_size) > maxBytes) {
        ::close(descriptor);
        return ReadOutcome::TooLarge;
    }
    std::size_t size = static_cast<std::size_t>(status.st_size);
    char* buffer = static_cast<char*>(allocate(size + 1));
    std::size_t done = 0;
    while (done < size) {
        ssize_t count = ::read(descriptor, buffer + done, size - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            error = errno;
            release(buffer);
            ::close(descriptor);
            return ReadOutcome::Failed;
        }
        if (count == 0)
            break;  // the end, also of a file that shrank while being read
        done += static_cast<std::size_t>(count);
    }
    ::close(descriptor);
    buffer[done] = '\0';
    text = buffer;
    length = done;
    return ReadOutcome::Read;
}

FILE* createPrivateFile(const char* path) {
    if (::unlink(path) != 0 && errno != ENOENT)
        return nullptr;
    int descriptor = openRetrying(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (descriptor < 0)
        return nullptr;
    FILE* stream = fdopen(descriptor, "wb");
    if (stream == nullptr)
        ::close(descriptor);
    return stream;
}

bool flushToDisk(FILE* stream) {
    if (fflush(stream) != 0)
        return false;
    int result;
    do {
        result = fsync(fileno(stream));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool replaceFile(const char* source, const char* target) {
    if (::rename(source, target) != 0)
        return false;
    // The rename is durable only once the folder holding the names is synced.
    const char* slash = std::strrchr(target, '/');
    char* folder = slash == nullptr ? duplicate(".") : duplicate(target);
    if (slash == target) {
        folder[1] = '\0';
    } else if (slash != nullptr) {
        folder[slash - target] = '\0';
    }
    int descriptor = openRetrying(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    release(folder);
    if (descriptor >= 0) {
        fsync(descriptor);
        ::close(descriptor);
    }
    return true;
}

bool renameFile(const char* source, const char* target) {
    return ::rename(source, target) == 0;
}

bool removeFile(const char* path) {
    return ::unlink(path) == 0 || errno == ENOENT;
}

bool fileExists(const char* path) {
    struct stat status;
    return lstat(path, &status) == 0;
}

bool isRegularFile(const char* path) {
    struct stat status;
    return lstat(path, &status) == 0 && S_ISREG(status.st_mode);
}

bool isFolder(const char* path) {
    struct stat status;
    return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

int permissionBits(const char* path) {
    struct stat status;
    if (stat(path, &status) != 0)
        return -1;
    return static_cast<int>(status.st_mode & 07777);
}

}  // namespace toolbox::os
