#include "ToolBox/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using toolbox::CommandLine;

namespace {

// Parses the tokens as a process would receive them, program name first.
void parse(CommandLine& commandLine, std::vector<const char*> tokens) {
    tokens.insert(tokens.begin(), "/usr/bin/linkmootd");
    commandLine.parse(static_cast<int>(tokens.size()), tokens.data());
}

std::vector<std::string> arguments(const CommandLine& commandLine) {
    std::vector<std::string> texts;
    for (int i = 0; i < commandLine.getArguments().getCount(); ++i) {
        texts.emplace_back(commandLine.getArguments().get(i)->c_str());
    }
    return texts;
}

TEST(CommandLineTest, TheProgramAloneGivesNoOptionsAndNoArguments) {
    CommandLine commandLine;
    parse(commandLine, {});
    EXPECT_STREQ(commandLine.getProgramName().c_str(), "/usr/bin/linkmootd");
    EXPECT_EQ(commandLine.getOptions().getCount(), 0);
    EXPECT_EQ(commandLine.getArguments().getCount(), 0);
    EXPECT_FALSE(commandLine.hasOption("/log:debug"));

    CommandLine nothing;
    nothing.parse(0, nullptr);
    EXPECT_STREQ(nothing.getProgramName().c_str(), "");
}

TEST(CommandLineTest, AnOptionIsTheWholeTokenComparedExactly) {
    CommandLine commandLine;
    parse(commandLine, {"/log:debug", "-log:info", "/LOG:WARN", "/log:Error"});
    EXPECT_TRUE(commandLine.hasOption("/log:debug"));
    EXPECT_FALSE(commandLine.hasOption("/log"));
    EXPECT_FALSE(commandLine.hasOption("/log:info"));  // written with "-"
    EXPECT_TRUE(commandLine.hasOption("-log:info"));
    EXPECT_FALSE(commandLine.hasOption("/log:warn"));
    EXPECT_TRUE(commandLine.hasOption("/LOG:WARN"));
    EXPECT_FALSE(commandLine.hasOption("/log:error"));
    EXPECT_EQ(commandLine.getOptions().getCount(), 4);
}

TEST(CommandLineTest, ARepeatedOptionIsKeptOnce) {
    CommandLine commandLine;
    parse(commandLine, {"/log:debug", "plain", "/log:debug"});
    EXPECT_EQ(commandLine.getOptions().getCount(), 1);
    EXPECT_TRUE(commandLine.getOption("/log:debug")->isPresent());
    EXPECT_EQ(arguments(commandLine), (std::vector<std::string>{"plain"}));
}

TEST(CommandLineTest, LonePrefixesAreOptionsAndAnEmptyTokenIsAPlainArgument) {
    CommandLine commandLine;
    parse(commandLine, {"/", "-", ""});
    EXPECT_TRUE(commandLine.hasOption("/"));
    EXPECT_TRUE(commandLine.hasOption("-"));
    EXPECT_EQ(arguments(commandLine), (std::vector<std::string>{""}));
}

TEST(CommandLineTest, PlainArgumentsKeepTheirOrderAroundOptions) {
    CommandLine commandLine;
    parse(commandLine, {"first", "/x", "second", "-y", "third", "+plus"});
    EXPECT_EQ(arguments(commandLine),
              (std::vector<std::string>{"first", "second", "third", "+plus"}));
    EXPECT_EQ(commandLine.getOptions().getCount(), 2);
}

TEST(CommandLineTest, ADeclaredOptionTakesItsValuesAndTheLastUseWins) {
    CommandLine commandLine;
    commandLine.declareOption("/size", 2);
    EXPECT_FALSE(commandLine.hasOption("/size"));
    parse(commandLine, {"/size", "3", "4", "plain", "/size", "5", "6"});
    const CommandLine::Option* option = commandLine.getOption("/size");
    ASSERT_NE(option, nullptr);
    EXPECT_TRUE(option->isPresent());
    ASSERT_EQ(option->getValues().getCount(), 2);
    EXPECT_STREQ(option->getValues().get(0)->c_str(), "5");
    EXPECT_STREQ(option->getValues().get(1)->c_str(), "6");
    EXPECT_EQ(arguments(commandLine), (std::vector<std::string>{"plain"}));
}

TEST(CommandLineTest, ValuesRunningPastTheEndStopParsing) {
    CommandLine commandLine;
    commandLine.declareOption("/pair", 2);
    parse(commandLine, {"before", "/pair", "only-one"});
    EXPECT_TRUE(commandLine.hasOption("/pair"));
    EXPECT_EQ(commandLine.getOption("/pair")->getValues().getCount(), 0);
    EXPECT_EQ(arguments(commandLine), (std::vector<std::string>{"before"}));
}

}  // namespace
