#include "ToolBox/Memory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "ToolBox/Exception.h"

namespace toolbox {

namespace {
// Allocations still allowed before the injected failure; negative: no injection.
std::atomic<long> allocationsBeforeFailure{-1};
}  // namespace

void raiseOutOfMemory() {
    throw &theOutOfMemory;
}

bool allocationShouldFail() {
    long remaining = allocationsBeforeFailure.load(std::memory_order_relaxed);
    if (remaining < 0)
        return false;
    if (remaining == 0)
        return true;
    allocationsBeforeFailure.store(remaining - 1, std::memory_order_relaxed);
    return false;
}

void failAllocationsAfter(long count) {
    allocationsBeforeFailure.store(count < 0 ? 0 : count, std::memory_order_relaxed);
}

void resetAllocationFailure() {
    allocationsBeforeFailure.store(-1, std::memory_order_relaxed);
}

void* allocate(std::size_t bytes) {
    if (allocationShouldFail())
        raiseOutOfMemory();
    // malloc(0) may answer null; a one-byte block keeps "never null" true.
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr)
        raiseOutOfMemory();
    return block;
}

void release(void* block) {
    std::free(block);
}

void* reallocate(void* block, std::size_t bytes) {
    if (allocationShouldFail())
        raiseOutOfMemory();
    void* moved = std::realloc(block, bytes == 0 ? 1 : bytes);
    if (moved == nullptr)
        raiseOutOfMemory();
    return moved;
}

char* duplicate(const char* text) {
    std::size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(allocate(size));
    std::memcpy(copy, text, size);
    return copy;
}

}  // namespace toolbox
