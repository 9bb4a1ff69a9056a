#include "ToolBox/HashMap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ToolBox/Exception.h"
#include "ToolBox/Memory.h"

using toolbox::HashMap;
using toolbox::StringKeyHashMap;

namespace {

struct Value {
    explicit Value(int number, int* deletions = nullptr) : number(number), deletions(deletions) {}
    ~Value() {
        if (deletions != nullptr)
            ++*deletions;
    }
    int number;
    int* deletions;
};

// Counts the key copies it releases.
template <class T>
struct CountingMap : StringKeyHashMap<T> {
    void releaseKey(void* key) override {
        ++released;
        StringKeyHashMap<T>::releaseKey(key);
    }
    ~CountingMap() override { this->clearEntries(); }
    int released = 0;
};

// Puts keys into the bucket named by their first digit, to pin the order.
struct DigitBucketMap : StringKeyHashMap<Value> {
    uint32_t hashKey(const void* key) const override {
        return static_cast<uint32_t>(static_cast<const char*>(key)[0] - '0');
    }
};

std::string keyName(int i) {
    return "key" + std::to_string(i);
}

void putKeys(StringKeyHashMap<Value>& map, int count) {
    for (int i = 0; i < count; ++i) {
        map.putCopy(keyName(i).c_str(), toolbox::create<Value>(i));
    }
}

std::vector<std::string> keyTexts(toolbox::PointeredList* keys) {
    std::vector<std::string> texts;
    for (auto* item = keys->getFirst(); item != nullptr; item = item->getNext()) {
        texts.emplace_back(static_cast<const char*>(item->getObject()));
    }
    delete keys;
    return texts;
}

class HashMapTest : public ::testing::Test {
protected:
    void TearDown() override { toolbox::resetAllocationFailure(); }
};

TEST_F(HashMapTest, TextHashWeighsEvenPositionsElevenAndOddOnesSevenAsSignedBytes) {
    EXPECT_EQ(toolbox::hashText(""), 0u);
    EXPECT_EQ(toolbox::hashText("ab"), 97u * 11 + 98u * 7);
    EXPECT_EQ(toolbox::hashText("\xff"), static_cast<uint32_t>(-11));
}

TEST_F(HashMapTest, TextHashOfLongTextsSamplesEveryStepThCharacter) {
    // 40 characters: step 2, so only the even positions count, all times 11.
    std::string text;
    uint32_t expected = 0;
    for (int p = 0; p < 40; ++p) {
        char c = static_cast<char>(p % 2 == 0 ? 'a' + p / 2 : 'Z');
        text.push_back(c);
        if (p % 2 == 0)
            expected += static_cast<uint32_t>(c) * 11;
    }
    EXPECT_EQ(toolbox::hashText(text.c_str()), expected);
    std::string odd = text;
    odd[1] = 'q';
    odd[39] = '!';
    EXPECT_EQ(toolbox::hashText(odd.c_str()), expected);
}

TEST_F(HashMapTest, GrowsOnTheSeventeenthEntryToTwiceTheEntryCount) {
    StringKeyHashMap<Value> map;
    EXPECT_EQ(map.getBucketCount(), 16);
    putKeys(map, 16);
    EXPECT_EQ(map.getBucketCount(), 16);  // load 100
    map.putCopy("one more", toolbox::create<Value>(16));
    EXPECT_EQ(map.getBucketCount(), 34);  // load 106
    EXPECT_EQ(map.getCount(), 17);
    for (int i = 0; i < 16; ++i)
        ASSERT_EQ(map.get(keyName(i).c_str())->number, i);
    EXPECT_EQ(map.get("one more")->number, 16);
}

TEST_F(HashMapTest, ShrinksBelowAQuarterLoadButNotBelowSixteenBuckets) {
    StringKeyHashMap<Value> ten;
    ten.rehash(64);
    for (int i = 0; i < 10; ++i)
        ten.put(ten.copyKey(keyName(i).c_str()), toolbox::create<Value>(i));
    EXPECT_EQ(ten.getBucketCount(), 64);  // put alone never resizes
    ten.rebalance();
    EXPECT_EQ(ten.getBucketCount(), 20);
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(ten.get(keyName(i).c_str())->number, i);

    StringKeyHashMap<Value> five;
    five.rehash(64);
    for (int i = 0; i < 5; ++i)
        five.putCopy(keyName(i).c_str(), toolbox::create<Value>(i));
    EXPECT_EQ(five.getBucketCount(), 16);
}

TEST_F(HashMapTest, PutOfAStoredKeyKeepsTheStoredKeyReleasesTheCopyAndDeletesTheOldValue) {
    int deletions = 0;
    CountingMap<Value> map;
    map.putCopy("name", toolbox::create<Value>(1, &deletions));
    toolbox::PointeredList* before = map.keys();
    void* storedKey = before->getFirst()->getObject();
    delete before;

    map.putCopy("name", toolbox::create<Value>(2, &deletions));
    EXPECT_EQ(map.getCount(), 1);
    EXPECT_EQ(map.get("name")->number, 2);
    EXPECT_EQ(deletions, 1);
    EXPECT_EQ(map.released, 1);
    toolbox::PointeredList* after = map.keys();
    EXPECT_EQ(after->getFirst()->getObject(), storedKey);
    delete after;

    // The very value again: it must survive.
    Value* same = map.get("name");
    map.putCopy("name", same);
    EXPECT_EQ(map.get("name")->number, 2);
    EXPECT_EQ(deletions, 1);
}

TEST_F(HashMapTest, StringKeysAreCaseSensitive) {
    StringKeyHashMap<Value> map;
    map.putCopy("Mode", toolbox::create<Value>(1));
    map.putCopy("mode", toolbox::create<Value>(2));
    EXPECT_EQ(map.getCount(), 2);
    EXPECT_EQ(map.get("Mode")->number, 1);
    EXPECT_EQ(map.get("mode")->number, 2);
    EXPECT_EQ(map.get("MODE"), nullptr);
}

TEST_F(HashMapTest, RemoveHandsTheValueToTheCallerAndNeverResizes) {
    int deletions = 0;
    CountingMap<Value> map;
    for (int i = 0; i < 40; ++i) {
        map.putCopy(keyName(i).c_str(), toolbox::create<Value>(i, &deletions));
    }
    int buckets = map.getBucketCount();
    for (int i = 0; i < 38; ++i) {
        Value* value = map.remove(keyName(i).c_str());
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->number, i);
        delete value;
    }
    EXPECT_EQ(map.getBucketCount(), buckets);
    EXPECT_EQ(map.getCount(), 2);
    EXPECT_EQ(map.released, 38);
    EXPECT_EQ(deletions, 38);
    EXPECT_EQ(map.get(keyName(0).c_str()), nullptr);
    EXPECT_EQ(map.remove("absent"), nullptr);
    EXPECT_EQ(map.get("key39")->number, 39);
}

TEST_F(HashMapTest, RemovingTheLastKeyOfABucketEmptiesIt) {
    DigitBucketMap map;
    map.putCopy("1a", toolbox::create<Value>(1));
    map.putCopy("1b", toolbox::create<Value>(2));
    delete map.remove("1a");
    delete map.remove("1b");
    EXPECT_EQ(map.get("1a"), nullptr);
    map.putCopy("1c", toolbox::create<Value>(3));
    EXPECT_EQ(keyTexts(map.keys()), (std::vector<std::string>{"1c"}));
}

TEST_F(HashMapTest, KeysRunFromBucketZeroUpAndInInsertionOrderWithinABucket) {
    DigitBucketMap map;
    for (const char* key : {"3x", "1b", "3a", "0z", "1a"}) {
        map.putCopy(key, toolbox::create<Value>(0));
    }
    EXPECT_EQ(keyTexts(map.keys()), (std::vector<std::string>{"0z", "1b", "1a", "3x", "3a"}));
}

TEST_F(HashMapTest, KeysSortCaseInsensitivelyAndStably) {
    StringKeyHashMap<Value> map;
    for (const char* key : {"beta", "Alpha", "alpha2", "ALPHA", "Gamma"}) {
        map.putCopy(key, toolbox::create<Value>(0));
    }
    toolbox::PointeredList* keys = map.keys();
    keys->sort(toolbox::compareKeysIgnoreCase);
    std::vector<std::string> sorted = keyTexts(keys);
    ASSERT_EQ(sorted.size(), 5u);
    EXPECT_EQ(sorted[2], "alpha2");
    EXPECT_EQ(sorted[3], "beta");
    EXPECT_EQ(sorted[4], "Gamma");
    // "Alpha" and "ALPHA" compare equal and keep the order keys() gave them.
    toolbox::PointeredList* unsorted = map.keys();
    std::vector<std::string> original = keyTexts(unsorted);
    std::vector<std::string> equalPair;
    for (const std::string& key : original) {
        if (key == "Alpha" || key == "ALPHA")
            equalPair.push_back(key);
    }
    EXPECT_EQ((std::vector<std::string>{sorted[0], sorted[1]}), equalPair);
}

TEST_F(HashMapTest, ClearDeletesEverythingAndReturnsToSixteenBuckets) {
    int deletions = 0;
    CountingMap<Value> map;
    for (int i = 0; i < 100; ++i) {
        map.putCopy(keyName(i).c_str(), toolbox::create<Value>(i, &deletions));
    }
    EXPECT_GT(map.getBucketCount(), 100);
    map.clear();
    EXPECT_EQ(map.getCount(), 0);
    EXPECT_EQ(map.getBucketCount(), 16);
    EXPECT_EQ(deletions, 100);
    EXPECT_EQ(map.released, 100);
    EXPECT_EQ(map.get("key5"), nullptr);
}

TEST_F(HashMapTest, APlainHashMapKeysByAddress) {
    int deletions = 0;
    HashMap<Value> map;
    int anchors[2];
    map.putCopy(&anchors[0], toolbox::create<Value>(1, &deletions));
    map.putCopy(&anchors[1], toolbox::create<Value>(2, &deletions));
    EXPECT_EQ(map.get(&anchors[0])->number, 1);
    toolbox::PointeredList* keys = map.keys();
    EXPECT_EQ(keys->getCount(), 2);
    delete keys;
    map.clear();
    EXPECT_EQ(deletions, 2);
}

TEST_F(HashMapTest, AFailedInsertionLeavesTheMapAsItWas) {
    int deletions = 0;
    StringKeyHashMap<Value> map;
    putKeys(map, 5);
    for (long allowed = 0; allowed < 4; ++allowed) {
        toolbox::failAllocationsAfter(allowed);
        toolbox::Exception* raised = nullptr;
        try {
            map.putCopy("new key", toolbox::create<Value>(99, &deletions));
        } catch (toolbox::Exception* exception) {
            raised = exception;
        }
        toolbox::resetAllocationFailure();
        EXPECT_EQ(raised, &toolbox::theOutOfMemory) << allowed;
        EXPECT_EQ(map.getCount(), 5);
        EXPECT_EQ(map.get("new key"), nullptr);
    }
    // Each refused value was deleted, not leaked (the sanitizer build checks the keys).
    EXPECT_EQ(deletions, 3);
}

TEST_F(HashMapTest, AFailedRehashKeepsEveryPairReachable) {
    StringKeyHashMap<Value> map;
    putKeys(map, 16);
    map.put(map.copyKey("sixteen"), toolbox::create<Value>(16));
    toolbox::failAllocationsAfter(3);
    EXPECT_THROW(map.rebalance(), toolbox::EOutOfMemory*);
    toolbox::resetAllocationFailure();
    EXPECT_EQ(map.getBucketCount(), 16);
    EXPECT_EQ(map.getCount(), 17);
    for (int i = 0; i < 16; ++i)
        ASSERT_EQ(map.get(keyName(i).c_str())->number, i);
    map.rebalance();
    EXPECT_EQ(map.getBucketCount(), 34);
    EXPECT_EQ(map.get("sixteen")->number, 16);
}

}  // namespace
