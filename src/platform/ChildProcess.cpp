#include "platform/ChildProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace linkmoot {

namespace {

std::string errorText(int code) {
    char buffer[256];
    return strerror_r(code, buffer, sizeof buffer);
}

bool hasName(const std::string& entry, const std::string& name) {
    return entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 &&
           entry[name.size()] == '=';
}

std::vector<std::string> buildEnvironment(const ChildProcess::Options& options) {
    std::vector<std::string> result;
    std::size_t count = options.extraEnvironment.size();
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry)
        ++count;
    // No reallocation: moved strings would leave copies of the extras behind.
    result.reserve(count);
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string text = *entry;
        bool dropped = false;
        for (const std::string& name : options.removedVariables)
            dropped |= hasName(text, name);
        for (const std::string& extra : options.extraEnvironment)
            dropped |= hasName(text, extra.substr(0, extra.find('=')));
        if (!dropped)
            result.push_back(text);
    }
    result.insert(result.end(), options.extraEnvironment.begin(), options.extraEnvironment.end());
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (std::string& text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

// The wait status that waitpid() would have given for what waitid() saw.
int waitStatusOf(const siginfo_t& info) {
    switch (info.si_code) {
        case CLD_EXITED:
            return W_EXITCODE(info.si_status, 0);
        case CLD_DUMPED:
            return info.si_status | WCOREFLAG;
        default:
            return info.si_status;
    }
}

// Whether a process other than `leader` that has not ended is in the group.
bool groupHasMembersBesides(pid_t group, pid_t leader) {
    DIR* proc = opendir("/proc");
    if (proc == nullptr)
        return false;
    bool found = false;
    while (!found) {
        const dirent* entry = readdir(proc);
        if (entry == nullptr)
            break;
        char* end = nullptr;
        const long pid = strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || pid == leader)
            continue;
        char path[64];
        snprintf(path, sizeof path, "/proc/%ld/stat", pid);
        const int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        char text[512];
        const ssize_t length = read(fd, text, sizeof text - 1);
        close(fd);
        if (length <= 0)
            continue;
        text[length] = '\0';
        // "pid (name) state ppid pgrp ...": the name may hold anything, even ')'.
        const char* afterName = strrchr(text, ')');
        char state = 0;
        int parent = 0;
        int processGroup = 0;
        if (afterName != nullptr &&
            sscanf(afterName + 1, " %c %d %d", &state, &parent, &processGroup) == 3 &&
            processGroup == group && state != 'Z' && state != 'X')
            found = true;
    }
    closedir(proc);
    return found;
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (childPid > 0 && isRunning())
        terminate(std::chrono::seconds(5));
    if (watcher.joinable())
        watcher.join();
    reap();
}

bool ChildProcess::start(const Options& options, ExitCallback onExit, std::string& error) {
    if (options.arguments.empty()) {
        error = "no program given";
        return false;
    }
    std::vector<std::string> argumentTexts = options.arguments;
    std::vector<std::string> environmentTexts = buildEnvironment(options);
    std::vector<char*> argv = pointers(argumentTexts);
    std::vector<char*> envp = pointers(environmentTexts);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (!options.outputFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, options.outputFile.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    } else if (options.outputDescriptor >= 0) {
        posix_spawn_file_actions_adddup2(&actions, options.outputDescriptor, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, options.outputDescriptor, STDERR_FILENO);
    }
    // dup2 onto itself clears close-on-exec for the child only.
    for (int descriptor : options.inheritedDescriptors)
        posix_spawn_file_actions_adddup2(&actions, descriptor, descriptor);

    // The caller's thread may block signals (a daemon's signal handling);
    // the child starts with none blocked and every handler at its default.
    sigset_t noSignals;
    sigset_t allSignals;
    sigemptyset(&noSignals);
    sigfillset(&allSignals);
    posix_spawnattr_setsigmask(&attributes, &noSignals);
    posix_spawnattr_setsigdefault(&attributes, &allSignals);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (options.ownProcessGroup) {
        flags |= POSIX_SPAWN_SETPGROUP;
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    posix_spawnattr_setflags(&attributes, flags);

    pid_t started = -1;
    const int result =
        posix_spawn(&started, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    // The extras may hold a password; the child has its own copy now.
    for (std::string& text : environmentTexts)
        explicit_bzero(text.data(), text.size());
    if (result != 0) {
        error = "cannot start " + options.arguments[0] + ": " + errorText(result);
        return false;
    }
    childPid = started;
    groupLeader = options.ownProcessGroup;
    watcher = std::thread(&ChildProcess::watch, this, std::move(onExit));
    return true;
}

void ChildProcess::watch(ExitCallback onExit) {
    // WNOWAIT leaves the zombie: until reap(), the ids still name our child.
    siginfo_t info{};
    int result = 0;
    while ((result = waitid(P_PID, static_cast<id_t>(childPid), &info, WEXITED | WNOWAIT)) < 0 &&
           errno == EINTR) {
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        exited = true;
        // Failing, someone else reaped it (SIGCHLD ignored): the status is unknown.
        reaped = result < 0;
        status = result < 0 ? 0 : waitStatusOf(info);
    }
    ended.notify_all();
    if (onExit)
        onExit(waitStatus());
}

bool ChildProcess::isRunning() {
    std::lock_guard<std::mutex> lock(mutex);
    return childPid > 0 && !exited;
}

int ChildProcess::waitStatus() {
    std::lock_guard<std::mutex> lock(mutex);
    return status;
}

bool ChildProcess::waitFor(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    return ended.wait_for(lock, timeout, [this] { return exited; });
}

void ChildProcess::signal(int number) {
    std::lock_guard<std::mutex> lock(mutex);
    // Not yet reaped, so the id (and the group) still belong to our child: the
    // group's members left behind by a leader that has ended are ours too.
    if (childPid <= 0 || reaped)
        return;
    if (groupLeader)
        kill(-childPid, number);
    else if (!exited)
        kill(childPid, number);
}

bool ChildProcess::groupHasOthers() {
    return groupLeader && groupHasMembersBesides(childPid, childPid);
}

void ChildProcess::reap() {
    std::lock_guard<std::mutex> lock(mutex);
    if (childPid <= 0 || !exited || reaped)
        return;
    int ignored = 0;
    while (waitpid(childPid, &ignored, 0) < 0 && errno == EINTR) {
    }
    reaped = true;
}

void ChildProcess::terminate(std::chrono::milliseconds grace) {
    if (childPid <= 0)
        return;
    const auto deadline = std::chrono::steady_clock::now() + grace;
    signal(SIGTERM);
    const bool leaderEnded = waitFor(grace);
    // What the leader started may outlive it; it gets the rest of the grace.
    while (leaderEnded && groupHasOthers() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!leaderEnded || groupHasOthers()) {
        signal(SIGKILL);
        waitFor(std::chrono::hours(1));
    }
    if (watcher.joinable() && watcher.get_id() != std::this_thread::get_id())
        watcher.join();
    reap();
}

std::string ChildProcess::describe(int waitStatus) {
    if (WIFEXITED(waitStatus))
        return "exit status " + std::to_string(WEXITSTATUS(waitStatus));
    if (WIFSIGNALED(waitStatus)) {
        const char* name = sigabbrev_np(WTERMSIG(waitStatus));
        return std::string("signal ") +
               (name != nullptr ? std::string("SIG") + name : std::to_string(WTERMSIG(waitStatus)));
    }
    return "wait status " + std::to_string(waitStatus);
}

std::string ChildProcess::findProgram(const std::string& name,
                                      const std::vector<std::string>& extraFolders) {
    if (name.empty())
        return "";
    if (name.find('/') != std::string::npos)
        return isExecutableFile(name) ? name : "";
    std::vector<std::string> folders;
    const char* path = getenv("PATH");
    std::string list = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t begin = 0;
    while (begin <= list.size()) {
        size_t end = list.find(':', begin);
        if (end == std::string::npos)
            end = list.size();
        // An empty element would mean the current folder: whoever controls
        // that folder would choose the program.
        if (end > begin)
            folders.push_back(list.substr(begin, end - begin));
        begin = end + 1;
    }
    folders.insert(folders.end(), extraFolders.begin(), extraFolders.end());
    for (const std::string& folder : folders) {
        const std::string candidate = folder + "/" + name;
        if (isExecutableFile(candidate))
            return candidate;
    }
    return "";
}

bool runToEnd(const ChildProcess::Options& options, std::chrono::milliseconds timeout,
              int& waitStatus, std::string& error) {
    ChildProcess child;
    if (!child.start(options, {}, error))
        return false;
    if (!child.waitFor(timeout)) {
        child.terminate(std::chrono::seconds(2));
        error = options.arguments.back() + " did not end within " +
                std::to_string(timeout.count() / 1000) + " s";
        return false;
    }
    waitStatus = child.waitStatus();
    return true;
}

}  // namespace linkmoot
