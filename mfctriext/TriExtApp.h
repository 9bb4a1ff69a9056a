#pragma once
// The application base: owns the configuration tree, loads it when the
// application object is constructed and saves it when it is destroyed (and
// whenever the application asks). The file lives in the per-user data folder
// ($XDG_CONFIG_HOME or ~/.config)/Fennel Brookworks/<application name>,
// falling back to the program's own folder. A reload reads the same file
// again into a tree of its own, which replaces the live tree's content only
// when it could be used.
//
// An edit of the file while the program runs is never lost: a save first
// reads the file again, and when it changed since this program last read or
// wrote it, only the program's own changes since then are applied to it (see
// ConfigMerge.h). A changed file that cannot be used is left as it is.
#include <memory>
#include <string>
#include <vector>

#include "ToolBox/Config.h"

namespace toolbox {
class Directory;
}  // namespace toolbox

namespace mfctriext {

class TriExtApp {
public:
    /// What the parse of the file the constructor read reported.
    struct LoadNotice {
        toolbox::ConfigNotice kind;
        std::string path;
        int line;
    };

    /// Loads the configuration: the data folder's file, else the one beside the program.
    explicit TriExtApp(const char* applicationName);
    /// Saves the configuration into the data folder.
    virtual ~TriExtApp();
    TriExtApp(const TriExtApp&) = delete;
    TriExtApp& operator=(const TriExtApp&) = delete;

    toolbox::ConfigSection* getConfigRoot();
    /// Saves now, as the destructor does: an unusable file read at start is
    /// kept aside first; a file edited since it was read keeps its edits.
    /// False when nothing was written.
    bool saveNow();
    /// Reads the file the constructor would read into a new tree; observer
    /// hears what its parse reports. Null, with why in problem, when there is
    /// none or it cannot be used (the file is then left for its owner to mend).
    std::unique_ptr<toolbox::Config> readAgain(std::string& problem,
                                               toolbox::Config::Observer* observer = nullptr);
    /// Replaces the live tree's content by staged's (a tree readAgain
    /// returned); the root stays the same object. The file counts as read.
    void adopt(toolbox::Config& staged);
    /// The notices of the file read at construction (none when it could not be used).
    const std::vector<LoadNotice>& getLoadNotices() const { return loadNotices; }
    /// A new Directory owned by the caller: the data folder, created when
    /// missing, or the program folder when that fails.
    toolbox::Directory* getDataDirectory() const;
    /// getDataDirectory for the given application name.
    static toolbox::Directory* findDataDirectory(const char* applicationName);
    /// Reads into `into` the file that an application of that name would read,
    /// creating no folder; `file` names the file read (or, when there is none,
    /// the one that was looked for).
    static void readWithoutCreating(const char* applicationName, toolbox::Config& into,
                                    toolbox::Config::Observer* observer, std::string& file);

private:
    /// The configuration file as this program last found or left it.
    struct KnownFile {
        enum class State { Missing, Bytes, Unusable };
        State state = State::Missing;
        std::string content;  ///< the bytes; for Unusable why it could not be read
        bool operator==(const KnownFile&) const = default;
    };
    static KnownFile describe(const toolbox::Config& loaded);

    /// Notes the file the last load of source opened when it could not be
    /// used, or (readOtherwise) when parts of it do not read as written.
    void rememberUnreadableFile(const toolbox::Config& source, bool readOtherwise = false);
    void forgetUnreadableFiles();
    /// Renames every unusable file that saving into folder would replace to
    /// its name + ".broken"; false when one of them could not be kept.
    bool keepUnreadableFiles(const toolbox::Directory& folder);
    /// Writes the tree to the file; on success the file counts as written.
    bool write(toolbox::ConfigSection& tree, const char* file);

    /// A configuration file found but not usable at construction, and why.
    struct UnreadableFile {
        char* file = nullptr;
        char* problem = nullptr;
        bool readOtherwise = false;  ///< it was read, but not as it is written
    };

    const char* applicationName;
    toolbox::Config* config;
    /// The live tree as it was when the file was last read or written: what
    /// the program changed since is the difference to the live tree.
    toolbox::Config baseline;
    KnownFile known;
    /// At most the data folder's and the one beside the program.
    UnreadableFile unreadableFiles[2];
    std::vector<LoadNotice> loadNotices;
};

}  // namespace mfctriext
