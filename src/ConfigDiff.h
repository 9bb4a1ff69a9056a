#pragma once
// What a reload changes, key by key: the running tree against the file read
// again. A key the table knows is compared as the program reads it (a missing
// key as its default, a number as a number), so a default the running tree
// stored is no change; any other key by its text.
#include <string>
#include <vector>

#include "Settings.h"

namespace toolbox {
class ConfigSection;
}

namespace linkmoot {

class ConfigDiff {
public:
    /// Reads both trees; creates nothing in either.
    ConfigDiff(toolbox::ConfigSection* before, toolbox::ConfigSection* after);

    /// One line per changed key: "Server/Connection: \"Dial-in\" -> \"\"",
    /// "Server/WebPort: (none) -> \"8081\"", "Server/Password: (changed)".
    const std::vector<std::string>& lines() const { return changes; }
    /// A key whose row restarts the server changed.
    bool restartsServer() const { return restart; }
    /// Whether the key a reading names changed.
    template <typename K>
    bool changed(const K& key) const {
        return changedKey(key.section, key.name);
    }
    /// One Info line per change.
    void log() const;

private:
    bool changedKey(const char* section, const char* name) const;

    toolbox::ConfigSection* before;
    toolbox::ConfigSection* after;
    std::vector<std::string> changes;
    bool restart = false;
};

}  // namespace linkmoot
