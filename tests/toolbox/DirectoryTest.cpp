#include "ToolBox/Directory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ProbeRunner.h"
#include "ToolBox/Exception.h"
#include "ToolBox/Logger.h"
#include "ToolBox/Memory.h"
#include "ToolBox/posix/Os.h"
#include "support/TempFolder.h"

using toolbox::Directory;

namespace {

std::string rendered(const Directory& path, bool trailingSeparator = false) {
    char* text = path.toString(trailingSeparator);
    std::string result(text);
    toolbox::release(text);
    return result;
}

std::string native(const Directory& path) {
    char* text = path.toNative();
    std::string result(text);
    toolbox::release(text);
    return result;
}

std::vector<std::string> names(const Directory& path) {
    std::vector<std::string> result;
    for (auto* e = path.getElements().getFirst(); e != nullptr; e = e->getNext()) {
        result.emplace_back(e->getName());
    }
    return result;
}

std::string withExtension(const char* name, const char* extension) {
    toolbox::PathElement element(name);
    EXPECT_TRUE(element.setExtension(extension));
    return element.getName();
}

std::string takeString(char* text) {
    std::string result(text != nullptr ? text : "(null)");
    toolbox::release(text);
    return result;
}

struct SplitCase {
    const char* text;
    const char* prefix;
    std::vector<std::string> elements;
    const char* rendering;
};

TEST(DirectoryTest, SplitsAndRendersBackslashPaths) {
    const std::vector<SplitCase> cases = {
        {"C:\\Apps\\Tool\\tool.exe",
         "C:\\",
         {"Apps", "Tool", "tool.exe"},
         "C:\\Apps\\Tool\\tool.exe"},
        {"C:relative\\x", "C:", {"relative", "x"}, "C:relative\\x"},
        {"\\rooted\\x", "\\", {"rooted", "x"}, "\\rooted\\x"},
        {"relative\\x\\", "", {"relative", "x"}, "relative\\x"},
        {"a\\\\b", "", {"a", "b"}, "a\\b"},
        {"\\\\server\\share\\dir", "\\\\server\\", {"share", "dir"}, "\\\\server\\share\\dir"},
        {"\\\\server", "\\\\server", {}, "\\\\server"},
        {"", "", {}, ""},
        {"a/b", "", {"a/b"}, "a/b"},
    };
    for (const SplitCase& c : cases) {
        Directory path(c.text);
        EXPECT_STREQ(path.getPrefix(), c.prefix) << c.text;
        EXPECT_EQ(names(path), c.elements) << c.text;
        EXPECT_EQ(rendered(path), c.rendering) << c.text;
    }
}

TEST(DirectoryTest, ATrailingSeparatorFollowsOnlyAnElement) {
    EXPECT_EQ(rendered(Directory("C:\\Apps"), true), "C:\\Apps\\");
    EXPECT_EQ(rendered(Directory("C:\\"), true), "C:\\");
    EXPECT_EQ(rendered(Directory(), true), "");
}

TEST(DirectoryTest, SetExtensionReplacesOnlyTheLastExtensionOfTheElement) {
    EXPECT_EQ(withExtension("tool.exe", "cfg"), "tool.cfg");
    EXPECT_EQ(withExtension("tool.exe", ".cfg"), "tool.cfg");
    EXPECT_EQ(withExtension("archive.tar.gz", "cfg"), "archive.tar.cfg");
    EXPECT_EQ(withExtension("linkmootd", "log"), "linkmootd.log");
    EXPECT_EQ(withExtension(".profile", "cfg"), ".cfg");
    toolbox::PathElement empty("\\");
    EXPECT_FALSE(empty.setExtension("cfg"));
    EXPECT_STREQ(empty.getName(), "");
}

TEST(DirectoryTest, AppendStripsBackslashesAtTheEdgesOfTheName) {
    Directory path("C:\\base");
    path.append("\\\\inner\\name\\\\");
    path.append("\\");
    path.append("last");
    EXPECT_EQ(names(path), (std::vector<std::string>{"base", "inner\\name", "", "last"}));
    EXPECT_EQ(rendered(path), "C:\\base\\inner\\name\\\\last");
}

TEST(DirectoryTest, NativePathsCrossOverAtTheBoundary) {
    Directory* absolute = Directory::fromNative("/home/u/x");
    EXPECT_STREQ(absolute->getPrefix(), "\\");
    EXPECT_EQ(names(*absolute), (std::vector<std::string>{"home", "u", "x"}));
    EXPECT_EQ(rendered(*absolute), "\\home\\u\\x");
    EXPECT_EQ(native(*absolute), "/home/u/x");
    delete absolute;

    Directory* relative = Directory::fromNative("data//cfg/");
    EXPECT_STREQ(relative->getPrefix(), "");
    EXPECT_EQ(native(*relative), "data/cfg");
    delete relative;

    Directory* root = Directory::fromNative("/");
    EXPECT_EQ(native(*root), "/");
    delete root;
}

TEST(DirectoryTest, ACopyKeepsPrefixAndNamesAlsoWithAColon) {
    Directory* original = Directory::fromNative("/srv/a:b/c");
    Directory* copy = original->copy();
    EXPECT_EQ(native(*copy), "/srv/a:b/c");
    EXPECT_EQ(names(*copy), names(*original));
    copy->append("more");
    EXPECT_EQ(original->getElements().getCount(), 3);
    delete copy;
    delete original;
}

TEST(DirectoryTest, CreateMakesEveryMissingLevelWithPrivateMode) {
    testsupport::TempFolder folder;
    Directory* path = Directory::fromNative(folder.file("one/two/three").c_str());
    EXPECT_FALSE(path->exists());
    EXPECT_TRUE(path->create());
    EXPECT_TRUE(path->exists());
    struct stat status {};
    ASSERT_EQ(stat(folder.file("one/two").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    // Over existing levels: true, nothing changes.
    folder.writeFile("one/two/three/kept", "x");
    EXPECT_TRUE(path->create());
    EXPECT_EQ(folder.readFile("one/two/three/kept"), "x");
    delete path;
}

TEST(DirectoryTest, AFileCountsAsAnExistingLevel) {
    testsupport::TempFolder folder;
    folder.writeFile("file", "content");
    Directory* last = Directory::fromNative(folder.file("file").c_str());
    EXPECT_TRUE(last->create());
    delete last;
    Directory* deeper = Directory::fromNative(folder.file("file/below").c_str());
    EXPECT_FALSE(deeper->create());
    EXPECT_FALSE(deeper->exists());
    delete deeper;
    EXPECT_TRUE(Directory().create());  // no element: nothing to make
}

TEST(DirectoryTest, AppendProgramFileNameUsesTheRunningProgramsName) {
    Directory path("\\data");
    path.appendProgramFileName("cfg");
    char* program = toolbox::os::programFile();
    std::string name = std::filesystem::path(program).stem().string();
    toolbox::release(program);
    EXPECT_EQ(rendered(path), "\\data\\" + name + ".cfg");
}

TEST(DirectoryTest, TheProgramArgumentIsResolvedTheWayTheShellFoundIt) {
    testsupport::TempFolder folder;
    std::string bin = folder.file("bin");
    std::filesystem::create_directory(bin);
    probe::install(folder, "bin/tool");
    const char* current = "/work/here";

    EXPECT_EQ(takeString(toolbox::os::resolveProgramArgument("/opt/x/tool", current, "")),
              "/opt/x/tool");
    EXPECT_EQ(takeString(toolbox::os::resolveProgramArgument("./sub/tool", current, "")),
              "/work/here/./sub/tool");
    std::string path = "/nonexistent:" + bin;
    EXPECT_EQ(takeString(toolbox::os::resolveProgramArgument("tool", current, path.c_str())),
              bin + "/tool");
    // Not found along PATH: the bare name stays, and its folder is empty.
    std::string bare =
        takeString(toolbox::os::resolveProgramArgument("missing", current, path.c_str()));
    EXPECT_EQ(bare, "missing");
    Directory* program = Directory::fromNative(bare.c_str());
    program->getElements().deleteLast();
    EXPECT_EQ(rendered(*program), "");
    delete program;
    EXPECT_EQ(toolbox::os::resolveProgramArgument("", current, path.c_str()), nullptr);
}

TEST(DirectoryTest, AProgramStartedThroughPathFindsItsOwnFolder) {
    testsupport::TempFolder folder;
    probe::install(folder, "lmprobe");
    std::string path = "/nonexistent:" + folder.getPath();
    testsupport::TempFolder elsewhere;
    probe::Result result = probe::run("lmprobe", "lmprobe", {"+where"}, elsewhere.getPath(), &path);
    ASSERT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_NE(result.output.find("folder=" + folder.getPath() + "\n"), std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("program=" + folder.file("lmprobe") + "\n"), std::string::npos);
}

TEST(DirectoryTest, AnEntryRecordsTheStatusOfAFile) {
    testsupport::TempFolder folder;
    folder.writeFile("data.bin", std::string(1234, 'd'));
    Directory* path = Directory::fromNative(folder.file("data.bin").c_str());
    toolbox::DirectoryEntry entry(*path);
    delete path;
    struct stat status {};
    ASSERT_EQ(stat(folder.file("data.bin").c_str(), &status), 0);
    EXPECT_TRUE(entry.doesExist());
    EXPECT_EQ(entry.getSize(), 1234u);
    EXPECT_EQ(entry.getAttributes(), status.st_mode);
    EXPECT_EQ(entry.modificationTime(), status.st_mtime);
    EXPECT_NE(entry.creationTime(), -1);
    EXPECT_EQ(native(entry.getPath()), folder.file("data.bin"));

    std::filesystem::remove(folder.file("data.bin"));
    entry.refresh();
    EXPECT_FALSE(entry.doesExist());
    EXPECT_EQ(entry.getSize(), 0u);
    EXPECT_EQ(entry.getAttributes(), 0u);
    EXPECT_EQ(entry.getModified().tm_year, -1);
    EXPECT_EQ(entry.getCreated().tm_sec, -1);
    EXPECT_EQ(entry.modificationTime(), -1);
    EXPECT_EQ(entry.creationTime(), -1);
}

}  // namespace
