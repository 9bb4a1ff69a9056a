#include "platform/ControlServer.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "ControlCommands.h"
#include "ToolBox/Logger.h"
#include "ToolBox/posix/Os.h"

namespace linkmoot {

namespace {

// A flood beyond the cap is closed as it comes, but not for ever in one call.
constexpr int kMaxAcceptsPerCall = 64;
// What a client takes from an instance (a list of sessions is long), and what
// an instance drops from a client after its request.
constexpr std::size_t kMaxAnswerLength = 64 * 1024 * 1024;
constexpr std::size_t kMaxDroppedInput = 64 * 1024;

int64_t nowMillis() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int remainingMillis(int64_t deadline) {
    int64_t left = deadline - nowMillis();
    return left < 0 ? 0 : static_cast<int>(left);
}

std::string errnoText(const char* what, int error) {
    return std::string(what) + ": " + strerror(error);
}

bool fillAddress(const std::string& path, sockaddr_un& address, std::string& error) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path)) {
        error = "socket path is empty or too long: " + path;
        return false;
    }
    memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

int makeSocket() {
    return socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

// Waits until the descriptor is ready for `events` or the deadline passes.
bool waitFor(int fd, short events, int64_t deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        int result = poll(&entry, 1, remainingMillis(deadline));
        if (result > 0)
            return true;
        if (result == 0)
            return false;
        if (errno != EINTR)
            return false;
    }
}

bool sendAll(int fd, std::string_view data, int64_t deadline) {
    while (!data.empty()) {
        ssize_t sent = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            data.remove_prefix(static_cast<std::size_t>(sent));
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitFor(fd, POLLOUT, deadline))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

// Connects without waiting on a full backlog forever: retries until the deadline.
enum class ConnectOutcome { Connected, NoInstance, Timeout, Failed };

ConnectOutcome connectTo(int fd, const sockaddr_un& address, int64_t deadline, int& error) {
    for (;;) {
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
            return ConnectOutcome::Connected;
        }
        error = errno;
        if (error == EINTR)
            continue;
        if (error == ENOENT || error == ECONNREFUSED || error == ENOTDIR) {
            return ConnectOutcome::NoInstance;
        }
        if (error != EAGAIN)
            return ConnectOutcome::Failed;
        if (remainingMillis(deadline) == 0)
            return ConnectOutcome::Timeout;
        timespec pause{0, 20 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
}

// The socket's folder must be ours alone to write: whoever else may write
// there could put their own socket in place of ours.
bool isSafeFolder(const std::string& socketPath, std::string& error) {
    const std::size_t slash = socketPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : socketPath.substr(0, slash);
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0) {
        error = errnoText(("cannot examine " + folder).c_str(), errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = folder + " is not a folder; check XDG_RUNTIME_DIR";
        return false;
    }
    if (info.st_uid != toolbox::os::effectiveUserId()) {
        error = folder + " belongs to another user (uid " + std::to_string(info.st_uid) +
                "); the control socket needs a folder of your own: check XDG_RUNTIME_DIR";
        return false;
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        char mode[8];
        snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        error = folder + " may be written by others (mode " + mode +
                "); make it private (chmod go-w) or check XDG_RUNTIME_DIR";
        return false;
    }
    return true;
}

// The peer's supplementary groups, as the kernel recorded them at connect().
std::vector<gid_t> peerGroups(int connection) {
    std::vector<gid_t> groups(32);
    for (int attempt = 0; attempt < 4; ++attempt) {
        socklen_t length = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
        if (getsockopt(connection, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) == 0) {
            groups.resize(length / sizeof(gid_t));
            return groups;
        }
        if (errno != ERANGE)
            break;
        groups.resize(length / sizeof(gid_t) + 1);  // the length needed
    }
    return {};
}

}  // namespace

namespace controlsocket {

std::string userSocketPath(const char* runtimeDir, const std::string& tmpBase, std::string& error) {
    if (runtimeDir != nullptr && *runtimeDir != '\0') {
        return std::string(runtimeDir) + "/" + kSocketName;
    }
    uid_t uid = toolbox::os::realUserId();
    std::string folder = tmpBase + "/linkmoot-" + std::to_string(uid);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = errnoText(("cannot create " + folder).c_str(), errno);
        return {};
    }
    // Someone else may have made it first: only a real folder of our own that
    // nobody else can enter will do.
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0) {
        error = errnoText(("cannot examine " + folder).c_str(), errno);
        return {};
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != uid) {
        error = folder + " is not a folder of your own; set XDG_RUNTIME_DIR";
        return {};
    }
    if ((info.st_mode & 077) != 0 && chmod(folder.c_str(), 0700) != 0) {
        error = errnoText(("cannot make " + folder + " private").c_str(), errno);
        return {};
    }
    return folder + "/" + kSocketName;
}

std::string userSocketPath(std::string& error) {
    // /tmp itself, not $TMPDIR: every program of the user must find the same socket.
    return userSocketPath(getenv("XDG_RUNTIME_DIR"), "/tmp", error);
}

std::string clientSocketPath(const char* runtimeDir, const std::string& tmpBase) {
    if (runtimeDir != nullptr && *runtimeDir != '\0')
        return std::string(runtimeDir) + "/" + kSocketName;
    // An instance makes this folder; a client that made it would leave it behind.
    const uid_t uid = toolbox::os::realUserId();
    const std::string folder = tmpBase + "/linkmoot-" + std::to_string(uid);
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != uid ||
        (info.st_mode & 077) != 0)
        return {};
    return folder + "/" + kSocketName;
}

std::string clientSocketPath() {
    return clientSocketPath(getenv("XDG_RUNTIME_DIR"), "/tmp");
}

Reply sendRequest(const std::string& path, std::string_view line, int timeoutMs) {
    Reply reply;
    int64_t deadline = nowMillis() + timeoutMs;
    sockaddr_un address{};
    if (!fillAddress(path, address, reply.error))
        return reply;
    int fd = makeSocket();
    if (fd < 0) {
        reply.error = errnoText("socket", errno);
        return reply;
    }
    int error = 0;
    switch (connectTo(fd, address, deadline, error)) {
        case ConnectOutcome::Connected:
            break;
        case ConnectOutcome::NoInstance:
            ::close(fd);
            reply.status = Reply::Status::NoInstance;
            reply.error = errnoText(path.c_str(), error);
            return reply;
        case ConnectOutcome::Timeout:
            ::close(fd);
            reply.status = Reply::Status::Timeout;
            return reply;
        case ConnectOutcome::Failed:
            ::close(fd);
            reply.error = errnoText(path.c_str(), error);
            return reply;
    }
    std::string request(line);
    request += '\n';
    if (!sendAll(fd, request, deadline) && remainingMillis(deadline) == 0) {
        ::close(fd);
        reply.status = Reply::Status::Timeout;
        return reply;
    }
    // Even when the instance stopped reading early (a request too long), its
    // answer may be waiting.
    shutdown(fd, SHUT_WR);
    char buffer[4096];
    for (;;) {
        ssize_t got = recv(fd, buffer, sizeof(buffer), 0);
        if (got > 0) {
            reply.answer.append(buffer, static_cast<std::size_t>(got));
            if (reply.answer.size() > kMaxAnswerLength) {
                ::close(fd);
                reply.error = "the answer is too long";
                return reply;
            }
        } else if (got == 0) {
            if (reply.answer.empty()) {
                ::close(fd);
                reply.error = "the instance closed the connection without an answer";
                return reply;
            }
            break;
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!waitFor(fd, POLLIN, deadline)) {
                ::close(fd);
                reply.status = Reply::Status::Timeout;
                return reply;
            }
        } else {
            int readError = errno;
            ::close(fd);
            reply.error = errnoText("reading the answer", readError);
            return reply;
        }
    }
    ::close(fd);
    reply.status = Reply::Status::Answered;
    return reply;
}

bool isAnswering(const std::string& path) {
    sockaddr_un address{};
    std::string ignored;
    if (!fillAddress(path, address, ignored))
        return false;
    int fd = makeSocket();
    if (fd < 0)
        return false;
    int error = 0;
    ConnectOutcome outcome = connectTo(fd, address, nowMillis() + 2000, error);
    ::close(fd);
    // A full backlog still means somebody listens.
    return outcome == ConnectOutcome::Connected || outcome == ConnectOutcome::Timeout;
}

}  // namespace controlsocket

ControlServer::~ControlServer() {
    close();
}

bool ControlServer::watchListener(int fd, std::string& error) {
    pollFd = epoll_create1(EPOLL_CLOEXEC);
    timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    epoll_event listenEvent{};
    listenEvent.events = EPOLLIN;
    listenEvent.data.fd = fd;
    epoll_event timerEvent{};
    timerEvent.events = EPOLLIN;
    timerEvent.data.fd = timerFd;
    if (pollFd >= 0 && timerFd >= 0 && epoll_ctl(pollFd, EPOLL_CTL_ADD, fd, &listenEvent) == 0 &&
        epoll_ctl(pollFd, EPOLL_CTL_ADD, timerFd, &timerEvent) == 0) {
        return true;
    }
    error = errnoText("cannot watch the control socket", errno);
    if (pollFd >= 0)
        ::close(pollFd);
    if (timerFd >= 0)
        ::close(timerFd);
    pollFd = timerFd = -1;
    return false;
}

ControlServer::BindResult ControlServer::bind(const std::string& path, unsigned mode,
                                              std::string& error) {
    close();
    sockaddr_un address{};
    if (!fillAddress(path, address, error) || !isSafeFolder(path, error))
        return BindResult::Failed;

    // Two attempts: a stale file found on the first is removed for the second.
    for (int attempt = 0; attempt < 2; ++attempt) {
        struct stat info {};
        if (lstat(path.c_str(), &info) == 0) {
            if (!S_ISSOCK(info.st_mode)) {
                error = path + " exists and is not a socket; remove it";
                return BindResult::Failed;
            }
            if (controlsocket::isAnswering(path)) {
                error = "an instance is already running (it answers on " + path + ")";
                return BindResult::AlreadyRunning;
            }
            if (unlink(path.c_str()) != 0 && errno != ENOENT) {
                error = errnoText(("cannot remove the stale socket " + path).c_str(), errno);
                return BindResult::Failed;
            }
            LM_LOG(Info, "Replaced the stale control socket %s", path.c_str());
        }

        int fd = makeSocket();
        if (fd < 0) {
            error = errnoText("socket", errno);
            return BindResult::Failed;
        }
        // The socket file takes its mode from the umask at bind time; make it
        // private from the start and widen it afterwards when asked to.
        mode_t previous = umask(0177);
        int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
        int bindError = errno;
        umask(previous);
        if (bound != 0) {
            ::close(fd);
            if (bindError == EADDRINUSE && attempt == 0)
                continue;  // raced with another
            error = errnoText(("cannot bind " + path).c_str(), bindError);
            return BindResult::Failed;
        }
        if (chmod(path.c_str(), mode) != 0 || listen(fd, 8) != 0) {
            error = errnoText(("cannot listen on " + path).c_str(), errno);
            ::close(fd);
            unlink(path.c_str());
            return BindResult::Failed;
        }
        if (lstat(path.c_str(), &info) == 0) {
            socketInode = info.st_ino;
            socketGroup = info.st_gid;
        }
        groupMayUse = (mode & 070) != 0;
        if (!watchListener(fd, error)) {
            ::close(fd);
            unlink(path.c_str());
            return BindResult::Failed;
        }
        listenFd = fd;
        socketPath = path;
        LM_LOG(Debug, "Control socket listening on %s", path.c_str());
        return BindResult::Listening;
    }
    error = "cannot bind " + path + ": it is in use";
    return BindResult::Failed;
}

void ControlServer::close() {
    if (listenFd < 0)
        return;
    while (!connections.empty())
        closeConnection(connections.begin()->first);
    ::close(listenFd);
    ::close(pollFd);
    ::close(timerFd);
    listenFd = pollFd = timerFd = -1;
    acceptPaused = false;
    // Remove the file only while it is still the socket we made: a successor
    // may already have replaced it.
    struct stat info {};
    if (lstat(socketPath.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) &&
        info.st_ino == socketInode) {
        unlink(socketPath.c_str());
    }
    socketPath.clear();
    socketInode = 0;
    groupMayUse = false;
}

int ControlServer::servePending(const Handler& handler) {
    return servePending([&handler](std::string_view request, Ticket) -> std::optional<std::string> {
        return handler(request);
    });
}

bool ControlServer::answerLater(Ticket ticket, std::string answer) {
    auto found = waiting.find(ticket);
    if (found == waiting.end())
        return false;
    const int connection = found->second;
    waiting.erase(found);
    Connection& state = connections.at(connection);
    state.output = std::move(answer);
    state.phase = Connection::Phase::Writing;
    state.deadline = nowMillis() + requestTimeoutMs;
    rewatch(connection);
    advanceWriting(connection);
    return true;
}

void ControlServer::advanceWriting(int connection) {
    int answered = 0;
    const DeferringHandler none = [](std::string_view, Ticket) { return std::nullopt; };
    if (advance(connection, none, answered))
        closeConnection(connection);
    armTimer();
}

int ControlServer::servePending(const DeferringHandler& handler) {
    if (listenFd < 0)
        return 0;
    uint64_t expirations = 0;
    if (::read(timerFd, &expirations, sizeof expirations) < 0) {
        // Not expired: something else woke us.
    }
    const int64_t now = nowMillis();
    if (acceptPaused && now >= acceptResumesAt) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = listenFd;
        if (epoll_ctl(pollFd, EPOLL_CTL_ADD, listenFd, &event) == 0)
            acceptPaused = false;
    }
    int answered = 0;
    // Those that ended first, so their places are free for the waiting ones.
    std::vector<int> open;
    for (const auto& [connection, state] : connections)
        open.push_back(connection);
    if (!advanceAll(open, handler, answered))
        return answered;  // closed by the handler
    if (!advanceAll(acceptWaiting(now), handler, answered))
        return answered;
    armTimer();
    return answered;
}

bool ControlServer::advanceAll(const std::vector<int>& open, const DeferringHandler& handler,
                               int& answered) {
    for (int connection : open) {
        // A nested call from the handler may have moved it on meanwhile.
        auto found = connections.find(connection);
        if (found == connections.end() || found->second.phase == Connection::Phase::Handling)
            continue;
        Connection& state = found->second;
        if (state.phase == Connection::Phase::Waiting) {
            if (nowMillis() < state.deadline)
                continue;
            waiting.erase(state.ticket);
            state.output =
                std::string(control::kError) + " timeout: the answer did not come in time\n";
            state.phase = Connection::Phase::Writing;
            state.deadline = nowMillis() + requestTimeoutMs;
            rewatch(connection);
        }
        if (advance(connection, handler, answered))
            closeConnection(connection);
        if (listenFd < 0)
            return false;
    }
    return true;
}

std::vector<int> ControlServer::acceptWaiting(int64_t now) {
    std::vector<int> accepted;
    for (int tries = 0; !acceptPaused && tries < kMaxAcceptsPerCall; ++tries) {
        const int connection = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (connection < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // The connection stays queued and the listener readable: watching
                // it now would wake the loop at once, again and again.
                LM_LOG(Warn, "Cannot accept control connections for now: %s", strerror(errno));
                epoll_ctl(pollFd, EPOLL_CTL_DEL, listenFd, nullptr);
                acceptPaused = true;
                acceptResumesAt = now + kAcceptPauseMs;
            }
            return accepted;  // EAGAIN: nobody waits
        }
        if (connections.size() >= kMaxConnections) {
            LM_LOG(Debug, "Closed a control connection: %d are open already",
                   static_cast<int>(kMaxConnections));
            ::close(connection);
            continue;
        }
        if (!isAllowedPeer(connection)) {
            ::close(connection);
            continue;
        }
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = connection;
        if (epoll_ctl(pollFd, EPOLL_CTL_ADD, connection, &event) != 0) {
            ::close(connection);
            continue;
        }
        connections[connection].deadline = now + requestTimeoutMs;
        accepted.push_back(connection);
    }
    return accepted;
}

bool ControlServer::advance(int connection, const DeferringHandler& handler, int& answered) {
    Connection* state = &connections.at(connection);
    const int64_t now = nowMillis();
    if (state->phase == Connection::Phase::Reading) {
        if (!read(connection, *state, now))
            return false;
        if (state->phase == Connection::Phase::Handling) {
            const std::string request = state->input;
            LM_LOG(Debug, "Control request '%s'", request.c_str());
            const Ticket ticket = nextTicket++;
            std::optional<std::string> answer = handler(request, ticket);
            auto found = connections.find(connection);
            if (found == connections.end())
                return false;  // closed by a nested call
            state = &found->second;
            if (!answer) {
                // Out of the epoll set while it waits: a peer that shut its
                // side down (or went) would keep it ready and wake the loop
                // again and again. A peer that went is found when writing.
                state->phase = Connection::Phase::Waiting;
                state->ticket = ticket;
                state->deadline = nowMillis() + kDeferredTimeoutMs;
                waiting[ticket] = connection;
                epoll_ctl(pollFd, EPOLL_CTL_DEL, connection, nullptr);
                ++answered;
                return false;
            }
            state->output = std::move(*answer);
            state->phase = Connection::Phase::Writing;
            state->deadline = nowMillis() + requestTimeoutMs;
            ++answered;
        }
        if (state->phase == Connection::Phase::Writing && state->output.empty()) {
            shutdown(connection, SHUT_WR);
            state->phase = Connection::Phase::Draining;
        }
    }
    if (state->phase == Connection::Phase::Writing) {
        if (!write(connection, *state, nowMillis()))
            return false;
    }
    if (state->phase != Connection::Phase::Draining)
        return true;  // failed
    // Closing with unread input would reset the connection and lose the answer
    // at the client: read what comes until it closes, and drop it.
    char buffer[512];
    for (std::size_t dropped = 0; dropped < kMaxDroppedInput;) {
        const ssize_t got = recv(connection, buffer, sizeof buffer, 0);
        if (got > 0) {
            dropped += static_cast<std::size_t>(got);
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return nowMillis() >= state->deadline;
        return true;
    }
    return true;
}

// False while the request is incomplete and its time has not run out.
bool ControlServer::read(int connection, Connection& state, int64_t now) {
    char buffer[control::kMaxRequestLength];
    for (;;) {
        const std::size_t room = control::kMaxRequestLength - state.input.size();
        const ssize_t got = recv(connection, buffer, room, 0);
        if (got > 0) {
            state.input.append(buffer, static_cast<std::size_t>(got));
            const std::size_t newline = state.input.find('\n');
            if (newline != std::string::npos) {
                state.input.resize(newline);
                state.phase = Connection::Phase::Handling;
                return true;
            }
            if (state.input.size() >= control::kMaxRequestLength) {
                state.output = std::string(control::kError) + " request too long\n";
                state.phase = Connection::Phase::Writing;
                return true;
            }
        } else if (got == 0) {
            // A last line without its newline still counts.
            state.phase =
                state.input.empty() ? Connection::Phase::Writing : Connection::Phase::Handling;
            return true;
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (now < state.deadline)
                return false;
            state.output = std::string(control::kError) + " timeout: no request line\n";
            state.phase = Connection::Phase::Writing;
            return true;
        } else {
            state.phase = Connection::Phase::Writing;  // nothing to answer
            state.output.clear();
            return true;
        }
    }
}

// False while the answer is not all sent and its time has not run out.
bool ControlServer::write(int connection, Connection& state, int64_t now) {
    while (!state.output.empty()) {
        const ssize_t sent =
            send(connection, state.output.data(), state.output.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            state.output.erase(0, static_cast<std::size_t>(sent));
            // A peer that keeps reading keeps its connection.
            state.deadline = now + requestTimeoutMs;
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (now >= state.deadline) {
                state.phase = Connection::Phase::Handling;  // give up: close
                return true;
            }
            watchFor(connection, true);
            return false;
        } else {
            state.phase = Connection::Phase::Handling;  // the peer is gone: close
            return true;
        }
    }
    watchFor(connection, false);
    shutdown(connection, SHUT_WR);
    state.phase = Connection::Phase::Draining;
    return true;
}

void ControlServer::rewatch(int connection) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = connection;
    epoll_ctl(pollFd, EPOLL_CTL_ADD, connection, &event);
}

void ControlServer::watchFor(int connection, bool output) {
    epoll_event event{};
    event.events = output ? EPOLLOUT : EPOLLIN;
    event.data.fd = connection;
    epoll_ctl(pollFd, EPOLL_CTL_MOD, connection, &event);
}

void ControlServer::closeConnection(int connection) {
    auto found = connections.find(connection);
    if (found != connections.end() && found->second.phase == Connection::Phase::Waiting)
        waiting.erase(found->second.ticket);
    epoll_ctl(pollFd, EPOLL_CTL_DEL, connection, nullptr);
    ::close(connection);
    connections.erase(connection);
}

void ControlServer::armTimer() {
    int64_t next = acceptPaused ? acceptResumesAt : 0;
    for (const auto& [connection, state] : connections)
        if (state.phase != Connection::Phase::Handling && (next == 0 || state.deadline < next))
            next = state.deadline;
    itimerspec when{};
    if (next > 0) {
        // Absolute, on the clock nowMillis() reads; never 0, which would disarm.
        when.it_value.tv_sec = static_cast<time_t>(next / 1000);
        when.it_value.tv_nsec = static_cast<long>((next % 1000) * 1000000);
        if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0)
            when.it_value.tv_nsec = 1;
    }
    timerfd_settime(timerFd, TFD_TIMER_ABSTIME, &when, nullptr);
}

bool ControlServer::isAllowedPeer(int connection) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
        LM_LOG(Warn, "Refused a control connection: cannot tell who it is from (%s)",
               strerror(errno));
        return false;
    }
    if (peer.uid == 0 || peer.uid == toolbox::os::effectiveUserId())
        return true;
    if (groupMayUse) {
        if (peer.gid == socketGroup)
            return true;
        for (gid_t group : peerGroups(connection))
            if (group == socketGroup)
                return true;
        LM_LOG(Warn,
               "Refused a control connection from uid %u (process %d): only root, uid %u and "
               "the members of group %u may use %s",
               static_cast<unsigned>(peer.uid), static_cast<int>(peer.pid),
               static_cast<unsigned>(toolbox::os::effectiveUserId()), socketGroup,
               socketPath.c_str());
        return false;
    }
    LM_LOG(Warn,
           "Refused a control connection from uid %u (process %d): only root and uid %u may use "
           "%s",
           static_cast<unsigned>(peer.uid), static_cast<int>(peer.pid),
           static_cast<unsigned>(toolbox::os::effectiveUserId()), socketPath.c_str());
    return false;
}

}  // namespace linkmoot
