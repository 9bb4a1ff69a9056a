#include "ToolBox/ContainingList.h"

#include <gtest/gtest.h>

#include <vector>

#include "ToolBox/Memory.h"
#include "ToolBox/PointeredList.h"

using toolbox::ContainingList;
using toolbox::ContainingListItem;

namespace {

struct Item : ContainingListItem<Item> {
    Item(int key, int id, std::vector<int>* deleted = nullptr)
        : key(key), id(id), deleted(deleted) {}
    ~Item() override {
        if (deleted != nullptr)
            deleted->push_back(id);
    }
    int key;
    int id;
    std::vector<int>* deleted;
};

std::vector<int> ids(const ContainingList<Item>& list) {
    std::vector<int> result;
    for (Item* item = list.getFirst(); item != nullptr; item = item->getNext()) {
        result.push_back(item->id);
    }
    return result;
}

std::vector<int> idsBackwards(const ContainingList<Item>& list) {
    std::vector<int> result;
    for (Item* item = list.getLast(); item != nullptr; item = item->getPrev()) {
        result.push_back(item->id);
    }
    return result;
}

int byKey(Item* a, Item* b) {
    return a->key - b->key;
}

TEST(ContainingListTest, AppendLinksItemsBothWays) {
    ContainingList<Item> list;
    EXPECT_EQ(list.getFirst(), nullptr);
    EXPECT_EQ(list.getLast(), nullptr);
    for (int id = 1; id <= 3; ++id)
        list.append(toolbox::create<Item>(0, id));
    EXPECT_EQ(list.getCount(), 3);
    EXPECT_EQ(ids(list), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(idsBackwards(list), (std::vector<int>{3, 2, 1}));
}

TEST(ContainingListTest, RemoveUnlinksWithoutDeletingAndIgnoresStrangers) {
    std::vector<int> deleted;
    ContainingList<Item> list;
    Item* items[3];
    for (int id = 0; id < 3; ++id) {
        items[id] = toolbox::create<Item>(0, id, &deleted);
        list.append(items[id]);
    }
    Item stranger(0, 99);
    EXPECT_EQ(list.remove(&stranger), nullptr);
    EXPECT_EQ(list.getCount(), 3);

    EXPECT_EQ(list.remove(items[1]), items[1]);
    EXPECT_EQ(ids(list), (std::vector<int>{0, 2}));
    EXPECT_EQ(idsBackwards(list), (std::vector<int>{2, 0}));
    EXPECT_EQ(items[1]->getNext(), nullptr);
    EXPECT_TRUE(deleted.empty());
    delete items[1];

    EXPECT_EQ(list.remove(items[0]), items[0]);
    EXPECT_EQ(list.remove(items[2]), items[2]);
    EXPECT_EQ(list.getCount(), 0);
    EXPECT_EQ(list.getFirst(), nullptr);
    EXPECT_EQ(list.getLast(), nullptr);
    delete items[0];
    delete items[2];
}

TEST(ContainingListTest, DestructionDeletesFromTheLastToTheFirst) {
    std::vector<int> deleted;
    {
        ContainingList<Item> list;
        for (int id = 1; id <= 4; ++id)
            list.append(toolbox::create<Item>(0, id, &deleted));
        EXPECT_TRUE(list.deleteLast());
        EXPECT_EQ(deleted, (std::vector<int>{4}));
    }
    EXPECT_EQ(deleted, (std::vector<int>{4, 3, 2, 1}));

    ContainingList<Item> empty;
    EXPECT_FALSE(empty.deleteLast());
}

TEST(ContainingListTest, SortIsStableAmongEqualKeys) {
    ContainingList<Item> list;
    const int keys[] = {3, 1, 2, 1, 3, 2, 1};
    for (int id = 0; id < 7; ++id)
        list.append(toolbox::create<Item>(keys[id], id));
    list.sort(byKey);
    EXPECT_EQ(ids(list), (std::vector<int>{1, 3, 6, 2, 5, 0, 4}));
    EXPECT_EQ(idsBackwards(list), (std::vector<int>{4, 0, 5, 2, 6, 3, 1}));
    EXPECT_EQ(list.getCount(), 7);

    ContainingList<Item> equal;
    for (int id = 0; id < 5; ++id)
        equal.append(toolbox::create<Item>(7, id));
    equal.sort(byKey);
    EXPECT_EQ(ids(equal), (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(ContainingListTest, SortWithoutAFunctionUsesTheListsOwnCompare) {
    // Ordered by key through an overriding compare.
    struct ByKeyList : ContainingList<Item> {
        int compare(const Item* a, const Item* b) const override { return a->key - b->key; }
    };
    ByKeyList list;
    list.append(toolbox::create<Item>(2, 0));
    list.append(toolbox::create<Item>(0, 1));
    list.append(toolbox::create<Item>(1, 2));
    list.sort();
    EXPECT_EQ(ids(list), (std::vector<int>{1, 2, 0}));

    ContainingList<Item> empty;
    empty.sort();
    EXPECT_EQ(empty.getCount(), 0);
}

TEST(ContainingListTest, APointeredListNeverDeletesTheObjectsItPointsTo) {
    std::vector<int> deleted;
    Item object(0, 42, &deleted);
    {
        toolbox::PointeredList list;
        list.add(&object);
        list.add(&object);
        EXPECT_EQ(list.getCount(), 2);
        EXPECT_EQ(list.getFirst()->getObject(), &object);
    }
    EXPECT_TRUE(deleted.empty());
}

}  // namespace
