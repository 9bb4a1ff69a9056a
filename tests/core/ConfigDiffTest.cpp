#include "ConfigDiff.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ToolBox/Config.h"

namespace linkmoot {
namespace {

std::string fileOf(toolbox::Config& config) {
    toolbox::Config::BufferWriter text;
    config.getRoot()->write(text, 0);
    return std::string(text.getText(), text.getLength());
}

TEST(ConfigDiffTest, ChangesAreSaidKeyByKeyAndOnlyTheRestartColumnRestarts) {
    struct Case {
        const char* before;
        const char* after;
        std::vector<std::string> lines;
        bool restarts;
    };
    const Case cases[] = {
        // Defaults the running tree stored, a number written otherwise: no change.
        {"<Mode>server</><Port>9005</><Server><Dialer>auto</><GuardTime>3000</>"
         "<AllowedNetworks>\\0</><Connection>Dial-in</><WebPort>0</></Server>",
         "<Mode>server</><Port>09005</><Server><Connection>Dial-in</></Server>",
         {},
         false},
        // The section read as a key: what the server would dial with.
        {"<Mode>server</><Server><Connection>Dial-in</><Dialer>ppp</></Server>",
         "<Mode>server</><Server>\\t</>",
         {"Server/Connection: \"Dial-in\" -> \"\"", "Server/Dialer: \"ppp\" -> \"auto\"",
          "Server: (none) -> \"\\t\""},
         true},
        // The page follows its own port; secrets are never shown.
        {"<Server><WebPort>8080</><Password>a</><WebPassword>b</></Server>",
         "<Server><WebPort>8081</><Password>c</><WebPassword>d</>"
         "<AutoReconnectMinutes>600</></Server>",
         {"Server/AutoReconnectMinutes: (none) -> \"600\"", "Server/Password: (changed)",
          "Server/WebPort: \"8080\" -> \"8081\"", "Server/WebPassword: (changed)"},
         false},
        {"<Secret>0123456789abcdef</>", "<Secret>fedcba9876543210</>", {"Secret: (changed)"}, true},
        // Keys no part of the program reads, at any depth.
        {"<Client><Server>gw</><X><Y>1</></X></Client>",
         "<Client><Server>gw2</><Z>2</></Client>",
         {"Client/Server: \"gw\" -> \"gw2\"", "Client/X/Y: \"1\" -> (none)",
          "Client/Z: (none) -> \"2\""},
         false},
    };
    for (const Case& c : cases) {
        toolbox::Config before;
        toolbox::Config after;
        std::string beforeText = c.before;
        std::string afterText = c.after;
        ASSERT_TRUE(before.parse(beforeText.data())) << c.before;
        ASSERT_TRUE(after.parse(afterText.data())) << c.after;
        const std::string beforeFile = fileOf(before);
        const std::string afterFile = fileOf(after);
        const ConfigDiff diff(before.getRoot(), after.getRoot());
        EXPECT_EQ(diff.lines(), c.lines) << c.after;
        EXPECT_EQ(diff.restartsServer(), c.restarts) << c.after;
        EXPECT_EQ(diff.changed(keys::ClientServer),
                  std::string(c.after).find("gw2") != std::string::npos);
        // Comparing makes nothing in either tree.
        EXPECT_EQ(fileOf(before), beforeFile);
        EXPECT_EQ(fileOf(after), afterFile);
    }
}

}  // namespace
}  // namespace linkmoot
