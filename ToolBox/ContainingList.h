#pragma once
// An intrusive doubly linked list that owns its items. An item class T derives
// from ContainingListItem<T>; the list deletes its items when it is destroyed
// (last to first) and on deleteLast. remove only unlinks.
#include <cstdint>

namespace toolbox {

template <class T>
class ContainingList;

template <class T>
class ContainingListItem {
public:
    ContainingListItem() = default;
    virtual ~ContainingListItem() = default;
    ContainingListItem(const ContainingListItem&) = delete;
    ContainingListItem& operator=(const ContainingListItem&) = delete;

    T* getNext() const { return next; }
    T* getPrev() const { return prev; }

private:
    friend class ContainingList<T>;
    T* next = nullptr;
    T* prev = nullptr;
};

template <class T>
class ContainingList {
public:
    ContainingList() = default;
    virtual ~ContainingList() {
        while (deleteLast()) {
        }
    }
    ContainingList(const ContainingList&) = delete;
    ContainingList& operator=(const ContainingList&) = delete;

    /// Orders two items: 0 for the same item, 1 when a lies at the higher
    /// address, -1 otherwise. Subclasses may order by content.
    virtual int compare(const T* a, const T* b) const {
        if (a == b)
            return 0;
        return reinterpret_cast<std::uintptr_t>(a) > reinterpret_cast<std::uintptr_t>(b) ? 1 : -1;
    }

    /// Takes ownership of item and links it behind the last one.
    void append(T* item) {
        link(item);
        ++count;
    }

    /// Unlinks (does not delete) the first item that compare() finds equal to
    /// item and returns it; null when none matches.
    T* remove(T* item) {
        for (T* current = first; current != nullptr; current = next(current)) {
            if (compare(current, item) == 0) {
                unlink(current);
                --count;
                return current;
            }
        }
        return nullptr;
    }

    /// Unlinks and deletes the last item; false on an empty list.
    bool deleteLast() {
        T* item = last;
        if (item == nullptr)
            return false;
        unlink(item);
        --count;
        delete item;
        return true;
    }

    /// Stable selection sort by relinking (no allocation, n^2 comparisons):
    /// repeatedly moves the earliest smallest remaining item to the end. Without
    /// a function, compare() orders.
    void sort(int (*compareFunction)(T*, T*) = nullptr) {
        T* chain = first;
        first = nullptr;
        last = nullptr;
        count = 0;
        while (chain != nullptr) {
            T* best = chain;
            for (T* candidate = next(chain); candidate != nullptr; candidate = next(candidate)) {
                int order = compareFunction != nullptr ? compareFunction(candidate, best)
                                                       : compare(candidate, best);
                if (order < 0)
                    best = candidate;
            }
            // Take best out of the chain.
            T* before = prev(best);
            T* after = next(best);
            if (before != nullptr)
                setNext(before, after);
            if (after != nullptr)
                setPrev(after, before);
            if (best == chain)
                chain = after;
            append(best);
        }
    }

    T* getFirst() const { return first; }
    T* getLast() const { return last; }
    int getCount() const { return count; }

private:
    using Links = ContainingListItem<T>;
    static T* next(T* item) { return static_cast<Links*>(item)->next; }
    static T* prev(T* item) { return static_cast<Links*>(item)->prev; }
    static void setNext(T* item, T* value) { static_cast<Links*>(item)->next = value; }
    static void setPrev(T* item, T* value) { static_cast<Links*>(item)->prev = value; }

    void link(T* item) {
        setPrev(item, last);
        setNext(item, nullptr);
        if (last != nullptr) {
            setNext(last, item);
        } else {
            first = item;
        }
        last = item;
    }

    void unlink(T* item) {
        T* before = prev(item);
        T* after = next(item);
        if (before != nullptr) {
            setNext(before, after);
        } else {
            first = after;
        }
        if (after != nullptr) {
            setPrev(after, before);
        } else {
            last = before;
        }
        setNext(item, nullptr);
        setPrev(item, nullptr);
    }

    int count = 0;
    T* first = nullptr;
    T* last = nullptr;
};

}  // namespace toolbox
