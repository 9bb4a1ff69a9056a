#include "ToolBox/Directory.h"

#include <cstring>

#include "ToolBox/Exception.h"
#include "ToolBox/Memory.h"
#include "ToolBox/posix/Os.h"

namespace toolbox {

// --- PathElement

PathElement::PathElement(const char* name) : name(nullptr) {
    setName(name);
}

PathElement::~PathElement() {
    release(name);
}

void PathElement::setName(const char* text) {
    if (text == nullptr)
        text = "";
    const char* start = text;
    while (*start == '\\')
        ++start;
    std::size_t length = std::strlen(start);
    while (length > 0 && start[length - 1] == '\\')
        --length;
    char* copy = static_cast<char*>(allocate(length + 1));
    std::memcpy(copy, start, length);
    copy[length] = '\0';
    release(name);
    name = copy;
}

bool PathElement::setExtension(const char* extension) {
    if (name == nullptr || name[0] == '\0')
        return false;
    if (extension == nullptr)
        extension = "";
    if (extension[0] == '.')
        ++extension;
    const char* dot = std::strrchr(name, '.');
    std::size_t kept = dot != nullptr ? static_cast<std::size_t>(dot - name) : std::strlen(name);
    std::size_t extensionLength = std::strlen(extension);
    char* renamed = static_cast<char*>(allocate(kept + 1 + extensionLength + 1));
    std::memcpy(renamed, name, kept);
    renamed[kept] = '.';
    std::memcpy(renamed + kept + 1, extension, extensionLength + 1);
    release(name);
    name = renamed;
    return true;
}

// --- Directory

namespace {

// Where the prefix of a backslash path ends (its length in bytes).
std::size_t prefixLength(const char* text) {
    if (text[0] == '\\' && text[1] == '\\') {
        const char* server = std::strchr(text + 2, '\\');
        return server != nullptr ? static_cast<std::size_t>(server - text) + 1 : std::strlen(text);
    }
    if (const char* colon = std::strchr(text, ':')) {
        std::size_t length = static_cast<std::size_t>(colon - text) + 1;
        if (std::strchr(text, '\\') == colon + 1)
            ++length;
        return length;
    }
    return text[0] == '\\' ? 1 : 0;
}

// Appends every non-empty piece of text between separators to the path.
void appendPieces(Directory& path, const char* text, char separator) {
    while (*text != '\0') {
        const char* end = std::strchr(text, separator);
        std::size_t length =
            end != nullptr ? static_cast<std::size_t>(end - text) : std::strlen(text);
        if (length > 0) {
            char* piece = static_cast<char*>(allocate(length + 1));
            std::memcpy(piece, text, length);
            piece[length] = '\0';
            try {
                path.append(piece);
            } catch (...) {
                release(piece);
                throw;
            }
            release(piece);
        }
        if (end == nullptr)
            break;
        text = end + 1;
    }
}

}  // namespace

Directory::Directory() : prefix(duplicate("")) {}

Directory::Directory(const char* text) : prefix(nullptr) {
    if (text == nullptr)
        text = "";
    std::size_t length = prefixLength(text);
    prefix = static_cast<char*>(allocate(length + 1));
    std::memcpy(prefix, text, length);
    prefix[length] = '\0';
    try {
        appendPieces(*this, text + length, '\\');
    } catch (...) {
        release(prefix);
        throw;
    }
}

Directory::~Directory() {
    release(prefix);
}

Directory* Directory::copy() const {
    // Copied name by name rather than rendered and split again: a native name
    // may hold a ":" that splitting would take for a drive.
    Directory* result = toolbox::create<Directory>();
    try {
        result->setPrefix(prefix);
        for (const PathElement* e = elements.getFirst(); e != nullptr; e = e->getNext()) {
            result->append(e->getName());
        }
    } catch (...) {
        delete result;
        throw;
    }
    return result;
}

Directory* Directory::fromNative(const char* nativePath) {
    Directory* result = toolbox::create<Directory>();
    try {
        if (nativePath != nullptr) {
            if (nativePath[0] == '/')
                result->setPrefix("\\");
            appendPieces(*result, nativePath, '/');
        }
    } catch (...) {
        delete result;
        throw;
    }
    return result;
}

char* Directory::toNative() const {
    char* text = toString(false);
    for (char* p = text; *p != '\0'; ++p) {
        if (*p == '\\')
            *p = '/';
    }
    return text;
}

Directory* Directory::programPath() {
    char* native = os::programFile();
    if (native == nullptr)
        return toolbox::create<Directory>();
    Directory* result;
    try {
        result = fromNative(native);
    } catch (...) {
        release(native);
        throw;
    }
    release(native);
    return result;
}

Directory* Directory::programDirectory() {
    Directory* result = programPath();
    result->elements.deleteLast();
    return result;
}

void Directory::setPrefix(const char* text) {
    char* copy = duplicate(text != nullptr ? text : "");
    release(prefix);
    prefix = copy;
}

void Directory::append(const char* name) {
    elements.append(toolbox::create<PathElement>(name));
}

void Directory::appendProgramFileName(const char* extension) {
    Directory* program = programPath();
    PathElement* file = program->getLastElement();
    if (file == nullptr) {
        delete program;
        // The log shows this raise site as Directory.cpp:564.
        throw new EIllegalState("The __argv[0] does not denote a valid path", __FILE__, 564);
    }
    try {
        file->setExtension(extension);
        append(file->getName());
    } catch (...) {
        delete program;
        throw;
    }
    delete program;
}

char* Directory::toString(bool trailingSeparator) const {
    std::size_t prefixBytes = std::strlen(prefix);
    std::size_t size = prefixBytes + 1;
    for (const PathElement* e = elements.getFirst(); e != nullptr; e = e->getNext()) {
        size += std::strlen(e->getName()) + 1;
    }
    char* text = static_cast<char*>(allocate(size));
    std::memcpy(text, prefix, prefixBytes);
    std::size_t at = prefixBytes;
    for (const PathElement* e = elements.getFirst(); e != nullptr; e = e->getNext()) {
        std::size_t length = std::strlen(e->getName());
        std::memcpy(text + at, e->getName(), length);
        at += length;
        if (e->getNext() != nullptr || trailingSeparator)
            text[at++] = '\\';
    }
    text[at] = '\0';
    return text;
}

bool Directory::exists() const {
    char* native = toNative();
    bool found = os::pathExists(native);
    release(native);
    return found;
}

bool Directory::create() const {
    Directory partial;
    partial.setPrefix(prefix);
    for (const PathElement* e = elements.getFirst(); e != nullptr; e = e->getNext()) {
        partial.append(e->getName());
        char* native = partial.toNative();
        bool present = os::pathExists(native) || os::makeFolder(native);
        release(native);
        if (!present)
            return false;
    }
    return true;
}

// --- DirectoryEntry

namespace {

void clearTime(std::tm& time) {
    time = std::tm{};
    time.tm_sec = -1;
    time.tm_min = -1;
    time.tm_hour = -1;
    time.tm_mday = -1;
    time.tm_mon = -1;
    time.tm_year = -1;
}

bool isCleared(const std::tm& time) {
    return time.tm_year == -1 && time.tm_mon == -1;
}

std::time_t calendarTime(const std::tm& time) {
    if (isCleared(time))
        return -1;
    std::tm copy = time;
    return std::mktime(&copy);
}

void convertTime(int64_t seconds, std::tm& time) {
    if (!os::localTime(seconds, time))
        clearTime(time);
}

}  // namespace

DirectoryEntry::DirectoryEntry(const Directory& source) : path(nullptr) {
    clear();
    path = source.copy();
    refresh();
}

DirectoryEntry::~DirectoryEntry() {
    delete path;
}

void DirectoryEntry::clear() {
    clearTime(accessed);
    clearTime(created);
    clearTime(modified);
    exists = false;
    attributes = 0;
    size = 0;
}

void DirectoryEntry::refresh() {
    char* native = path->toNative();
    os::FileStatus status{};
    bool found = os::pathExists(native) && os::readStatus(native, status);
    release(native);
    if (!found) {
        clear();
        return;
    }
    convertTime(status.accessed, accessed);
    convertTime(status.created, created);
    convertTime(status.modified, modified);
    exists = true;
    attributes = status.mode;
    size = status.size;
}

std::time_t DirectoryEntry::creationTime() const {
    return calendarTime(created);
}

std::time_t DirectoryEntry::modificationTime() const {
    if (!exists)
        return -1;
    return calendarTime(modified);
}

}  // namespace toolbox
