#pragma once
// The control socket of a running instance (daemon or tray application): a
// Unix stream socket that takes one request line per connection and answers
// with a short text (see ControlCommands.h). Also where the socket lies and the
// client side used by linkmootctl and the daemon's own checks.
//
// Rules:
// - The socket is $XDG_RUNTIME_DIR/linkmoot.sock; without XDG_RUNTIME_DIR it is
//   linkmoot-UID/linkmoot.sock below /tmp, a folder of the user's own, mode 0700.
// - bind() replaces a stale socket file nobody answers on, and reports an
//   instance that answers instead of taking its place. It never removes a file
//   that is not a socket.
// - servePending() never waits: each connection's request is read as it
//   arrives, into a bounded buffer, and answered when it is whole; a
//   connection gets 1 s (the request timeout) to deliver it. At most 32
//   connections are open; more are closed at once. accept() failing for want
//   of descriptors (EMFILE, ENFILE) pauses accepting for a tick instead of
//   waking the loop again and again. The handler may run a nested event loop
//   that calls servePending() again.
// - fd() is one descriptor for the whole server (an epoll set of the listener,
//   the open connections and a timer for their deadlines): the loop watches it
//   for reading and calls servePending() when it is ready.
// - Every descriptor is close-on-exec, so dial-up children inherit none.
// - bind() refuses a folder that is not the process's own or that others may
//   write to (they could replace the socket).
// - Each connection's peer is checked (the file mode alone is not trusted):
//   the private socket answers its own user and root; the shared socket also
//   the members of the socket file's group, supplementary members included.
//   Any other peer is closed without an answer, with a Warn line.
// - A request may be answered later (work off the loop, such as a database
//   read): the handler returns no answer and keeps the request's ticket, and
//   answerLater() sends the answer when it is there. Until then the
//   connection waits, unwatched, for at most kDeferredTimeoutMs, then gets an
//   error answer.
// - An answer is written as fast as the peer reads it: its deadline is
//   renewed by each part the peer takes, so a long answer is not cut off.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace linkmoot {

namespace controlsocket {

inline constexpr const char* kSocketName = "linkmoot.sock";
/// The system service's socket (RuntimeDirectory=linkmoot).
inline constexpr const char* kSystemSocketPath = "/run/linkmoot/linkmoot.sock";
inline constexpr unsigned kUserMode = 0600;
/// The system service's socket: its group may drive it.
inline constexpr unsigned kSharedMode = 0660;

/// The user's socket path from the environment; creates the /tmp fallback
/// folder when needed. Empty, with the reason in `error`, when no safe folder
/// can be had.
std::string userSocketPath(std::string& error);
/// The same with the inputs given: runtimeDir may be null or empty; the
/// fallback folder goes below tmpBase.
std::string userSocketPath(const char* runtimeDir, const std::string& tmpBase, std::string& error);
/// Where a client looks for the user's own instance: like userSocketPath(),
/// but it makes nothing, and a fallback folder that is not a private folder of
/// the user's own counts as none (empty).
std::string clientSocketPath();
std::string clientSocketPath(const char* runtimeDir, const std::string& tmpBase);

/// The outcome of one request from the client side.
struct Reply {
    enum class Status {
        Answered,    ///< `answer` holds the whole answer text
        NoInstance,  ///< no socket, or nobody listening on it
        Timeout,     ///< connected, but the answer did not come in time
        Failed       ///< any other failure; `error` says what
    };
    Status status = Status::Failed;
    std::string answer;
    std::string error;
};

/// Connects, sends the line (a newline is added) and reads the answer until the
/// instance closes the connection, all within timeoutMs.
Reply sendRequest(const std::string& path, std::string_view line, int timeoutMs);
/// True when an instance accepts connections on the path.
bool isAnswering(const std::string& path);

}  // namespace controlsocket

class ControlServer {
public:
    using Handler = std::function<std::string(std::string_view request)>;
    /// Names a request whose answer comes later.
    using Ticket = uint64_t;
    /// Returns the answer, or nullopt when it will come through answerLater().
    using DeferringHandler =
        std::function<std::optional<std::string>(std::string_view request, Ticket ticket)>;
    enum class BindResult { Listening, AlreadyRunning, Failed };

    ControlServer() = default;
    /// Closes the socket and removes its file (when it is still ours).
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    /// Listens on the path with the given file mode (kUserMode or kSharedMode),
    /// which also chooses who may talk to it.
    BindResult bind(const std::string& path, unsigned mode, std::string& error);
    /// At most this many connections are open at once.
    static constexpr std::size_t kMaxConnections = 32;
    /// How long accepting pauses after EMFILE or ENFILE (one tick).
    static constexpr int kAcceptPauseMs = 1000;

    /// The descriptor to watch for reading (poll() or a socket notifier);
    /// -1 when closed.
    int fd() const { return pollFd; }
    const std::string& path() const { return socketPath; }
    /// How long one connection may take to deliver its request line.
    void setRequestTimeout(int milliseconds) { requestTimeoutMs = milliseconds; }

    /// How long an answer may take to come through answerLater().
    static constexpr int kDeferredTimeoutMs = 30000;

    /// Accepts what waits and moves every open connection on as far as it
    /// can without waiting. Returns how many requests were answered (or
    /// taken to be answered later).
    int servePending(const DeferringHandler& handler);
    int servePending(const Handler& handler);
    /// The answer of a request handled with a ticket (on the loop's thread);
    /// false when its connection is gone (closed, timed out).
    bool answerLater(Ticket ticket, std::string answer);
    void close();
    /// Open connections (for the tests and the loop's figures).
    std::size_t openConnections() const { return connections.size(); }
    bool isAcceptPaused() const { return acceptPaused; }

private:
    /// Watches the listening socket and the deadline timer in one epoll set;
    /// false (nothing left open of them) with why.
    bool watchListener(int fd, std::string& error);
    struct Connection {
        enum class Phase { Reading, Handling, Waiting, Writing, Draining };
        Phase phase = Phase::Reading;
        Ticket ticket = 0;
        int64_t deadline = 0;
        std::string input;
        std::string output;
    };
    std::vector<int> acceptWaiting(int64_t now);
    /// False when the handler closed the server.
    bool advanceAll(const std::vector<int>& open, const DeferringHandler& handler, int& answered);
    /// True when the connection is done with and can be closed.
    bool advance(int connection, const DeferringHandler& handler, int& answered);
    /// Moves a connection whose answer is set on from Writing.
    void advanceWriting(int connection);
    bool read(int connection, Connection& state, int64_t now);
    bool write(int connection, Connection& state, int64_t now);
    void closeConnection(int connection);
    void watchFor(int connection, bool output);
    /// Back into the epoll set once a waiting connection's answer is there.
    void rewatch(int connection);
    void armTimer();
    bool isAllowedPeer(int connection);

    int listenFd = -1;
    int pollFd = -1;   // epoll set: listener, connections, timer
    int timerFd = -1;  // wakes the loop at the next deadline
    std::map<int, Connection> connections;
    std::map<Ticket, int> waiting;  // tickets of the connections waiting for their answer
    Ticket nextTicket = 1;
    bool acceptPaused = false;
    int64_t acceptResumesAt = 0;
    std::string socketPath;
    unsigned long long socketInode = 0;
    bool groupMayUse = false;
    unsigned socketGroup = 0;
    int requestTimeoutMs = 1000;
};

}  // namespace linkmoot
