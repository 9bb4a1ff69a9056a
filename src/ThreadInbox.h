#pragma once
// What a service's thread hands to the loop's, taken at the loop's next step.
// Held by a shared pointer: the services' callbacks keep a weak one and keep
// the inbox alive while they post; a closed inbox drops what arrives after its
// owner is gone.
#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

namespace linkmoot {

template <typename Item>
class ThreadInbox {
public:
    void post(Item item) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!closed) {
            items.push_back(std::move(item));
            waiting.store(true, std::memory_order_release);
        }
    }
    std::vector<Item> take() {
        // The loop looks every tick and nearly always finds nothing: that
        // look takes no lock.
        if (!waiting.load(std::memory_order_acquire))
            return {};
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<Item> taken;
        taken.swap(items);
        waiting.store(false, std::memory_order_relaxed);
        return taken;
    }
    void close() {
        std::lock_guard<std::mutex> lock(mutex);
        closed = true;
        items.clear();
        waiting.store(false, std::memory_order_relaxed);
    }

private:
    std::mutex mutex;
    std::vector<Item> items;
    bool closed = false;
    std::atomic<bool> waiting{false};
};

}  // namespace linkmoot
