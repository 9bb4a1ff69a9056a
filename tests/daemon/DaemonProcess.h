#pragma once
// Runs the real linkmootd and linkmootctl for the process-level tests: each
// instance gets its own folders (configuration, runtime) and its own copy of
// the program, so its log lies beside that copy. Everything is killed and
// reaped by the destructor, so a failing test leaves nothing running.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef LINKMOOTD_PATH
#error "LINKMOOTD_PATH must name the built linkmootd"
#endif

namespace daemontest {

/// Nothing answers there: no test may reach the machine's real services.
inline constexpr const char* kNoBus = "unix:path=/nonexistent/linkmoot-test-bus";

inline std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// Polls a condition every 100 ms until it holds or the time is up.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

/// The configuration file in the tagged format, lines ended by CR LF.
inline std::string configText(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

struct CommandResult {
    int exitStatus = -1;
    std::string out;
    std::string err;
};

/// Runs a program with extra environment entries, waits at most timeoutMs
/// (then kills it) and collects its output.
inline CommandResult runProgram(const std::vector<std::string>& arguments,
                                const std::vector<std::string>& environment,
                                int timeoutMs = 20000) {
    CommandResult result;
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
        return result;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, 0);
        for (const std::string& entry : environment)
            putenv(const_cast<char*>(entry.c_str()));
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
        if (poll(fds, 2, 100) <= 0)
            continue;
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            ssize_t got = read(fds[i].fd, buffer, sizeof(buffer));
            if (got <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                open--;
            } else {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(got));
            }
        }
    }
    for (pollfd& entry : fds) {
        if (entry.fd >= 0)
            close(entry.fd);
    }
    int status = 0;
    bool ended = waitUntil(
        [&] { return waitpid(pid, &status, WNOHANG) == pid; },
        static_cast<int>(std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  deadline - std::chrono::steady_clock::now())
                                                  .count())));
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        result.exitStatus = -1;
        return result;
    }
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

/// One linkmootd instance with folders of its own below `base`.
class Instance {
public:
    Instance(const std::string& base, const std::string& name) : root(base + "/" + name) {
        std::filesystem::create_directories(root + "/bin");
        std::filesystem::create_directories(root + "/config");
        std::filesystem::create_directories(root + "/runtime");
        std::filesystem::permissions(root + "/runtime", std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace);
        std::filesystem::copy_file(LINKMOOTD_PATH, program(),
                                   std::filesystem::copy_options::overwrite_existing);
    }
    ~Instance() { kill(); }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    std::string program() const { return root + "/bin/linkmootd"; }
    std::string logFile() const { return root + "/bin/linkmootd.log"; }
    std::string configFolder() const { return root + "/config/Fennel Brookworks/Linkmoot"; }
    std::string configFile() const { return configFolder() + "/linkmootd.cfg"; }
    std::string runtimeFolder() const { return root + "/runtime"; }
    std::string socketPath() const { return runtimeFolder() + "/linkmoot.sock"; }
    std::string stderrFile() const { return root + "/stderr.txt"; }

    std::vector<std::string> environment() const {
        std::vector<std::string> env{"XDG_CONFIG_HOME=" + root + "/config",
                                     "XDG_RUNTIME_DIR=" + runtimeFolder(),
                                     std::string("DBUS_SYSTEM_BUS_ADDRESS=") + kNoBus};
        env.insert(env.end(), extraEnvironment.begin(), extraEnvironment.end());
        return env;
    }
    /// More NAME=VALUE entries for the daemon (and linkmootctl).
    std::vector<std::string> extraEnvironment;

    void writeConfig(const std::vector<std::string>& lines) const {
        std::filesystem::create_directories(configFolder());
        std::ofstream(configFile(), std::ios::binary) << configText(lines);
    }

    /// Starts the daemon in the background, standard input from /dev/null.
    void start(const std::vector<std::string>& arguments = {"/log:debug"}) {
        pid = fork();
        if (pid == 0) {
            int devNull = open("/dev/null", O_RDONLY);
            dup2(devNull, 0);
            int err = open(stderrFile().c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            dup2(err, 2);
            dup2(err, 1);
            std::vector<std::string> env = environment();
            for (const std::string& entry : env)
                putenv(const_cast<char*>(entry.c_str()));
            std::string path = program();
            std::vector<char*> argv{path.data()};
            for (const std::string& argument : arguments)
                argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }

    /// Runs linkmootctl against this instance.
    CommandResult ctl(const std::vector<std::string>& arguments, int timeoutMs = 20000) const {
        std::vector<std::string> argv{LINKMOOTCTL_PATH};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return runProgram(argv, environment(), timeoutMs);
    }

    bool waitUntilAnswering(int timeoutMs = 10000) const {
        return waitUntil(
            [this] {
                return ctl({"status", "--timeout=2"}, 5000).exitStatus == 0;
            },
            timeoutMs);
    }

    /// Waits for the process to end; its exit status, or -1 when it did not
    /// end in time (or died by a signal).
    int waitForExit(int timeoutMs = 15000) {
        if (pid <= 0)
            return exitStatus;
        int status = 0;
        bool ended = waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeoutMs);
        if (!ended)
            return -1;
        pid = -1;
        exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return exitStatus;
    }

    void signal(int number) const {
        if (pid > 0)
            ::kill(pid, number);
    }
    bool running() const { return pid > 0; }
    pid_t processId() const { return pid; }

    std::string log() const { return readWhole(logFile()); }
    std::string errors() const { return readWhole(stderrFile()); }

    void kill() {
        if (pid <= 0)
            return;
        ::kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }

private:
    std::string root;
    pid_t pid = -1;
    int exitStatus = -1;
};

/// A UDP port that was free a moment ago: the system picks it.
inline int freeUdpPort() {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

}  // namespace daemontest
