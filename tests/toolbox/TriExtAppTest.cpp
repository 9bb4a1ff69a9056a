#include "mfctriext/TriExtApp.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "ToolBox/Config.h"
#include "ToolBox/Directory.h"
#include "ToolBox/Logger.h"
#include "ToolBox/Memory.h"
#include "support/TempFolder.h"

using mfctriext::TriExtApp;

namespace {

/// Sets (or, with nullopt, unsets) an environment variable for one scope.
class ScopedVariable {
public:
    ScopedVariable(const char* name, std::optional<std::string> value) : name(name) {
        if (const char* old = getenv(name))
            saved = old;
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedVariable() {
        if (saved) {
            setenv(name, saved->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name;
    std::optional<std::string> saved;
};

std::filesystem::path programFile() {
    return std::filesystem::read_symlink("/proc/self/exe");
}

/// The configuration file's name: the program's file name with the extension "cfg".
std::string configurationName() {
    return programFile().filename().replace_extension("cfg").string();
}

std::string nativeText(toolbox::Directory* folder) {
    char* text = folder->toNative();
    std::string result(text);
    toolbox::release(text);
    delete folder;
    return result;
}

unsigned permissions(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0)
        return 0;
    return status.st_mode & 07777;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class TriExtAppTest : public ::testing::Test {
protected:
    testsupport::TempFolder temp;
    ScopedVariable configHome{"XDG_CONFIG_HOME", temp.file("config")};
    std::string dataFolder = temp.file("config/Fennel Brookworks/Linkmoot");
    std::string fileName = configurationName();

    std::string dataFile(const std::string& suffix = "") const {
        return "config/Fennel Brookworks/Linkmoot/" + fileName + suffix;
    }
    void writeDataFile(const std::string& suffix, const std::string& content) const {
        std::filesystem::create_directories(dataFolder);
        temp.writeFile(dataFile(suffix), content);
    }
};

TEST_F(TriExtAppTest, FirstRunMakesThePrivateDataFolderAndSavesIntoIt) {
    {
        TriExtApp app("Linkmoot");
        for (const char* level :
             {"config", "config/Fennel Brookworks", "config/Fennel Brookworks/Linkmoot"}) {
            EXPECT_EQ(0700u, permissions(temp.file(level))) << level;
        }
        EXPECT_FALSE(app.getConfigRoot()->getBool("Configured", false));
        app.getConfigRoot()->getParameter("Mode")->setString("server");
        EXPECT_FALSE(temp.contains(dataFile()));  // written once, at the end
    }
    std::string saved = temp.readFile(dataFile());
    EXPECT_TRUE(contains(saved, "<Configured>0</>\r\n")) << saved;
    EXPECT_TRUE(contains(saved, "<Mode>server</>\r\n")) << saved;
    EXPECT_EQ(0600u, permissions(temp.file(dataFile())));
    EXPECT_FALSE(temp.contains(dataFile(".tmp")));
}

TEST_F(TriExtAppTest, DataFolderFileIsReadAndWrittenBack) {
    writeDataFile("", "<Port>9006</>\r\n<Client>\r\n\t<Server>gw</>\r\n</Client>\r\n");
    {
        TriExtApp app("Linkmoot");
        EXPECT_STREQ("9006", app.getConfigRoot()->getString("Port", "9005"));
        app.getConfigRoot()->getSection("Client")->getParameter("Server")->setString("gw2");
    }
    EXPECT_EQ("<Port>9006</>\r\n\r\n<Client>\r\n\t<Server>gw2</>\r\n</Client>\r\n",
              temp.readFile(dataFile()));
}

TEST_F(TriExtAppTest, InterruptedSaveIsRecoveredFromTheTemporaryFile) {
    writeDataFile(".tmp", "<Configured>1</>\r\n");
    {
        TriExtApp app("Linkmoot");
        EXPECT_TRUE(app.getConfigRoot()->getBool("Configured", false));
    }
    EXPECT_EQ("<Configured>1</>\r\n", temp.readFile(dataFile()));
    EXPECT_FALSE(temp.contains(dataFile(".tmp")));
}

TEST_F(TriExtAppTest, FileBesideTheProgramIsReadWhenTheDataFolderHasNone) {
    // The only test that puts a file beside the test program; it takes it away again.
    std::filesystem::path beside = programFile().replace_extension("cfg");
    ASSERT_FALSE(std::filesystem::exists(beside)) << beside;
    struct Remover {
        std::filesystem::path path;
        ~Remover() { std::filesystem::remove(path); }
    } remover{beside};
    const std::string content = "<Port>9100</>\r\n";
    std::ofstream(beside, std::ios::binary) << content;

    {
        TriExtApp app("Linkmoot");
        EXPECT_STREQ("9100", app.getConfigRoot()->getString("Port", "9005"));
        app.getConfigRoot()->getParameter("Mode")->setString("client");
    }
    EXPECT_EQ("<Mode>client</>\r\n<Port>9100</>\r\n", temp.readFile(dataFile()));
    std::ifstream in(beside, std::ios::binary);
    EXPECT_EQ(content, std::string(std::istreambuf_iterator<char>(in), {}));
}

TEST_F(TriExtAppTest, UnreadableFileIsKeptAsBrokenBeforeTheSave) {
    const std::string damaged = "<Server>\r\n\t<Password>secret</>\r\n";  // never closed
    writeDataFile("", damaged);
    writeDataFile(".broken", "an older broken file");
    {
        TriExtApp app("Linkmoot");
        EXPECT_FALSE(app.getConfigRoot()->hasSection("Server"));
        app.getConfigRoot()->getParameter("Mode")->setString("server");
        EXPECT_EQ(damaged, temp.readFile(dataFile()));  // nothing is touched before the end
    }
    EXPECT_EQ(damaged, temp.readFile(dataFile(".broken")));
    EXPECT_TRUE(contains(temp.readFile(dataFile()), "<Mode>server</>"));
}

TEST_F(TriExtAppTest, UnreadableTemporaryFileIsKeptAsWell) {
    writeDataFile(".tmp", "stray text");
    { TriExtApp app("Linkmoot"); }
    EXPECT_EQ("stray text", temp.readFile(dataFile(".tmp.broken")));
    EXPECT_TRUE(temp.contains(dataFile()));
    EXPECT_FALSE(temp.contains(dataFile(".tmp")));
}

TEST_F(TriExtAppTest, HomeConfigFolderServesWhenTheVariableIsUnsetOrRelative) {
    ScopedVariable home("HOME", temp.file("home"));
    for (std::optional<std::string> value :
         {std::optional<std::string>(), std::optional<std::string>("relative/config")}) {
        ScopedVariable configHomeNow("XDG_CONFIG_HOME", value);
        EXPECT_EQ(temp.file("home/.config/Fennel Brookworks/Linkmoot"),
                  nativeText(TriExtApp::findDataDirectory("Linkmoot")));
        EXPECT_TRUE(std::filesystem::is_directory(temp.file("home/.config/Fennel Brookworks")));
    }
}

TEST_F(TriExtAppTest, ProgramFolderServesWhenNoDataFolderCanBeMade) {
    const std::string programFolder = programFile().parent_path().string();
    temp.writeFile("plain", "a file, not a folder");
    {
        ScopedVariable configHomeNow("XDG_CONFIG_HOME", temp.file("plain/config"));
        EXPECT_EQ(programFolder, nativeText(TriExtApp::findDataDirectory("Linkmoot")));
    }
    {
        ScopedVariable configHomeNow("XDG_CONFIG_HOME", std::nullopt);
        ScopedVariable home("HOME", std::nullopt);
        EXPECT_EQ(programFolder, nativeText(TriExtApp::findDataDirectory("Linkmoot")));
    }
    {
        // A file where the data folder belongs is no folder either.
        std::filesystem::create_directories(temp.file("config/Fennel Brookworks"));
        temp.writeFile("config/Fennel Brookworks/Linkmoot", "");
        EXPECT_EQ(programFolder, nativeText(TriExtApp::findDataDirectory("Linkmoot")));
    }
}

/// Runs the application's life with the logger writing Warn lines and above to
/// logFile; during() runs while the application object exists.
void runLogged(const std::string& logFile, const std::function<void(TriExtApp&)>& during) {
    char program[] = "toolbox_tests";
    char option[] = "/log:warn";
    char* argv[] = {program, option, nullptr};
    toolbox::Logger::constructForTests(logFile.c_str(), 2, argv);
    {
        TriExtApp app("Linkmoot");
        during(app);
    }
    toolbox::Logger::resetForTests();
}

std::string nested(int levels) {
    std::string text;
    for (int level = 0; level < levels; ++level)
        text += "<S>";
    for (int level = 0; level < levels; ++level)
        text += "</>";
    return text;
}

TEST_F(TriExtAppTest, FilesRefusedByTheLimitsAreKeptAsBrokenWithAWarnLineThatSaysWhy) {
    struct Case {
        const char* what;
        std::string content;  ///< empty: a FIFO
        const char* reason;
    };
    const Case cases[] = {
        {"over 1 MiB", "<Port>" + std::string(1 << 20, '9') + "</>", "it is larger than 1 MiB"},
        {"nested 33 deep", nested(33), "its sections are nested deeper than 32"},
        {"a FIFO", "", "it is not a regular file"},
    };
    for (const Case& c : cases) {
        if (c.content.empty()) {
            std::filesystem::create_directories(dataFolder);
            ASSERT_EQ(0, mkfifo(temp.file(dataFile()).c_str(), 0600));
        } else {
            writeDataFile("", c.content);
        }
        const std::string log = temp.file("warn.log");
        runLogged(log, [&](TriExtApp& app) {
            EXPECT_FALSE(app.getConfigRoot()->hasParameter("Port")) << c.what;
            EXPECT_FALSE(app.getConfigRoot()->hasSection("S")) << c.what;
            app.getConfigRoot()->getParameter("Mode")->setString("server");
        });
        const std::string warning = "could not be read (" + std::string(c.reason) +
                                    "); it was kept as " + temp.file(dataFile(".broken"));
        EXPECT_TRUE(contains(temp.readFile("warn.log"), warning)) << temp.readFile("warn.log");
        if (!c.content.empty()) {
            EXPECT_TRUE(temp.readFile(dataFile(".broken")) == c.content) << c.what;
        }
        EXPECT_EQ("<Mode>server</>\r\n", temp.readFile(dataFile())) << c.what;
        std::filesystem::remove(temp.file(dataFile(".broken")));
        std::filesystem::remove(temp.file(dataFile()));
        std::filesystem::remove(log);
    }
}

TEST_F(TriExtAppTest, AFileThatCannotBeOpenedIsKeptAsideNotReplaced) {
    const std::string original = "<Mode>client</>\r\n<Port>9100</>\r\n";
    writeDataFile("", original);
    const std::string file = temp.file(dataFile());
    ASSERT_EQ(0, chmod(file.c_str(), 0));
    // Root opens any file: the application then runs as nobody, who owns the
    // folders but not the file.
    const bool asRoot = geteuid() == 0;
    constexpr uid_t kNobody = 65534;
    if (asRoot) {
        ASSERT_EQ(0, chmod(temp.getPath().c_str(), 0711));
        for (const char* level :
             {"config", "config/Fennel Brookworks", "config/Fennel Brookworks/Linkmoot"}) {
            ASSERT_EQ(0, chown(temp.file(level).c_str(), kNobody, kNobody)) << level;
        }
    }
    const std::string log = temp.file("config/warn.log");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (asRoot && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
            _exit(3);
        bool loadedAnything = false;
        runLogged(log, [&](TriExtApp& app) {
            loadedAnything = app.getConfigRoot()->hasParameter("Port");
            app.getConfigRoot()->getParameter("Mode")->setString("server");
        });
        _exit(loadedAnything ? 4 : 0);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    const std::string broken = temp.file(dataFile(".broken"));
    ASSERT_EQ(0, chmod(broken.c_str(), 0600));
    EXPECT_EQ(original, temp.readFile(dataFile(".broken")));
    EXPECT_EQ("<Mode>server</>\r\n", temp.readFile(dataFile()));
    EXPECT_TRUE(contains(temp.readFile("config/warn.log"),
                         "could not be read (it cannot be opened: Permission denied); it was "
                         "kept as " +
                             broken))
        << temp.readFile("config/warn.log");
}

TEST_F(TriExtAppTest, AnEditMadeWhileItRunsIsKeptAndOnlyTheProgramsChangesGoIn) {
    writeDataFile("",
                  "<Keep>1</>\r\n<Mode>client</>\r\n<Old>x</>\r\n<Port>9005</>\r\n\r\n"
                  "<Client>\r\n\t<Server>gw</>\r\n</Client>\r\n");
    {
        TriExtApp app("Linkmoot");
        toolbox::ConfigSection* root = app.getConfigRoot();
        root->getParameter("Mode")->setString("server");         // what a dialog confirmed
        root->removeParameter("Old");                            // an option it switched off
        root->getSection("Server")->getLong("GuardTime", 3000);  // defaults reads stored
        root->getSection("Server")->getString("Dialer", "auto");
        // Meanwhile by hand: another port and server, a dial-up service, Keep gone.
        writeDataFile("",
                      "<Mode>client</>\r\n<Old>x</>\r\n<Port>9100</>\r\n<Client>\r\n"
                      "\t<Server>gw2</>\r\n</Client>\r\n<Server>\r\n\t<Dialer>ppp</>\r\n"
                      "</Server>\r\n");
        ASSERT_TRUE(app.saveNow());  // as a confirmed configuration flow saves
        EXPECT_EQ(temp.readFile(dataFile()),
                  "<Mode>server</>\r\n<Port>9100</>\r\n\r\n<Client>\r\n\t<Server>gw2</>\r\n"
                  "</Client>\r\n\r\n<Server>\r\n\t<Dialer>ppp</>\r\n\t<GuardTime>3000</>\r\n"
                  "</Server>\r\n");
        // The running tree still holds port 9005; the exit adds only what came since.
        root->getSection("Client")->getParameter("AutoVote")->setBool(true);
    }
    EXPECT_EQ(temp.readFile(dataFile()),
              "<Mode>server</>\r\n<Port>9100</>\r\n\r\n<Client>\r\n\t<AutoVote>1</>\r\n"
              "\t<Server>gw2</>\r\n</Client>\r\n\r\n<Server>\r\n\t<Dialer>ppp</>\r\n"
              "\t<GuardTime>3000</>\r\n</Server>\r\n");
}

TEST_F(TriExtAppTest, AChangedFileThatCannotBeUsedIsLeftAsItIsWithAWarnLine) {
    const std::string edits[] = {
        "<Mode>server</>\r\n<Server>\r\n",                     // does not parse
        "<Server>\r\n\t<Connection>x</>\r\n\\t</Server>\r\n",  // the section would be dropped
    };
    for (const std::string& edit : edits) {
        writeDataFile("", "<Mode>client</>\r\n");
        const std::string log = temp.file("warn.log");
        runLogged(log, [&](TriExtApp& app) {
            app.getConfigRoot()->getParameter("Port")->setString("9100");
            writeDataFile("", edit);
            EXPECT_FALSE(app.saveNow());
        });
        EXPECT_EQ(temp.readFile(dataFile()), edit);
        EXPECT_FALSE(temp.contains(dataFile(".broken")));
        // The flow's save and the exit's.
        EXPECT_EQ(2u, occurrences(temp.readFile("warn.log"), "was changed and cannot be used"))
            << temp.readFile("warn.log");
        std::filesystem::remove(log);
    }
}

TEST_F(TriExtAppTest, AFileReadOtherwiseThanWrittenIsKeptAsBrokenBeforeTheSave) {
    const std::string original = "<Port>9005</>\r\n<Port>9100</>\r\n";
    writeDataFile("", original);
    const std::string log = temp.file("warn.log");
    runLogged(log, [&](TriExtApp& app) {
        ASSERT_EQ(app.getLoadNotices().size(), 1u);
        EXPECT_EQ(app.getLoadNotices()[0].kind, toolbox::ConfigNotice::KeyTwice);
        EXPECT_EQ(app.getLoadNotices()[0].path, "Port");
        EXPECT_EQ(app.getLoadNotices()[0].line, 2);
    });
    EXPECT_EQ(temp.readFile(dataFile(".broken")), original);
    EXPECT_EQ(temp.readFile(dataFile()), "<Port>9100</>\r\n");
    EXPECT_TRUE(contains(temp.readFile("warn.log"), "was read otherwise than written"))
        << temp.readFile("warn.log");
}

}  // namespace
