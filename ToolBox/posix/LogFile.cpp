#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "ToolBox/posix/Os.h"

namespace toolbox::os {

bool isOwnWritableFolder(const char* nativePath) {
    static const char* const systemFolders[] = {"/usr/", "/bin/", "/sbin/"};
    for (const char* system : systemFolders) {
        if (std::strncmp(nativePath, system, std::strlen(system)) == 0)
            return false;
    }
    struct stat status {};
    return stat(nativePath, &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == effectiveUserId() &&
           faccessat(AT_FDCWD, nativePath, W_OK, AT_EACCESS) == 0;
}

int openLogFile(const char* nativePath, uint64_t& size) {
    // Without blocking: a FIFO put in the file's place must not hang the logger.
    int descriptor =
        open(nativePath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (descriptor < 0)
        return -1;
    struct stat status {};
    // Exclusive sharing: while one process holds the log, others write nothing.
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
        flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        close(descriptor);
        return -1;
    }
    fcntl(descriptor, F_SETFL, O_APPEND);
    size = static_cast<uint64_t>(status.st_size);
    return descriptor;
}

void replaceLogFile(int descriptor, int fresh) {
    // dup2 swaps the file behind the number in one step; closing first would
    // let another open take the number while a thread still writes to it.
    while (dup2(fresh, descriptor) < 0 && errno == EINTR) {
    }
    close(fresh);
}

bool standardErrorIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    unsigned long long device = 0;
    unsigned long long inode = 0;
    char end = 0;
    if (stream == nullptr || std::sscanf(stream, "%llu:%llu%c", &device, &inode, &end) != 2)
        return false;
    struct stat status {};
    return fstat(STDERR_FILENO, &status) == 0 && status.st_dev == device && status.st_ino == inode;
}

namespace {
void writeOnce(int descriptor, const char* bytes, std::size_t length) {
    // One write per line keeps lines of different threads whole; an
    // interrupted write has written nothing and is simply repeated.
    while (write(descriptor, bytes, length) < 0 && errno == EINTR) {
    }
}
}  // namespace

void writeLogFile(int descriptor, const char* bytes, std::size_t length) {
    writeOnce(descriptor, bytes, length);
}

void closeLogFile(int descriptor) {
    close(descriptor);
}

void writeStandardError(const char* bytes, std::size_t length) {
    writeOnce(STDERR_FILENO, bytes, length);
}

uint32_t tickCount() {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    uint64_t millis =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(millis);
}

void currentUtcTime(std::tm& result) {
    std::time_t now = std::time(nullptr);
    gmtime_r(&now, &result);
}

}  // namespace toolbox::os
