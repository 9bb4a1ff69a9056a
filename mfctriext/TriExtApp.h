#pragma once
// The application base: owns the configuration tree, loads it when the
// application object is constructed and saves it once when it is destroyed.
// The file lives in the per-user data folder
// ($XDG_CONFIG_HOME or ~/.config)/Fennel Brookworks/<application name>,
// falling back to the program's own folder. A reload reads the same file
// again into a tree of its own, which replaces the live tree's content only
// when it could be used.
#include <memory>
#include <string>

namespace toolbox {
class Config;
class ConfigSection;
class Directory;
}  // namespace toolbox

namespace mfctriext {

class TriExtApp {
public:
    /// Loads the configuration: the data folder's file, else the one beside the program.
    explicit TriExtApp(const char* applicationName);
    /// Saves the configuration into the data folder.
    virtual ~TriExtApp();
    TriExtApp(const TriExtApp&) = delete;
    TriExtApp& operator=(const TriExtApp&) = delete;

    toolbox::ConfigSection* getConfigRoot();
    /// Saves now, as the destructor does (an unusable file is kept aside
    /// first); false when nothing was written.
    bool saveNow();
    /// Reads the file the constructor would read into a new tree. Null, with
    /// why in problem, when there is none or it cannot be used; such a file
    /// is then kept as ".broken" by the next save rather than overwritten.
    std::unique_ptr<toolbox::Config> readAgain(std::string& problem);
    /// Replaces the live tree's content by staged's; the root stays the same
    /// object. Forgets the files found unusable before: the file was read.
    void adopt(toolbox::Config& staged);
    /// A new Directory owned by the caller: the data folder, created when
    /// missing, or the program folder when that fails.
    toolbox::Directory* getDataDirectory() const;
    /// getDataDirectory for the given application name.
    static toolbox::Directory* findDataDirectory(const char* applicationName);

private:
    /// Notes the file the last load of source opened when it could not be used.
    void rememberUnreadableFile(const toolbox::Config& source);
    void forgetUnreadableFiles();
    /// Renames every unusable file that saving into folder would replace to
    /// its name + ".broken"; false when one of them could not be kept.
    bool keepUnreadableFiles(const toolbox::Directory& folder);

    /// A configuration file found but not usable at construction, and why.
    struct UnreadableFile {
        char* file = nullptr;
        char* problem = nullptr;
    };

    const char* applicationName;
    toolbox::Config* config;
    /// At most the data folder's and the one beside the program.
    UnreadableFile unreadableFiles[2];
};

}  // namespace mfctriext
