#include "ConfigCheck.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ToolBox/Config.h"

namespace linkmoot {
namespace {

/// The warnings of a text, read as the program reads a file.
std::vector<std::string> warningsOf(const std::string& text) {
    toolbox::Config config;
    ConfigCheck check;
    std::string buffer = text;
    config.parse(buffer.data(), &check);
    check.checkKeys(config.getRoot());
    std::vector<std::string> texts;
    for (const ConfigWarning& warning : check.warnings())
        texts.push_back(warning.text);
    return texts;
}

TEST(ConfigCheckTest, EachThingThatWillNotMeanWhatItSeemsIsNamed) {
    struct Case {
        const char* text;
        std::vector<std::string> warnings;
    };
    const Case cases[] = {
        // What every saved file looks like: nothing to say.
        {"<Configured>1</><Mode>server</><Port>9005</><Secret>\\0</><Client><Notify>1</>"
         "<WakeOnLanMac>00:1a:2B:3C:4D:5E</></Client><Server><Dialer>ppp</><GuardTime>-1</>"
         "<WebPort>0</><AllowedNetworks>10.0.0.0/8</></Server>",
         {}},
        // Unknown names, with a hint where the table has one.
        {"<Mode>client</><Connection>x</><Client><server>gw</></Client><Sever></Sever>"
         "<Client><Extra><A>1</></Extra></Client>",
         {"Connection: unknown key (it belongs in Server)", "Sever: unknown section",
          "Client/server: unknown key (names are case-sensitive: Server?)",
          "Client/Extra: unknown section"}},
        // Types and ranges.
        {"<Port>70000</><Configured>true</><Server><GuardTime>3s</><WebPort>-1</>"
         "<AutoReconnectMinutes>0</><WebVoteMaxMinutes>99999999999</></Server>",
         {"Configured: \"true\" is not 0 or 1; it reads as off (0)",
          "Port: 70000 is out of range (1 to 65535)",
          "Server/AutoReconnectMinutes: 0 is out of range (1 or more)",
          "Server/GuardTime: \"3s\" is not a whole number; it reads as 3",
          "Server/WebPort: -1 is out of range (0 to 65535)",
          "Server/WebVoteMaxMinutes: 99999999999 is out of range (1 to 1440)"}},
        // Texts the program cannot use; a secret's value is never shown.
        {"<Mode>Server</><Secret>short</><Client><WakeOnLanMac>00:1A</></Client>"
         "<Server><Dialer>modem</><AllowedNetworks>10.0.0.0/33</></Server>",
         {"Mode: \"Server\" is neither \"client\" nor \"server\" (compared exactly): the "
          "program runs unconfigured",
          "Secret: the value is shorter than 16 characters: the shared secret cannot be used",
          "Client/WakeOnLanMac: \"00:1A\" is not a hardware address such as 00:1A:2B:3C:4D:5E: "
          "no Wake-on-LAN packet is sent",
          "Server/AllowedNetworks: \"10.0.0.0/33\" is not a list of IPv4 networks ('10.0.0.0/33' "
          "is not an IPv4 network such as 192.168.1.0/24: the prefix length 33 is above 32): the "
          "server does not start",
          "Server/Dialer: \"modem\" is not a dial-up service; one of auto, networkmanager, ppp, "
          "command, simulated"}},
        // What the parse reads otherwise than written comes first, where it is.
        {"<Mode>server</>\r\n<Server>\r\n\t<Connection>Dial-in</>\r\n\\t</Server>\r\n"
         "<Port>1</>\r\n<Port>2</>",
         {"Server (line 2): text beside child elements: it is read as a key, and the section "
          "with everything in it is dropped",
          "Port (line 6): the key is given twice; the later value counts",
          "Server: unknown key (Server is a section)"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(warningsOf(c.text), c.warnings) << c.text;
    }
}

TEST(ConfigCheckTest, TheTreeIsPrintedInTheFilesOrderWithSecretsHidden) {
    toolbox::Config config;
    std::string text =
        "<Secret>0123456789abcdef</><Mode>server</><Password>top</>"
        "<Server><Password>\\0</><WebPassword>x</><Connection>Dial\\tin \"1\"</></Server>"
        "<Client></Client>";
    ASSERT_TRUE(config.parse(text.data()));
    EXPECT_EQ(describeTree(config.getRoot()),
              "Mode = \"server\"\n"
              "Password = (set)\n"
              "Secret = (set)\n"
              "Client/\n"
              "Server/Connection = \"Dial\\tin \\\"1\\\"\"\n"
              "Server/Password = (empty)\n"
              "Server/WebPassword = (set)\n");
}

}  // namespace
}  // namespace linkmoot
