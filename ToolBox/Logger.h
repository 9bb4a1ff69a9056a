#pragma once
// The one process-wide diagnostic log. One line per call, appended to a file
// named after the program with the extension "log":
//   [YYYY-MM-DD hh:mm:ss (T+s.mmm)] Level (Source.cpp:123) message CR LF
// The file lies beside the program when that folder is the user's own and
// writable, in $LOGS_DIRECTORY for a system service, else in
// $XDG_STATE_HOME/linkmoot (~/.local/state/linkmoot). Past 1 MiB it becomes
// "<name>.old" and a new file starts with the run separator.
// Calls below the threshold cost one comparison. Calls before the logger is
// constructed, or after it shut down, are accepted and write nothing; a log
// call made from inside a log call works.
#include <atomic>
#include <cstdarg>
#include <cstdint>

namespace toolbox {

namespace detail {
/// The level from which calls are written; 0 before construction (calls pass
/// the test and find no file). Lives here so that LM_LOG tests it inline; only
/// the logger writes it.
extern std::atomic<int> logThreshold;
}  // namespace detail

enum class LogLevel : int { Debug = 1, Info = 2, Warn = 3, Error = 4, Exception = 5, Fatal = 6 };

class Logger {
public:
    /// The one log call. sourceFile: only the part after its last backslash or
    /// slash is printed.
    static void log(const char* sourceFile, int line, LogLevel level, const char* format, ...)
        __attribute__((format(printf, 4, 5)));
    static void logList(const char* sourceFile, int line, LogLevel level, const char* format,
                        va_list arguments);
    /// The one comparison of a filtered call: whether a call at this level
    /// would get past the threshold.
    static bool passes(LogLevel level) {
        return static_cast<int>(level) >= detail::logThreshold.load(std::memory_order_relaxed);
    }

    /// Constructs the process-wide logger from the process arguments (the
    /// "/log:" options) and registers its shutdown at exit. Called once, early
    /// in main, after the application object exists.
    static void construct(int argc, char** argv);
    /// Writes "Shutting down logger" when active and closes the file.
    static void shutdown();

    /// Daemons mirror every written line to standard error for the journal
    /// (there with a plain LF end), also when the file cannot be written. When
    /// standard error is the journal's stream, a line goes without its time
    /// stamp and with the journal's priority prefix ("<4>Warn (...) ...").
    /// Set before construct, it mirrors the first line too.
    static void setMirrorToStandardError(bool mirror);
    /// True when standard error is the journal's stream (JOURNAL_STREAM names
    /// it): a program's own messages there may carry a priority prefix too.
    static bool standardErrorIsJournal();

    // --- For tests only; production code never calls these.

    /// Starts the logger as construct does, but writing to logFileName instead
    /// of the file construct chooses and without the exit handler.
    static void constructForTests(const char* logFileName, int argc, char** argv);
    /// Back to the never-constructed state: closes the file, forgets the name,
    /// the threshold, the mirror and the clock.
    static void resetForTests();
    /// Replaces the millisecond clock behind "T+"; null restores the system's.
    static void setClockForTests(uint32_t (*clock)());
};

/// While one lives, Warn and Error lines logged on its thread are written at
/// Debug: for a call whose complaints were already told once (a dial refused
/// again for the same reason). Nests; other threads are not touched.
class LogQuieting {
public:
    LogQuieting();
    ~LogQuieting();
    LogQuieting(const LogQuieting&) = delete;
    LogQuieting& operator=(const LogQuieting&) = delete;
};

}  // namespace toolbox

/// Logs with the caller's own file name and line: LM_LOG(Info, "Sending '%s'", text).
/// Below the threshold the arguments are not even evaluated.
#define LM_LOG(level, ...)                                                              \
    do {                                                                                \
        if (::toolbox::Logger::passes(::toolbox::LogLevel::level))                      \
            ::toolbox::Logger::log(__FILE_NAME__, __LINE__, ::toolbox::LogLevel::level, \
                                   __VA_ARGS__);                                        \
    } while (0)
