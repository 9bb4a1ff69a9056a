#pragma once
// Runs copies of the logger probe program (built beside the tests) in a
// temporary folder, so that the log it writes lies there and nowhere else.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/TempFolder.h"

extern char** environ;

namespace probe {

struct Result {
    int exitCode = -1;
    std::string output;  ///< standard output
    std::string errors;  ///< standard error
};

/// Copies the probe into the folder under name; returns the copy's path.
inline std::string install(const testsupport::TempFolder& folder, const std::string& name) {
    std::string target = folder.file(name);
    std::filesystem::copy_file(LOGGER_PROBE_PATH, target,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(target, std::filesystem::perms::owner_all);
    return target;
}

inline std::string readAll(int descriptor) {
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = read(descriptor, buffer, sizeof buffer)) > 0)
        text.append(buffer, got);
    close(descriptor);
    return text;
}

/// Runs program (a path, or a bare name searched along pathVariable when it
/// is given) with argv[0] = argument0 in workingFolder; waits for it. Each of
/// changes, "NAME=value" or a bare "NAME", sets or removes a variable.
inline Result run(const std::string& program, const std::string& argument0,
                  const std::vector<std::string>& arguments, const std::string& workingFolder,
                  const std::string* pathVariable = nullptr,
                  std::vector<std::string> changes = {}) {
    if (pathVariable != nullptr)
        changes.push_back("PATH=" + *pathVariable);
    auto changed = [&changes](const char* entry) {
        for (const std::string& change : changes) {
            std::string name = change.substr(0, change.find('='));
            if (std::strncmp(entry, name.c_str(), name.size()) == 0 && entry[name.size()] == '=')
                return true;
        }
        return false;
    };
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!changed(*entry))
            environment.emplace_back(*entry);
    }
    for (const std::string& change : changes) {
        if (change.find('=') != std::string::npos)
            environment.push_back(change);
    }
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> words{argument0};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    int out[2];
    int err[2];
    Result result;
    if (pipe(out) != 0 || pipe(err) != 0)
        return result;
    pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        close(out[0]);
        close(err[0]);
        if (chdir(workingFolder.c_str()) != 0)
            _exit(126);
        if (pathVariable != nullptr) {
            // execvpe searches the caller's own PATH.
            setenv("PATH", pathVariable->c_str(), 1);
            execvpe(program.c_str(), argv.data(), envp.data());
        } else {
            execve(program.c_str(), argv.data(), envp.data());
        }
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    // The probe's output is small: reading one pipe to its end cannot block the other.
    result.output = readAll(out[0]);
    result.errors = readAll(err[0]);
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    return result;
}

}  // namespace probe
