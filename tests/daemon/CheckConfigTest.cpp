// linkmootd --check-config as a process: what it prints, how it ends, and that
// it changes nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "DaemonProcess.h"
#include "support/TempFolder.h"

namespace {

using daemontest::CommandResult;
using daemontest::Instance;
using daemontest::runProgram;

TEST(CheckConfigTest, ItPrintsTheTreeWarnsAndEndsWithZeroOneOrTwo) {
    testsupport::TempFolder folder;
    Instance instance(folder.getPath(), "check");
    struct Case {
        std::string text;  ///< the file's content; empty: no file
        int status;
        std::vector<std::string> out;
        std::vector<std::string> err;
    };
    const Case cases[] = {
        {daemontest::configText({"<Configured>1</>", "<Mode>server</>", "<Server>",
                                 "\t<Password>hunter2</>", "\t<Connection>Dial-in</>",
                                 "</Server>"}),
         0,
         {"Configuration file: " + instance.configFile() + "\n", "Mode = \"server\"\n",
          "Server/Connection = \"Dial-in\"\nServer/Password = (set)\n"},
         {}},
        {daemontest::configText({"<Mode>server</>", "<Server>", "\t<Connection>Dial-in</>",
                                 "\t<Password>hunter2</>", "\\t</Server>", "<Port>x</>"}),
         1,
         {"Server = \"\\t\"\n"},
         {"linkmootd: warning: Server (line 2): text beside child elements",
          "linkmootd: warning: Port: \"x\" is not a whole number; it reads as 0\n"}},
        {"<Mode>server</><Server>", 2, {}, {"it is not in the configuration format (Server"}},
        {"", 2, {}, {"there is no configuration file (" + instance.configFile() + ")"}},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(instance.configFolder());
        if (!c.text.empty()) {
            std::filesystem::create_directories(instance.configFolder());
            std::ofstream(instance.configFile(), std::ios::binary) << c.text;
        }
        for (const bool named : {false, true}) {
            if (named && c.text.empty())
                continue;
            std::vector<std::string> arguments{instance.program(), "--check-config"};
            if (named)
                arguments.push_back(instance.configFile());
            const CommandResult result = runProgram(arguments, instance.environment());
            EXPECT_EQ(result.exitStatus, c.status) << c.text << result.err;
            for (const std::string& part : c.out)
                EXPECT_NE(result.out.find(part), std::string::npos) << part << "\n" << result.out;
            for (const std::string& part : c.err)
                EXPECT_NE(result.err.find(part), std::string::npos) << part << "\n" << result.err;
            EXPECT_EQ((result.out + result.err).find("hunter2"), std::string::npos);
        }
        // Read, never written; no folder made for a file that is not there.
        EXPECT_EQ(daemontest::readWhole(instance.configFile()), c.text);
        EXPECT_EQ(std::filesystem::exists(instance.configFolder()), !c.text.empty());
    }
}

}  // namespace
