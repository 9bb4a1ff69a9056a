#pragma once
// The application base: owns the configuration tree, loads it when the
// application object is constructed and saves it once when it is destroyed.
// The file lives in the per-user data folder
// ($XDG_CONFIG_HOME or ~/.config)/Fennel Brookworks/<application name>,
// falling back to the program's own folder.

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
    /// A new Directory owned by the caller: the data folder, created when
    /// missing, or the program folder when that fails.
    toolbox::Directory* getDataDirectory() const;
    /// getDataDirectory for the given application name.
    static toolbox::Directory* findDataDirectory(const char* applicationName);

private:
    /// Notes the file the last load opened when it could not be used.
    void rememberUnreadableFile();
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
