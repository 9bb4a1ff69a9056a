#include "ToolBox/String.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "ToolBox/Exception.h"
#include "ToolBox/Logger.h"
#include "ToolBox/Memory.h"

using toolbox::String;

namespace {

class StringTest : public ::testing::Test {
protected:
    void SetUp() override { toolbox::Logger::resetForTests(); }
    void TearDown() override { toolbox::resetAllocationFailure(); }
};

std::string repeated(char character, int count) {
    return std::string(count, character);
}

TEST_F(StringTest, ConstructionRoundsCapacityToTheNextMultipleOfSixteenAboveLengthPlusOne) {
    EXPECT_EQ(String().getCapacity(), 16);
    EXPECT_STREQ(String().c_str(), "");
    EXPECT_EQ(String("").getCapacity(), 16);
    EXPECT_EQ(String(repeated('a', 14).c_str()).getCapacity(), 16);
    EXPECT_EQ(String(repeated('a', 15).c_str()).getCapacity(), 32);
    EXPECT_EQ(String(repeated('a', 30).c_str()).getCapacity(), 32);
    EXPECT_EQ(String(repeated('a', 31).c_str()).getCapacity(), 48);
    EXPECT_STREQ(String("hello").c_str(), "hello");
}

TEST_F(StringTest, AppendGrowsOnlyWhenTheTextAndItsTerminatorNoLongerFit) {
    String fits;
    fits.append(repeated('a', 15).c_str());
    EXPECT_EQ(fits.getCapacity(), 16);

    String grows;
    grows.append(repeated('a', 16).c_str());
    EXPECT_EQ(grows.getCapacity(), 32);

    String joined("abc");
    joined.append(repeated('d', 40).c_str());
    EXPECT_EQ(joined.getCapacity(), ((3 + 40 + 17) / 16) * 16);
    EXPECT_EQ(std::string(joined.c_str()), "abc" + repeated('d', 40));
}

TEST_F(StringTest, AppendCharacterNeedsRoomForItAndTheTerminator) {
    String text(repeated('a', 14).c_str());
    text.append('b');
    EXPECT_EQ(text.getCapacity(), 16);
    text.append('c');  // 15 + 2 > 16
    EXPECT_EQ(text.getCapacity(), 32);
    EXPECT_EQ(std::string(text.c_str()), repeated('a', 14) + "bc");
}

TEST_F(StringTest, AppendOfItsOwnTextSurvivesTheBufferChange) {
    String text(repeated('x', 12).c_str());
    text.append(text.c_str());
    EXPECT_EQ(std::string(text.c_str()), repeated('x', 24));
    EXPECT_EQ(text.getCapacity(), 32);
}

TEST_F(StringTest, AppendIntDemandsTwelveBytesAndWritesTheMostNegativeValueExactly) {
    String text;
    text.appendInt(INT32_MIN);
    EXPECT_STREQ(text.c_str(), "-2147483648");
    EXPECT_EQ(text.getCapacity(), 16);  // 0 + 12 <= 16

    String longer("12345");
    longer.appendInt(-7);
    EXPECT_EQ(longer.getCapacity(), ((5 + 28) / 16) * 16);
    EXPECT_STREQ(longer.c_str(), "12345-7");

    String unsignedText("x");
    unsignedText.appendUnsigned(UINT32_MAX);
    unsignedText.appendInt(0);
    EXPECT_STREQ(unsignedText.c_str(), "x42949672950");
}

TEST_F(StringTest, AssignTakesANewBufferOnlyWhenTheTextDoesNotFit) {
    String text(repeated('a', 40).c_str());
    text.assign("short");
    EXPECT_EQ(text.getCapacity(), 48);
    EXPECT_STREQ(text.c_str(), "short");
    text.assign(repeated('b', 50).c_str());
    EXPECT_EQ(text.getCapacity(), 64);
    text.assign("");
    EXPECT_STREQ(text.c_str(), "");
    EXPECT_EQ(text.getCapacity(), 64);
}

TEST_F(StringTest, CopiesHaveTheirOwnBufferOfTheSameCapacity) {
    String original(repeated('a', 20).c_str());
    original.assign("abc");
    String copy(original);
    copy.append("d");
    EXPECT_EQ(copy.getCapacity(), 32);
    EXPECT_STREQ(original.c_str(), "abc");
    String assigned;
    assigned = original;
    EXPECT_EQ(assigned.getCapacity(), 32);
    EXPECT_STREQ(assigned.c_str(), "abc");
}

TEST_F(StringTest, FormatKeepsTheBufferWhileTheResultIsShorterThanCapacityMinusOne) {
    String fourteen;
    EXPECT_EQ(fourteen.format("%s", repeated('a', 14).c_str()), 14);
    EXPECT_EQ(fourteen.getCapacity(), 16);

    String fifteen;
    EXPECT_EQ(fifteen.format("%s", repeated('a', 15).c_str()), 15);
    EXPECT_EQ(fifteen.getCapacity(), 48);
}

TEST_F(StringTest, FormatDoublesPlusSixteenAndFormatsAgainFromTheFirstArgument) {
    // Each result just too long for the previous capacity walks one more step.
    const int expected[] = {16, 48, 112, 240, 496, 1008, 2032};
    const int lengths[] = {0, 15, 47, 111, 239, 495, 1007};
    for (int i = 0; i < 7; ++i) {
        String text;
        std::string body = repeated('z', lengths[i] > 3 ? lengths[i] - 3 : 0);
        int length =
            lengths[i] >= 3 ? text.format("%d%s%c", 12, body.c_str(), '!') : text.format("%s", "");
        EXPECT_EQ(text.getCapacity(), expected[i]) << "length " << lengths[i];
        EXPECT_EQ(length, lengths[i]);
        if (lengths[i] >= 3) {
            EXPECT_EQ(std::string(text.c_str()), "12" + body + "!");
        }
    }
}

TEST_F(StringTest, FormatMayReadItsOwnText) {
    String text("abc");
    text.format("%s-%s", text.c_str(), text.c_str());
    EXPECT_STREQ(text.c_str(), "abc-abc");
    String longText(repeated('q', 700).c_str());
    EXPECT_EQ(longText.format("<%s>", longText.c_str()), 702);
    EXPECT_EQ(std::string(longText.c_str()), "<" + repeated('q', 700) + ">");
    EXPECT_EQ(longText.getCapacity(), 704);
    String roomy(repeated('r', 1500).c_str());
    EXPECT_EQ(roomy.format("%s", repeated('s', 600).c_str()), 600);
    EXPECT_EQ(roomy.getCapacity(), 1504);
}

TEST_F(StringTest, FormatReplacesTheWholeText) {
    String text("previous content");
    EXPECT_EQ(text.format("%s-%u", "id", 7u), 4);
    EXPECT_STREQ(text.c_str(), "id-7");
}

TEST_F(StringTest, FormatGivesUpAtTheSizeLimitWithAnEmptyStringOfCapacity32) {
    // The first result that does not fit below 2^29 bytes.
    std::string huge(536870895, 'h');
    String text("keep");
    toolbox::Exception* raised = nullptr;
    try {
        text.format("%s", huge.c_str());
    } catch (toolbox::Exception* exception) {
        raised = exception;
    }
    ASSERT_NE(raised, nullptr);
    EXPECT_STREQ(raised->getClassName(), "EIllegalArgument");
    EXPECT_STREQ(raised->getMessage(), "Formatted string requires too much space (>512MB)");
    EXPECT_STREQ(raised->getSourceFile(), "String.cpp");
    EXPECT_EQ(raised->getLine(), 681);
    EXPECT_STREQ(text.c_str(), "");
    EXPECT_EQ(text.getCapacity(), 32);
    delete raised;
}

TEST_F(StringTest, TrimRightRemovesBlanksTabsLineBreaksAndFormFeedsButNotVerticalTab) {
    String blanks(" \t\r\n\f ");
    blanks.trimRight();
    EXPECT_STREQ(blanks.c_str(), "");

    String mixed("  keep inner  \t\r\n");
    mixed.trimRight();
    EXPECT_STREQ(mixed.c_str(), "  keep inner");

    String vertical("text \v");
    vertical.trimRight();
    EXPECT_STREQ(vertical.c_str(), "text \v");
}

TEST_F(StringTest, SystemErrorTextJoinsThePrefixAndTheSystemsText) {
    std::string expected = std::string("Error 2 in facility 0: ") + std::strerror(ENOENT);
    EXPECT_EQ(std::string(toolbox::systemErrorText(ENOENT).c_str()), expected);
    // Unknown to the system: the prefix alone, without ": ".
    EXPECT_STREQ(toolbox::systemErrorText(9999).c_str(), "Error 9999 in facility 0");
}

TEST_F(StringTest, SystemErrorTextTakesTheFacilityFromBitsSixteenToTwentySix) {
    // Bits 27 to 31 are ignored; such codes are no errno values either.
    EXPECT_STREQ(toolbox::systemErrorText(0x80070005u).c_str(), "Error 5 in facility 7");
    EXPECT_STREQ(toolbox::systemErrorText(0xF8050001u).c_str(), "Error 1 in facility 5");
    EXPECT_STREQ(toolbox::systemErrorText(0x07FF0000u).c_str(), "Error 0 in facility 2047");
}

TEST_F(StringTest, AFailedAllocationRaisesTheOneOutOfMemoryObjectAndKeepsTheText) {
    String text("intact");
    toolbox::failAllocationsAfter(0);
    toolbox::Exception* raised = nullptr;
    try {
        text.append(repeated('a', 100).c_str());
    } catch (toolbox::Exception* exception) {
        raised = exception;
    }
    toolbox::resetAllocationFailure();
    EXPECT_EQ(raised, &toolbox::theOutOfMemory);
    EXPECT_STREQ(text.c_str(), "intact");
    EXPECT_EQ(text.getCapacity(), 16);

    toolbox::failAllocationsAfter(0);
    EXPECT_THROW(String("x"), toolbox::EOutOfMemory*);
}

}  // namespace
