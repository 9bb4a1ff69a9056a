#pragma once
// Whole-file reading and durable file replacement for the configuration file.
// Paths are native texts.
#include <cstddef>
#include <cstdio>

namespace toolbox::os {

enum class ReadOutcome {
    Missing,   ///< nothing of that name (or a folder on the way is missing)
    Refused,   ///< something of that name that cannot be opened or is not a regular file
    TooLarge,  ///< a regular file of more than maxBytes
    Failed,    ///< opened, but reading failed
    Read,
};

/// Reads a regular file of at most maxBytes whole into a new allocate()d buffer
/// with a NUL after the bytes read (the caller frees it with toolbox::release).
/// Never blocks on a FIFO or a device: they are refused unread. text is set
/// only when the outcome is Read; error is the system's error code for Refused
/// and Failed (0 when the file is simply not a regular one).
ReadOutcome readWholeFile(const char* path, std::size_t maxBytes, char*& text, std::size_t& length,
                          int& error);

/// Creates the file anew for writing, readable and writable by the owner only
/// (mode 0600): an existing file of that name is removed first, so neither its
/// mode nor a symbolic link in its place carries over. Null when it cannot.
FILE* createPrivateFile(const char* path);
/// Flushes the stream and forces its bytes to the disk; false when either fails.
bool flushToDisk(FILE* stream);
/// Renames source over target (atomically replacing it) and syncs the folder
/// so that the new name survives a crash; false when the rename failed.
bool replaceFile(const char* source, const char* target);
/// Plain rename; false when it failed.
bool renameFile(const char* source, const char* target);
/// False when the file existed and could not be removed.
bool removeFile(const char* path);
/// True when the path names a file of any kind (lstat succeeds).
bool fileExists(const char* path);
/// True when the path names a regular file itself (not a link to one).
bool isRegularFile(const char* path);
/// True when the path names a folder (or a link to one).
bool isFolder(const char* path);
/// The permission bits (st_mode & 07777) of the path, or -1 when it cannot be examined.
int permissionBits(const char* path);

}  // namespace toolbox::os
