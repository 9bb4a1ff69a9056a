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

private:
    const char* applicationName;
    toolbox::Config* config;
};

}  // namespace mfctriext
