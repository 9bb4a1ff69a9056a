#include "ConfigCheck.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ConfigurationStore.h"
#include "Settings.h"
#include "ToolBox/Logger.h"

namespace linkmoot {

namespace configtree {

namespace {

bool foldedLess(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto fold = [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a')
                                        : static_cast<unsigned char>(c);
        };
        return fold(x) < fold(y);
    });
}

template <class T>
std::vector<std::string> sortedNames(toolbox::StringKeyHashMap<T>& map) {
    std::vector<std::string> names = map.keyNames();
    std::stable_sort(names.begin(), names.end(), foldedLess);
    return names;
}

}  // namespace

std::vector<std::string> keyNames(toolbox::ConfigSection& section) {
    return sortedNames(section.getParameters());
}

std::vector<std::string> sectionNames(toolbox::ConfigSection& section) {
    return sortedNames(section.getSections());
}

toolbox::ConfigSection* findSection(toolbox::ConfigSection* parent, const char* name) {
    if (name == nullptr)
        return parent;
    return parent != nullptr ? parent->getSections().get(name) : nullptr;
}

std::unique_ptr<std::string> valueOf(toolbox::ConfigSection* section, const char* name) {
    const toolbox::ConfigParameter* parameter =
        section != nullptr ? section->getParameters().get(name) : nullptr;
    if (parameter == nullptr)
        return nullptr;
    toolbox::Config::BufferWriter text;
    parameter->writeValue(text);
    // The file form, escapes decoded again: the value a read of the file gets.
    std::string value(text.getText(), text.getLength());
    if (parameter->getKind() == toolbox::ConfigParameter::Text ||
        parameter->getKind() == toolbox::ConfigParameter::Boolean) {
        value = parameter->asString();
    } else if (parameter->getKind() == toolbox::ConfigParameter::Unset) {
        value.clear();
    }
    return std::make_unique<std::string>(std::move(value));
}

std::string pathOf(const char* section, const std::string& name) {
    return section != nullptr ? std::string(section) + "/" + name : name;
}

}  // namespace configtree

namespace {

using configtree::pathOf;

std::string located(const char* path, int line) {
    const std::string where = "line " + std::to_string(line);
    return *path == '\0' ? where : std::string(path) + " (" + where + ")";
}

const char* noticeText(toolbox::ConfigNotice kind) {
    switch (kind) {
        case toolbox::ConfigNotice::TextDropsSection:
            return "text beside child elements: it is read as a key, and the section with "
                   "everything in it is dropped";
        case toolbox::ConfigNotice::TextBesideSection:
            return "text beside child elements: it is read as a key beside a section of the same "
                   "name";
        case toolbox::ConfigNotice::KeyDropsSection:
            return "a key named like the section given before it: that section is dropped";
        case toolbox::ConfigNotice::SectionAndKey:
            return "a name used both as a section and as a key";
        case toolbox::ConfigNotice::KeyTwice:
            return "the key is given twice; the later value counts";
        case toolbox::ConfigNotice::StrayText:
            return "text outside every element";
        case toolbox::ConfigNotice::StrayClosingTag:
            return "a closing tag with no element open";
        case toolbox::ConfigNotice::WrongClosingTag:
            return "closed by a tag that names another element";
        case toolbox::ConfigNotice::Unclosed:
            return "never closed";
    }
    return "";
}

bool sameIgnoringCase(const std::string& name, const char* other) {
    return name.size() == std::strlen(other) &&
           std::equal(name.begin(), name.end(), other, [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

bool isMalformed(toolbox::ConfigNotice kind) {
    return kind >= toolbox::ConfigNotice::StrayText;
}

/// The section that holds this key in the table, for a hint; "" when none does.
std::string hintFor(const char* section, const std::string& name) {
    if (section == nullptr && (name == keys::kClientSection || name == keys::kServerSection))
        return " (" + name + " is a section)";
    for (const KeyRow& row : keys::kKeyTable) {
        const bool sameSection = keys::detail::sameName(row.section, section);
        if (!sameSection && name == row.name)
            return row.section != nullptr ? " (it belongs in " + std::string(row.section) + ")"
                                          : " (it belongs at the top level)";
        if (sameSection && name != row.name && sameIgnoringCase(name, row.name)) {
            return std::string(" (names are case-sensitive: ") + row.name + "?)";
        }
    }
    return {};
}

bool isWholeNumber(const std::string& value) {
    std::size_t digits = !value.empty() && value[0] == '-' ? 1 : 0;
    return value.size() > digits &&
           value.find_first_not_of("0123456789", digits) == std::string::npos;
}

std::string rangeText(const KeyRow& row) {
    if (row.max == INT32_MAX)
        return std::to_string(row.min) + " or more";
    return std::to_string(row.min) + " to " + std::to_string(row.max);
}

}  // namespace

void ConfigCheck::add(ConfigWarning::Kind kind, std::string text) {
    found.push_back({kind, std::move(text)});
}

void ConfigCheck::notice(toolbox::ConfigNotice kind, const char* path, int line) {
    add(isMalformed(kind) ? ConfigWarning::Kind::Malformed : ConfigWarning::Kind::Structure,
        located(path, line) + ": " + noticeText(kind));
}

void ConfigCheck::checkKeys(toolbox::ConfigSection* root) {
    const char* const known[] = {nullptr, keys::kClientSection, keys::kServerSection};
    for (const char* sectionName : known) {
        toolbox::ConfigSection* section = configtree::findSection(root, sectionName);
        if (section == nullptr)
            continue;
        for (const std::string& name : configtree::keyNames(*section))
            checkValue(*section, sectionName, name.c_str());
        for (const std::string& name : configtree::sectionNames(*section)) {
            const bool knownHere = sectionName == nullptr &&
                                   (name == keys::kClientSection || name == keys::kServerSection ||
                                    name == keys::kPlanSection);
            if (!knownHere) {
                std::string hint;
                for (const char* other :
                     {keys::kClientSection, keys::kServerSection, keys::kPlanSection}) {
                    if (name != other && sameIgnoringCase(name, other)) {
                        hint = std::string(" (names are case-sensitive: ") + other + "?)";
                    }
                }
                add(ConfigWarning::Kind::UnknownKey,
                    pathOf(sectionName, name) + ": unknown section" + hint);
            }
        }
    }
}

void ConfigCheck::checkValue(toolbox::ConfigSection& section, const char* sectionName,
                             const char* name) {
    const std::string path = pathOf(sectionName, name);
    const KeyRow* row = keys::findRow(sectionName, name);
    if (row == nullptr) {
        add(ConfigWarning::Kind::UnknownKey, path + ": unknown key" + hintFor(sectionName, name));
        return;
    }
    const std::string value = *configtree::valueOf(&section, name);
    const std::string shown = row->secret ? "the value" : quoted(value);
    const int32_t number = section.getParameters().get(name)->asLong();
    switch (row->type) {
        case KeyType::Number:
            if (!isWholeNumber(value)) {
                add(ConfigWarning::Kind::WrongType, path + ": " + shown +
                                                        " is not a whole number; it reads as " +
                                                        std::to_string(number));
            } else if (const long long exact = std::strtoll(value.c_str(), nullptr, 10);
                       exact < row->min || exact > row->max) {
                add(ConfigWarning::Kind::OutOfRange,
                    path + ": " + value + " is out of range (" + rangeText(*row) + ")");
            }
            break;
        case KeyType::Flag:
            if (value != "0" && value != "1") {
                add(ConfigWarning::Kind::WrongType, path + ": " + shown +
                                                        " is not 0 or 1; it reads as " +
                                                        (number != 0 ? "on (1)" : "off (0)"));
            }
            break;
        case KeyType::Text:
            if (row->problem != nullptr) {
                if (const std::string problem = row->problem(value); !problem.empty())
                    add(ConfigWarning::Kind::OutOfRange, path + ": " + shown + " is " + problem);
            }
            break;
    }
}

bool ConfigCheck::readOtherwise() const {
    return std::any_of(found.begin(), found.end(), [](const ConfigWarning& warning) {
        return warning.kind == ConfigWarning::Kind::Structure;
    });
}

std::string ConfigCheck::firstOf(ConfigWarning::Kind kind) const {
    for (const ConfigWarning& warning : found) {
        if (warning.kind == kind)
            return warning.text;
    }
    return {};
}

void ConfigCheck::logWarnings() const {
    for (const ConfigWarning& warning : found) {
        if (warning.kind != ConfigWarning::Kind::Malformed)
            LM_LOG(Warn, "Configuration file: %s", warning.text.c_str());
    }
}

std::unique_ptr<toolbox::Config> readChecked(ConfigurationStore& store, std::string& problem) {
    ConfigCheck check;
    std::unique_ptr<toolbox::Config> staged = store.readAgain(problem, &check);
    if (staged)
        check.checkKeys(staged->getRoot());
    check.logWarnings();
    if (!staged) {
        if (const std::string where = check.firstOf(ConfigWarning::Kind::Malformed); !where.empty())
            problem += " (" + where + ")";
        return nullptr;
    }
    if (check.readOtherwise()) {
        problem = std::string(staged->getLastLoadedFile()) +
                  ": it does not read as it is written (" +
                  check.firstOf(ConfigWarning::Kind::Structure) + ")";
        return nullptr;
    }
    return staged;
}

void logStartWarnings(ConfigurationStore& store, toolbox::ConfigSection* root) {
    ConfigCheck check;
    store.replayLoadNotices(check);
    check.checkKeys(root);
    check.logWarnings();
}

std::string quoted(const std::string& value) {
    std::string text = "\"";
    for (const char byte : value) {
        switch (byte) {
            case '\t':
                text += "\\t";
                break;
            case '\n':
                text += "\\n";
                break;
            case '\r':
                text += "\\r";
                break;
            case '\f':
                text += "\\f";
                break;
            case '"':
            case '\\':
                text += '\\';
                text += byte;
                break;
            default:
                if (static_cast<unsigned char>(byte) < 0x20 || byte == 0x7F) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\x%02X",
                                  static_cast<unsigned>(static_cast<unsigned char>(byte)));
                    text += escaped;
                } else {
                    text += byte;
                }
                break;
        }
    }
    return text + "\"";
}

bool isSecretName(const std::string& name) {
    for (const KeyRow& row : keys::kKeyTable) {
        if (row.secret && sameIgnoringCase(name, row.name)) {
            return true;
        }
    }
    return false;
}

namespace {

void describeSection(toolbox::ConfigSection& section, const std::string& prefix, std::string& out) {
    const std::vector<std::string> names = configtree::keyNames(section);
    const std::vector<std::string> sections = configtree::sectionNames(section);
    if (names.empty() && sections.empty() && !prefix.empty())
        out += prefix + "\n";
    for (const std::string& name : names) {
        const std::string value = *configtree::valueOf(&section, name.c_str());
        out += prefix + name + " = " +
               (isSecretName(name) ? (value.empty() ? "(empty)" : "(set)") : quoted(value)) + "\n";
    }
    for (const std::string& name : sections)
        describeSection(*section.getSections().get(name.c_str()), prefix + name + "/", out);
}

}  // namespace

std::string describeTree(toolbox::ConfigSection* root) {
    std::string out;
    describeSection(*root, "", out);
    return out;
}

}  // namespace linkmoot
