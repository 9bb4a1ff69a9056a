#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <ctime>

#include "ToolBox/posix/Os.h"

namespace toolbox::os {

bool pathExists(const char* nativePath) {
    struct stat status {};
    return stat(nativePath, &status) == 0;
}

bool makeFolder(const char* nativePath) {
    // 0700: the data folder holds a password. A level that appeared meanwhile
    // is as good as one made here.
    return mkdir(nativePath, 0700) == 0 || errno == EEXIST;
}

bool readStatus(const char* nativePath, FileStatus& result) {
    struct statx extended {};
    if (statx(AT_FDCWD, nativePath, 0, STATX_BASIC_STATS | STATX_BTIME, &extended) == 0) {
        result.mode = extended.stx_mode;
        result.size = extended.stx_size;
        result.accessed = extended.stx_atime.tv_sec;
        result.modified = extended.stx_mtime.tv_sec;
        // Some file systems report a zero birth time when they keep none.
        bool hasBirth = (extended.stx_mask & STATX_BTIME) != 0 &&
                        (extended.stx_btime.tv_sec != 0 || extended.stx_btime.tv_nsec != 0);
        result.created = hasBirth ? extended.stx_btime.tv_sec : extended.stx_ctime.tv_sec;
        return true;
    }
    if (errno != ENOSYS)
        return false;
    struct stat status {};
    if (stat(nativePath, &status) != 0)
        return false;
    result.mode = status.st_mode;
    result.size = static_cast<uint64_t>(status.st_size);
    result.accessed = status.st_atime;
    result.modified = status.st_mtime;
    result.created = status.st_ctime;
    return true;
}

bool localTime(int64_t seconds, std::tm& result) {
    std::time_t time = static_cast<std::time_t>(seconds);
    return localtime_r(&time, &result) != nullptr;
}

}  // namespace toolbox::os
