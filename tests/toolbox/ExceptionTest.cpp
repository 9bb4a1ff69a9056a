#include "ToolBox/Exception.h"

#include <gtest/gtest.h>

#include <string>

#include "ToolBox/Logger.h"
#include "ToolBox/Memory.h"
#include "support/TempFolder.h"

namespace {

class ExceptionTest : public ::testing::Test {
protected:
    void SetUp() override { toolbox::Logger::resetForTests(); }
    void TearDown() override { toolbox::Logger::resetForTests(); }

    void startLogger(const char* option) {
        char program[] = "program";
        char optionText[32];
        std::snprintf(optionText, sizeof optionText, "%s", option);
        char* argv[] = {program, optionText};
        toolbox::Logger::constructForTests(folder.file("test.log").c_str(), 2, argv);
    }

    testsupport::TempFolder folder;
};

TEST_F(ExceptionTest, KeepsCopiesOfTheMessageAndOfTheSourceFilesLastPart) {
    std::string message = "the message";
    auto* exception = new toolbox::EIllegalState(message.c_str(), "C:\\src\\ToolBox\\Unit.cpp", 12);
    message.assign("changed");
    EXPECT_STREQ(exception->getClassName(), "EIllegalState");
    EXPECT_STREQ(exception->getMessage(), "the message");
    EXPECT_STREQ(exception->getSourceFile(), "Unit.cpp");
    EXPECT_EQ(exception->getLine(), 12);
    delete exception;

    auto* linuxPath = new toolbox::EIllegalArgument("m", "/home/u/src/Other.cpp", 3);
    EXPECT_STREQ(linuxPath->getSourceFile(), "Other.cpp");
    delete linuxPath;

    auto* bare = new toolbox::EIllegalArgument("m", "Bare.cpp", 4);
    EXPECT_STREQ(bare->getSourceFile(), "Bare.cpp");
    delete bare;
}

TEST_F(ExceptionTest, AnInjectedAllocationFailureRaisesTheOutOfMemoryObject) {
    toolbox::failAllocationsAfter(1);
    void* first = toolbox::allocate(8);
    toolbox::Exception* raised = nullptr;
    try {
        toolbox::allocate(8);
    } catch (toolbox::Exception* exception) {
        raised = exception;
    }
    toolbox::resetAllocationFailure();
    toolbox::release(first);
    ASSERT_EQ(raised, &toolbox::theOutOfMemory);
    EXPECT_STREQ(raised->getMessage(), "Insufficient free memory");
    EXPECT_STREQ(raised->getSourceFile(), "No info");
}

TEST_F(ExceptionTest, SelfLoggingExceptionsWriteClassAndMessageAtLevelException) {
    startLogger("/log:debug");
    delete new toolbox::EIllegalArgument("value out of range", "C:\\src\\ToolBox\\String.cpp", 681);
    delete new toolbox::EIllegalState("impossible", "src/Unit.cpp", 7);
    std::string log = folder.readFile("test.log");
    EXPECT_NE(log.find("] Exception (String.cpp:681) EIllegalArgument.\r\n"
                       "Message: value out of range\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("] Exception (Unit.cpp:7) EIllegalState.\r\nMessage: impossible\r\n"),
              std::string::npos)
        << log;
}

TEST_F(ExceptionTest, SelfLoggingIsWrittenUnlessTheThresholdIsFatal) {
    startLogger("/log:error");
    delete new toolbox::EIllegalState("written", "Unit.cpp", 1);
    EXPECT_NE(folder.readFile("test.log").find("Message: written"), std::string::npos);

    toolbox::Logger::resetForTests();
    folder.writeFile("test.log", "");
    startLogger("/log:fatal");
    delete new toolbox::EIllegalState("not written", "Unit.cpp", 2);
    EXPECT_EQ(folder.readFile("test.log").find("EIllegalState"), std::string::npos);
}

TEST_F(ExceptionTest, ExceptionsBeforeTheLoggerExistsWriteNothing) {
    // No logger: the self-logging call is accepted and goes nowhere.
    delete new toolbox::EIllegalArgument("early", "Unit.cpp", 1);
    EXPECT_FALSE(folder.contains("test.log"));
}

}  // namespace
