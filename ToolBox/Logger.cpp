#include "ToolBox/Logger.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "ToolBox/CommandLine.h"
#include "ToolBox/Directory.h"
#include "ToolBox/Exception.h"
#include "ToolBox/Memory.h"
#include "ToolBox/ProcessArguments.h"
#include "ToolBox/String.h"
#include "ToolBox/posix/Os.h"

namespace toolbox {

constinit std::atomic<int> detail::logThreshold{0};

namespace {

// Empty until construct(): calls made earlier (threshold 0) pass the level
// test, find no file name and write nothing.
struct LoggerState {
    std::atomic<int> descriptor{-1};
    char* fileName = nullptr;
    bool active = false;
    bool mirror = false;
    uint32_t startTick = 0;
    uint32_t (*clock)() = nullptr;
};

constinit LoggerState state;

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

const char* baseName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/')
            name = p + 1;
    }
    return name;
}

// The open file, opening it on demand; -1 when there is none to write to.
// Only this slow path takes a lock, so that threads logging their first lines
// together open the file once (a second open's lock would fail against the
// first and lose its line). Writing a line takes none.
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
    descriptor = os::openLogFile(name);
    if (descriptor >= 0)
        state.descriptor.store(descriptor, std::memory_order_release);
    return descriptor;
}

void writeLine(const char* sourceFile, int line, int level, const char* format, va_list arguments) {
    int descriptor = openFile();
    if (descriptor < 0)
        return;

    std::tm utc{};
    os::currentUtcTime(utc);
    uint32_t elapsed = now() - state.startTick;

    // A message too long to format raises here; its exception logs itself
    // through a nested call before it leaves this one.
    String message;
    message.formatList(format, arguments);

    String text;
    text.format("[%04d-%02d-%02d %02d:%02d:%02d (T+%u.%03u)] ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, elapsed / 1000, elapsed % 1000);
    text.append(levelName(level));
    text.append(" (");
    text.append(baseName(sourceFile != nullptr ? sourceFile : ""));
    text.append(':');
    text.appendInt(line);
    text.append(") ");
    text.append(message.c_str());
    text.append('\n');

    // The log keeps CR LF line ends, also inside a message.
    const char* plain = text.c_str();
    std::size_t length = std::strlen(plain);
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

    if (state.mirror)
        os::writeStandardError(plain, length);
}

void writeSeparator() {
    int descriptor = openFile();
    if (descriptor < 0)
        return;
    // An empty line and 79 dashes between runs.
    char separator[2 + 79 + 2];
    std::memcpy(separator, "\r\n", 2);
    std::memset(separator + 2, '-', 79);
    std::memcpy(separator + 81, "\r\n", 2);
    os::writeLogFile(descriptor, separator, sizeof separator);
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

}  // namespace

void Logger::construct(int argc, char** argv) {
    setProcessArguments(argc, argv);
    restart();
    Directory* program = Directory::programPath();
    PathElement* file = program->getLastElement();
    if (file == nullptr) {
        delete program;
        // The log shows this raise site as Logger.cpp:39.
        throw new EIllegalArgument("__argv[0] contains an illegal program path", __FILE__, 39);
    }
    char* fileName;
    try {
        file->setExtension("log");
        fileName = program->toNative();
    } catch (...) {
        delete program;
        throw;
    }
    delete program;
    startLogging(fileName, argc, argv);
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
}

void Logger::resetForTests() {
    closeFile();
    release(state.fileName);
    state.fileName = nullptr;
    setThreshold(0);
    state.active = false;
    state.mirror = false;
    state.startTick = 0;
    state.clock = nullptr;
}

void Logger::setClockForTests(uint32_t (*clock)()) {
    state.clock = clock;
}

}  // namespace toolbox
