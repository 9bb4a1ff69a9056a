#pragma once
// The HTTP side of the web page: libmicrohttpd in epoll mode without a thread
// of its own, driven by the owner's loop. The owner watches fd() for reading
// (poll() in the daemon, a QSocketNotifier in the tray application), wakes at
// the latest after timeoutMs(), and then calls run(), which serves whatever is
// ready and returns at once. Every request is answered by the handler on the
// owner's thread, from start to answer in one call.
//
// Limits: 32 connections, 8 per peer address, 10 s of silence closes a
// connection, request bodies over 4 KiB are refused with 413: at once when the
// Content-Length says so; a chunked body is dropped past 4 KiB and answered at
// its end, or cut off when it goes on past 64 KiB.
#include <cstdint>
#include <functional>
#include <string>

#include "WebApi.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace linkmoot {

class WebServer {
public:
    using Handler = std::function<WebResponse(const WebRequest&)>;

    static constexpr unsigned kMaxConnections = 32;
    static constexpr unsigned kMaxConnectionsPerAddress = 8;
    static constexpr unsigned kConnectionTimeoutSeconds = 10;

    explicit WebServer(Handler handler);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    /// Listens on the port (0: the system picks one) of bindAddress (host byte
    /// order; 0 means every local address). False with the reason in `error`,
    /// for example when the port is taken.
    bool start(uint16_t port, std::string& error, uint32_t bindAddress = 0);
    /// Closes the listening socket and every connection.
    void stop();
    bool isRunning() const { return daemon != nullptr; }
    /// The bound port; 0 when stopped.
    uint16_t port() const;
    /// The one descriptor to watch for reading; -1 when stopped.
    int fd() const;
    /// Serves what is ready without waiting.
    void run();
    /// Milliseconds until run() is due even without activity on fd() (a
    /// connection's time-out, or work left over); -1 when nothing is due.
    int timeoutMs() const;

    /// Connections open now, for tests and the status view.
    unsigned connectionCount() const;

private:
    friend struct WebServerCallbacks;

    Handler handler;
    MHD_Daemon* daemon = nullptr;
    std::string lastLogLine;
};

}  // namespace linkmoot
