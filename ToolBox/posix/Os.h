#pragma once
// The foundation library's few operating-system calls. Everything above this
// header is portable; each group is implemented in a posix/ file of its own.
#include <cstddef>
#include <cstdint>
#include <ctime>

namespace toolbox::os {

// --- error texts (SystemError.cpp)

/// The system's text for an error code into buffer (at most size - 1
/// characters); false when the system has no text for the code.
bool systemErrorMessage(uint32_t code, char* buffer, std::size_t size);

// --- files and folders (FileSystem.cpp); paths are native texts

/// The status of one file-system object.
struct FileStatus {
    uint32_t mode;  ///< st_mode
    uint64_t size;
    int64_t accessed;  ///< seconds since 1970
    int64_t modified;
    int64_t created;  ///< birth time where the file system keeps one, else status change
};

/// True when something of that name exists (stat succeeds).
bool pathExists(const char* nativePath);
/// Makes one folder with mode 0700; false when it could not.
bool makeFolder(const char* nativePath);
/// Fills status; false when the object cannot be examined.
bool readStatus(const char* nativePath, FileStatus& status);
/// Local broken-down time of a calendar time; false when it cannot be converted.
bool localTime(int64_t seconds, std::tm& result);

// --- the program's own file (ProgramPath.cpp)

/// A new allocate()d native path of the running program's file, or null when
/// neither the system nor the first process argument names it.
char* programFile();
/// Resolves a first process argument the way the shell found the program: a
/// name with a slash against currentFolder (unless absolute), a bare name along
/// pathVariable (first executable hit). A new allocate()d text, or null.
char* resolveProgramArgument(const char* argument, const char* currentFolder,
                             const char* pathVariable);

// --- the process's user (UserIds.cpp)

/// The effective and the real user id the process started with; this system
/// never changes them.
uint32_t effectiveUserId();
uint32_t realUserId();

// --- the log file and clocks (LogFile.cpp)

/// True when the folder belongs to the effective user, who may write in it, and
/// is none of the system's program folders (below /usr, /bin, /sbin), which
/// root owns without them being its own.
bool isOwnWritableFolder(const char* nativePath);
/// Opens a regular file for appending (creating it with mode 0600), never
/// through a symbolic link, and takes an exclusive lock without waiting; -1
/// when the file cannot be opened, is no regular file or another process holds
/// it. size gets the file's length.
int openLogFile(const char* nativePath, uint64_t& size);
/// Makes descriptor refer to fresh's file and closes fresh; a write from
/// another thread goes to the one file or the other, never elsewhere.
void replaceLogFile(int descriptor, int fresh);
/// True when standard error is the journal's stream (JOURNAL_STREAM names its
/// device and inode).
bool standardErrorIsJournal();
/// Hands the bytes to the file in one write; the result is not checked.
void writeLogFile(int descriptor, const char* bytes, std::size_t length);
void closeLogFile(int descriptor);
/// Writes the bytes to standard error in one write.
void writeStandardError(const char* bytes, std::size_t length);
/// Milliseconds of a monotonic clock, as an unsigned 32-bit count that wraps.
uint32_t tickCount();
/// The current calendar time broken down as UTC.
void currentUtcTime(std::tm& result);

}  // namespace toolbox::os
