#pragma once
// A growable array of owned element pointers. Elements are objects created
// with new (or toolbox::create); the list deletes them when they are removed,
// when it is cleared and when it is destroyed.
//
// Sizing: before the count changes to n, a list that is sparsely filled
// (capacity above minCapacity and fill below shrinkPercent) is resized to
// n * 100 / fillPercent (at least minCapacity, at least n + 1); a list that is
// full grows to the same size. With the defaults a list filled one by one has
// 16, 26, 43, 71, ... slots.
#include <cstdint>
#include <cstring>

#include "ToolBox/Memory.h"

namespace toolbox {

template <class T>
class ArrayList {
public:
    /// fillPercent must lie in 1..100; minCapacity at least 1.
    explicit ArrayList(int minCapacity = 16, int fillPercent = 60, int shrinkPercent = 30)
        : count(0),
          fillPercent(fillPercent),
          buffer(nullptr),
          minCapacity(minCapacity),
          shrinkPercent(shrinkPercent),
          capacity(0) {
        buffer = static_cast<T**>(allocate(sizeof(T*) * static_cast<std::size_t>(minCapacity)));
        capacity = minCapacity;
    }
    virtual ~ArrayList() {
        deleteElements();
        release(buffer);
    }
    ArrayList(const ArrayList&) = delete;
    ArrayList& operator=(const ArrayList&) = delete;

    /// Takes ownership of element and stores it behind the last one. When the
    /// buffer cannot grow, the element is deleted before &theOutOfMemory is raised.
    void add(T* element) {
        try {
            adjustCapacity(count + 1);
        } catch (...) {
            delete element;
            throw;
        }
        buffer[count] = element;
        ++count;
    }

    /// The element at index, or null when index is not in 0..count-1.
    T* get(int index) const {
        if (index < 0 || index >= count)
            return nullptr;
        return buffer[index];
    }
    int getCount() const { return count; }
    int getCapacity() const { return capacity; }

    /// Deletes the element at index and moves the later ones down. False for an
    /// index outside 0..count-1 (nothing changes) or a slot without an element.
    bool removeAt(int index) {
        if (index < 0 || index >= count)
            return false;
        // Resizing first: when it fails, the list is still whole.
        adjustCapacity(count - 1);
        T* element = buffer[index];
        std::memmove(buffer + index, buffer + index + 1,
                     sizeof(T*) * static_cast<std::size_t>(count - index - 1));
        --count;
        buffer[count] = nullptr;
        if (element == nullptr)
            return false;
        delete element;
        return true;
    }

    /// Deletes every element; a sparse list shrinks back towards minCapacity.
    void clear() {
        deleteElements();
        adjustCapacity(0);
        count = 0;
    }

    /// Compares two elements by address: 0 when the same, 1 when a lies higher.
    virtual int compare(const T* a, const T* b) const {
        if (a == b)
            return 0;
        return reinterpret_cast<std::uintptr_t>(a) > reinterpret_cast<std::uintptr_t>(b) ? 1 : -1;
    }

private:
    void deleteElements() {
        for (int i = 0; i < count; ++i) {
            delete buffer[i];
            buffer[i] = nullptr;
        }
    }

    // Applied before the count changes to n; count still holds the old value.
    void adjustCapacity(int n) {
        int target = static_cast<int>(int64_t{n} * 100 / fillPercent);
        bool sparse = capacity > minCapacity && int64_t{count} * 100 / capacity < shrinkPercent;
        if (sparse) {
            if (target < minCapacity) {
                resize(minCapacity > n ? minCapacity : n + 1);
            } else {
                resize(target > n ? target : n + 1);
            }
        } else if (n >= capacity) {
            resize(target > n ? target : n + 1);
        }
    }

    void resize(int slots) {
        if (slots == capacity)
            return;
        T** resized = static_cast<T**>(allocate(sizeof(T*) * static_cast<std::size_t>(slots)));
        int kept = count < slots ? count : slots;
        std::memcpy(resized, buffer, sizeof(T*) * static_cast<std::size_t>(kept));
        release(buffer);
        buffer = resized;
        capacity = slots;
    }

    int count;
    int fillPercent;
    T** buffer;
    int minCapacity;
    int shrinkPercent;
    int capacity;
};

}  // namespace toolbox
