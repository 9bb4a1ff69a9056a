#include "platform/WebServer.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string_view>

#include "ToolBox/Logger.h"
#include "platform/SharedLibrary.h"

namespace linkmoot {

namespace {

#define LINKMOOT_MICROHTTPD_FUNCTIONS(F) \
    F(MHD_start_daemon)                  \
    F(MHD_stop_daemon)                   \
    F(MHD_run)                           \
    F(MHD_get_timeout)                   \
    F(MHD_get_daemon_info)               \
    F(MHD_get_connection_info)           \
    F(MHD_lookup_connection_value)       \
    F(MHD_create_response_from_buffer)   \
    F(MHD_add_response_header)           \
    F(MHD_queue_response)                \
    F(MHD_destroy_response)
LINKMOOT_LIBRARY_TABLE(MicrohttpdFunctions, LINKMOOT_MICROHTTPD_FUNCTIONS)

/// The library, loaded when the page is first served (it brings the TLS
/// libraries with it); null when it cannot be.
const MicrohttpdFunctions* microhttpd() {
    static const LibraryTable<MicrohttpdFunctions> library(LINKMOOT_MICROHTTPD_SONAME,
                                                           "the web page");
    return library.functions();
}

/// Only reached while a daemon runs, so the library is there.
const MicrohttpdFunctions& mhd() {
    return *microhttpd();
}

/// One request while its body comes in.
struct Pending {
    std::string body;
    bool tooLarge = false;
    bool answered = false;
    std::size_t dropped = 0;
};

/// A chunked body past the limit is read and dropped so it can be answered
/// with 413 (the library takes no answer in the middle of a body); past this
/// many dropped bytes the connection is simply closed.
constexpr std::size_t kMaxDroppedBytes = 16 * WebApi::kMaxBodyBytes;

std::optional<std::string_view> header(MHD_Connection* connection, const char* name) {
    const char* value = mhd().MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
    if (value == nullptr)
        return std::nullopt;
    return std::string_view(value);
}

uint32_t peerAddress(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        mhd().MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (info == nullptr || info->client_addr == nullptr || info->client_addr->sa_family != AF_INET)
        return 0;
    sockaddr_in address;
    std::memcpy(&address, info->client_addr, sizeof address);
    return ntohl(address.sin_addr.s_addr);
}

/// The local address and port the connection reached.
void localEnd(MHD_Connection* connection, uint32_t& address, uint16_t& port) {
    const MHD_ConnectionInfo* info =
        mhd().MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (info == nullptr ||
        getsockname(info->connect_fd, reinterpret_cast<sockaddr*>(&local), &size) != 0 ||
        local.sin_family != AF_INET) {
        return;
    }
    address = ntohl(local.sin_addr.s_addr);
    port = ntohs(local.sin_port);
}

/// True when the request announces a body longer than the limit.
bool announcesTooMuch(MHD_Connection* connection) {
    auto length = header(connection, MHD_HTTP_HEADER_CONTENT_LENGTH);
    if (!length)
        return false;
    // More digits than the limit has can only mean more bytes (or garbage,
    // which the library refuses on its own).
    std::size_t value = 0;
    for (char c : *length) {
        if (c < '0' || c > '9')
            return false;
        if (value > WebApi::kMaxBodyBytes)
            return true;
        value = value * 10 + std::size_t(c - '0');
    }
    return value > WebApi::kMaxBodyBytes;
}

}  // namespace

struct WebServerCallbacks {
    static MHD_Result answer(WebServer& server, MHD_Connection* connection, const char* url,
                             const char* method, Pending& pending) {
        pending.answered = true;
        WebRequest request;
        request.method = method;
        request.path = url;
        request.host = header(connection, MHD_HTTP_HEADER_HOST);
        request.origin = header(connection, "Origin");
        request.contentType = header(connection, MHD_HTTP_HEADER_CONTENT_TYPE);
        request.cookie = header(connection, MHD_HTTP_HEADER_COOKIE);
        request.authorization = header(connection, MHD_HTTP_HEADER_AUTHORIZATION);
        request.body = pending.body;
        request.bodyTooLarge = pending.tooLarge;
        request.peer = peerAddress(connection);
        localEnd(connection, request.local, request.localPort);

        WebResponse reply;
        try {
            reply = server.handler(request);
        } catch (const std::exception& error) {
            LM_LOG(Error, "The web page's request handler failed: %s", error.what());
            reply = WebResponse{500, "text/plain; charset=utf-8", {}, "Internal error\n"};
        }
        MHD_Response* response = mhd().MHD_create_response_from_buffer(
            reply.body.size(), reply.body.data(), MHD_RESPMEM_MUST_COPY);
        if (response == nullptr)
            return MHD_NO;
        if (!reply.contentType.empty())
            mhd().MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE,
                                          reply.contentType.c_str());
        for (const auto& [name, value] : reply.headers)
            mhd().MHD_add_response_header(response, name.c_str(), value.c_str());
        if (pending.tooLarge) {
            // The rest of the body will not be read: the connection cannot be reused.
            mhd().MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
        }
        MHD_Result queued = mhd().MHD_queue_response(connection, unsigned(reply.status), response);
        mhd().MHD_destroy_response(response);
        return queued;
    }

    static MHD_Result onRequest(void* self, MHD_Connection* connection, const char* url,
                                const char* method, const char* /*version*/, const char* uploadData,
                                std::size_t* uploadDataSize, void** context) {
        auto& server = *static_cast<WebServer*>(self);
        auto* pending = static_cast<Pending*>(*context);
        if (pending == nullptr) {
            pending = new Pending;
            *context = pending;
            if (announcesTooMuch(connection)) {
                pending->tooLarge = true;
                return answer(server, connection, url, method, *pending);
            }
            return MHD_YES;
        }
        if (*uploadDataSize != 0) {
            if (!pending->tooLarge &&
                pending->body.size() + *uploadDataSize > WebApi::kMaxBodyBytes) {
                pending->tooLarge = true;
                pending->dropped = pending->body.size();
                pending->body.clear();
            }
            if (pending->tooLarge) {
                pending->dropped += *uploadDataSize;
                if (pending->dropped > kMaxDroppedBytes)
                    return MHD_NO;
            } else {
                pending->body.append(uploadData, *uploadDataSize);
            }
            *uploadDataSize = 0;
            return MHD_YES;
        }
        if (pending->answered)
            return MHD_YES;
        return answer(server, connection, url, method, *pending);
    }

    static void onCompleted(void* /*self*/, MHD_Connection* /*connection*/, void** context,
                            MHD_RequestTerminationCode /*reason*/) {
        delete static_cast<Pending*>(*context);
        *context = nullptr;
    }

    static void onLog(void* self, const char* format, va_list arguments) {
        char line[512];
        std::vsnprintf(line, sizeof line, format, arguments);
        std::size_t length = std::strlen(line);
        while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r'))
            line[--length] = '\0';
        static_cast<WebServer*>(self)->lastLogLine = line;
        LM_LOG(Debug, "Web server: %s", line);
    }
};

WebServer::WebServer(Handler handler) : handler(std::move(handler)) {}

WebServer::~WebServer() {
    stop();
}

bool WebServer::start(uint16_t port, std::string& error, uint32_t bindAddress) {
    stop();
    if (microhttpd() == nullptr) {
        error = "Cannot serve the web page: " LINKMOOT_MICROHTTPD_SONAME " cannot be loaded";
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(bindAddress);
    lastLogLine.clear();
    daemon = mhd().MHD_start_daemon(
        MHD_USE_EPOLL | MHD_USE_ERROR_LOG, port, nullptr, nullptr, &WebServerCallbacks::onRequest,
        this, MHD_OPTION_EXTERNAL_LOGGER, &WebServerCallbacks::onLog, this, MHD_OPTION_SOCK_ADDR,
        reinterpret_cast<sockaddr*>(&address), MHD_OPTION_CONNECTION_LIMIT,
        unsigned(kMaxConnections), MHD_OPTION_PER_IP_CONNECTION_LIMIT,
        unsigned(kMaxConnectionsPerAddress), MHD_OPTION_CONNECTION_TIMEOUT,
        unsigned(kConnectionTimeoutSeconds), MHD_OPTION_NOTIFY_COMPLETED,
        &WebServerCallbacks::onCompleted, this, MHD_OPTION_END);
    if (daemon == nullptr) {
        error = "Cannot serve the web page on port " + std::to_string(port) +
                (lastLogLine.empty() ? std::string() : ": " + lastLogLine);
        return false;
    }
    return true;
}

void WebServer::stop() {
    if (daemon != nullptr) {
        mhd().MHD_stop_daemon(daemon);
        daemon = nullptr;
    }
}

uint16_t WebServer::port() const {
    if (daemon == nullptr)
        return 0;
    const MHD_DaemonInfo* info = mhd().MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
    return info == nullptr ? 0 : info->port;
}

int WebServer::fd() const {
    if (daemon == nullptr)
        return -1;
    const MHD_DaemonInfo* info = mhd().MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_EPOLL_FD);
    return info == nullptr ? -1 : info->epoll_fd;
}

void WebServer::run() {
    if (daemon != nullptr)
        mhd().MHD_run(daemon);
}

int WebServer::timeoutMs() const {
    MHD_UNSIGNED_LONG_LONG timeout = 0;
    if (daemon == nullptr || mhd().MHD_get_timeout(daemon, &timeout) != MHD_YES)
        return -1;
    return timeout > static_cast<MHD_UNSIGNED_LONG_LONG>(INT_MAX) ? INT_MAX : int(timeout);
}

unsigned WebServer::connectionCount() const {
    if (daemon == nullptr)
        return 0;
    const MHD_DaemonInfo* info =
        mhd().MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_CURRENT_CONNECTIONS);
    return info == nullptr ? 0 : info->num_connections;
}

}  // namespace linkmoot
