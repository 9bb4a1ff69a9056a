#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "ToolBox/posix/Os.h"

namespace toolbox::os {

int openLogFile(const char* nativePath) {
    int descriptor = open(nativePath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (descriptor < 0)
        return -1;
    // Exclusive sharing: while one process holds the log, others write nothing.
    if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        close(descriptor);
        return -1;
    }
    return descriptor;
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
