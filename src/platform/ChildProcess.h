#pragma once
// A program started as a child of this process and watched by a thread of its
// own. The watcher only notes the end (waitid with WNOWAIT): the child stays a
// zombie until terminate() or the destructor reaps it, so its process id and
// its process group id cannot be reused while this object may still signal them.
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace linkmoot {

class ChildProcess {
public:
    struct Options {
        /// The program's path (no PATH search) followed by its arguments.
        std::vector<std::string> arguments;
        /// Added to (or replacing in) this process's environment, as "NAME=value".
        std::vector<std::string> extraEnvironment;
        /// Names removed from the inherited environment (before the extras).
        std::vector<std::string> removedVariables;
        /// Descriptors (open, close-on-exec is fine) that the child inherits as they are.
        std::vector<int> inheritedDescriptors;
        /// The child leads a process group of its own, so terminate() reaches
        /// everything a shell started.
        bool ownProcessGroup = false;
        /// When set, standard output and error are appended to this file
        /// instead of going where ours go.
        std::string outputFile;
        /// When set (0 or more), standard output and error go to this
        /// descriptor (a pipe's writing end) instead.
        int outputDescriptor = -1;
    };
    /// Called once on the watcher thread with the wait status, when the child ends.
    using ExitCallback = std::function<void(int waitStatus)>;

    ChildProcess() = default;
    /// Terminates a child that is still running and waits for the watcher.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    /// Starts the child; false with the reason (the program missing or not
    /// executable included). Standard input is /dev/null.
    bool start(const Options& options, ExitCallback onExit, std::string& error);

    bool isRunning();
    /// The wait status; meaningful once the child has ended.
    int waitStatus();
    pid_t pid() const { return childPid; }

    /// Waits for the end of the child; true when it ended within the time.
    bool waitFor(std::chrono::milliseconds timeout);
    /// SIGTERM (to the whole group when it leads one, even when it has ended
    /// itself and left members behind), then SIGKILL when something is still
    /// running after `grace`; returns when the child has been reaped.
    void terminate(std::chrono::milliseconds grace);

    /// "exit status N" or "signal NAME" for a wait status.
    static std::string describe(int waitStatus);
    /// The program's full path: `name` itself when it holds a slash, else the
    /// first executable file called so in PATH or in `extraFolders`; "" when none.
    /// An empty PATH element is skipped, not taken for the current folder.
    static std::string findProgram(const std::string& name,
                                   const std::vector<std::string>& extraFolders = {});

private:
    void watch(ExitCallback onExit);
    void signal(int number);
    bool groupHasOthers();
    void reap();

    pid_t childPid = -1;
    bool groupLeader = false;
    std::mutex mutex;
    std::condition_variable ended;
    bool exited = false;
    bool reaped = false;
    int status = 0;
    std::thread watcher;
};

/// The exit status of a shell command run to its end (or killed after the
/// timeout); false with the reason when it could not be started or timed out.
bool runToEnd(const ChildProcess::Options& options, std::chrono::milliseconds timeout,
              int& waitStatus, std::string& error);

}  // namespace linkmoot
