#include "ToolBox/Logger.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>

#include "ToolBox/CommandLine.h"
#include "ToolBox/Directory.h"
#include "ToolBox/Exception.h"
#include "ToolBox/Memory.h"
#include "ToolBox/ProcessArguments.h"
#include "ToolBox/String.h"
#include "ToolBox/posix/FileStore.h"
#include "ToolBox/posix/Os.h"

namespace toolbox {

constinit std::atomic<int> detail::logThreshold{0};

namespace {

// Empty until construct(): calls made earlier (threshold 0) pass the level
// test, find no file name and write nothing.
struct LoggerState {
    std::atomic<int> descriptor{-1};
    /// Bytes in the open file, counted after each write.
    std::atomic<uint64_t> size{0};
    /// The open file holds only the separator its rotation wrote.
    std::atomic<bool> freshFile{false};
    char* fileName = nullptr;
    bool active = false;
    bool mirror = false;
    /// Standard error is the journal: mirrored lines carry its priority prefix.
    bool journal = false;
    uint32_t startTick = 0;
    uint32_t (*clock)() = nullptr;
};

constinit LoggerState state;

// Past this size the file becomes "<name>.old" and a new one starts.
constexpr uint64_t kSizeLimit = 1u << 20;

int threshold() {
    return detail::logThreshold.load(std::memory_order_relaxed);
}

void setThreshold(int level) {
    detail::logThreshold.store(level, std::memory_order_relaxed);
}

constinit std::mutex openLock;

uint32_t now() {
    return state.clock != nullptr ? state.clock() : os::tickCount();
}

const char* levelName(int level) {
    switch (level) {
        case 1:
            return "Debug";
        case 2:
            return "Info";
        case 3:
            return "Warn";
        case 4:
            return "Error";
        case 5:
            return "Exception";
        case 6:
            return "Fatal";
        default:
            return "Unknown";
    }
}

// The journal's priority of a level: err, warning, info, debug.
char journalPriority(int level) {
    if (level >= static_cast<int>(LogLevel::Error))
        return '3';
    if (level == static_cast<int>(LogLevel::Warn))
        return '4';
    return level == static_cast<int>(LogLevel::Info) ? '6' : '7';
}

// An empty line and 79 dashes between runs.
struct Separator {
    char bytes[2 + 79 + 2];
    Separator() {
        std::memcpy(bytes, "\r\n", 2);
        std::memset(bytes + 2, '-', 79);
        std::memcpy(bytes + 81, "\r\n", 2);
    }
};

const char* baseName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/')
            name = p + 1;
    }
    return name;
}

// Renames the full file to "<name>.old" (replacing an older one) and lets
// descriptor go on in a new file that starts with the separator. Called with
// openLock held. When the file cannot be renamed or reopened, the next try
// comes after another limit's worth of lines.
void rotateLocked(int descriptor) {
    state.size.store(0, std::memory_order_relaxed);
    String old;
    old.append(state.fileName);
    old.append(".old");
    if (!os::renameFile(state.fileName, old.c_str()))
        return;
    uint64_t ignored = 0;
    int fresh = os::openLogFile(state.fileName, ignored);
    if (fresh < 0)
        return;
    Separator separator;
    os::writeLogFile(fresh, separator.bytes, sizeof separator.bytes);
    state.size.store(sizeof separator.bytes, std::memory_order_relaxed);
    state.freshFile.store(true, std::memory_order_relaxed);
    os::replaceLogFile(descriptor, fresh);
}

// The open file, opening it on demand; -1 when there is none to write to.
// Only this slow path and a rotation take a lock, so that threads logging
// their first lines together open the file once (a second open's lock would
// fail against the first and lose its line). Writing a line takes none.
int openFile() {
    int descriptor = state.descriptor.load(std::memory_order_acquire);
    if (descriptor >= 0)
        return descriptor;
    std::lock_guard<std::mutex> guard(openLock);
    descriptor = state.descriptor.load(std::memory_order_acquire);
    if (descriptor >= 0)
        return descriptor;
    const char* name = state.fileName;
    if (name == nullptr || name[0] == '\0')
        return -1;
    uint64_t size = 0;
    descriptor = os::openLogFile(name, size);
    if (descriptor < 0)
        return -1;
    state.size.store(size, std::memory_order_relaxed);
    state.freshFile.store(false, std::memory_order_relaxed);
    state.descriptor.store(descriptor, std::memory_order_release);
    if (size > kSizeLimit)
        rotateLocked(descriptor);
    return descriptor;
}

// Counts bytes written and rotates the file once it is past the limit.
void written(int descriptor, std::size_t length) {
    uint64_t size = state.size.fetch_add(length, std::memory_order_relaxed) + length;
    if (size <= kSizeLimit)
        return;
    std::lock_guard<std::mutex> guard(openLock);
    // Another thread may have rotated it meanwhile, or shutdown closed it.
    if (state.descriptor.load(std::memory_order_acquire) == descriptor &&
        state.size.load(std::memory_order_relaxed) > kSizeLimit) {
        rotateLocked(descriptor);
    }
}

// The journal reads one entry per line, each with its own priority prefix,
// and stamps the time itself.
void mirrorToJournal(int level, const char* line) {
    const char prefix[4] = {'<', journalPriority(level), '>', '\0'};
    String text;
    text.append(prefix);
    for (const char* p = line; *p != '\0'; ++p) {
        text.append(*p);
        if (*p == '\n' && p[1] != '\0')
            text.append(prefix);
    }
    os::writeStandardError(text.c_str(), std::strlen(text.c_str()));
}

void writeLine(const char* sourceFile, int line, int level, const char* format, va_list arguments) {
    // Before construction and after shutdown there is no name: nothing is written anywhere.
    if (state.fileName == nullptr)
        return;
    int descriptor = openFile();
    if (descriptor < 0 && !state.mirror)
        return;

    std::tm utc{};
    os::currentUtcTime(utc);
    uint32_t elapsed = now() - state.startTick;

    // A message too long to format raises here; its exception logs itself
    // through a nested call before it leaves this one.
    String message;
    message.formatList(format, arguments);

    // The line without its time stamp, as the journal gets it.
    String body;
    body.append(levelName(level));
    body.append(" (");
    body.append(baseName(sourceFile != nullptr ? sourceFile : ""));
    body.append(':');
    body.appendInt(line);
    body.append(") ");
    body.append(message.c_str());
    body.append('\n');

    String text;
    text.format("[%04d-%02d-%02d %02d:%02d:%02d (T+%u.%03u)] ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, elapsed / 1000, elapsed % 1000);
    text.append(body.c_str());

    // The log keeps CR LF line ends, also inside a message.
    const char* plain = text.c_str();
    std::size_t length = std::strlen(plain);
    if (descriptor >= 0) {
        std::size_t breaks = 0;
        for (std::size_t i = 0; i < length; ++i)
            breaks += plain[i] == '\n';
        char* fileText = static_cast<char*>(allocate(length + breaks + 1));
        std::size_t out = 0;
        for (std::size_t i = 0; i < length; ++i) {
            if (plain[i] == '\n')
                fileText[out++] = '\r';
            fileText[out++] = plain[i];
        }
        fileText[out] = '\0';
        os::writeLogFile(descriptor, fileText, out);
        release(fileText);
        state.freshFile.store(false, std::memory_order_relaxed);
        written(descriptor, out);
    }

    // Also when the file cannot be opened: a service's journal still gets the line.
    if (state.mirror) {
        if (state.journal)
            mirrorToJournal(level, body.c_str());
        else
            os::writeStandardError(plain, length);
    }
}

void writeSeparator() {
    int descriptor = openFile();
    // A file that a rotation just began has its separator already.
    if (descriptor < 0 || state.freshFile.load(std::memory_order_relaxed))
        return;
    Separator separator;
    os::writeLogFile(descriptor, separator.bytes, sizeof separator.bytes);
    written(descriptor, sizeof separator.bytes);
}

void closeFile() {
    int descriptor = state.descriptor.exchange(-1, std::memory_order_acq_rel);
    if (descriptor >= 0)
        os::closeLogFile(descriptor);
}

// Forgets everything but the mirror and the clock, as before construction,
// with the default threshold.
void restart() {
    closeFile();
    release(state.fileName);
    state.fileName = nullptr;
    state.startTick = now();
    setThreshold(static_cast<int>(LogLevel::Warn));
    state.active = false;
}

// Takes ownership of fileName, reads the "/log:" options and opens the run.
void startLogging(char* fileName, int argc, char** argv) {
    state.fileName = fileName;
    CommandLine commandLine;
    commandLine.parse(argc, argv);
    // Tested from the most verbose down; the first one present wins.
    static const char* const options[] = {"/log:debug", "/log:info",      "/log:warn",
                                          "/log:error", "/log:exception", "/log:fatal"};
    for (int i = 0; i < 6; ++i) {
        if (commandLine.hasOption(options[i])) {
            setThreshold(i + 1);
            state.active = true;
            break;
        }
    }
    if (state.active) {
        writeSeparator();
        // Fixed line numbers: readers of the log know these lines by them.
        Logger::log(__FILE__, 90, LogLevel::Info, "Logger initialized");
    }
}

void shutdownAtExit() {
    Logger::shutdown();
}

struct DirectoryDeleter {
    void operator()(Directory* directory) const { delete directory; }
};
using DirectoryPointer = std::unique_ptr<Directory, DirectoryDeleter>;
struct TextDeleter {
    void operator()(char* text) const { release(text); }
};
using TextPointer = std::unique_ptr<char, TextDeleter>;

// An absolute folder from the environment; null when unset, empty or relative
// (the base directory rules ignore relative ones).
const char* absoluteFolder(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && value[0] == '/' ? value : nullptr;
}

// Where the log of the program (whose last element already ends in ".log")
// goes: the service's logs folder when systemd gives one; beside the program
// when that folder is the user's own and writable (a build tree, a copy);
// else the user's state folder, made private, for an installed program.
char* logFilePath(const Directory& program) {
    const char* name = program.getLastElement()->getName();
    DirectoryPointer folder;
    if (const char* logs = absoluteFolder("LOGS_DIRECTORY")) {
        // Several LogsDirectory= entries come separated by colons: the first is ours.
        const char* end = std::strchr(logs, ':');
        TextPointer first(duplicate(logs));
        if (end != nullptr)
            first.get()[end - logs] = '\0';
        folder.reset(Directory::fromNative(first.get()));
    } else {
        DirectoryPointer programFolder(program.copy());
        programFolder->getElements().deleteLast();
        TextPointer native(programFolder->toNative());
        if (os::isOwnWritableFolder(native.get()))
            return program.toNative();
        if (const char* stateHome = absoluteFolder("XDG_STATE_HOME")) {
            folder.reset(Directory::fromNative(stateHome));
        } else if (const char* home = absoluteFolder("HOME")) {
            folder.reset(Directory::fromNative(home));
            folder->append(".local");
            folder->append("state");
        } else {
            // Nowhere to go: no file, only a mirror shows the lines.
            return duplicate("");
        }
        folder->append("linkmoot");
        folder->create();
    }
    folder->append(name);
    return folder->toNative();
}

}  // namespace

void Logger::construct(int argc, char** argv) {
    setProcessArguments(argc, argv);
    restart();
    DirectoryPointer program(Directory::programPath());
    PathElement* file = program->getLastElement();
    if (file == nullptr) {
        // The log shows this raise site as Logger.cpp:39.
        throw new EIllegalArgument("__argv[0] contains an illegal program path", __FILE__, 39);
    }
    file->setExtension("log");
    startLogging(logFilePath(*program), argc, argv);
    static bool exitHandlerRegistered = false;
    if (!exitHandlerRegistered) {
        exitHandlerRegistered = true;
        std::atexit(shutdownAtExit);
    }
}

void Logger::constructForTests(const char* logFileName, int argc, char** argv) {
    restart();
    startLogging(duplicate(logFileName), argc, argv);
}

namespace {
thread_local int quietingDepth = 0;

LogLevel quieted(LogLevel level) {
    if (quietingDepth > 0 && (level == LogLevel::Warn || level == LogLevel::Error))
        return LogLevel::Debug;
    return level;
}
}  // namespace

LogQuieting::LogQuieting() {
    quietingDepth++;
}

LogQuieting::~LogQuieting() {
    quietingDepth--;
}

void Logger::log(const char* sourceFile, int line, LogLevel level, const char* format, ...) {
    level = quieted(level);
    if (static_cast<int>(level) < threshold())
        return;
    va_list arguments;
    va_start(arguments, format);
    try {
        writeLine(sourceFile, line, static_cast<int>(level), format, arguments);
    } catch (...) {
        va_end(arguments);
        throw;
    }
    va_end(arguments);
}

void Logger::logList(const char* sourceFile, int line, LogLevel level, const char* format,
                     va_list arguments) {
    level = quieted(level);
    if (static_cast<int>(level) < threshold())
        return;
    writeLine(sourceFile, line, static_cast<int>(level), format, arguments);
}

void Logger::shutdown() {
    if (state.active)
        log(__FILE__, 100, LogLevel::Info, "Shutting down logger");
    // Also a file opened on demand is closed: after shutdown nothing is written.
    closeFile();
    release(state.fileName);
    state.fileName = nullptr;
    state.active = false;
}

void Logger::setMirrorToStandardError(bool mirror) {
    state.mirror = mirror;
    state.journal = mirror && standardErrorIsJournal();
}

bool Logger::standardErrorIsJournal() {
    return os::standardErrorIsJournal();
}

void Logger::resetForTests() {
    closeFile();
    release(state.fileName);
    state.fileName = nullptr;
    setThreshold(0);
    state.active = false;
    state.mirror = false;
    state.journal = false;
    state.size.store(0, std::memory_order_relaxed);
    state.freshFile.store(false, std::memory_order_relaxed);
    state.startTick = 0;
    state.clock = nullptr;
}

void Logger::setClockForTests(uint32_t (*clock)()) {
    state.clock = clock;
}

}  // namespace toolbox
