#include "ToolBox/Logger.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ProbeRunner.h"
#include "ToolBox/Exception.h"
#include "support/TempFolder.h"

using toolbox::Logger;
using toolbox::LogLevel;

namespace {

uint32_t fakeNow = 0;
uint32_t fakeClock() {
    return fakeNow;
}

const std::string kSeparator = "\r\n" + std::string(79, '-') + "\r\n";

// The lines of a log text, each still with its CR LF.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size() - 1;
        lines.push_back(text.substr(start, end - start + 1));
        start = end + 1;
    }
    return lines;
}

class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Logger::resetForTests();
        fakeNow = 5000;
        Logger::setClockForTests(fakeClock);
    }
    void TearDown() override { Logger::resetForTests(); }

    // Constructs the logger writing to test.log with the given arguments.
    void start(std::vector<std::string> options) {
        options.insert(options.begin(), "program");
        std::vector<char*> argv;
        for (std::string& option : options)
            argv.push_back(option.data());
        Logger::constructForTests(logFile().c_str(), static_cast<int>(argv.size()), argv.data());
    }
    std::string logFile() const { return folder.file("test.log"); }
    std::string log() const { return folder.readFile("test.log"); }
    bool contains(const std::string& text) const { return log().find(text) != std::string::npos; }

    testsupport::TempFolder folder;
};

TEST_F(LoggerTest, ALineCarriesUtcTimeElapsedTimeLevelSourceAndMessage) {
    // A zone far from UTC shows whether the time is broken down as UTC.
    const char* savedZone = std::getenv("TZ");
    std::string saved = savedZone != nullptr ? savedZone : "";
    setenv("TZ", "IST-5:30", 1);
    tzset();

    fakeNow = 1000;
    start({});
    fakeNow = 1000 + 61005;
    std::time_t before = std::time(nullptr);
    Logger::log("C:\\src\\app\\Server.cpp", 123, LogLevel::Warn, "Sending '%s' %d", "vote", 7);
    std::time_t after = std::time(nullptr);

    if (savedZone != nullptr) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();

    std::smatch match;
    std::string text = log();
    ASSERT_TRUE(
        std::regex_match(text, match,
                         std::regex(R"(\[(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) \(T\+61\.005\)\] )"
                                    R"(Warn \(Server\.cpp:123\) Sending 'vote' 7\r\n)")))
        << text;
    std::vector<std::string> acceptable;
    for (std::time_t t = before; t <= after; ++t) {
        std::tm utc{};
        gmtime_r(&t, &utc);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &utc);
        acceptable.emplace_back(stamp);
    }
    EXPECT_NE(std::find(acceptable.begin(), acceptable.end(), match[1].str()), acceptable.end())
        << match[1];
}

TEST_F(LoggerTest, ElapsedTimeIsAWrappingThirtyTwoBitMillisecondCount) {
    fakeNow = 0xFFFFFC18u;  // 1000 ms before the wrap
    start({"/log:debug"});
    Logger::log("U.cpp", 1, LogLevel::Info, "start");
    fakeNow = 5;
    Logger::log("U.cpp", 2, LogLevel::Info, "after the wrap");
    fakeNow = 0xFFFFFC17u;
    Logger::log("U.cpp", 3, LogLevel::Info, "longest");
    EXPECT_TRUE(contains("(T+0.000)] Info (U.cpp:1) start\r\n")) << log();
    EXPECT_TRUE(contains("(T+1.005)] Info (U.cpp:2) after the wrap\r\n")) << log();
    EXPECT_TRUE(contains("(T+4294967.295)] Info (U.cpp:3) longest\r\n")) << log();
}

TEST_F(LoggerTest, LevelNamesAndSourceFileNames) {
    start({"/log:debug"});
    Logger::log("a\\b\\Third.cpp", 1, LogLevel::Debug, "d");
    Logger::log("Plain.cpp", 2, LogLevel::Error, "e");
    Logger::log("src/Unit.cpp", 3, static_cast<LogLevel>(7), "seven");
    Logger::log("U.cpp", 4, static_cast<LogLevel>(0), "below every threshold");
    LM_LOG(Fatal, "from the macro %d", 6);
    EXPECT_TRUE(contains("] Debug (Third.cpp:1) d\r\n"));
    EXPECT_TRUE(contains("] Error (Plain.cpp:2) e\r\n"));
    EXPECT_TRUE(contains("] Unknown (Unit.cpp:3) seven\r\n"));
    EXPECT_FALSE(contains("below every threshold"));
    EXPECT_TRUE(contains("] Fatal (LoggerTest.cpp:")) << log();
    EXPECT_TRUE(contains(") from the macro 6\r\n"));
}

TEST_F(LoggerTest, WithoutAnOptionOnlyWarningsAndWorseAreWrittenAndTheFileWaitsForThem) {
    start({"plain"});
    Logger::log("U.cpp", 1, LogLevel::Debug, "debug");
    Logger::log("U.cpp", 2, LogLevel::Info, "info");
    EXPECT_FALSE(folder.contains("test.log"));
    Logger::log("U.cpp", 3, LogLevel::Warn, "warn");
    Logger::log("U.cpp", 4, LogLevel::Exception, "exception");
    std::vector<std::string> lines = linesOf(log());
    ASSERT_EQ(lines.size(), 2u) << log();  // no separator, no "Logger initialized"
    EXPECT_NE(lines[0].find("Warn (U.cpp:3) warn\r\n"), std::string::npos);
    EXPECT_NE(lines[1].find("Exception (U.cpp:4) exception\r\n"), std::string::npos);
}

TEST_F(LoggerTest, AFilteredMacroCallDoesNotEvenEvaluateItsArguments) {
    int evaluated = 0;
    auto text = [&evaluated] {
        evaluated++;
        return "argument";
    };
    LM_LOG(Debug, "before construction: %s", text());  // accepted, writes nothing
    EXPECT_EQ(evaluated, 1);
    start({"/log:info"});
    LM_LOG(Debug, "filtered: %s", text());
    EXPECT_EQ(evaluated, 1);
    LM_LOG(Info, "written: %s", text());
    EXPECT_EQ(evaluated, 2);
    EXPECT_TRUE(contains("Info (LoggerTest.cpp:"));
    EXPECT_FALSE(contains("filtered"));
}

TEST_F(LoggerTest, TheMostVerboseOptionWinsWhateverTheOrder) {
    for (auto options : {std::vector<std::string>{"/log:debug", "/log:error"},
                         std::vector<std::string>{"/log:error", "/log:debug"}}) {
        Logger::resetForTests();
        folder.writeFile("test.log", "");
        start(options);
        Logger::log("U.cpp", 1, LogLevel::Debug, "debug written");
        EXPECT_TRUE(contains("Debug (U.cpp:1) debug written")) << options[0];
    }
}

TEST_F(LoggerTest, CapitalsOrADashSelectNothing) {
    start({"/LOG:DEBUG", "-log:debug", "/log:Debug", "/log:"});
    Logger::log("U.cpp", 1, LogLevel::Info, "info");
    Logger::log("U.cpp", 2, LogLevel::Warn, "warn");
    std::string text = log();
    EXPECT_EQ(text.find("info"), std::string::npos);
    EXPECT_EQ(text.find("---"), std::string::npos);
    EXPECT_EQ(text.find("Logger initialized"), std::string::npos);
    EXPECT_NE(text.find("Warn (U.cpp:2) warn"), std::string::npos);
}

TEST_F(LoggerTest, AnActiveRunStartsWithASeparatorAndEndsWithTheShutdownLine) {
    folder.writeFile("test.log", "earlier run\r\n");
    start({"/log:info"});
    Logger::log("U.cpp", 1, LogLevel::Debug, "debug");
    Logger::log("U.cpp", 2, LogLevel::Info, "info");
    Logger::shutdown();
    Logger::log("U.cpp", 3, LogLevel::Error, "after shutdown");
    std::string text = log();
    ASSERT_EQ(text.rfind("earlier run\r\n" + kSeparator, 0), 0u) << text;
    std::vector<std::string> lines = linesOf(text.substr(13 + kSeparator.size()));
    ASSERT_EQ(lines.size(), 3u) << text;
    EXPECT_NE(lines[0].find("] Info (Logger.cpp:90) Logger initialized\r\n"), std::string::npos);
    EXPECT_NE(lines[1].find("] Info (U.cpp:2) info\r\n"), std::string::npos);
    EXPECT_NE(lines[2].find("] Info (Logger.cpp:100) Shutting down logger\r\n"), std::string::npos);
}

TEST_F(LoggerTest, FatalThresholdWritesTheSeparatorButNoInitializedLine) {
    start({"/log:fatal"});
    Logger::log("U.cpp", 1, LogLevel::Exception, "exception");
    EXPECT_EQ(log(), kSeparator);
    Logger::log("U.cpp", 2, LogLevel::Fatal, "fatal");
    EXPECT_TRUE(contains("] Fatal (U.cpp:2) fatal\r\n"));
}

TEST_F(LoggerTest, EveryLineBreakOfAMessageBecomesCrLf) {
    start({});
    Logger::log("U.cpp", 1, LogLevel::Warn, "first\nsecond\n");
    EXPECT_TRUE(contains(") first\r\nsecond\r\n\r\n")) << log();
    EXPECT_EQ(log().find("\n\n"), std::string::npos);
}

TEST_F(LoggerTest, AFileHeldByAnotherOpenIsSkippedAndTriedAgainAtTheNextCall) {
    start({});
    int holder = open(logFile().c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    Logger::log("U.cpp", 1, LogLevel::Warn, "while held");
    EXPECT_EQ(log(), "");
    close(holder);
    Logger::log("U.cpp", 2, LogLevel::Warn, "after release");
    EXPECT_FALSE(contains("while held"));
    EXPECT_TRUE(contains("after release"));
}

TEST_F(LoggerTest, LinesOfConcurrentThreadsNeverInterleave) {
    start({});
    const int threads = 4;
    const int perThread = 200;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t] {
            for (int i = 0; i < perThread; ++i) {
                Logger::log("Worker.cpp", t, LogLevel::Warn, "thread %d line %d %s", t, i,
                            "padding-padding-padding-padding-padding-padding-padding");
            }
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    std::vector<std::string> lines = linesOf(log());
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(threads * perThread));
    std::regex whole(
        R"(\[[^\]]+\] Warn \(Worker\.cpp:(\d)\) thread \1 line \d+ (padding-?){7}\r\n)");
    for (const std::string& line : lines)
        ASSERT_TRUE(std::regex_match(line, whole)) << line;
}

TEST_F(LoggerTest, MirroredLinesReachStandardErrorWithPlainLineFeeds) {
    start({});
    Logger::setMirrorToStandardError(true);
    testing::internal::CaptureStderr();
    Logger::log("U.cpp", 1, LogLevel::Error, "mirrored");
    Logger::log("U.cpp", 2, LogLevel::Info, "filtered");
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("] Error (U.cpp:1) mirrored\n"), std::string::npos) << errors;
    EXPECT_EQ(errors.find('\r'), std::string::npos);
    EXPECT_EQ(errors.find("filtered"), std::string::npos);
    EXPECT_TRUE(contains("mirrored\r\n"));
}

TEST_F(LoggerTest, OnTheJournalsStreamLinesCarryThePriorityAndNoTimeStamp) {
    struct Case {
        bool journal;  // JOURNAL_STREAM names standard error, or another file
        std::string expected;
    };
    const std::string journal =
        "<7>Debug (U.cpp:1) d\n<6>Info (U.cpp:2) i\n<4>Warn (U.cpp:3) w\n"
        "<3>Error (U.cpp:4) e\n<3>Exception (U.cpp:5) first\n<3>second\n"
        "<3>Fatal (U.cpp:6) f\n";
    for (const Case& row : {Case{true, journal}, Case{false, ""}}) {
        Logger::resetForTests();
        start({"/log:debug"});
        testing::internal::CaptureStderr();
        struct stat status {};
        ASSERT_EQ(fstat(STDERR_FILENO, &status), 0);
        std::string stream = std::to_string(status.st_dev) + ":" +
                             std::to_string(status.st_ino + (row.journal ? 0 : 1));
        setenv("JOURNAL_STREAM", stream.c_str(), 1);
        Logger::setMirrorToStandardError(true);
        unsetenv("JOURNAL_STREAM");
        Logger::log("U.cpp", 1, LogLevel::Debug, "d");
        Logger::log("U.cpp", 2, LogLevel::Info, "i");
        Logger::log("U.cpp", 3, LogLevel::Warn, "w");
        Logger::log("U.cpp", 4, LogLevel::Error, "e");
        Logger::log("U.cpp", 5, LogLevel::Exception, "first\nsecond");
        Logger::log("U.cpp", 6, LogLevel::Fatal, "f");
        std::string errors = testing::internal::GetCapturedStderr();
        if (row.journal) {
            EXPECT_EQ(errors, journal);
        } else {
            EXPECT_TRUE(
                std::regex_search(errors, std::regex(R"(^\[[^\]]+\] Debug \(U\.cpp:1\) d\n)")))
                << errors;
            EXPECT_EQ(errors.find('<'), std::string::npos) << errors;
        }
        // The file keeps its stamped CR LF lines either way.
        EXPECT_TRUE(contains("] Warn (U.cpp:3) w\r\n")) << log();
    }
}

TEST_F(LoggerTest, PastOneMebibyteTheFileBecomesOldAndANewOneStartsWithTheSeparator) {
    const std::size_t limit = 1u << 20;
    folder.writeFile("test.log.old", "an older generation\r\n");
    const std::string full(limit - 10, 'x');
    folder.writeFile("test.log", full);
    start({});
    Logger::log("U.cpp", 1, LogLevel::Warn, "crossing");
    Logger::log("U.cpp", 2, LogLevel::Warn, "after");
    std::string old = folder.readFile("test.log.old");
    ASSERT_EQ(old.rfind(full, 0), 0u);
    std::vector<std::string> oldLines = linesOf(old.substr(full.size()));
    ASSERT_EQ(oldLines.size(), 1u) << old.substr(full.size());
    EXPECT_NE(oldLines[0].find("] Warn (U.cpp:1) crossing\r\n"), std::string::npos);
    std::string text = log();
    ASSERT_EQ(text.rfind(kSeparator, 0), 0u) << text;
    std::vector<std::string> lines = linesOf(text.substr(kSeparator.size()));
    ASSERT_EQ(lines.size(), 1u) << text;
    EXPECT_NE(lines[0].find("] Warn (U.cpp:2) after\r\n"), std::string::npos);

    // A file already past the limit at start goes at once; the run has one separator.
    Logger::resetForTests();
    folder.writeFile("test.log", std::string(limit + 1, 'y'));
    start({"/log:info"});
    EXPECT_EQ(folder.readFile("test.log.old"), std::string(limit + 1, 'y'));
    text = log();
    ASSERT_EQ(text.rfind(kSeparator, 0), 0u) << text;
    lines = linesOf(text.substr(kSeparator.size()));
    ASSERT_EQ(lines.size(), 1u) << text;
    EXPECT_NE(lines[0].find("] Info (Logger.cpp:90) Logger initialized\r\n"), std::string::npos);
}

TEST_F(LoggerTest, ThreadsLoggingAcrossTheLimitLoseNoLineAndSplitNone) {
    const std::string full((1u << 20) - 5000, 'x');
    folder.writeFile("test.log", full);
    start({});
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                Logger::log("Worker.cpp", t, LogLevel::Warn, "thread %d line %03d", t, i);
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    std::string old = folder.readFile("test.log.old");
    ASSERT_EQ(old.rfind(full, 0), 0u);
    std::string text = log();
    ASSERT_EQ(text.rfind(kSeparator, 0), 0u);
    std::vector<std::string> lines = linesOf(old.substr(full.size()));
    std::vector<std::string> newer = linesOf(text.substr(kSeparator.size()));
    lines.insert(lines.end(), newer.begin(), newer.end());
    ASSERT_EQ(lines.size(), 800u);
    std::regex whole(R"(\[[^\]]+\] Warn \(Worker\.cpp:(\d)\) thread \1 line \d{3}\r\n)");
    std::set<std::string> distinct;
    for (const std::string& line : lines) {
        ASSERT_TRUE(std::regex_match(line, whole)) << line;
        distinct.insert(line.substr(line.find("thread")));
    }
    EXPECT_EQ(distinct.size(), 800u);
}

TEST_F(LoggerTest, AMessageTooLongToFormatLogsItsExceptionFromInsideTheCall) {
    start({});
    std::string huge(536870895, 'h');
    toolbox::Exception* raised = nullptr;
    try {
        Logger::log("U.cpp", 1, LogLevel::Error, "%s", huge.c_str());
    } catch (toolbox::Exception* exception) {
        raised = exception;
    }
    ASSERT_NE(raised, nullptr);
    EXPECT_STREQ(raised->getClassName(), "EIllegalArgument");
    delete raised;
    std::vector<std::string> lines = linesOf(log());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("] Exception (String.cpp:681) EIllegalArgument.\r\n"),
              std::string::npos)
        << lines[0];
    EXPECT_EQ(lines[1], "Message: Formatted string requires too much space (>512MB)\r\n");
}

// --- The real construction, in copies of the probe program.

class LoggerProgramTest : public ::testing::Test {
protected:
    probe::Result run(const std::string& name, const std::vector<std::string>& arguments) {
        return probe::run(folder.file(name), folder.file(name), arguments, folder.getPath());
    }
    testsupport::TempFolder folder;
};

TEST_F(LoggerProgramTest, TheLogLiesBesideTheProgramNamedAfterIt) {
    probe::install(folder, "linkmootd");
    probe::Result result =
        run("linkmootd", {"/log:info", "+debug", "+info", "+warn", "+exception"});
    ASSERT_EQ(result.exitCode, 0) << result.errors;
    std::string text = folder.readFile("linkmootd.log");
    ASSERT_EQ(text.rfind(kSeparator, 0), 0u) << text;
    std::vector<std::string> lines = linesOf(text.substr(kSeparator.size()));
    ASSERT_EQ(lines.size(), 6u) << text;
    EXPECT_NE(lines[0].find("] Info (Logger.cpp:90) Logger initialized\r\n"), std::string::npos);
    EXPECT_NE(lines[1].find("] Info (LoggerProbe.cpp:"), std::string::npos);
    EXPECT_NE(lines[2].find("] Warn (LoggerProbe.cpp:"), std::string::npos);
    EXPECT_NE(lines[3].find("] Exception (LoggerProbe.cpp:42) EIllegalArgument.\r\n"),
              std::string::npos);
    EXPECT_EQ(lines[4], "Message: probe failure\r\n");
    EXPECT_NE(lines[5].find("] Info (Logger.cpp:100) Shutting down logger\r\n"), std::string::npos);

    probe::install(folder, "tool.exe");
    ASSERT_EQ(run("tool.exe", {"+error"}).exitCode, 0);
    EXPECT_NE(folder.readFile("tool.log").find("] Error (LoggerProbe.cpp:"), std::string::npos);
}

// Another owner's folder (root owns every folder it may write), or one this
// user may not write; and back.
void makeForeign(const std::string& path) {
    if (geteuid() == 0)
        ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    else
        ASSERT_EQ(chmod(path.c_str(), 0500), 0);
}
void makeOwn(const std::string& path) {
    ASSERT_EQ(chown(path.c_str(), geteuid(), getegid()), 0);
    ASSERT_EQ(chmod(path.c_str(), 0700), 0);
}

// An installed program's folder is not the user's: the log goes to the state
// folder, or to the logs folder that systemd names for a service.
TEST_F(LoggerProgramTest, TheLogGoesWhereTheUserOrTheServiceKeepsLogs) {
    struct Case {
        bool ownFolder;
        std::vector<std::string> environment;
        std::string expected;  // below the temporary folder
    };
    const std::string base = folder.getPath();
    const Case cases[] = {
        {true, {"LOGS_DIRECTORY=" + base + "/logs:" + base + "/other"}, "logs/p.log"},
        {false, {"XDG_STATE_HOME=" + base + "/state"}, "state/linkmoot/p.log"},
        {false, {"XDG_STATE_HOME", "HOME=" + base + "/home"}, "home/.local/state/linkmoot/p.log"},
        {false,
         {"XDG_STATE_HOME=relative", "HOME=" + base + "/home"},
         "home/.local/state/linkmoot/p.log"},
    };
    const std::string bin = folder.file("bin");
    std::filesystem::create_directory(folder.file("logs"));
    std::filesystem::create_directory(bin);
    const std::string program = probe::install(folder, "bin/p");
    for (const Case& row : cases) {
        std::filesystem::remove_all(folder.file("state"));
        std::filesystem::remove_all(folder.file("home"));
        if (!row.ownFolder)
            makeForeign(bin);
        probe::Result result =
            probe::run(program, program, {"+warn"}, base, nullptr, row.environment);
        makeOwn(bin);
        ASSERT_EQ(result.exitCode, 0) << result.errors;
        EXPECT_FALSE(folder.contains("bin/p.log")) << row.expected;
        ASSERT_NE(folder.readFile(row.expected).find("] Warn (LoggerProbe.cpp:"), std::string::npos)
            << row.expected;
        struct stat status {};
        ASSERT_EQ(stat(folder.file(row.expected).c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0600u) << row.expected;
        if (!row.ownFolder) {
            std::string logFolder = std::filesystem::path(folder.file(row.expected)).parent_path();
            ASSERT_EQ(stat(logFolder.c_str(), &status), 0);
            EXPECT_EQ(status.st_mode & 07777, 0700u) << row.expected;
        }
        std::filesystem::remove(folder.file(row.expected));
    }

    // A symbolic link in the log's place is not followed.
    std::filesystem::create_directories(folder.file("state/linkmoot"));
    folder.writeFile("target", "untouched");
    std::filesystem::create_symlink(folder.file("target"), folder.file("state/linkmoot/p.log"));
    makeForeign(bin);
    probe::Result result = probe::run(program, program, {"+warn"}, base, nullptr,
                                      {"XDG_STATE_HOME=" + base + "/state"});
    makeOwn(bin);
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_EQ(folder.readFile("target"), "untouched");
}

TEST_F(LoggerProgramTest, WithoutAnOptionFilteredCallsCreateNoFile) {
    probe::install(folder, "quiet");
    ASSERT_EQ(run("quiet", {"+debug", "+info"}).exitCode, 0);
    EXPECT_FALSE(folder.contains("quiet.log"));
}

TEST_F(LoggerProgramTest, AFileHeldByAnotherProcessGetsNothing) {
    probe::install(folder, "held");
    int holder = open(folder.file("held.log").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    probe::Result blocked = run("held", {"/log:debug", "+warn", "+error"});
    EXPECT_EQ(blocked.exitCode, 0) << blocked.errors;
    EXPECT_EQ(folder.readFile("held.log"), "");
    close(holder);
    ASSERT_EQ(run("held", {"/log:debug", "+warn"}).exitCode, 0);
    EXPECT_NE(folder.readFile("held.log").find("] Warn (LoggerProbe.cpp:"), std::string::npos);
}

}  // namespace
