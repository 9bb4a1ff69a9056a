#pragma once
// The LAN web page's request handling: who may ask, the password, the routes
// and their JSON. Pure: the HTTP adapter (platform/WebServer) hands in one
// complete request and sends back the answer; the server supplies its state
// and takes the votes through the two small interfaces below.
//
// Checks, in this order, so a refused request learns as little as possible:
// peer address in the allowed networks (403), Host names this computer (403,
// against DNS rebinding), Origin when present equals "http://" + Host (403),
// body at most 4 KiB (413), route (404) and method (405), JSON content type
// for POSTs (415), password for the API (401, 429 after repeated wrong ones),
// the JSON body (400).
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Crypto.h"
#include "PageCode.h"
#include "Protocol.h"
#include "StatusModel.h"
#include "UsageReport.h"
#include "VoteTable.h"

namespace linkmoot {

/// What the page reads and does. It draws the application's latest snapshot,
/// as every view does, and its votes are commands of the application, which
/// refresh every view at once.
class WebCommands {
public:
    virtual ~WebCommands() = default;
    /// The latest snapshot (never null).
    virtual std::shared_ptr<const StatusSnapshot> latestStatus() = 0;
    /// Enters or renews the timed vote `name` (already "web:"-prefixed and
    /// checked) for `minutes`; false when the server takes no votes now.
    virtual bool vote(const std::string& name, uint32_t minutes) = 0;
    /// Withdraws the web vote `name`; false when it was not held.
    virtual bool unvote(const std::string& name) = 0;
    /// The usage figures (the same every view shows).
    virtual UsageReport usage() { return {}; }
    /// The data plan as `linkmootctl plan --json` gives it ({"active": false}: none).
    virtual nlohmann::json plan();
    /// Lets the line run over the data cap for `minutes` (nullopt: until
    /// the cycle resets), or ends that (`cancel`); `who` for the log line.
    /// False with why.
    virtual bool allowOverCap(std::optional<uint32_t> minutes, bool cancel, const std::string& who,
                              std::string& error);
};

/// One complete request as the adapter read it. Header values are absent when
/// the request did not carry the header.
struct WebRequest {
    std::string_view method;
    std::string_view path;  ///< may still carry a query string, which is ignored
    std::optional<std::string_view> host;
    std::optional<std::string_view> origin;
    std::optional<std::string_view> contentType;
    std::optional<std::string_view> cookie;
    std::optional<std::string_view> authorization;
    std::string_view body;
    /// The adapter stopped reading the body at its limit.
    bool bodyTooLarge = false;
    /// The peer's IPv4 address, host byte order.
    uint32_t peer = 0;
    /// The local address and port the connection reached (0: unknown): the
    /// page's address as this peer knows it, not what its Host header says.
    uint32_t local = 0;
    uint16_t localPort = 0;
};

struct WebResponse {
    int status = 500;
    std::string contentType;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
};

struct WebApiConfig {
    /// Server/WebPassword; empty means no password.
    std::string password;
    /// Server/WebVoteMaxMinutes.
    uint32_t maxVoteMinutes = 120;
    /// Names by which this computer may be addressed, besides "localhost" and
    /// its IPv4 addresses (compared without regard to case).
    std::vector<std::string> hostNames;
    /// Protocol 2's allowed networks; unset allows every peer.
    std::function<bool(uint32_t)> isAllowedPeer;
    /// An IPv4 address of this computer (host byte order); unset means only
    /// loopback addresses count. Loopback always counts.
    std::function<bool(uint32_t)> isLocalAddress;
    /// The page served at "/".
    std::string_view page;
    /// Encodes a QR code (the platform's encoder); unset: no codes.
    std::function<bool(const std::string& text, QrModules& code, std::string& error)> encodeCode;
    /// Makes the cookie key and checks cookies and passwords; outlives the API.
    Crypto* crypto = nullptr;
};

class WebApi {
public:
    static constexpr std::size_t kMaxBodyBytes = 4096;
    static constexpr std::size_t kMaxNameLength = 32;
    static constexpr const char* kNamePrefix = kWebNamePrefix;
    static constexpr const char* kCookieName = "linkmoot_session";
    static constexpr int kProtocolVersion = 2;
    /// Wrong passwords one peer may try within kPasswordWindowMs.
    static constexpr int kMaxPasswordFailures = 5;
    static constexpr uint32_t kPasswordWindowMs = 60000;
    /// Peers whose wrong passwords are remembered.
    static constexpr std::size_t kMaxPasswordPeers = 64;

    /// Makes the random cookie key: cookies of an earlier start do not verify.
    /// Throws std::runtime_error when the configuration's cryptography cannot
    /// be had (no library, no randomness).
    WebApi(WebApiConfig config, WebCommands& commands);
    ~WebApi();
    WebApi(const WebApi&) = delete;
    WebApi& operator=(const WebApi&) = delete;

    /// Answers one request; `nowMs` is the tick count (it may wrap).
    WebResponse handle(const WebRequest& request, uint32_t nowMs);

    /// The cookie value that proves the password, for tests.
    std::string sessionToken() const;

private:
    struct PasswordFailures {
        uint32_t peer;
        uint32_t windowStart;
        int count;
    };

    WebResponse respond(const WebRequest& request, uint32_t nowMs);
    /// The checks before the route: peer, Host, Origin, body size.
    std::optional<WebResponse> refusedUnheard(const WebRequest& request) const;
    /// No such route, the wrong method, a POST without JSON.
    std::optional<WebResponse> refusedRoute(std::string_view path, const WebRequest& request) const;
    std::optional<WebResponse> refusedPassword(const WebRequest& request, uint32_t nowMs);
    WebResponse pageResponse() const;
    bool hostAccepted(std::string_view host) const;
    bool hasValidCookie(std::string_view cookieHeader) const;
    bool passwordMatches(std::string_view supplied) const;
    bool throttled(uint32_t peer, uint32_t nowMs) const;
    void noteWrongPassword(uint32_t peer, uint32_t nowMs);
    void forgetWrongPasswords(uint32_t peer);
    WebResponse tooManyWrongPasswords() const;
    nlohmann::json stateJson(uint32_t peer);
    nlohmann::json planWithRights();
    WebResponse postVote(const WebRequest& request, const nlohmann::json& body, bool withdraw);
    /// The code of the page's address as this peer reached it.
    WebResponse codeResponse(const WebRequest& request) const;
    WebResponse postLogin(const WebRequest& request, const nlohmann::json& body, uint32_t nowMs);
    /// POST /api/allow: only with a WebPassword (given, as every route then).
    WebResponse postAllow(const WebRequest& request, const nlohmann::json& body);

    Crypto& crypto() const { return *config.crypto; }

    WebApiConfig config;
    WebCommands& commands;
    unsigned char key[Crypto::kMacKeyBytes];
    std::vector<PasswordFailures> failures;
};

/// The page (resources/web/index.html), built into the program.
std::string_view webPage();

}  // namespace linkmoot
