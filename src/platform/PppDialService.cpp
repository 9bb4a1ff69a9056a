#include "platform/PppDialService.h"

#include <dirent.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "ToolBox/Config.h"
#include "ToolBox/Logger.h"
#include "platform/ChildProcess.h"
#include "platform/SysfsInterfaceCounters.h"

namespace linkmoot {

namespace {

constexpr auto kTerminationGrace = std::chrono::seconds(10);
// Polls (about a second each) that a pppd saying nothing at all is waited for.
constexpr uint32_t kSilentPolls = 20;
constexpr std::size_t kLongestLine = 1024;

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool isPeerName(const std::string& name) {
    return !name.empty() && name[0] != '.' && !endsWith(name, "~") &&
           name.find(".dpkg-") == std::string::npos;
}

// A name that cannot leave the peers folder.
bool isSafePeerName(const std::string& name) {
    return !name.empty() && name[0] != '.' && name.find('/') == std::string::npos &&
           name.find("..") == std::string::npos;
}

// Appends the password as a quoted word of a pppd options file. The caller
// reserves room for the worst case, so no reallocation leaves a copy behind.
void appendQuotedOptionWord(std::string& result, const std::string& text) {
    result += '"';
    for (unsigned char character : text) {
        if (character == '"' || character == '\\') {
            result += '\\';
            result += static_cast<char>(character);
        } else if (character < 0x20 || character == 0x7F) {
            char octal[8];
            snprintf(octal, sizeof octal, "\\%03o", character);
            result += octal;
            explicit_bzero(octal, sizeof octal);
        } else {
            result += static_cast<char>(character);
        }
    }
    result += '"';
}

// What the user can do about an exit status, where pppd's meaning suggests it.
const char* exitCodeHint(int code) {
    switch (code) {
        case 2:
            return "; check the peer file (options that need root are refused to other users)";
        case 3:
            return "; run the server as root, or add its user to the group dip";
        case 4:
            return "; load the kernel's PPP support (modprobe ppp_generic)";
        case 6:
        case 7:
            return "; is the modem plugged in, and may the server's user open it (group dialout)?";
        case 19:
            return "; check Server/UserName and Server/Password or the peer's secrets file";
        default:
            return "";
    }
}

}  // namespace

PppDialService::PppDialService(Settings settings, InterfaceCounters* given)
    : settings(settings),
      ownInterfaces(given != nullptr ? nullptr : std::make_unique<SysfsInterfaceCounters>()),
      interfaces(given != nullptr ? *given : *ownInterfaces) {}

PppDialService::Call::~Call() {
    if (output >= 0)
        close(output);
}

PppDialService::~PppDialService() {
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

const char* PppDialService::exitCodeMeaning(int code) {
    switch (code) {
        case 0:
            return "the connection was terminated at the peer's request";
        case 1:
            return "an immediately fatal error occurred";
        case 2:
            return "an error was detected in processing the options";
        case 3:
            return "pppd is not setuid-root and the invoking user is not root";
        case 4:
            return "the kernel does not support PPP";
        case 5:
            return "pppd was terminated by a signal";
        case 6:
            return "the serial port could not be locked";
        case 7:
            return "the serial port could not be opened";
        case 8:
            return "the connect script failed";
        case 9:
            return "the pty command could not be run";
        case 10:
            return "the PPP negotiation failed";
        case 11:
            return "the peer failed or refused to authenticate itself";
        case 12:
            return "the link was terminated because it was idle";
        case 13:
            return "the link was terminated because the connect time limit was reached";
        case 14:
            return "callback was negotiated and an incoming call should arrive shortly";
        case 15:
            return "the peer is not responding to echo requests";
        case 16:
            return "the modem hung up";
        case 17:
            return "the PPP negotiation failed because serial loopback was detected";
        case 18:
            return "the init script failed";
        case 19:
            return "we failed to authenticate ourselves to the peer";
        default:
            return "unknown exit status";
    }
}

std::string PppDialService::peersFolder() {
    return settings.get(keys::PppPeersFolder);
}

std::string PppDialService::findPppProgram() {
    const std::string program = settings.get(keys::PppProgram);
    // pppd lives in sbin, which an ordinary user's PATH often lacks.
    return ChildProcess::findProgram(program, {"/usr/sbin", "/sbin"});
}

std::vector<std::string> PppDialService::peerNames() {
    return listPeers(peersFolder());
}

std::vector<std::string> PppDialService::listPeers(const std::string& folder) {
    std::vector<std::string> names;
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) {
        LM_LOG(Warn,
               "Cannot read the pppd peers folder %s: %s; install the ppp package and create a "
               "peer there (see docs/dialup-services.md)",
               folder.c_str(), strerror(errno));
        return names;
    }
    while (dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (!isPeerName(name))
            continue;
        struct stat info {};
        if (stat((folder + "/" + name).c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        names.push_back(name);
    }
    closedir(directory);
    std::sort(names.begin(), names.end());
    return names;
}

bool PppDialService::dialable(const std::string& peer, std::string& program, std::string& error) {
    if (!isSafePeerName(peer)) {
        error = "\"" + peer + "\" is not a pppd peer name";
        LM_LOG(Error, "Cannot dial with pppd: %s; choose a peer in the server options",
               error.c_str());
        return false;
    }
    const std::string folder = peersFolder();
    struct stat info {};
    if (stat((folder + "/" + peer).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "there is no pppd peer \"" + peer + "\" in " + folder;
        LM_LOG(Error,
               "Cannot dial with pppd: %s; create it (see docs/dialup-services.md) or choose "
               "another peer in the server options",
               error.c_str());
        return false;
    }
    program = findPppProgram();
    if (program.empty()) {
        const std::string wanted = settings.get(keys::PppProgram);
        error = "pppd is not installed (looked for \"" + wanted + "\" on PATH and in /usr/sbin)";
        LM_LOG(Error, "Cannot dial with pppd: %s; install the ppp package or set Server/PppProgram",
               error.c_str());
        return false;
    }
    return true;
}

namespace {

/// Hands the password to pppd as an options file read from a pipe, so it is
/// never on a command line; the pipe's read end goes to the child.
bool passPassword(const std::string& password, ChildProcess::Options& options, int& readEnd,
                  std::string& error) {
    int ends[2] = {-1, -1};
    if (pipe2(ends, O_CLOEXEC) != 0) {
        error = std::string("cannot create a pipe for the password: ") + strerror(errno);
        return false;
    }
    // A few hundred bytes fit the pipe's buffer, so this never blocks.
    std::string text;
    text.reserve(16 + 4 * password.size());
    text = "password ";
    appendQuotedOptionWord(text, password);
    text += '\n';
    const ssize_t written = write(ends[1], text.data(), text.size());
    explicit_bzero(text.data(), text.size());
    close(ends[1]);
    if (written != static_cast<ssize_t>(text.size())) {
        close(ends[0]);
        error = "cannot hand the password to pppd";
        return false;
    }
    readEnd = ends[0];
    options.inheritedDescriptors.push_back(readEnd);
    options.arguments.insert(options.arguments.end(),
                             {"file", "/dev/fd/" + std::to_string(readEnd)});
    return true;
}

}  // namespace

bool PppDialService::dial(const DialRequest& request, DialHandle& handle, std::string& error) {
    handle = 0;
    const std::string& peer = request.entry;
    std::string program;
    if (!dialable(peer, program, error))
        return false;

    ChildProcess::Options options;
    options.arguments = {program, "call", peer, "nodetach"};
    // pppd logs every line to syslog with its own priority and, with
    // nodetach, a copy to standard output. That copy comes to us through a
    // pipe (below): it tells the interface and when the line is up, and is
    // not logged again (but at Debug), so the journal has each line once.
    // linkname is a privileged option: only root may give it.
    if (geteuid() == 0)
        options.arguments.insert(options.arguments.end(), {"linkname", peer});
    if (!request.userName.empty())
        options.arguments.insert(options.arguments.end(), {"user", request.userName});

    int passwordPipe = -1;
    if (!request.password.empty() &&
        !passPassword(request.password, options, passwordPipe, error)) {
        LM_LOG(Error, "Cannot dial with pppd: %s", error.c_str());
        return false;
    }

    // pppd's log lines, which tell the interface and when the line is up.
    int outputPipe[2] = {-1, -1};
    if (pipe2(outputPipe, O_CLOEXEC) == 0) {
        fcntl(outputPipe[0], F_SETFL, O_NONBLOCK);
        options.outputDescriptor = outputPipe[1];
    }

    std::lock_guard<std::mutex> lock(mutex);
    const DialHandle newHandle = nextHandle++;
    Call& call = calls[newHandle];
    call.entry = peer;
    call.output = outputPipe[0];
    call.child = std::make_unique<ChildProcess>();
    std::string startError;
    const bool started = call.child->start(
        options, [this, newHandle](int waitStatus) { childEnded(newHandle, waitStatus); },
        startError);
    if (passwordPipe >= 0)
        close(passwordPipe);
    if (outputPipe[1] >= 0)
        close(outputPipe[1]);
    if (!started) {
        calls.erase(newHandle);
        error = startError;
        if (startError.find(strerror(EACCES)) != std::string::npos)
            LM_LOG(Error,
                   "Cannot dial with pppd: %s; add the server's user to the group dip "
                   "(adduser USER dip) or run the server as root",
                   error.c_str());
        else
            LM_LOG(Error, "Cannot dial with pppd: %s", error.c_str());
        return false;
    }
    handle = newHandle;
    LM_LOG(Info, "Started pppd for peer \"%s\" (process %d)", peer.c_str(),
           static_cast<int>(call.child->pid()));
    return true;
}

void PppDialService::childEnded(DialHandle handle, int waitStatus) {
    std::string reason;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto found = calls.find(handle);
        if (found == calls.end() || found->second.hungUp)
            return;
        Call& call = found->second;
        const bool failed = !WIFEXITED(waitStatus) || WEXITSTATUS(waitStatus) != 0;
        if (!failed) {
            LM_LOG(Info, "pppd for peer \"%s\" ended: %s", call.entry.c_str(), exitCodeMeaning(0));
            return;
        }
        call.reported = true;
        if (WIFEXITED(waitStatus)) {
            const int code = WEXITSTATUS(waitStatus);
            reason = "pppd for peer \"" + call.entry + "\" ended with exit status " +
                     std::to_string(code) + " (" + exitCodeMeaning(code) + ")";
            LM_LOG(Warn, "%s%s", reason.c_str(), exitCodeHint(code));
        } else {
            reason = "pppd for peer \"" + call.entry + "\" ended by " +
                     ChildProcess::describe(waitStatus);
            LM_LOG(Warn, "%s", reason.c_str());
        }
    }
    failures.report(handle, reason);
}

void PppDialService::hangUp(DialHandle handle) {
    std::unique_ptr<ChildProcess> child;
    std::string entry;
    int output = -1;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto found = calls.find(handle);
        if (found == calls.end())
            return;
        found->second.hungUp = true;
        child = std::move(found->second.child);
        entry = found->second.entry;
        output = found->second.output;
        found->second.output = -1;
        calls.erase(found);
    }
    // Off the caller's thread, and outside the lock: the watcher takes it
    // when the child ends, and the end may take the whole grace time. Its
    // output stays open until then: pppd logs while it closes the link.
    if (child && child->isRunning()) {
        LM_LOG(Debug, "Stopping pppd for peer \"%s\" (process %d)", entry.c_str(),
               static_cast<int>(child->pid()));
        auto shared = std::shared_ptr<ChildProcess>(std::move(child));
        stopping.post([shared, output] {
            shared->terminate(kTerminationGrace);
            if (output >= 0)
                close(output);
        });
    } else if (output >= 0) {
        close(output);
    }
}

LineState PppDialService::state(DialHandle handle) {
    bool endedUnseen = false;
    std::string entry;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto found = calls.find(handle);
        if (found == calls.end() || !found->second.child)
            return LineState::Disconnected;
        Call& call = found->second;
        if (call.child->isRunning()) {
            call.seenRunning = true;
            return runningState(call);
        }
        // Ended cleanly before anyone saw it run: without a report the
        // caller would wait for this dial for ever.
        if (!call.seenRunning && !call.reported) {
            call.reported = true;
            endedUnseen = true;
            entry = call.entry;
        }
    }
    if (endedUnseen)
        failures.report(handle, "pppd for peer \"" + entry + "\" ended before the line came up");
    return LineState::Disconnected;
}

void PppDialService::readOutput(Call& call) {
    if (call.output < 0)
        return;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(call.output, buffer, sizeof buffer);
        if (got <= 0) {
            if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                close(call.output);  // pppd has ended (or closed its output)
                call.output = -1;
            }
            return;
        }
        call.saidAnything = true;
        call.partialLine.append(buffer, static_cast<std::size_t>(got));
        std::size_t end;
        while ((end = call.partialLine.find('\n')) != std::string::npos) {
            const std::string line = call.partialLine.substr(0, end);
            call.partialLine.erase(0, end + 1);
            // Logged by pppd itself to syslog: here only for a debug log.
            LM_LOG(Debug, "pppd: %s", line.c_str());
            constexpr const char* kUsing = "Using interface ";
            if (line.rfind(kUsing, 0) == 0)
                call.interfaceName = line.substr(strlen(kUsing));
            if (line.rfind("local  IP address", 0) == 0 || line.rfind("local  LL address", 0) == 0)
                call.addressed = true;
        }
        if (call.partialLine.size() > kLongestLine)
            call.partialLine.clear();
    }
}

LineState PppDialService::runningState(Call& call) {
    readOutput(call);
    if (!call.up && !call.interfaceName.empty())
        call.up = call.addressed || interfaces.read(call.interfaceName).up;
    if (call.up)
        return LineState::Connected;
    if (!call.saidAnything && ++call.silentPolls >= kSilentPolls) {
        if (call.silentPolls == kSilentPolls)
            LM_LOG(Info,
                   "pppd for peer \"%s\" says nothing on its output (its peer file may send the "
                   "log elsewhere): the line counts as up while pppd runs, and its bytes are not "
                   "counted",
                   call.entry.c_str());
        return LineState::Connected;
    }
    return LineState::Dialling;
}

std::string PppDialService::interfaceName(DialHandle handle) {
    std::lock_guard<std::mutex> lock(mutex);
    auto found = calls.find(handle);
    if (found == calls.end() || !found->second.up)
        return {};
    return found->second.interfaceName;
}

void PppDialService::setFailureCallback(FailureCallback newCallback) {
    failures.set(std::move(newCallback));
}

}  // namespace linkmoot
