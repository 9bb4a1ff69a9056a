#pragma once
// Paths as objects: a prefix (a drive such as "C:" or "C:\", a root "\", a
// server part "\\server\", or empty for a relative path) followed by a list of
// names. The separator is the backslash; a forward slash is an ordinary
// character. Native Linux paths cross over in exactly one place, fromNative and
// toNative: "/home/u/x" is the Directory "\home\u\x", and every call into the
// operating system renders the path with each backslash turned into "/".
#include <cstdint>
#include <ctime>

#include "ToolBox/ContainingList.h"

namespace toolbox {

/// One folder or file name, never beginning or ending with a backslash.
class PathElement : public ContainingListItem<PathElement> {
public:
    explicit PathElement(const char* name);
    ~PathElement() override;

    /// Copies the text without its leading and trailing backslashes (the name
    /// may become empty).
    void setName(const char* text);
    /// Replaces the part from the last "." on (or appends) by "." and the
    /// extension; one leading "." of the extension is skipped. False for an
    /// empty name.
    bool setExtension(const char* extension);
    const char* getName() const { return name; }

private:
    char* name;
};

class Directory {
public:
    /// Empty prefix, no element.
    Directory();
    /// Splits a backslash path: the prefix, then every non-empty piece between
    /// backslashes as an element.
    explicit Directory(const char* text);
    ~Directory();
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    /// A new object with the same prefix and names; the caller owns it.
    Directory* copy() const;

    /// The running program's file (new object, caller owns it); without an
    /// element when the program cannot be located.
    static Directory* programPath();
    /// programPath without its last element.
    static Directory* programDirectory();

    /// A native path: "/a/b" gives prefix "\" and elements a, b; a relative one
    /// an empty prefix. Empty pieces are dropped.
    static Directory* fromNative(const char* nativePath);
    /// The path for the operating system: toString(false) with each backslash
    /// turned into "/". A new text freed with toolbox::release.
    char* toNative() const;

    void setPrefix(const char* text);
    const char* getPrefix() const { return prefix; }
    /// Adds a new element after the last one (see PathElement::setName).
    void append(const char* name);
    /// Appends the program's file name with its extension replaced: the program
    /// "/opt/lm/linkmootd" and "cfg" append "linkmootd.cfg". Raises
    /// EIllegalState when the program path has no element.
    void appendProgramFileName(const char* extension);

    PathElement* getLastElement() { return elements.getLast(); }
    const PathElement* getLastElement() const { return elements.getLast(); }
    ContainingList<PathElement>& getElements() { return elements; }
    const ContainingList<PathElement>& getElements() const { return elements; }

    /// The prefix, then each name followed by a backslash, the last one only
    /// when trailingSeparator. A new text freed with toolbox::release.
    char* toString(bool trailingSeparator) const;

    /// True when a file or folder of that name exists.
    bool exists() const;
    /// Makes every missing folder level (mode 0700); true when all exist
    /// afterwards. An existing file counts as an existing level. The prefix is
    /// never tested or created.
    bool create() const;

private:
    ContainingList<PathElement> elements;
    char* prefix;
};

/// The status of one file-system object, read at construction and by refresh.
class DirectoryEntry : public ContainingListItem<DirectoryEntry> {
public:
    explicit DirectoryEntry(const Directory& path);
    ~DirectoryEntry() override;
    DirectoryEntry(const DirectoryEntry&) = delete;
    DirectoryEntry& operator=(const DirectoryEntry&) = delete;

    /// Reads the status again; a missing or unreadable object clears the
    /// fields (times with year, month, day, hour, minute and second -1).
    void refresh();

    /// Local times as calendar times; -1 for a cleared time.
    std::time_t creationTime() const;
    /// -1 when the object did not exist at the last refresh.
    std::time_t modificationTime() const;

    bool doesExist() const { return exists; }
    /// The system's mode bits (st_mode); 0 when missing.
    uint32_t getAttributes() const { return attributes; }
    uint64_t getSize() const { return size; }
    const std::tm& getAccessed() const { return accessed; }
    const std::tm& getCreated() const { return created; }
    const std::tm& getModified() const { return modified; }
    const Directory& getPath() const { return *path; }

private:
    void clear();

    std::tm accessed;
    std::tm created;
    bool exists;
    uint32_t attributes;
    std::tm modified;
    Directory* path;
    uint64_t size;
};

}  // namespace toolbox
