#include "Settings.h"

#include "ToolBox/Config.h"

namespace linkmoot {

toolbox::ConfigSection* Settings::section(const char* name) const {
    return name == nullptr ? root : root->getSection(name);
}

std::string Settings::get(const TextKey& key) const {
    toolbox::ConfigSection* holder = section(key.section);
    if (key.rule == MissingKey::StoresDefault)
        return holder->getString(key.name, key.fallback);
    return holder->getParameter(key.name)->asString();
}

int32_t Settings::get(const NumberKey& key) const {
    toolbox::ConfigSection* holder = section(key.section);
    if (key.rule == MissingKey::StoresDefault)
        return holder->getLong(key.name, key.fallback);
    return holder->getParameter(key.name)->asLong();
}

bool Settings::get(const FlagKey& key) const {
    toolbox::ConfigSection* holder = section(key.section);
    if (key.rule == MissingKey::StoresDefault)
        return holder->getBool(key.name, key.fallback);
    return holder->getParameter(key.name)->asBool();
}

std::optional<std::string> Settings::get(const OptionalKey<const char*>& key) const {
    toolbox::ConfigSection* holder = section(key.section);
    if (!holder->hasParameter(key.name))
        return std::nullopt;
    return std::string(holder->getString(key.name, key.fallback));
}

std::optional<int32_t> Settings::get(const OptionalKey<int32_t>& key) const {
    toolbox::ConfigSection* holder = section(key.section);
    if (!holder->hasParameter(key.name))
        return std::nullopt;
    return holder->getLong(key.name, key.fallback);
}

void Settings::set(const TextKey& key, const std::string& value) const {
    section(key.section)->getParameter(key.name)->setString(value.c_str());
}

void Settings::set(const NumberKey& key, int32_t value) const {
    section(key.section)->getParameter(key.name)->setLong(value);
}

void Settings::set(const FlagKey& key, bool value) const {
    section(key.section)->getParameter(key.name)->setBool(value);
}

void Settings::set(const OptionalKey<const char*>& key,
                   const std::optional<std::string>& value) const {
    if (value) {
        section(key.section)->getParameter(key.name)->setString(value->c_str());
    } else {
        section(key.section)->removeParameter(key.name);
    }
}

void Settings::set(const OptionalKey<int32_t>& key, std::optional<int32_t> value) const {
    if (value) {
        section(key.section)->getParameter(key.name)->setLong(*value);
    } else {
        section(key.section)->removeParameter(key.name);
    }
}

}  // namespace linkmoot
