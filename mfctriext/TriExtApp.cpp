#include "mfctriext/TriExtApp.h"

#include <cstdlib>
#include <cstring>

#include "ToolBox/Config.h"
#include "ToolBox/Directory.h"
#include "ToolBox/Logger.h"
#include "ToolBox/Memory.h"
#include "ToolBox/posix/FileStore.h"

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

}  // namespace

TriExtApp::TriExtApp(const char* applicationName)
    : applicationName(toolbox::duplicate(applicationName)),
      config(toolbox::create<toolbox::Config>()) {
    toolbox::Directory* folder = getDataDirectory();
    bool loaded = config->load(*folder);
    delete folder;
    if (!loaded) {
        rememberUnreadableFile(*config);
        // Nothing to say when this fails too: the application starts unconfigured.
        if (!config->loadBesideProgram())
            rememberUnreadableFile(*config);
    }
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

bool TriExtApp::saveNow() {
    toolbox::Directory* folder = getDataDirectory();
    // A file that could not be read would be replaced by an almost empty
    // tree; it is renamed aside first, and kept untouched if that fails.
    bool saved = keepUnreadableFiles(*folder) && config->save(*folder);
    delete folder;
    return saved;
}

std::unique_ptr<toolbox::Config> TriExtApp::readAgain(std::string& problem) {
    auto staged = std::make_unique<toolbox::Config>();
    toolbox::Directory* folder = getDataDirectory();
    bool loaded = staged->load(*folder);
    char* expected = configurationFileIn(*folder);
    delete folder;
    if (!loaded && staged->getLastLoadResult() == toolbox::Config::LoadResult::Missing)
        loaded = staged->loadBesideProgram();
    if (loaded) {
        toolbox::release(expected);
        return staged;
    }
    if (staged->getLastLoadResult() == toolbox::Config::LoadResult::Unreadable) {
        const char* why = staged->getLastLoadProblem();
        problem =
            std::string(staged->getLastLoadedFile()) + ": " + (why != nullptr ? why : "unknown");
        rememberUnreadableFile(*staged);
    } else {
        problem = std::string("there is no configuration file (") + expected + ")";
    }
    toolbox::release(expected);
    return nullptr;
}

void TriExtApp::adopt(toolbox::Config& staged) {
    // Through the file form: the tree has no copy of its own, and the text is
    // what a load of the file would have given.
    toolbox::Config::BufferWriter text;
    staged.getRoot()->write(text, 0);
    std::string buffer(text.getText(), text.getLength());
    config->parse(buffer.data());
    forgetUnreadableFiles();
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

void TriExtApp::rememberUnreadableFile(const toolbox::Config& source) {
    if (source.getLastLoadResult() != toolbox::Config::LoadResult::Unreadable)
        return;
    const char* file = source.getLastLoadedFile();
    const char* problem = source.getLastLoadProblem();
    for (UnreadableFile& unreadable : unreadableFiles) {
        // A file refused again is noted once, with its latest problem.
        if (unreadable.file == nullptr || std::strcmp(unreadable.file, file) == 0) {
            toolbox::release(unreadable.file);
            toolbox::release(unreadable.problem);
            unreadable.file = toolbox::duplicate(file);
            unreadable.problem = toolbox::duplicate(problem != nullptr ? problem : "unknown");
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
            LM_LOG(Warn, "The configuration file %s could not be read (%s); it was kept as %s",
                   file, unreadable.problem, broken);
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
