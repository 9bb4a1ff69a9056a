#pragma once
// What a service's thread hands to the loop's, taken at the loop's next step.
// Held by a shared pointer: the services' callbacks keep a weak one and keep
// the inbox alive while they post; a closed inbox drops what arrives after its
// owner is gone.
#include <mutex>
#include <utility>
#include <vector>

namespace linkmoot {

template <typename Item>
class ThreadInbox {
public:
    void post(Item item) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!closed)
            items.push_back(std::move(item));
    }
    std::vector<Item> take() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<Item> taken;
        taken.swap(items);
        return taken;
    }
    void close() {
        std::lock_guard<std::mutex> lock(mutex);
        closed = true;
        items.clear();
    }

private:
    std::mutex mutex;
    std::vector<Item> items;
    bool closed = false;
};

}  // namespace linkmoot
