#include "Settings.h"

#include <gtest/gtest.h>

#include <string>

#include "CachedSetting.h"
#include "ToolBox/Config.h"

namespace linkmoot {
namespace {

std::string fileOf(toolbox::Config& config) {
    toolbox::Config::BufferWriter text;
    config.getRoot()->write(text, 0);
    return std::string(text.getText(), text.getLength());
}

/// Every kind of reading, through one view. (The port's other reading is left
/// out: after a read that stores the port's text, it reads that text.)
std::string readAll(const Settings& settings) {
    std::string seen = settings.get(keys::Mode);
    seen += "|" + std::to_string(settings.get(keys::Configured));
    seen += "|" + settings.get(keys::PortText);
    seen += "|" + std::to_string(settings.get(keys::GuardTime));
    seen += "|" + settings.get(keys::Dialer);
    seen += "|" + std::to_string(settings.get(keys::Notify));
    seen += "|" + std::to_string(settings.get(keys::WebPort).value_or(-1));
    seen += "|" + settings.get(keys::WakeOnLanMacOption).value_or("none");
    return seen;
}

TEST(SettingsTest, PeekingReadsWhatAStoringReadReadsAndStoresNothing) {
    toolbox::Config stored;
    toolbox::Config peeked;
    const std::string values = readAll(Settings(stored.getRoot()));
    EXPECT_EQ(values, "|0|9005|3000|auto|1|-1|none");
    EXPECT_EQ(readAll(Settings::peeking(peeked.getRoot())), values);
    EXPECT_EQ(fileOf(peeked), "");
    // The reads that store do so as they always did: the saved file depends on it.
    EXPECT_EQ(fileOf(stored),
              "<Configured>0</>\r\n<Mode>\\0</>\r\n<Port>9005</>\r\n\r\n<Client>\r\n"
              "\t<Notify>1</>\r\n</Client>\r\n\r\n<Server>\r\n\t<Dialer>auto</>\r\n"
              "\t<GuardTime>3000</>\r\n</Server>\r\n");
    // Present keys read the same through both.
    EXPECT_EQ(readAll(Settings::peeking(stored.getRoot())), values);
}

// The tick's readings are kept between changes: each kind of change must show.
TEST(SettingsTest, KeptReadingsFollowEveryChangeOfTheConfiguration) {
    toolbox::Config config;
    const Settings settings(config.getRoot());
    const CachedSetting<FlagKey> announce(settings, keys::Announce);
    const CachedSetting<OptionalKey<int32_t>> redial(settings, keys::AutoReconnectMinutes);
    EXPECT_TRUE(announce.get());  // the default, stored by the reading
    EXPECT_FALSE(redial.get().has_value());
    EXPECT_FALSE(settings.isServerMode());

    settings.set(keys::Announce, false);
    settings.set(keys::AutoReconnectMinutes, 30);
    settings.set(keys::Mode, "server");
    EXPECT_FALSE(announce.get());
    EXPECT_EQ(redial.get(), 30);
    EXPECT_TRUE(settings.isServerMode());

    // A reload parses a new text into the same tree.
    char text[] = "<Mode>client</>\r\n<Server>\r\n\t<Announce>1</>\r\n</Server>\r\n";
    config.getRoot()->clear();
    ASSERT_TRUE(config.parse(text));
    EXPECT_TRUE(announce.get());
    EXPECT_FALSE(redial.get().has_value());
    EXPECT_TRUE(settings.isClientMode());
}

TEST(SettingsTest, AFirstServerConfigurationProposesBackOffAndAFileKeepsItsValue) {
    toolbox::Config config;
    const Settings settings(config.getRoot());
    EXPECT_TRUE(settings.get(keys::RetryBackoffProposal));
    EXPECT_EQ(fileOf(config), "<Server>\r\n</Server>\r\n");  // only the section its reader makes
    settings.set(keys::RetryBackoff, false);
    EXPECT_FALSE(settings.get(keys::RetryBackoffProposal));
}

}  // namespace
}  // namespace linkmoot
