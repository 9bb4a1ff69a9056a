#include "platform/CommandDialService.h"

#include <sys/wait.h>

#include <chrono>
#include <memory>

#include "ToolBox/Config.h"
#include "ToolBox/Logger.h"
#include "platform/ChildProcess.h"

namespace linkmoot {

namespace {

constexpr auto kStatusTimeout = std::chrono::seconds(10);
constexpr auto kHangUpTimeout = std::chrono::seconds(30);
constexpr auto kTerminationGrace = std::chrono::seconds(5);

constexpr const char* kEntryVariable = "LINKMOOT_ENTRY";
constexpr const char* kUserVariable = "LINKMOOT_USER";
constexpr const char* kPasswordVariable = "LINKMOOT_PASSWORD";

ChildProcess::Options shellCommand(const std::string& command, const std::string& entry,
                                   const std::string& userName) {
    ChildProcess::Options options;
    options.arguments = {"/bin/sh", "-c", command};
    options.removedVariables = {kPasswordVariable};
    options.extraEnvironment = {std::string(kEntryVariable) + "=" + entry,
                                std::string(kUserVariable) + "=" + userName};
    options.ownProcessGroup = true;
    return options;
}

}  // namespace

CommandDialService::CommandDialService(Settings settings) : settings(settings) {}

CommandDialService::~CommandDialService() {
    setFailureCallback(nullptr);
    std::vector<DialHandle> open;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto& [handle, call] : calls)
            open.push_back(handle);
    }
    for (DialHandle handle : open)
        hangUp(handle);
}

std::string CommandDialService::command(const TextKey& key) {
    return settings.get(key);
}

bool CommandDialService::dial(const DialRequest& request, DialHandle& handle, std::string& error) {
    handle = 0;
    const std::string dialCommand = command(keys::DialCommand);
    if (dialCommand.empty()) {
        error = "no dial command is set";
        LM_LOG(Error,
               "Cannot dial with commands: %s; set Server/DialCommand (see "
               "docs/dialup-services.md) or choose another Server/Dialer",
               error.c_str());
        return false;
    }
    ChildProcess::Options options = shellCommand(dialCommand, request.entry, request.userName);
    options.extraEnvironment.push_back(std::string(kPasswordVariable) + "=" + request.password);

    std::lock_guard<std::mutex> lock(mutex);
    const DialHandle newHandle = nextHandle++;
    Call& call = calls[newHandle];
    call.since = ++epoch;
    call.entry = request.entry;
    call.userName = request.userName;
    call.dialCommand = std::make_unique<ChildProcess>();
    std::string startError;
    const bool started = call.dialCommand->start(
        options, [this, newHandle](int waitStatus) { dialCommandEnded(newHandle, waitStatus); },
        startError);
    for (std::string& variable : options.extraEnvironment)
        explicit_bzero(variable.data(), variable.size());
    if (!started) {
        calls.erase(newHandle);
        error = startError;
        LM_LOG(Error, "Cannot run the dial command: %s", error.c_str());
        return false;
    }
    handle = newHandle;
    LM_LOG(Info, "Started the dial command for \"%s\" (process %d)", request.entry.c_str(),
           static_cast<int>(call.dialCommand->pid()));
    return true;
}

void CommandDialService::dialCommandEnded(DialHandle handle, int waitStatus) {
    std::string reason;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto found = calls.find(handle);
        if (found == calls.end() || found->second.hungUp)
            return;
        if (WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0) {
            LM_LOG(Debug, "The dial command for \"%s\" ended successfully",
                   found->second.entry.c_str());
            return;
        }
        found->second.reported = true;
        reason = "the dial command for \"" + found->second.entry + "\" failed with " +
                 ChildProcess::describe(waitStatus);
        LM_LOG(Warn, "%s; check Server/DialCommand", reason.c_str());
    }
    failures.report(handle, reason);
}

void CommandDialService::hangUp(DialHandle handle) {
    Call call;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto found = calls.find(handle);
        if (found == calls.end())
            return;
        found->second.hungUp = true;
        call = std::move(found->second);
        calls.erase(found);
        epoch++;
    }
    const std::string hangUpCommand = command(keys::HangUpCommand);
    auto shared = std::make_shared<Call>(std::move(call));
    hangUps.post(
        [this, shared, hangUpCommand] { hangUpInBackground(std::move(*shared), hangUpCommand); });
}

void CommandDialService::hangUpInBackground(Call call, const std::string& hangUpCommand) {
    if (!hangUpCommand.empty()) {
        int waitStatus = 0;
        std::string error;
        if (!runToEnd(shellCommand(hangUpCommand, call.entry, call.userName), kHangUpTimeout,
                      waitStatus, error))
            LM_LOG(Warn, "The hang-up command failed: %s; check Server/HangUpCommand",
                   error.c_str());
        else if (!WIFEXITED(waitStatus) || WEXITSTATUS(waitStatus) != 0)
            LM_LOG(Warn, "The hang-up command failed with %s; check Server/HangUpCommand",
                   ChildProcess::describe(waitStatus).c_str());
    }
    // A dial command still running, or what it left running in its process
    // group, would keep (or bring back) the line.
    if (call.dialCommand)
        call.dialCommand->terminate(kTerminationGrace);
}

bool CommandDialService::endedUnseen(Call& call, LineState line) {
    if (line == LineState::Connected)
        call.seenUp = true;
    // The dial command is done and the line never came up: without a report
    // the caller would wait for this dial for ever.
    if (line == LineState::Disconnected && !call.seenUp && !call.reported &&
        !call.dialCommand->isRunning()) {
        call.reported = true;
        return true;
    }
    return false;
}

LineState CommandDialService::state(DialHandle handle) {
    const std::string statusCommand = command(keys::StatusCommand);
    std::string entry;
    LineState line = LineState::Pending;
    bool report = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto found = calls.find(handle);
        if (found == calls.end())
            return LineState::Disconnected;
        Call& call = found->second;
        entry = call.entry;
        if (statusCommand.empty()) {
            line = call.dialCommand->isRunning() ? LineState::Connected : LineState::Disconnected;
            report = endedUnseen(call, line);
        } else {
            line = call.answer;
            if (!queryRunning) {
                queryRunning = true;
                const uint64_t started = epoch;
                queries.post([this, handle, started, statusCommand] {
                    queryState(handle, started, statusCommand);
                });
            }
        }
    }
    if (report) {
        const std::string reason =
            "the dial command for \"" + entry + "\" ended and the line did not come up";
        LM_LOG(Warn, "%s", reason.c_str());
        failures.report(handle, reason);
    }
    return line;
}

std::string CommandDialService::interfaceName(DialHandle handle) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto found = calls.find(handle);
        if (found == calls.end() ||
            !(found->second.seenUp || found->second.answer == LineState::Connected))
            return {};
    }
    return settings.get(keys::CommandInterface).value_or("");
}

void CommandDialService::queryState(DialHandle handle, uint64_t started,
                                    const std::string& statusCommand) {
    std::string entry;
    std::string userName;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto found = calls.find(handle);
        if (found == calls.end()) {
            queryRunning = false;
            return;
        }
        entry = found->second.entry;
        userName = found->second.userName;
    }
    LineState result = LineState::QueryFailed;
    int waitStatus = 0;
    std::string error;
    if (!runToEnd(shellCommand(statusCommand, entry, userName), kStatusTimeout, waitStatus,
                  error)) {
        LM_LOG(Warn, "The status command failed: %s; check Server/StatusCommand", error.c_str());
    } else if (WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0) {
        result = LineState::Connected;
    } else if (WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 1) {
        result = LineState::Disconnected;
    } else {
        LM_LOG(Debug, "The status command answered %s", ChildProcess::describe(waitStatus).c_str());
    }

    bool report = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        queryRunning = false;
        auto found = calls.find(handle);
        // An answer to a query that began before this handle's dial or
        // hang-up says nothing about the line as it is now.
        if (found == calls.end() || started < found->second.since)
            return;
        found->second.answer = result;
        report = endedUnseen(found->second, result);
    }
    if (report) {
        const std::string reason =
            "the dial command for \"" + entry + "\" ended and the line did not come up";
        LM_LOG(Warn, "%s", reason.c_str());
        failures.report(handle, reason);
    }
}

void CommandDialService::setFailureCallback(FailureCallback newCallback) {
    failures.set(std::move(newCallback));
}

}  // namespace linkmoot
