#pragma once
// One key as the one-second tick reads it: read again only after the
// configuration changed. A reading walks the configuration tree by name (and a
// text key builds a string); the tick's readers ask every second for keys that
// change once in a long while, and an idle tick is mostly such readings.
#include <cstdint>
#include <optional>
#include <utility>

#include "Settings.h"
#include "ToolBox/Config.h"

namespace linkmoot {

template <typename KeyType>
class CachedSetting {
public:
    using Value = decltype(std::declval<const Settings&>().get(std::declval<const KeyType&>()));

    CachedSetting(Settings settings, const KeyType& key) : settings(settings), key(key) {}

    const Value& get() const {
        if (!readAt || *readAt != toolbox::configChangeCount()) {
            value = settings.get(key);
            // Taken after the reading: one that stores a missing key's default
            // is itself a change, and need not be read a second time.
            readAt = toolbox::configChangeCount();
        }
        return *value;
    }

private:
    Settings settings;
    KeyType key;
    mutable std::optional<uint64_t> readAt;
    mutable std::optional<Value> value;
};

}  // namespace linkmoot
