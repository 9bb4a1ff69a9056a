// Opening a library when a feature first needs it: a table filled from a real
// library, and the two ways it can fail (no such library, a function missing)
// each leaving no table and a status row.
#include "platform/SharedLibrary.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>

// A function no library has; only its declaration is needed for the table.
extern "C" int linkmoot_test_no_such_function(int);

namespace linkmoot {
namespace {

// Functions of the C library, which every process has open already.
#define TEST_PRESENT_FUNCTIONS(F) F(strlen) F(strcmp)
LINKMOOT_LIBRARY_TABLE(PresentFunctions, TEST_PRESENT_FUNCTIONS)

#define TEST_MISSING_FUNCTIONS(F) F(strlen) F(linkmoot_test_no_such_function)
LINKMOOT_LIBRARY_TABLE(MissingFunctions, TEST_MISSING_FUNCTIONS)

bool hasRow(const std::string& part) {
    for (const std::string& row : LibraryProblems().rows()) {
        if (row.find(part) != std::string::npos)
            return true;
    }
    return false;
}

TEST(SharedLibraryTest, TheTableCallsTheLibrarysOwnFunctions) {
    const LibraryTable<PresentFunctions> library("libc.so.6", "the test");
    ASSERT_NE(library.functions(), nullptr);
    EXPECT_EQ(library.functions()->strlen("four"), 4u);
    EXPECT_LT(library.functions()->strcmp("a", "b"), 0);
    EXPECT_FALSE(hasRow("libc.so.6"));
}

TEST(SharedLibraryTest, AMissingLibraryOrFunctionLeavesNoTableAndARow) {
    const LibraryTable<PresentFunctions> absent("liblinkmoot-test-absent.so.9", "the absent thing");
    EXPECT_EQ(absent.functions(), nullptr);
    EXPECT_TRUE(hasRow("Cannot load liblinkmoot-test-absent.so.9 (")) << "the row names the soname";
    EXPECT_TRUE(hasRow("): the absent thing cannot be used"));

    const LibraryTable<MissingFunctions> incomplete("libc.so.6", "the incomplete thing");
    EXPECT_EQ(incomplete.functions(), nullptr);
    EXPECT_TRUE(hasRow("linkmoot_test_no_such_function")) << "the row names the function";
    EXPECT_TRUE(hasRow("): the incomplete thing cannot be used"));
}

}  // namespace
}  // namespace linkmoot
