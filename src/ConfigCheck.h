#pragma once
// What a configuration file holds that will not mean what it seems, found the
// way the program reads it: what the parse reports (text beside child
// elements, a name used both as a section and as a key, a key given twice, and
// where a text that does not parse goes wrong), and by the key table (see
// Settings.h) unknown keys and values of the wrong type or out of range.
// Used by `linkmootd --check-config`, by every reload and at start.
#include <memory>
#include <string>
#include <vector>

#include "ToolBox/Config.h"

namespace linkmoot {

class ConfigurationStore;

struct ConfigWarning {
    enum class Kind {
        Structure,   ///< read, but not as written; a reload refuses the file
        Malformed,   ///< where a text that does not parse goes wrong
        UnknownKey,  ///< a key or section no part of the program reads
        WrongType,   ///< not a whole number, or a flag other than 0 or 1
        OutOfRange,  ///< a value the program cannot use as meant
    };
    Kind kind;
    /// "Server/GuardTime: \"3s\" is not a whole number; it reads as 3".
    std::string text;
};

class ConfigCheck : public toolbox::Config::Observer {
public:
    void notice(toolbox::ConfigNotice kind, const char* path, int line) override;
    /// Adds what the key table finds in the tree. Creates nothing in it.
    void checkKeys(toolbox::ConfigSection* root);

    const std::vector<ConfigWarning>& warnings() const { return found; }
    /// True when the tree was read otherwise than written: a reload refuses it.
    bool readOtherwise() const;
    /// The text of the first warning of that kind; "" when there is none.
    std::string firstOf(ConfigWarning::Kind kind) const;
    /// One Warn line per warning (Malformed ones aside: the refusal names the first).
    void logWarnings() const;

private:
    void checkValue(toolbox::ConfigSection& section, const char* sectionName, const char* name);
    void add(ConfigWarning::Kind kind, std::string text);

    std::vector<ConfigWarning> found;
};

/// The file read again and checked for a reload: its warnings are logged; null,
/// with why in problem, when it cannot be used or was read otherwise than
/// written (the running configuration then stays).
std::unique_ptr<toolbox::Config> readChecked(ConfigurationStore& store, std::string& problem);
/// At start: logs the warnings of the file the program read (read as the
/// format says, whatever they are).
void logStartWarnings(ConfigurationStore& store, toolbox::ConfigSection* root);

/// The tree as one line per key, "Server/Connection = \"Dial-in\"", in the
/// file's order; `Password`, `Secret` and `WebPassword` only as (set) or
/// (empty), in any section; a section that holds nothing as "Client/".
std::string describeTree(toolbox::ConfigSection* root);
/// A value as the lines show it: in double quotes, with \t \n \r \f \" \\ and
/// \xHH for the bytes that would not show.
std::string quoted(const std::string& value);
/// Whether a key of that name is shown only as (set), (empty) or (changed).
bool isSecretName(const std::string& name);

/// Walking a tree without changing it.
namespace configtree {
/// The names of the section's keys and subsections, in the order the file has them.
std::vector<std::string> keyNames(toolbox::ConfigSection& section);
std::vector<std::string> sectionNames(toolbox::ConfigSection& section);
/// The subsection of that name; null when there is none (nothing is made).
toolbox::ConfigSection* findSection(toolbox::ConfigSection* parent, const char* name);
/// The key's value as the file holds it; null when there is no such key.
std::unique_ptr<std::string> valueOf(toolbox::ConfigSection* section, const char* name);
/// "Section/Name", or "Name" at the top level.
std::string pathOf(const char* section, const std::string& name);
}  // namespace configtree

}  // namespace linkmoot
