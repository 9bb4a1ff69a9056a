#include "ToolBox/Config.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "support/TempFolder.h"

using toolbox::Config;
using toolbox::ConfigParameter;
using toolbox::ConfigSection;

namespace {

// The file of the worked example: CR LF line ends, TAB indentation.
const char kExampleFile[] =
    "<Configured>1</>\r\n"
    "<Port>9005</>\r\n"
    "\r\n"
    "<Client>\r\n"
    "\t<AutoVote>0</>\r\n"
    "\t<Server>gateway</>\r\n"
    "\t<WakeOnLanMac>\\0</>\r\n"
    "</Client>\r\n"
    "\r\n"
    "<Server>\r\n"
    "\t<AlwaysConnected>0</>\r\n"
    "\t<GuardTime>3000</>\r\n"
    "</Server>\r\n";

std::string writeTree(ConfigSection* root) {
    Config::BufferWriter writer;
    EXPECT_TRUE(root->write(writer, 0));
    return std::string(writer.getText(), writer.getLength());
}

bool parseText(Config& config, const std::string& text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    bool parsed = config.parse(buffer.data());
    // The parser works in place but hands the buffer back unchanged.
    EXPECT_EQ(0, std::memcmp(buffer.data(), text.data(), text.size()));
    return parsed;
}

bool isEmpty(ConfigSection* section) {
    return section->getParameters().getCount() == 0 && section->getSections().getCount() == 0;
}

/// Fails once the given number of bytes has been written.
class FailingWriter : public Config::Writer {
public:
    explicit FailingWriter(std::size_t budget) : budget(budget) {}
    bool writeText(const char* text) override { return writeBytes(text, std::strlen(text)); }
    bool writeChar(char character) override { return writeBytes(&character, 1); }
    bool writeBytes(const char* bytes, std::size_t count) override {
        ++calls;
        if (failed)
            ++callsAfterFailure;
        if (failed || written.size() + count > budget) {
            failed = true;
            return false;
        }
        written.append(bytes, count);
        return true;
    }

    std::size_t budget;
    std::string written;
    bool failed = false;
    int calls = 0;
    int callsAfterFailure = 0;
};

TEST(ConfigTest, WorkedExampleIsWrittenByteForByte) {
    Config config;
    ConfigSection* root = config.getRoot();
    root->getParameter("Configured")->setBool(true);
    root->getParameter("Port")->setString("9005");
    ConfigSection* client = root->getSection("Client");
    client->getParameter("AutoVote")->setBool(false);
    client->getParameter("Server")->setString("gateway");
    client->getParameter("WakeOnLanMac")->setString("");
    ConfigSection* server = root->getSection("Server");
    server->getParameter("AlwaysConnected")->setBool(false);
    server->getParameter("GuardTime")->setLong(3000);

    EXPECT_EQ(kExampleFile, writeTree(root));
}

TEST(ConfigTest, WorkedExampleReadsBackAsTextParameters) {
    Config config;
    ASSERT_TRUE(parseText(config, kExampleFile));
    ConfigSection* root = config.getRoot();
    struct Expected {
        const char* section;
        const char* name;
        const char* value;
    } expected[] = {{nullptr, "Configured", "1"},   {nullptr, "Port", "9005"},
                    {"Client", "AutoVote", "0"},    {"Client", "Server", "gateway"},
                    {"Client", "WakeOnLanMac", ""}, {"Server", "AlwaysConnected", "0"},
                    {"Server", "GuardTime", "3000"}};
    for (const Expected& entry : expected) {
        ConfigSection* section =
            entry.section == nullptr ? root : root->getSections().get(entry.section);
        ASSERT_NE(nullptr, section) << entry.section;
        ASSERT_TRUE(section->hasParameter(entry.name)) << entry.name;
        ConfigParameter* parameter = section->getParameter(entry.name);
        EXPECT_EQ(ConfigParameter::Text, parameter->getKind()) << entry.name;
        EXPECT_STREQ(entry.value, parameter->asString()) << entry.name;
    }
    EXPECT_EQ(2, root->getParameters().getCount());
    EXPECT_EQ(2, root->getSections().getCount());
    EXPECT_EQ(kExampleFile, writeTree(root));
}

TEST(ConfigTest, EveryEscapedByteSurvivesBothWays) {
    const char value[] = "a\tb\nc\fd\re/f<g>h\\i j\x80\xff";
    const char name[] = "/n<a>m\\e\t";
    Config config;
    config.getRoot()->getParameter(name)->setString(value);
    const std::string file = writeTree(config.getRoot());
    EXPECT_EQ("<\\/n\\<a\\>m\\\\e\\t>a\\tb\\nc\\fd\\re\\/f\\<g\\>h\\\\i j\x80\xff</>\r\n", file);

    Config reread;
    ASSERT_TRUE(parseText(reread, file));
    ASSERT_TRUE(reread.getRoot()->hasParameter(name));
    EXPECT_STREQ(value, reread.getRoot()->getParameter(name)->asString());
}

TEST(ConfigTest, EmptyAndUnsetValuesAreWrittenAsBackslashZero) {
    Config config;
    config.getRoot()->getParameter("Empty")->setString("");
    config.getRoot()->getParameter("Unset");
    const std::string file = writeTree(config.getRoot());
    EXPECT_EQ("<Empty>\\0</>\r\n<Unset>\\0</>\r\n", file);

    Config reread;
    ASSERT_TRUE(parseText(reread, file));
    for (const char* name : {"Empty", "Unset"}) {
        ASSERT_TRUE(reread.getRoot()->hasParameter(name));
        EXPECT_EQ(ConfigParameter::Text, reread.getRoot()->getParameter(name)->getKind());
        EXPECT_STREQ("", reread.getRoot()->getParameter(name)->asString());
    }
}

TEST(ConfigTest, SpacesAroundValuesAreLostAndSpacesOnlyMakeASection) {
    Config config;
    ASSERT_TRUE(parseText(config, "<Blank>   </>\n<Padded>  a b \\t</>\n"));
    ConfigSection* root = config.getRoot();
    EXPECT_FALSE(root->hasParameter("Blank"));
    EXPECT_TRUE(root->hasSection("Blank"));
    EXPECT_STREQ("a b \t", root->getString("Padded", "x"));
}

TEST(ConfigTest, ClosingTagMayNameTheParameter) {
    Config config;
    ASSERT_TRUE(parseText(config, "<Port>9005</Port><Client><Server>gw</Server></Client>"));
    EXPECT_STREQ("9005", config.getRoot()->getString("Port", ""));
    EXPECT_FALSE(config.getRoot()->hasSection("Port"));
    ConfigSection* client = config.getRoot()->getSection("Client");
    EXPECT_STREQ("gw", client->getString("Server", ""));
    EXPECT_FALSE(client->hasSection("Server"));
}

/// What an observer heard, one "kind path line" entry each.
class Notices : public Config::Observer {
public:
    void notice(toolbox::ConfigNotice kind, const char* path, int line) override {
        static const char* const kNames[] = {
            "TextDropsSection", "TextBesideSection", "KeyDropsSection", "SectionAndKey", "KeyTwice",
            "StrayText",        "StrayClosingTag",   "WrongClosingTag", "Unclosed"};
        heard.push_back(std::string(kNames[static_cast<int>(kind)]) + " " + path + " " +
                        std::to_string(line));
    }
    std::vector<std::string> heard;
};

TEST(ConfigTest, MalformedTextLeavesAnEmptyTreeAndTheObserverHearsWhere) {
    struct Case {
        const char* input;
        const char* notice;
    };
    const Case cases[] = {
        {"stray", "StrayText  1"},                      // text at the top level
        {"\xEF\xBB\xBF<A>1</>", "StrayText  1"},        // a byte-order mark is text too
        {"<A>1</>\r\n</A>", "StrayClosingTag  2"},      // closing tag at the top level
        {"</>", "StrayClosingTag  1"},                  //
        {"<A>\n<B>1</>", "Unclosed A 1"},               // a section never closed
        {"<A><B>1</>\n\n</C>", "WrongClosingTag A 3"},  // closing tag of another section
        {"<A><B>1</></a>", "WrongClosingTag A 1"},      // names compare exactly
        {"<A>1</A></A>", "StrayClosingTag  1"},         //
    };
    for (const Case& c : cases) {
        Config config;
        config.getRoot()->getParameter("Before")->setString("x");
        config.getRoot()->getSection("Old");
        Notices notices;
        std::string buffer = c.input;
        EXPECT_FALSE(config.parse(buffer.data(), &notices)) << c.input;
        EXPECT_EQ(buffer, c.input);
        EXPECT_TRUE(isEmpty(config.getRoot())) << c.input;
        EXPECT_EQ(notices.heard, std::vector<std::string>{c.notice}) << c.input;
    }
}

// Texts the format reads, but not as whoever wrote them meant: the observer
// hears of each, and the tree is the one read without an observer.
TEST(ConfigTest, TheObserverHearsWhatDoesNotReadAsItLooks) {
    struct Case {
        const char* input;
        std::vector<std::string> notices;
    };
    const Case cases[] = {
        // A literal \t written by hand before the closing tag: the section
        // becomes a key at its closing tag.
        {"<Mode>server</>\r\n<Server>\r\n\t<Connection>Dial-in</>\r\n\\t</Server>",
         {"TextDropsSection Server 2"}},
        {"<A>x<B>1</></A>", {"TextBesideSection A 1"}},
        {"<A>\n<B>1</>\n</A>\n<A>x</>", {"KeyDropsSection A 4"}},
        {"<A></A><A>x</>", {}},  // an empty section goes without loss
        {"<A>x</>\n<A><B>1</></A>", {"SectionAndKey A 2"}},
        {"<A>x</><A></A>", {"SectionAndKey A 1"}},
        {"<S>\n\t<P>1</>\n\t<P>2</P>\n</S>", {"KeyTwice S/P 3"}},
        {"<S><P>1</></S><S><P>2</></S>", {"KeyTwice S/P 1"}},
        // The usual: repeated sections merge, nested sections, spaces only.
        {"<S><a>1</></S>\r\n<S><b>2</></S><T><U><v>3</></U></T><W>  </>", {}},
    };
    for (const Case& c : cases) {
        Config observed;
        Notices notices;
        std::string buffer = c.input;
        EXPECT_TRUE(observed.parse(buffer.data(), &notices)) << c.input;
        EXPECT_EQ(buffer, c.input);
        EXPECT_EQ(notices.heard, c.notices) << c.input;
        Config plain;
        ASSERT_TRUE(parseText(plain, c.input));
        EXPECT_EQ(writeTree(plain.getRoot()), writeTree(observed.getRoot())) << c.input;
    }
}

TEST(ConfigTest, EmptyAndBlankTextsAreEmptyTrees) {
    for (const char* input : {"", " \r\n\t\f "}) {
        Config config;
        config.getRoot()->getParameter("Before")->setString("x");
        EXPECT_TRUE(parseText(config, input));
        EXPECT_TRUE(isEmpty(config.getRoot()));
    }
    Config empty;
    EXPECT_EQ("", writeTree(empty.getRoot()));
}

TEST(ConfigTest, RepeatedSectionsMergeAndLaterParametersWin) {
    Config config;
    ASSERT_TRUE(parseText(
        config, "<S>\n<a>1</>\n<b>2</>\n</S>\n<S>\n<b>3</>\n<c>4</>\n</S>\n<p>x</><p>y</>"));
    ConfigSection* section = config.getRoot()->getSection("S");
    EXPECT_STREQ("1", section->getString("a", ""));
    EXPECT_STREQ("3", section->getString("b", ""));
    EXPECT_STREQ("4", section->getString("c", ""));
    EXPECT_STREQ("y", config.getRoot()->getString("p", ""));
    EXPECT_EQ(1, config.getRoot()->getSections().getCount());
}

TEST(ConfigTest, ParameterAndSectionOfOneNameLiveSideBySide) {
    Config config;
    ConfigSection* root = config.getRoot();
    root->getParameter("Twin")->setString("value");
    root->getSection("Twin")->getParameter("inner")->setString("1");
    root->getSection("Empty");
    const std::string file = writeTree(root);
    EXPECT_EQ(
        "<Twin>value</>\r\n\r\n<Empty>\r\n</Empty>\r\n\r\n<Twin>\r\n\t<inner>1</>\r\n</Twin>\r\n",
        file);
    Config reread;
    ASSERT_TRUE(parseText(reread, file));
    EXPECT_EQ(file, writeTree(reread.getRoot()));
}

TEST(ConfigTest, NamesDifferingInCaseAreDistinctAndWrittenTogether) {
    Config config;
    ConfigSection* root = config.getRoot();
    root->getSection("beta");
    root->getSection("Alpha")->getParameter("x")->setString("1");
    root->getSection("alpha")->getParameter("x")->setString("2");
    root->getSection("ALPHA");
    EXPECT_EQ(4, root->getSections().getCount());

    // The three spellings of alpha come first, in the order the map yields
    // them, then beta.
    std::string expectedOrder;
    toolbox::PointeredList* names = root->getSections().keys();
    for (auto* item = names->getFirst(); item != nullptr; item = item->getNext()) {
        std::string name = static_cast<const char*>(item->getObject());
        if (name != "beta")
            expectedOrder += "<" + name + ">";
    }
    delete names;
    expectedOrder += "<beta>";
    const std::string file = writeTree(root);
    std::string writtenOrder;
    for (std::size_t at = file.find('<'); at != std::string::npos; at = file.find('<', at + 1)) {
        std::size_t end = file.find('>', at);
        std::string tag = file.substr(at, end - at + 1);
        if (tag != "<x>" && tag[1] != '/')
            writtenOrder += tag;
    }
    EXPECT_EQ(expectedOrder, writtenOrder);
    Config reread;
    ASSERT_TRUE(parseText(reread, file));
    EXPECT_STREQ("1", reread.getRoot()->getSection("Alpha")->getString("x", ""));
    EXPECT_STREQ("2", reread.getRoot()->getSection("alpha")->getString("x", ""));
    EXPECT_EQ(file, writeTree(reread.getRoot()));
}

TEST(ConfigTest, AccessorsStoreTheirDefaults) {
    Config config;
    ConfigSection* server = config.getRoot()->getSection("Server");
    EXPECT_FALSE(server->hasParameter("GuardTime"));
    EXPECT_FALSE(server->hasParameter("GuardTime"));  // asking creates nothing
    EXPECT_EQ(3000, server->getLong("GuardTime", 3000));
    EXPECT_EQ(ConfigParameter::Integer, server->getParameter("GuardTime")->getKind());
    EXPECT_EQ(3000, server->getLong("GuardTime", 1));       // the stored value wins
    EXPECT_STREQ("", server->getString("GuardTime", "x"));  // numbers have no text form
    EXPECT_TRUE(server->getBool("On", true));
    EXPECT_STREQ("1", server->getString("On", ""));
    EXPECT_STREQ("dflt", server->getString("Name", "dflt"));
    EXPECT_EQ("<GuardTime>3000</>\r\n<Name>dflt</>\r\n<On>1</>\r\n", writeTree(server));
    // A save tells what a read stored from what was set.
    server->getParameter("Empty");
    EXPECT_TRUE(server->getParameter("GuardTime")->isStoredDefault());
    EXPECT_TRUE(server->getParameter("Empty")->isStoredDefault());
    server->getParameter("GuardTime")->setLong(3000);
    EXPECT_FALSE(server->getParameter("GuardTime")->isStoredDefault());
}

TEST(ConfigTest, TextConvertsLikeAtol) {
    Config config;
    ConfigSection* root = config.getRoot();
    struct Case {
        const char* text;
        int32_t number;
        bool flag;
    } cases[] = {{"1", 1, true},
                 {"0", 0, false},
                 {"true", 0, false},
                 {"12abc", 12, true},
                 {" \t-3", -3, true},
                 {"+7", 7, true},
                 {"", 0, false},
                 {"99999999999", INT32_MAX, true},
                 {"-99999999999", INT32_MIN, true}};
    for (const Case& entry : cases) {
        root->getParameter("v")->setString(entry.text);
        EXPECT_EQ(entry.number, root->getLong("v", 5)) << entry.text;
        EXPECT_EQ(entry.flag, root->getBool("v", true)) << entry.text;
        EXPECT_EQ(ConfigParameter::Text, root->getParameter("v")->getKind());
    }
    root->getParameter("b")->setBool(true);
    EXPECT_EQ(1, root->getLong("b", 0));
    root->getParameter("b")->setLong(-12);
    EXPECT_TRUE(root->getBool("b", false));
    root->getParameter("b")->setString("own");
    root->getParameter("b")->setString(root->getParameter("b")->asString());
    EXPECT_STREQ("own", root->getString("b", ""));
}

TEST(ConfigTest, RemovingEntriesFreesThemAndIgnoresMissingOnes) {
    Config config;
    ConfigSection* root = config.getRoot();
    root->getSection("S")->getSection("T")->getParameter("p")->setString("1");
    root->getParameter("p")->setLong(1);
    root->removeSection("S");
    root->removeParameter("p");
    root->removeSection("missing");
    root->removeParameter("missing");
    EXPECT_TRUE(isEmpty(root));
}

TEST(ConfigTest, WritingStopsAtTheFirstFailure) {
    Config config;
    ConfigSection* root = config.getRoot();
    root->getParameter("a")->setString("some value");
    root->getSection("S")->getSection("T")->getParameter("deep")->setString("x");
    root->getSection("U")->getParameter("b")->setLong(2);
    const std::string full = writeTree(root);
    for (std::size_t budget = 0; budget < full.size(); ++budget) {
        FailingWriter writer(budget);
        EXPECT_FALSE(root->write(writer, 0)) << budget;
        EXPECT_EQ(0, writer.callsAfterFailure) << "wrote on after a failure at " << budget;
        EXPECT_EQ(full.substr(0, writer.written.size()), writer.written);
    }
    FailingWriter enough(full.size());
    EXPECT_TRUE(root->write(enough, 0));
    EXPECT_EQ(full, enough.written);
}

TEST(ConfigTest, DeepNestingIsIndentedOneTabPerLevel) {
    Config config;
    config.getRoot()->getSection("A")->getSection("B")->getSection("C")->getParameter("p")->setLong(
        1);
    EXPECT_EQ("<A>\r\n\t<B>\r\n\t\t<C>\r\n\t\t\t<p>1</>\r\n\t\t</C>\r\n\t</B>\r\n</A>\r\n",
              writeTree(config.getRoot()));
}

// --- files

class ConfigFileTest : public ::testing::Test {
protected:
    testsupport::TempFolder folder;
    std::string name = folder.file("linkmoot.cfg");
};

TEST_F(ConfigFileTest, SaveWritesAPrivateFileAndLoadReadsItBack) {
    Config config;
    config.getRoot()->getSection("Server")->getParameter("Password")->setString("secret");
    ASSERT_TRUE(config.saveFile(name.c_str()));
    EXPECT_EQ("<Server>\r\n\t<Password>secret</>\r\n</Server>\r\n",
              folder.readFile("linkmoot.cfg"));
    struct stat status;
    ASSERT_EQ(0, stat(name.c_str(), &status));
    EXPECT_EQ(0600u, status.st_mode & 07777);
    EXPECT_FALSE(folder.contains("linkmoot.cfg.tmp"));

    Config reread;
    ASSERT_TRUE(reread.loadFile(name.c_str()));
    EXPECT_EQ(Config::LoadResult::Loaded, reread.getLastLoadResult());
    EXPECT_STREQ("secret", reread.getRoot()->getSection("Server")->getString("Password", ""));
}

TEST_F(ConfigFileTest, SaveReplacesAnOlderFileAndALooseTemporaryOne) {
    folder.writeFile("linkmoot.cfg", "<Old>1</>\r\n");
    folder.writeFile("linkmoot.cfg.tmp", "<Stale>1</>\r\n");
    chmod(folder.file("linkmoot.cfg.tmp").c_str(), 0644);
    Config config;
    config.getRoot()->getParameter("New")->setLong(2);
    ASSERT_TRUE(config.saveFile(name.c_str()));
    EXPECT_EQ("<New>2</>\r\n", folder.readFile("linkmoot.cfg"));
    EXPECT_FALSE(folder.contains("linkmoot.cfg.tmp"));
    struct stat status;
    ASSERT_EQ(0, stat(name.c_str(), &status));
    EXPECT_EQ(0600u, status.st_mode & 07777);
}

TEST_F(ConfigFileTest, EmptyTreeSavesAsAnEmptyFile) {
    Config config;
    ASSERT_TRUE(config.saveFile(name.c_str()));
    EXPECT_TRUE(folder.contains("linkmoot.cfg"));
    EXPECT_EQ("", folder.readFile("linkmoot.cfg"));
    EXPECT_TRUE(config.loadFile(name.c_str()));
}

TEST_F(ConfigFileTest, TemporaryFileIsReadWhenTheFileIsMissing) {
    folder.writeFile("linkmoot.cfg.tmp", "<Port>9005</>\r\n");
    Config config;
    ASSERT_TRUE(config.loadFile(name.c_str()));
    EXPECT_STREQ("9005", config.getRoot()->getString("Port", ""));
    EXPECT_EQ(name + ".tmp", config.getLastLoadedFile());

    config.getRoot()->getParameter("Port")->setString("9006");
    ASSERT_TRUE(config.saveFile(name.c_str()));
    EXPECT_EQ("<Port>9006</>\r\n", folder.readFile("linkmoot.cfg"));
    EXPECT_FALSE(folder.contains("linkmoot.cfg.tmp"));
}

TEST_F(ConfigFileTest, TheFileWinsOverItsTemporaryFile) {
    folder.writeFile("linkmoot.cfg", "<Port>1</>");
    folder.writeFile("linkmoot.cfg.tmp", "<Port>2</>");
    Config config;
    ASSERT_TRUE(config.loadFile(name.c_str()));
    EXPECT_STREQ("1", config.getRoot()->getString("Port", ""));
}

TEST_F(ConfigFileTest, MissingFileLeavesTheTreeAlone) {
    Config config;
    config.getRoot()->getParameter("Kept")->setString("1");
    EXPECT_FALSE(config.loadFile(name.c_str()));
    EXPECT_EQ(Config::LoadResult::Missing, config.getLastLoadResult());
    EXPECT_EQ(nullptr, config.getLastLoadedFile());
    EXPECT_STREQ("1", config.getRoot()->getString("Kept", ""));
}

std::string nested(int levels, const std::string& inner) {
    std::string text;
    for (int level = 0; level < levels; ++level)
        text += "<S>";
    text += inner;
    for (int level = 0; level < levels; ++level)
        text += "</S>";
    return text;
}

TEST_F(ConfigFileTest, LoadingRefusesWhatIsNotASmallRegularFile) {
    const std::string padding(Config::kMaxFileBytes - std::strlen("<A></>"), 'x');
    struct Case {
        const char* what;
        std::function<void(const std::string& path)> make;
        const char* problem;  ///< null: loads
    };
    const Case cases[] = {
        {"exactly 1 MiB", [&](auto& path) { folder.writeFile(path, "<A>" + padding + "</>"); },
         nullptr},
        {"1 MiB and a byte", [&](auto& path) { folder.writeFile(path, "<A>" + padding + "x</>"); },
         "it is larger than 1 MiB"},
        {"sections 32 deep", [&](auto& path) { folder.writeFile(path, nested(32, "<p>1</>")); },
         nullptr},
        {"sections 33 deep", [&](auto& path) { folder.writeFile(path, nested(33, "")); },
         "its sections are nested deeper than 32"},
        {"a folder", [&](auto& path) { std::filesystem::create_directory(folder.file(path)); },
         "it is not a regular file"},
        // Opened without O_NONBLOCK, a FIFO nobody writes to would block for good.
        {"a FIFO", [&](auto& path) { ASSERT_EQ(0, mkfifo(folder.file(path).c_str(), 0600)); },
         "it is not a regular file"},
        {"a device",
         [&](auto& path) { std::filesystem::create_symlink("/dev/zero", folder.file(path)); },
         "it is not a regular file"},
        {"a link to itself",
         [&](auto& path) { std::filesystem::create_symlink(path, folder.file(path)); },
         "it cannot be opened: Too many levels of symbolic links"},
    };
    for (const Case& c : cases) {
        const std::string path = std::string("case-") + std::to_string(&c - cases) + ".cfg";
        c.make(path);
        // A stray temporary file must not be read instead of a file that is there.
        folder.writeFile(path + ".tmp", "<FromTmp>1</>");
        Config config;
        config.getRoot()->getParameter("Before")->setString("1");
        bool loaded = config.loadFile(folder.file(path).c_str());
        EXPECT_EQ(c.problem == nullptr, loaded) << c.what;
        EXPECT_FALSE(config.getRoot()->hasParameter("FromTmp")) << c.what;
        EXPECT_FALSE(config.getRoot()->hasParameter("Before")) << c.what;
        EXPECT_EQ(folder.file(path), config.getLastLoadedFile()) << c.what;
        if (c.problem == nullptr) {
            EXPECT_EQ(Config::LoadResult::Loaded, config.getLastLoadResult()) << c.what;
            EXPECT_EQ(nullptr, config.getLastLoadProblem()) << c.what;
        } else {
            EXPECT_EQ(Config::LoadResult::Unreadable, config.getLastLoadResult()) << c.what;
            EXPECT_STREQ(c.problem, config.getLastLoadProblem()) << c.what;
            EXPECT_TRUE(isEmpty(config.getRoot())) << c.what;
        }
    }
}

/// Runs body on a thread with a stack of only 64 KiB, where recursing once per
/// level of a deep tree would overflow.
void onSmallStack(void (*body)()) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 64 * 1024);
    pthread_t thread;
    ASSERT_EQ(0, pthread_create(
                     &thread, &attributes,
                     [](void* argument) -> void* {
                         reinterpret_cast<void (*)()>(argument)();
                         return nullptr;
                     },
                     reinterpret_cast<void*>(body)));
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

TEST(ConfigTest, AnyDepthIsWrittenAndFreedWithoutRecursion) {
    onSmallStack([] {
        constexpr int kDepth = 3000;
        Config* config = new Config;
        ConfigSection* section = config->getRoot();
        for (int level = 0; level < kDepth; ++level)
            section = section->getSection("S");
        section->getParameter("p")->setString("deep");
        std::string expected;
        for (int level = 0; level < kDepth; ++level)
            expected += std::string(level, '\t') + "<S>\r\n";
        expected += std::string(kDepth, '\t') + "<p>deep</>\r\n";
        for (int level = kDepth - 1; level >= 0; --level)
            expected += std::string(level, '\t') + "</S>\r\n";
        Config::BufferWriter writer;
        EXPECT_TRUE(config->getRoot()->write(writer, 0));
        EXPECT_TRUE(std::string(writer.getText(), writer.getLength()) == expected);
        delete config;
    });
}

TEST_F(ConfigFileTest, UnparseableFileEmptiesTheTreeAndSaysSo) {
    folder.writeFile("linkmoot.cfg", "<Client>\r\n\t<Server>gw</>\r\n");
    Config config;
    config.getRoot()->getParameter("Before")->setString("1");
    EXPECT_FALSE(config.loadFile(name.c_str()));
    EXPECT_EQ(Config::LoadResult::Unreadable, config.getLastLoadResult());
    EXPECT_EQ(name, config.getLastLoadedFile());
    EXPECT_TRUE(isEmpty(config.getRoot()));
}

TEST_F(ConfigFileTest, NulByteEndsTheText) {
    std::string content("<A>1</>\r\n");
    content.push_back('\0');
    content += "<B>2</>\r\n";
    folder.writeFile("linkmoot.cfg", content);
    Config config;
    ASSERT_TRUE(config.loadFile(name.c_str()));
    EXPECT_TRUE(config.getRoot()->hasParameter("A"));
    EXPECT_FALSE(config.getRoot()->hasParameter("B"));
}

TEST_F(ConfigFileTest, SaveIntoAFolderThatCannotExistFails) {
    folder.writeFile("plain", "not a folder");
    Config config;
    config.getRoot()->getParameter("a")->setLong(1);
    EXPECT_FALSE(config.saveFile(folder.file("plain/linkmoot.cfg").c_str()));
    EXPECT_EQ("not a folder", folder.readFile("plain"));
}

TEST_F(ConfigFileTest, FailedSaveLeavesTheOldFileUntouched) {
    folder.writeFile("linkmoot.cfg", "<Old>1</>\r\n");
    // The temporary file cannot be made when a folder stands in its place.
    std::filesystem::create_directory(name + ".tmp");
    Config config;
    config.getRoot()->getParameter("New")->setLong(2);
    EXPECT_FALSE(config.saveFile(name.c_str()));
    EXPECT_EQ("<Old>1</>\r\n", folder.readFile("linkmoot.cfg"));
}

/// A tree of some 40 KiB, so that a save takes many writes: the parameters of
/// one generation all end in its mark.
void fillGeneration(ConfigSection* root, char mark) {
    for (int section = 0; section < 8; ++section) {
        ConfigSection* part = root->getSection(("Part" + std::to_string(section)).c_str());
        for (int parameter = 0; parameter < 50; ++parameter) {
            part->getParameter(("Key" + std::to_string(parameter)).c_str())
                ->setString((std::string(90, 'v') + mark).c_str());
        }
    }
}

TEST_F(ConfigFileTest, ASaveKilledAtAnyMomentLeavesTheOldOrTheNewSettings) {
    Config oldSettings, newSettings;
    fillGeneration(oldSettings.getRoot(), 'o');
    fillGeneration(newSettings.getRoot(), 'n');
    const std::string oldText = writeTree(oldSettings.getRoot());
    const std::string newText = writeTree(newSettings.getRoot());
    ASSERT_TRUE(oldSettings.saveFile(name.c_str()));

    // A fixed seed and fixed bounds: the same 200 kill times in every run.
    std::mt19937 random(20240613);
    std::uniform_int_distribution<int> delayMicroseconds(0, 4000);
    int oldSeen = 0, newSeen = 0;
    for (int round = 0; round < 200; ++round) {
        int ready[2];
        ASSERT_EQ(0, pipe(ready));
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Saves the two generations by turns until it is killed, so that
            // the kill always lands inside some save.
            close(ready[0]);
            if (write(ready[1], "r", 1) != 1)
                _exit(2);
            for (bool useNew = true;; useNew = !useNew) {
                (useNew ? newSettings : oldSettings).saveFile(name.c_str());
            }
        }
        close(ready[1]);
        pollfd waiting{ready[0], POLLIN, 0};
        ASSERT_EQ(1, poll(&waiting, 1, 10000)) << "the saving child did not start";
        close(ready[0]);
        usleep(static_cast<useconds_t>(delayMicroseconds(random)));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round;

        Config next;
        ASSERT_TRUE(next.loadFile(name.c_str())) << "round " << round;
        const std::string loaded = writeTree(next.getRoot());
        ASSERT_TRUE(loaded == oldText || loaded == newText)
            << "round " << round << ": a tree of " << loaded.size() << " bytes";
        (loaded == oldText ? oldSeen : newSeen)++;
    }
    RecordProperty("old", oldSeen);
    RecordProperty("new", newSeen);
}

// What the tick derives from the settings is worked out again only when the
// count moves, so a change the count misses is a setting that never applies.
TEST(ConfigChangeCount, EveryChangeMovesItAndAReadOfAPresentKeyDoesNot) {
    Config config;
    ConfigSection* root = config.getRoot();
    root->getSection("Server")->getLong("Port", 17);
    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"set a number", [&] { root->getSection("Server")->getParameter("Port")->setLong(18); }},
        {"set a text", [&] { root->getParameter("Mode")->setString("server"); }},
        {"set a flag", [&] { root->getParameter("Configured")->setBool(true); }},
        {"store a default", [&] { root->getBool("Notify", true); }},
        {"create a section", [&] { root->getSection("Plan"); }},
        {"remove a key", [&] { root->removeParameter("Mode"); }},
        {"remove a section", [&] { root->removeSection("Plan"); }},
        {"parse",
         [&] {
             char text[] = "<Mode>client</>";
             config.parse(text);
         }},
        {"clear", [&] { root->clear(); }},
    };
    for (const auto& [what, change] : changes) {
        const uint64_t before = toolbox::configChangeCount();
        change();
        EXPECT_NE(toolbox::configChangeCount(), before) << what;
    }
    root->getSection("Server")->getLong("Port", 17);
    root->getBool("Notify", false);
    const uint64_t settled = toolbox::configChangeCount();
    root->getSection("Server")->getLong("Port", 17);
    root->getBool("Notify", false);
    EXPECT_EQ(toolbox::configChangeCount(), settled);
}

}  // namespace
