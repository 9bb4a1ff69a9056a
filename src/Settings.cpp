#include "Settings.h"

#include <cctype>

#include "BillingCycle.h"
#include "DialogForms.h"
#include "PlanSettings.h"
#include "Protocol.h"
#include "SharedSecret.h"
#include "ToolBox/Config.h"
#include "Trust.h"
#include "VoteTable.h"

namespace linkmoot {

namespace keys {

std::string modeProblem(const std::string& value) {
    // Empty is the mode of a program not configured yet.
    if (value.empty() || value == "client" || value == "server")
        return {};
    return "neither \"client\" nor \"server\" (compared exactly): the program runs unconfigured";
}

std::string secretProblem(const std::string& value) {
    if (value.empty() || secretCharacters(value) >= kMinSecretCharacters)
        return {};
    return "shorter than " + std::to_string(kMinSecretCharacters) +
           " characters: the shared secret cannot be used";
}

std::string macProblem(const std::string& value) {
    // Six hexadecimal pairs, each followed by one separator; the first 17 characters count.
    constexpr std::size_t kMacText = 17;
    if (value.empty())
        return {};
    bool pairs = value.size() >= kMacText;
    for (std::size_t i = 0; pairs && i < kMacText; i += 3) {
        pairs = std::isxdigit(static_cast<unsigned char>(value[i])) &&
                std::isxdigit(static_cast<unsigned char>(value[i + 1]));
    }
    if (pairs)
        return {};
    return "not a hardware address such as 00:1A:2B:3C:4D:5E" +
           std::string(value.size() < kMacText ? ": no Wake-on-LAN packet is sent" : "");
}

std::string networksProblem(const std::string& value) {
    trust::AllowedNetworks networks;
    std::string error;
    if (trust::AllowedNetworks::parse(value, networks, error))
        return {};
    return "not a list of IPv4 networks (" + error + "): the server does not start";
}

std::string dialerProblem(const std::string& value) {
    std::string names;
    for (const DialerChoice& choice : dialerChoices()) {
        if (value == choice.value)
            return {};
        names += std::string(names.empty() ? "" : ", ") + choice.value;
    }
    return "not a dial-up service; one of " + names;
}

std::string warnPercentsProblem(const std::string& value) {
    std::vector<unsigned> percents;
    return parseWarnPercents(value, percents);
}

std::string atCapProblem(const std::string& value) {
    if (value == "warn" || value == "refuse" || value == "hangup")
        return {};
    return "not one of warn, refuse or hangup";
}

std::string freeHoursProblem(const std::string& value) {
    FreeHours hours;
    std::string error;
    if (FreeHours::parse(value, hours, error))
        return {};
    return "not a list of windows such as 00:00-06:00,23:00-01:00 (" + error + ")";
}

std::string cycleStartProblem(const std::string& value) {
    CivilDate date;
    if (value.empty() || parseIsoDate(value, date))
        return {};
    return "not a date such as 2026-01-14 (YYYY-MM-DD)";
}

// The answers carry the caps whole (docs/protocol.md, the length budget).
static_assert(detail::row(kPlanSection, "DataCapMB", KeyType::Number).max ==
              static_cast<int32_t>(protocol::PlanReport::kMaxMB));
static_assert(detail::row(kPlanSection, "TimeCapMinutes", KeyType::Number).max ==
              static_cast<int32_t>(protocol::PlanReport::kMaxMinutes));

// The page clamps a longer vote to what the server takes.
static_assert(detail::row(kServerSection, "WebVoteMaxMinutes", KeyType::Number).max ==
              static_cast<int32_t>(VoteTable::kMaxWebVoteMinutes));

const KeyRow* findRow(const char* section, const char* name) {
    for (const KeyRow& row : kKeyTable) {
        if (detail::sameName(row.section, section) && detail::sameName(row.name, name))
            return &row;
    }
    return nullptr;
}

}  // namespace keys

toolbox::ConfigSection* Settings::section(const char* name) const {
    if (name == nullptr)
        return root;
    if (!storesReads && !root->hasSection(name))
        return nullptr;
    return root->getSection(name);
}

toolbox::ConfigSection* Settings::sectionToWrite(const char* name) const {
    return name == nullptr ? root : root->getSection(name);
}

Settings::ModeReading Settings::mode() const {
    if (modeReadAt && *modeReadAt == toolbox::configChangeCount())
        return modeRead;
    const std::string value = get(keys::Mode);
    modeRead = value == "server"   ? ModeReading::Server
               : value == "client" ? ModeReading::Client
                                   : ModeReading::Other;
    // After the reading, which may itself have stored the missing key.
    modeReadAt = toolbox::configChangeCount();
    return modeRead;
}

std::string Settings::get(const TextKey& key) const {
    toolbox::ConfigSection* holder = section(key.section);
    if (holder != nullptr && (stores(key.rule) || holder->hasParameter(key.name))) {
        if (key.rule == MissingKey::StoresDefault)
            return holder->getString(key.name, key.fallback);
        return holder->getParameter(key.name)->asString();
    }
    return key.rule == MissingKey::CreatedEmpty ? "" : key.fallback;
}

int32_t Settings::get(const NumberKey& key) const {
    toolbox::ConfigSection* holder = section(key.section);
    if (holder != nullptr && (stores(key.rule) || holder->hasParameter(key.name))) {
        if (key.rule == MissingKey::StoresDefault)
            return holder->getLong(key.name, key.fallback);
        return holder->getParameter(key.name)->asLong();
    }
    return key.rule == MissingKey::CreatedEmpty ? 0 : key.fallback;
}

bool Settings::get(const FlagKey& key) const {
    toolbox::ConfigSection* holder = section(key.section);
    if (holder != nullptr && (stores(key.rule) || holder->hasParameter(key.name))) {
        if (key.rule == MissingKey::StoresDefault)
            return holder->getBool(key.name, key.fallback);
        return holder->getParameter(key.name)->asBool();
    }
    return key.rule == MissingKey::CreatedEmpty ? false : key.fallback;
}

std::optional<std::string> Settings::get(const OptionalKey<const char*>& key) const {
    toolbox::ConfigSection* holder = section(key.section);
    if (holder == nullptr || !holder->hasParameter(key.name))
        return std::nullopt;
    return std::string(holder->getString(key.name, key.fallback));
}

std::optional<int32_t> Settings::get(const OptionalKey<int32_t>& key) const {
    toolbox::ConfigSection* holder = section(key.section);
    if (holder == nullptr || !holder->hasParameter(key.name))
        return std::nullopt;
    return holder->getLong(key.name, key.fallback);
}

void Settings::set(const TextKey& key, const std::string& value) const {
    sectionToWrite(key.section)->getParameter(key.name)->setString(value.c_str());
}

void Settings::set(const NumberKey& key, int32_t value) const {
    sectionToWrite(key.section)->getParameter(key.name)->setLong(value);
}

void Settings::set(const FlagKey& key, bool value) const {
    sectionToWrite(key.section)->getParameter(key.name)->setBool(value);
}

void Settings::set(const OptionalKey<const char*>& key,
                   const std::optional<std::string>& value) const {
    if (value) {
        sectionToWrite(key.section)->getParameter(key.name)->setString(value->c_str());
    } else {
        sectionToWrite(key.section)->removeParameter(key.name);
    }
}

void Settings::set(const OptionalKey<int32_t>& key, std::optional<int32_t> value) const {
    if (value) {
        sectionToWrite(key.section)->getParameter(key.name)->setLong(*value);
    } else {
        sectionToWrite(key.section)->removeParameter(key.name);
    }
}

}  // namespace linkmoot
