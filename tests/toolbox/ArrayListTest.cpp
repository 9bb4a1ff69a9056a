#include "ToolBox/ArrayList.h"

#include <gtest/gtest.h>

#include <vector>

#include "ToolBox/Exception.h"
#include "ToolBox/Memory.h"

using toolbox::ArrayList;

namespace {

// Counts its destructions, so the tests see what the list deletes.
struct Element {
    explicit Element(int value, int* deletions = nullptr) : value(value), deletions(deletions) {}
    ~Element() {
        if (deletions != nullptr)
            ++*deletions;
    }
    int value;
    int* deletions;
};

void fill(ArrayList<Element>& list, int count, int* deletions = nullptr) {
    for (int i = 0; i < count; ++i)
        list.add(toolbox::create<Element>(list.getCount(), deletions));
}

class ArrayListTest : public ::testing::Test {
protected:
    void TearDown() override { toolbox::resetAllocationFailure(); }
};

TEST_F(ArrayListTest, GrowsFrom16To26To43To71AsElementsAreAdded) {
    ArrayList<Element> list;
    EXPECT_EQ(list.getCapacity(), 16);
    std::vector<int> capacities;
    for (int i = 0; i < 71; ++i) {
        int before = list.getCapacity();
        list.add(toolbox::create<Element>(i));
        if (list.getCapacity() != before)
            capacities.push_back(list.getCapacity());
        if (i == 14) {
            EXPECT_EQ(list.getCapacity(), 16);  // 15 elements still fit
        }
    }
    EXPECT_EQ(capacities, (std::vector<int>{26, 43, 71, 118}));
    for (int i = 0; i < 71; ++i)
        EXPECT_EQ(list.get(i)->value, i);
}

TEST_F(ArrayListTest, RemoveAtOutsideTheListChangesNothing) {
    int deletions = 0;
    ArrayList<Element> list;
    fill(list, 3, &deletions);
    EXPECT_FALSE(list.removeAt(-1));
    EXPECT_FALSE(list.removeAt(3));
    EXPECT_EQ(list.getCount(), 3);
    EXPECT_EQ(deletions, 0);
    EXPECT_EQ(list.get(3), nullptr);
    EXPECT_EQ(list.get(-1), nullptr);
}

TEST_F(ArrayListTest, RemoveAtDeletesTheElementAndMovesTheLaterOnesDown) {
    int deletions = 0;
    ArrayList<Element> list;
    fill(list, 5, &deletions);
    EXPECT_TRUE(list.removeAt(1));
    EXPECT_EQ(deletions, 1);
    ASSERT_EQ(list.getCount(), 4);
    EXPECT_EQ(list.get(0)->value, 0);
    EXPECT_EQ(list.get(1)->value, 2);
    EXPECT_EQ(list.get(3)->value, 4);
    EXPECT_TRUE(list.removeAt(3));
    EXPECT_EQ(list.get(2)->value, 3);
}

TEST_F(ArrayListTest, RemovingAnEmptySlotAnswersFalseButStillRemovesIt) {
    ArrayList<Element> list;
    list.add(nullptr);
    fill(list, 1);
    EXPECT_FALSE(list.removeAt(0));
    EXPECT_EQ(list.getCount(), 1);
}

TEST_F(ArrayListTest, NeverShrinksBelowItsMinimumCapacity) {
    ArrayList<Element> list;
    fill(list, 15);
    while (list.getCount() > 0)
        list.removeAt(0);
    EXPECT_EQ(list.getCapacity(), 16);
    fill(list, 10);
    list.clear();
    EXPECT_EQ(list.getCapacity(), 16);
}

TEST_F(ArrayListTest, ASparseListShrinksAtTheNextSizeChange) {
    ArrayList<Element> list;
    fill(list, 26);  // 43 slots
    while (list.getCount() > 12)
        list.removeAt(0);
    EXPECT_EQ(list.getCapacity(), 43);  // 13 of 43 is still 30 %
    list.removeAt(0);                   // 12 of 43 is sparse: 11 * 100 / 60
    EXPECT_EQ(list.getCapacity(), 18);
    EXPECT_EQ(list.getCount(), 11);
    EXPECT_EQ(list.get(0)->value, 15);
}

TEST_F(ArrayListTest, ClearShrinksOnlyASparseList) {
    int deletions = 0;
    ArrayList<Element> dense;
    fill(dense, 20, &deletions);  // 26 slots, 76 % full
    ASSERT_EQ(dense.getCapacity(), 26);
    dense.clear();
    EXPECT_EQ(dense.getCapacity(), 26);
    EXPECT_EQ(dense.getCount(), 0);
    EXPECT_EQ(deletions, 20);

    ArrayList<Element> sparse;
    fill(sparse, 26);
    while (sparse.getCount() > 12)
        sparse.removeAt(0);
    ASSERT_EQ(sparse.getCapacity(), 43);
    sparse.clear();
    EXPECT_EQ(sparse.getCapacity(), 16);
}

TEST_F(ArrayListTest, DestructionDeletesEveryElement) {
    int deletions = 0;
    {
        ArrayList<Element> list;
        fill(list, 30, &deletions);
        list.add(nullptr);
    }
    EXPECT_EQ(deletions, 30);
}

TEST_F(ArrayListTest, CompareOrdersByAddress) {
    ArrayList<Element> list;
    Element elements[2] = {Element(0), Element(1)};
    EXPECT_EQ(list.compare(&elements[0], &elements[0]), 0);
    EXPECT_EQ(list.compare(&elements[1], &elements[0]), 1);
    EXPECT_EQ(list.compare(&elements[0], &elements[1]), -1);
}

TEST_F(ArrayListTest, AFailedGrowthRaisesOutOfMemoryAndKeepsTheList) {
    int deletions = 0;
    ArrayList<Element> list;
    fill(list, 15, &deletions);
    Element* sixteenth = toolbox::create<Element>(15, &deletions);
    toolbox::failAllocationsAfter(0);
    toolbox::Exception* raised = nullptr;
    try {
        list.add(sixteenth);
    } catch (toolbox::Exception* exception) {
        raised = exception;
    }
    toolbox::resetAllocationFailure();
    EXPECT_EQ(raised, &toolbox::theOutOfMemory);
    EXPECT_EQ(list.getCount(), 15);
    EXPECT_EQ(list.getCapacity(), 16);
    EXPECT_EQ(deletions, 1);  // the list took ownership of the element it could not store
    EXPECT_EQ(list.get(14)->value, 14);
}

}  // namespace
