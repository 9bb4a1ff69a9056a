#pragma once
// Chained hash maps that own their key copies and their values.
//
// Each used bucket holds two PointeredLists of equal length: the keys in
// insertion order and, at the same positions, the values. Every insertion is
// put(copyKey(key), value) followed by rebalance() (putCopy does both); put
// itself never resizes. After a rebalance the load (entries * 100 / buckets)
// is at most 100 and, above minBuckets buckets, at least 25; a resize aims at
// loadPercent (50), that is twice as many buckets as entries.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ToolBox/Memory.h"
#include "ToolBox/PointeredList.h"

namespace toolbox {

/// The hash of a text: over every S-th character (S = length / 16, at least 1)
/// the sum of the character as a signed byte times 11 at even positions and 7
/// at odd ones, wrapping. Short texts are hashed over every character.
inline uint32_t hashText(const char* text) {
    if (text == nullptr)
        return 0;
    std::size_t length = std::strlen(text);
    std::size_t step = length / 16 > 0 ? length / 16 : 1;
    uint32_t sum = 0;
    for (std::size_t position = 0; position < length; position += step) {
        int32_t character = static_cast<signed char>(text[position]);
        sum += static_cast<uint32_t>(character * ((position & 1) == 0 ? 11 : 7));
    }
    return sum;
}

template <class T>
class HashMap {
public:
    explicit HashMap(int loadPercent = 50, int minBuckets = 16)
        : entryCount(0),
          loadPercent(loadPercent),
          minBuckets(minBuckets),
          keyLists(nullptr),
          bucketCount(0),
          valueLists(nullptr) {
        keyLists = newBuckets(minBuckets);
        try {
            valueLists = newBuckets(minBuckets);
        } catch (...) {
            release(keyLists);
            throw;
        }
        bucketCount = minBuckets;
    }

    // The key operations. A plain HashMap treats keys as pointers: it stores
    // them as given, compares and hashes their addresses.

    /// The copy of a key that the map will own.
    virtual void* copyKey(const void* key) { return const_cast<void*>(key); }
    /// Releases a copy made by copyKey.
    virtual void releaseKey(void* key) { (void)key; }
    virtual bool keysEqual(const void* stored, const void* key) const { return stored == key; }
    virtual uint32_t hashKey(const void* key) const {
        return static_cast<uint32_t>((reinterpret_cast<std::uintptr_t>(key) / 8) * 1009u);
    }

    virtual ~HashMap() {
        clearEntries();
        release(keyLists);
        release(valueLists);
    }
    HashMap(const HashMap&) = delete;
    HashMap& operator=(const HashMap&) = delete;

    /// The value stored for key, or null.
    T* get(const void* key) const {
        PointeredListItem* value = find(key, nullptr);
        return value != nullptr ? static_cast<T*>(value->getObject()) : nullptr;
    }

    /// Stores the pair and owns both. For a key already stored, the stored key
    /// stays, keyCopy is released and the old value deleted. Never resizes.
    /// When an allocation fails, keyCopy is released and value deleted before
    /// &theOutOfMemory is raised.
    void put(void* keyCopy, T* value) {
        uint32_t bucket = bucketOf(keyCopy);
        if (keyLists[bucket] != nullptr) {
            PointeredListItem* storedValue = valueLists[bucket]->getFirst();
            for (PointeredListItem* stored = keyLists[bucket]->getFirst(); stored != nullptr;
                 stored = stored->getNext(), storedValue = storedValue->getNext()) {
                if (keysEqual(stored->getObject(), keyCopy)) {
                    releaseKey(keyCopy);
                    T* old = static_cast<T*>(storedValue->getObject());
                    storedValue->setObject(value);
                    // Putting the stored value again must not delete it.
                    if (old != value)
                        delete old;
                    return;
                }
            }
        }
        link(bucket, keyCopy, value);
        ++entryCount;
    }

    /// put(copyKey(key), value), then rebalance().
    void putCopy(const void* key, T* value) {
        void* keyCopy;
        try {
            keyCopy = copyKey(key);
        } catch (...) {
            delete value;
            throw;
        }
        put(keyCopy, value);
        rebalance();
    }

    /// Takes the pair out and returns the value, which the caller then owns;
    /// null when the key is absent. Never resizes.
    T* remove(const void* key) {
        PointeredListItem* storedKey = nullptr;
        PointeredListItem* storedValue = find(key, &storedKey);
        if (storedValue == nullptr)
            return nullptr;
        uint32_t bucket = bucketOf(key);
        T* value = static_cast<T*>(storedValue->getObject());
        releaseKey(storedKey->getObject());
        delete keyLists[bucket]->remove(storedKey);
        delete valueLists[bucket]->remove(storedValue);
        if (keyLists[bucket]->getCount() == 0) {
            delete keyLists[bucket];
            delete valueLists[bucket];
            keyLists[bucket] = nullptr;
            valueLists[bucket] = nullptr;
        }
        --entryCount;
        return value;
    }

    /// Releases every key and hands every value to take(T*), which then owns
    /// it; the map is left empty with its bucket count. Allocates nothing, so
    /// it may run in a destructor.
    template <class Taker>
    void takeAll(Taker&& take) {
        for (int b = 0; b < bucketCount; ++b) {
            PointeredList* keys = keyLists[b];
            if (keys == nullptr)
                continue;
            PointeredList* values = valueLists[b];
            keyLists[b] = nullptr;
            valueLists[b] = nullptr;
            PointeredListItem* v = values->getFirst();
            for (PointeredListItem* k = keys->getFirst(); k != nullptr;
                 k = k->getNext(), v = v->getNext()) {
                releaseKey(k->getObject());
                --entryCount;
                take(static_cast<T*>(v->getObject()));
            }
            delete keys;
            delete values;
        }
    }

    /// Releases every key, deletes every value, and returns to minBuckets buckets.
    void clear() {
        clearEntries();
        rebalance();
    }

    /// Moves every pair into `buckets` new buckets (bucket 0 upwards, list
    /// order kept). When an allocation fails the map is left as it was.
    void rehash(int buckets) {
        if (buckets < 1)
            buckets = 1;
        PointeredList** newKeys = newBuckets(buckets);
        PointeredList** newValues = nullptr;
        try {
            newValues = newBuckets(buckets);
            // All lists first, so that moving the items cannot fail half-way.
            for (int b = 0; b < bucketCount; ++b) {
                if (keyLists[b] == nullptr)
                    continue;
                for (PointeredListItem* k = keyLists[b]->getFirst(); k != nullptr;
                     k = k->getNext()) {
                    uint32_t target = hashKey(k->getObject()) % static_cast<uint32_t>(buckets);
                    if (newKeys[target] == nullptr) {
                        newKeys[target] = create<PointeredList>();
                        newValues[target] = create<PointeredList>();
                    }
                }
            }
        } catch (...) {
            for (int b = 0; b < buckets; ++b) {
                delete newKeys[b];
                if (newValues != nullptr)
                    delete newValues[b];
            }
            release(newKeys);
            release(newValues);
            throw;
        }
        for (int b = 0; b < bucketCount; ++b) {
            PointeredList* keys = keyLists[b];
            if (keys == nullptr)
                continue;
            PointeredList* values = valueLists[b];
            while (PointeredListItem* k = keys->getFirst()) {
                PointeredListItem* v = values->getFirst();
                keys->remove(k);
                values->remove(v);
                uint32_t target = hashKey(k->getObject()) % static_cast<uint32_t>(buckets);
                newKeys[target]->append(k);
                newValues[target]->append(v);
            }
            delete keys;
            delete values;
        }
        release(keyLists);
        release(valueLists);
        keyLists = newKeys;
        valueLists = newValues;
        bucketCount = buckets;
    }

    /// Shrinks a map below half its target load (not below minBuckets) and grows
    /// one above twice its target load, each to twice as many buckets as entries.
    void rebalance() {
        int load = static_cast<int>(int64_t{entryCount} * 100 / bucketCount);
        if (load < loadPercent / 2) {
            int wanted = static_cast<int>(int64_t{entryCount} * 100 / loadPercent);
            if (wanted < minBuckets)
                wanted = minBuckets;
            if (wanted < bucketCount)
                rehash(wanted);
        } else if (load > 2 * loadPercent) {
            rehash(static_cast<int>(int64_t{entryCount} * 100 / loadPercent));
        }
    }

    /// A new list, owned by the caller, of items pointing at the map's own keys:
    /// bucket 0 upwards, within a bucket in insertion order.
    PointeredList* keys() const {
        PointeredList* list = create<PointeredList>();
        try {
            for (int b = 0; b < bucketCount; ++b) {
                if (keyLists[b] == nullptr)
                    continue;
                for (PointeredListItem* k = keyLists[b]->getFirst(); k != nullptr;
                     k = k->getNext()) {
                    list->add(k->getObject());
                }
            }
        } catch (...) {
            delete list;
            throw;
        }
        return list;
    }

    int getCount() const { return entryCount; }
    int getBucketCount() const { return bucketCount; }
    int getLoadPercent() const { return loadPercent; }
    int getMinBuckets() const { return minBuckets; }

protected:
    /// Releases every key and deletes every value, leaving the bucket count.
    /// Subclasses with their own releaseKey call it in their destructor.
    void clearEntries() {
        for (int b = 0; b < bucketCount; ++b) {
            PointeredList* keys = keyLists[b];
            if (keys == nullptr)
                continue;
            PointeredListItem* v = valueLists[b]->getFirst();
            for (PointeredListItem* k = keys->getFirst(); k != nullptr;
                 k = k->getNext(), v = v->getNext()) {
                releaseKey(k->getObject());
                delete static_cast<T*>(v->getObject());
            }
            delete keys;
            delete valueLists[b];
            keyLists[b] = nullptr;
            valueLists[b] = nullptr;
        }
        entryCount = 0;
    }

private:
    static PointeredList** newBuckets(int buckets) {
        std::size_t bytes = sizeof(PointeredList*) * static_cast<std::size_t>(buckets);
        auto** lists = static_cast<PointeredList**>(allocate(bytes));
        std::memset(lists, 0, bytes);
        return lists;
    }

    uint32_t bucketOf(const void* key) const {
        return hashKey(key) % static_cast<uint32_t>(bucketCount);
    }

    // The value item stored beside key (and the key item through storedKey).
    PointeredListItem* find(const void* key, PointeredListItem** storedKey) const {
        uint32_t bucket = bucketOf(key);
        if (keyLists[bucket] == nullptr)
            return nullptr;
        PointeredListItem* v = valueLists[bucket]->getFirst();
        for (PointeredListItem* k = keyLists[bucket]->getFirst(); k != nullptr;
             k = k->getNext(), v = v->getNext()) {
            if (keysEqual(k->getObject(), key)) {
                if (storedKey != nullptr)
                    *storedKey = k;
                return v;
            }
        }
        return nullptr;
    }

    // Appends a new pair to the bucket; on a failed allocation nothing stays
    // behind and the pair is released.
    void link(uint32_t bucket, void* keyCopy, T* value) {
        PointeredList* newKeys = nullptr;
        PointeredList* newValues = nullptr;
        PointeredListItem* keyItem = nullptr;
        try {
            if (keyLists[bucket] == nullptr) {
                newKeys = create<PointeredList>();
                newValues = create<PointeredList>();
            }
            keyItem = create<PointeredListItem>(keyCopy);
            PointeredListItem* valueItem = create<PointeredListItem>(value);
            if (newKeys != nullptr) {
                keyLists[bucket] = newKeys;
                valueLists[bucket] = newValues;
            }
            keyLists[bucket]->append(keyItem);
            valueLists[bucket]->append(valueItem);
        } catch (...) {
            delete keyItem;
            delete newKeys;
            delete newValues;
            releaseKey(keyCopy);
            delete value;
            throw;
        }
    }

    int entryCount;
    int loadPercent;
    int minBuckets;
    PointeredList** keyLists;
    int bucketCount;
    PointeredList** valueLists;
};

/// A HashMap keyed by texts: it stores its own copies, compares them byte for
/// byte (case-sensitive) and hashes them with hashText.
template <class T>
class StringKeyHashMap : public HashMap<T> {
public:
    explicit StringKeyHashMap(int loadPercent = 50, int minBuckets = 16)
        : HashMap<T>(loadPercent, minBuckets) {}
    // The keys are released here, while releaseKey still frees them.
    ~StringKeyHashMap() override { this->clearEntries(); }

    void* copyKey(const void* key) override {
        return key != nullptr ? duplicate(static_cast<const char*>(key)) : nullptr;
    }
    void releaseKey(void* key) override { release(key); }
    bool keysEqual(const void* stored, const void* key) const override {
        return stored != nullptr && key != nullptr &&
               std::strcmp(static_cast<const char*>(stored), static_cast<const char*>(key)) == 0;
    }
    uint32_t hashKey(const void* key) const override {
        return hashText(static_cast<const char*>(key));
    }
    /// Copies of the keys, in the map's order.
    std::vector<std::string> keyNames() {
        std::vector<std::string> names;
        PointeredList* list = this->keys();
        for (PointeredListItem* item = list->getFirst(); item != nullptr; item = item->getNext())
            names.emplace_back(static_cast<const char*>(item->getObject()));
        delete list;
        return names;
    }
};

/// Orders two items by the texts they point to, ignoring ASCII case: negative,
/// 0 or positive. Sorts the result of StringKeyHashMap::keys.
inline int compareKeysIgnoreCase(PointeredListItem* a, PointeredListItem* b) {
    const auto* left = static_cast<const unsigned char*>(a->getObject());
    const auto* right = static_cast<const unsigned char*>(b->getObject());
    for (;; ++left, ++right) {
        int l = (*left >= 'A' && *left <= 'Z') ? *left + ('a' - 'A') : *left;
        int r = (*right >= 'A' && *right <= 'Z') ? *right + ('a' - 'A') : *right;
        if (l != r || l == 0)
            return l - r;
    }
}

}  // namespace toolbox
