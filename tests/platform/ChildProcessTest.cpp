#include "platform/ChildProcess.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/TempFolder.h"

namespace linkmoot {
namespace {

// Sets PATH and the current folder for one test, and puts them back.
class PathAndFolder {
public:
    PathAndFolder(const std::string& path, const std::string& folder) {
        const char* old = getenv("PATH");
        hadPath = old != nullptr;
        oldPath = hadPath ? old : "";
        char buffer[4096];
        oldFolder = getcwd(buffer, sizeof buffer) != nullptr ? buffer : "/";
        setenv("PATH", path.c_str(), 1);
        EXPECT_EQ(chdir(folder.c_str()), 0);
    }
    ~PathAndFolder() {
        if (hadPath)
            setenv("PATH", oldPath.c_str(), 1);
        else
            unsetenv("PATH");
        EXPECT_EQ(chdir(oldFolder.c_str()), 0);
    }

private:
    bool hadPath = false;
    std::string oldPath;
    std::string oldFolder;
};

TEST(ChildProcessTest, AnEmptyPathElementIsNotTheCurrentFolder) {
    testsupport::TempFolder current;
    testsupport::TempFolder listed;
    for (const auto* folder : {&current, &listed}) {
        folder->writeFile("linkmoot-probe", "#!/bin/sh\n");
        chmod(folder->file("linkmoot-probe").c_str(), 0755);
    }
    struct Case {
        std::string path;
        std::string found;
    };
    const Case cases[] = {
        {":/nonexistent", ""},
        {"/nonexistent:", ""},
        {"/nonexistent::/nonexistent", ""},
        {"", ""},
        {"::" + listed.getPath(), listed.file("linkmoot-probe")},
    };
    for (const Case& test : cases) {
        PathAndFolder environment(test.path, current.getPath());
        EXPECT_EQ(ChildProcess::findProgram("linkmoot-probe"), test.found) << "PATH=" << test.path;
    }
}

}  // namespace
}  // namespace linkmoot
