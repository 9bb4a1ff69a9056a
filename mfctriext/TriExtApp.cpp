#include "mfctriext/TriExtApp.h"

#include <cstdlib>
#include <cstring>

#include "ToolBox/Config.h"
#include "ToolBox/Directory.h"
#include "ToolBox/Logger.h"
#include "ToolBox/Memory.h"
#include "ToolBox/posix/FileStore.h"
#include "mfctriext/ConfigMerge.h"

namespace mfctriext {

namespace {

constexpr const char kVendorFolder[] = "Fennel Brookworks";

bool isAbsolute(const char* path) {
    return path != nullptr && path[0] == '/';
}

/// The per-user base folder for settings: $XDG_CONFIG_HOME, else ~/.config;
/// null when the environment names neither as an absolute path.
toolbox::Directory* userConfigurationBase() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (isAbsolute(configHome))
        return toolbox::Directory::fromNative(configHome);
    const char* home = std::getenv("HOME");
    if (!isAbsolute(home))
        return nullptr;
    toolbox::Directory* base = toolbox::Directory::fromNative(home);
    base->append(".config");
    return base;
}

bool isUsableFolder(const toolbox::Directory& folder) {
    char* native = folder.toNative();
    bool folderThere = toolbox::os::isFolder(native);
    toolbox::release(native);
    return folderThere;
}

/// The native name of the configuration file in folder.
char* configurationFileIn(const toolbox::Directory& folder) {
    toolbox::Directory* path = folder.copy();
    path->appendProgramFileName("cfg");
    char* native = path->toNative();
    delete path;
    return native;
}

bool sameText(const char* a, const char* b, const char* bSuffix) {
    std::size_t length = std::strlen(b);
    return std::strncmp(a, b, length) == 0 && std::strcmp(a + length, bSuffix) == 0;
}

/// Keeps what a parse reports, in order.
class NoticeList : public toolbox::Config::Observer {
public:
    explicit NoticeList(std::vector<TriExtApp::LoadNotice>& notices) : notices(notices) {}
    void notice(toolbox::ConfigNotice kind, const char* path, int line) override {
        notices.push_back({kind, path, line});
    }

private:
    std::vector<TriExtApp::LoadNotice>& notices;
};

}  // namespace

TriExtApp::TriExtApp(const char* applicationName)
    : applicationName(toolbox::duplicate(applicationName)),
      config(toolbox::create<toolbox::Config>()) {
    toolbox::Directory* folder = getDataDirectory();
    NoticeList notices(loadNotices);
    bool loaded = config->load(*folder, &notices);
    known = describe(*config);
    config->forgetLoadedText();
    delete folder;
    if (!loaded) {
        loadNotices.clear();
        rememberUnreadableFile(*config);
        // Nothing to say when this fails too: the application starts unconfigured.
        loaded = config->loadBesideProgram(&notices);
        config->forgetLoadedText();
        if (!loaded) {
            loadNotices.clear();
            rememberUnreadableFile(*config);
        }
    }
    // Saved as read, what did not read as written would be lost for good.
    if (loaded && !loadNotices.empty())
        rememberUnreadableFile(*config, true);
    copyTree(*baseline.getRoot(), *config->getRoot());
}

TriExtApp::~TriExtApp() {
    if (config != nullptr) {
        saveNow();
        delete config;
        config = nullptr;
    }
    forgetUnreadableFiles();
    toolbox::release(const_cast<char*>(applicationName));
}

TriExtApp::KnownFile TriExtApp::describe(const toolbox::Config& loaded) {
    KnownFile file;
    if (loaded.getLastLoadedText() != nullptr) {
        file.state = KnownFile::State::Bytes;
        file.content.assign(loaded.getLastLoadedText(), loaded.getLastLoadedLength());
    } else if (loaded.getLastLoadResult() != toolbox::Config::LoadResult::Missing) {
        file.state = KnownFile::State::Unusable;
        const char* problem = loaded.getLastLoadProblem();
        file.content = problem != nullptr ? problem : "";
    }
    return file;
}

bool TriExtApp::saveNow() {
    toolbox::Directory* folder = getDataDirectory();
    char* target = configurationFileIn(*folder);
    toolbox::Config onDisk;
    std::vector<LoadNotice> notices;
    NoticeList listener(notices);
    const bool loaded = onDisk.loadFile(target, &listener);
    const KnownFile found = describe(onDisk);
    bool saved = false;
    if (found == known) {
        // A file that could not be used at start would be replaced by an
        // almost empty tree; it is renamed aside first, and kept untouched if
        // that fails.
        if (keepUnreadableFiles(*folder)) {
            if (loaded)
                applyChanges(*onDisk.getRoot(), baseline.getRoot(), *config->getRoot());
            saved = write(loaded ? *onDisk.getRoot() : *config->getRoot(), target);
        }
    } else if (found.state == KnownFile::State::Missing) {
        saved = write(*config->getRoot(), target);
    } else if (!loaded || !notices.empty()) {
        const char* why = !loaded && onDisk.getLastLoadProblem() != nullptr
                              ? onDisk.getLastLoadProblem()
                              : "parts of it do not read as they are written";
        LM_LOG(Warn,
               "The configuration file %s was changed and cannot be used (%s); it is left as it "
               "is, and the changes of this run are not saved",
               target, why);
    } else {
        // Edited since this program read or wrote it: the edit stays, and
        // only what the program changed since goes in.
        applyChanges(*onDisk.getRoot(), baseline.getRoot(), *config->getRoot());
        saved = write(*onDisk.getRoot(), target);
        if (saved) {
            LM_LOG(Info, "The configuration file %s was changed meanwhile; its edits are kept",
                   target);
            // What was kept aside at start is replaced by the edit, not by this run.
            forgetUnreadableFiles();
        }
    }
    toolbox::release(target);
    delete folder;
    return saved;
}

bool TriExtApp::write(toolbox::ConfigSection& tree, const char* file) {
    toolbox::Config::BufferWriter text;
    if (!tree.write(text, 0) || !toolbox::Config::saveText(file, text.getText(), text.getLength()))
        return false;
    known.state = KnownFile::State::Bytes;
    known.content.assign(text.getText(), text.getLength());
    copyTree(*baseline.getRoot(), *config->getRoot());
    return true;
}

std::unique_ptr<toolbox::Config> TriExtApp::readAgain(std::string& problem,
                                                      toolbox::Config::Observer* observer) {
    auto staged = std::make_unique<toolbox::Config>();
    toolbox::Directory* folder = getDataDirectory();
    bool loaded = staged->load(*folder, observer);
    char* expected = configurationFileIn(*folder);
    delete folder;
    if (!loaded && staged->getLastLoadResult() == toolbox::Config::LoadResult::Missing)
        loaded = staged->loadBesideProgram(observer);
    if (loaded) {
        toolbox::release(expected);
        return staged;
    }
    if (staged->getLastLoadResult() == toolbox::Config::LoadResult::Unreadable) {
        const char* why = staged->getLastLoadProblem();
        problem =
            std::string(staged->getLastLoadedFile()) + ": " + (why != nullptr ? why : "unknown");
    } else {
        problem = std::string("there is no configuration file (") + expected + ")";
    }
    toolbox::release(expected);
    return nullptr;
}

void TriExtApp::adopt(toolbox::Config& staged) {
    // Through the file form: the text is what a load of the file would have given.
    toolbox::Config::BufferWriter text;
    staged.getRoot()->write(text, 0);
    std::string buffer(text.getText(), text.getLength());
    config->parse(buffer.data());
    forgetUnreadableFiles();
    copyTree(*baseline.getRoot(), *config->getRoot());
    // The file the save replaces counts as read, unless what was read lies beside the program.
    toolbox::Directory* folder = getDataDirectory();
    char* target = configurationFileIn(*folder);
    delete folder;
    const char* read = staged.getLastLoadedFile();
    const bool readTarget =
        read != nullptr && (sameText(read, target, "") || sameText(read, target, ".tmp"));
    known = readTarget ? describe(staged) : KnownFile{};
    toolbox::release(target);
}

toolbox::ConfigSection* TriExtApp::getConfigRoot() {
    return config->getRoot();
}

toolbox::Directory* TriExtApp::getDataDirectory() const {
    return findDataDirectory(applicationName);
}

toolbox::Directory* TriExtApp::findDataDirectory(const char* applicationName) {
    toolbox::Directory* folder = userConfigurationBase();
    if (folder != nullptr) {
        folder->append(kVendorFolder);
        folder->append(applicationName);
        if (isUsableFolder(*folder))
            return folder;
        if (folder->create() && isUsableFolder(*folder))
            return folder;
        delete folder;
    }
    return toolbox::Directory::programDirectory();
}

void TriExtApp::readWithoutCreating(const char* applicationName, toolbox::Config& into,
                                    toolbox::Config::Observer* observer, std::string& file) {
    toolbox::Directory* folder = userConfigurationBase();
    if (folder != nullptr) {
        folder->append(kVendorFolder);
        folder->append(applicationName);
        char* native = configurationFileIn(*folder);
        file = native;
        toolbox::release(native);
        const bool there = isUsableFolder(*folder);
        if (there && (into.load(*folder, observer) ||
                      into.getLastLoadResult() != toolbox::Config::LoadResult::Missing)) {
            file = into.getLastLoadedFile();
            delete folder;
            return;
        }
        delete folder;
    }
    // Without a data folder the program falls back to its own folder.
    if (into.loadBesideProgram(observer) ||
        into.getLastLoadResult() != toolbox::Config::LoadResult::Missing) {
        file = into.getLastLoadedFile();
    } else if (file.empty()) {
        toolbox::Directory* beside = toolbox::Directory::programDirectory();
        char* native = configurationFileIn(*beside);
        file = native;
        toolbox::release(native);
        delete beside;
    }
}

void TriExtApp::rememberUnreadableFile(const toolbox::Config& source, bool readOtherwise) {
    if (source.getLastLoadResult() == toolbox::Config::LoadResult::Missing ||
        (source.getLastLoadResult() == toolbox::Config::LoadResult::Loaded && !readOtherwise)) {
        return;
    }
    const char* file = source.getLastLoadedFile();
    const char* problem =
        readOtherwise ? "parts of it do not read as they are written" : source.getLastLoadProblem();
    for (UnreadableFile& unreadable : unreadableFiles) {
        // A file refused again is noted once, with its latest problem.
        if (unreadable.file == nullptr || std::strcmp(unreadable.file, file) == 0) {
            toolbox::release(unreadable.file);
            toolbox::release(unreadable.problem);
            unreadable.file = toolbox::duplicate(file);
            unreadable.problem = toolbox::duplicate(problem != nullptr ? problem : "unknown");
            unreadable.readOtherwise = readOtherwise;
            return;
        }
    }
}

void TriExtApp::forgetUnreadableFiles() {
    for (UnreadableFile& unreadable : unreadableFiles) {
        toolbox::release(unreadable.file);
        toolbox::release(unreadable.problem);
        unreadable = {};
    }
}

bool TriExtApp::keepUnreadableFiles(const toolbox::Directory& folder) {
    char* target = configurationFileIn(folder);
    bool kept = true;
    for (UnreadableFile& unreadable : unreadableFiles) {
        const char* file = unreadable.file;
        if (file == nullptr)
            continue;
        // The save replaces the file itself and rewrites its ".tmp".
        if (!sameText(file, target, "") && !sameText(file, target, ".tmp"))
            continue;
        std::size_t length = std::strlen(file);
        char* broken = static_cast<char*>(toolbox::allocate(length + sizeof ".broken"));
        std::memcpy(broken, file, length);
        std::memcpy(broken + length, ".broken", sizeof ".broken");
        if (toolbox::os::renameFile(file, broken)) {
            LM_LOG(
                Warn, "The configuration file %s %s (%s); it was kept as %s", file,
                unreadable.readOtherwise ? "was read otherwise than written" : "could not be read",
                unreadable.problem, broken);
        } else if (toolbox::os::fileExists(file)) {
            LM_LOG(Error,
                   "The configuration file %s could not be read (%s) nor kept aside; it is "
                   "left as it is and the settings are not saved",
                   file, unreadable.problem);
            kept = false;
        }
        toolbox::release(broken);
        toolbox::release(unreadable.file);
        toolbox::release(unreadable.problem);
        unreadable = {};
    }
    toolbox::release(target);
    return kept;
}

}  // namespace mfctriext
