#pragma once
// Allocation for the foundation library. Every allocation reports failure
// instead of throwing std::bad_alloc, and every failure raises the one
// preconstructed out-of-memory exception from raiseOutOfMemory().
#include <cstddef>
#include <new>
#include <utility>

namespace toolbox {

/// Raises &theOutOfMemory. The one place that does so.
[[noreturn]] void raiseOutOfMemory();

/// malloc-like; raises &theOutOfMemory instead of returning null. Never returns null.
void* allocate(std::size_t bytes);
/// realloc-like: the block keeps its first bytes and moves when it must. On a
/// failure the old block stays valid and &theOutOfMemory is raised.
void* reallocate(void* block, std::size_t bytes);
/// Frees what allocate() returned; null is allowed.
void release(void* block);
/// Copies a NUL-terminated text into a new allocate()d buffer.
char* duplicate(const char* text);

/// Creates an object with a non-throwing new; a failure raises &theOutOfMemory.
/// Objects made this way are destroyed with plain delete.
template <class T, class... Args>
T* create(Args&&... args) {
    extern bool allocationShouldFail();
    if (allocationShouldFail())
        raiseOutOfMemory();
    T* object = new (std::nothrow) T(std::forward<Args>(args)...);
    if (object == nullptr)
        raiseOutOfMemory();
    return object;
}

/// Test hook: the next `count` allocations succeed, every one after fails,
/// until resetAllocationFailure(). Not for production code.
void failAllocationsAfter(long count);
void resetAllocationFailure();
/// True when the injected failure says this allocation must fail (counts it).
bool allocationShouldFail();

}  // namespace toolbox
