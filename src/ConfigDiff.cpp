#include "ConfigDiff.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "ConfigCheck.h"
#include "ToolBox/Config.h"
#include "ToolBox/Logger.h"

namespace linkmoot {

namespace {

using configtree::findSection;
using configtree::valueOf;

/// A key's value as the program works with it: its text, or for a missing
/// key the row's fallback; null when missing means off.
std::unique_ptr<std::string> effective(toolbox::ConfigSection* root, const KeyRow& row) {
    std::unique_ptr<std::string> value = valueOf(findSection(root, row.section), row.name);
    if (!value && row.fallback != nullptr)
        value = std::make_unique<std::string>(row.fallback);
    return value;
}

bool same(const KeyRow& row, const std::string* a, const std::string* b) {
    if (a == nullptr || b == nullptr)
        return a == b;
    switch (row.type) {
        case KeyType::Number:
            return std::atol(a->c_str()) == std::atol(b->c_str());
        case KeyType::Flag:
            return (std::atol(a->c_str()) != 0) == (std::atol(b->c_str()) != 0);
        case KeyType::Text:
            break;
    }
    return *a == *b;
}

std::string shown(const std::string* value) {
    return value != nullptr ? quoted(*value) : "(none)";
}

std::string changeLine(const std::string& path, const std::string& name, const std::string* from,
                       const std::string* to) {
    if (isSecretName(name))
        return path + ": (changed)";
    return path + ": " + shown(from) + " -> " + shown(to);
}

/// A key's place: the names of its sections, then its own.
using KeyPath = std::vector<std::string>;

std::string joined(const KeyPath& path) {
    std::string text;
    for (const std::string& name : path)
        text += (text.empty() ? "" : "/") + name;
    return text;
}

/// Every key below section that the table does not know. Rows exist for the
/// top level (owner null) and its sections (owner their name); deeper, none.
void unknownKeys(toolbox::ConfigSection* section, const KeyPath& prefix,
                 std::vector<KeyPath>& out) {
    if (section == nullptr)
        return;
    const char* owner = prefix.empty() ? nullptr : prefix[0].c_str();
    for (const std::string& name : configtree::keyNames(*section)) {
        if (prefix.size() > 1 || keys::findRow(owner, name.c_str()) == nullptr) {
            KeyPath path = prefix;
            path.push_back(name);
            if (std::find(out.begin(), out.end(), path) == out.end())
                out.push_back(std::move(path));
        }
    }
    for (const std::string& name : configtree::sectionNames(*section)) {
        KeyPath path = prefix;
        path.push_back(name);
        unknownKeys(section->getSections().get(name.c_str()), path, out);
    }
}

std::unique_ptr<std::string> valueAt(toolbox::ConfigSection* root, const KeyPath& path) {
    toolbox::ConfigSection* section = root;
    for (std::size_t i = 0; i + 1 < path.size() && section != nullptr; ++i)
        section = findSection(section, path[i].c_str());
    return valueOf(section, path.back().c_str());
}

}  // namespace

ConfigDiff::ConfigDiff(toolbox::ConfigSection* before, toolbox::ConfigSection* after)
    : before(before), after(after) {
    for (const KeyRow& row : keys::kKeyTable) {
        const std::unique_ptr<std::string> from = effective(before, row);
        const std::unique_ptr<std::string> to = effective(after, row);
        if (same(row, from.get(), to.get()))
            continue;
        changes.push_back(
            changeLine(configtree::pathOf(row.section, row.name), row.name, from.get(), to.get()));
        restart = restart || row.restartsServer;
    }
    std::vector<KeyPath> paths;
    unknownKeys(before, {}, paths);
    unknownKeys(after, {}, paths);
    for (const KeyPath& path : paths) {
        const std::unique_ptr<std::string> from = valueAt(before, path);
        const std::unique_ptr<std::string> to = valueAt(after, path);
        if ((from == nullptr) != (to == nullptr) || (from && *from != *to))
            changes.push_back(changeLine(joined(path), path.back(), from.get(), to.get()));
    }
}

bool ConfigDiff::changedKey(const char* section, const char* name) const {
    const KeyRow* row = keys::findRow(section, name);
    if (row == nullptr)
        return false;
    const std::unique_ptr<std::string> from = effective(before, *row);
    const std::unique_ptr<std::string> to = effective(after, *row);
    return !same(*row, from.get(), to.get());
}

void ConfigDiff::log() const {
    for (const std::string& line : changes)
        LM_LOG(Info, "Configuration changed: %s", line.c_str());
}

}  // namespace linkmoot
