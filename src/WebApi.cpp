#include "WebApi.h"

#include <algorithm>
#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "Crypto.h"
#include "Ipv4.h"
#include "TextTools.h"
#include "UsageText.h"

namespace linkmoot {

namespace {

using Json = nlohmann::json;

constexpr const char* kJsonType = "application/json";
constexpr const char* kSessionMessage = "linkmoot web session:";

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

/// A decimal port 1-65535 without sign or leading zero.
bool isPort(std::string_view text) {
    if (text.empty() || text.size() > 5 || text[0] == '0')
        return false;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + uint32_t(c - '0');
    }
    return value <= 65535;
}

/// Dumps for the wire: names from datagrams may hold any bytes, so invalid
/// UTF-8 is replaced instead of throwing.
std::string dump(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

WebResponse jsonResponse(int status, const Json& body) {
    WebResponse response;
    response.status = status;
    response.contentType = kJsonType;
    response.body = dump(body);
    return response;
}

WebResponse errorResponse(int status, std::string message) {
    return jsonResponse(status, Json{{"error", std::move(message)}});
}

/// The media type of a Content-Type value, parameters and spaces removed.
std::string_view mediaType(std::string_view value) {
    return trimBlanks(value.substr(0, value.find(';')));
}

/// The vote name for a request: "web:" and the typed name, or the peer's
/// address when none is given. An error text when the name is unfit.
bool voteName(const Json& body, uint32_t peer, std::string& name, std::string& error) {
    auto field = body.find("name");
    std::string_view typed;
    std::string storage;
    if (field != body.end() && !field->is_null()) {
        if (!field->is_string()) {
            error = "\"name\" must be a string";
            return false;
        }
        storage = field->get<std::string>();
        typed = trimBlanks(storage);
    }
    // A script may hand back the full name it was given.
    if (typed.substr(0, std::strlen(WebApi::kNamePrefix)) == WebApi::kNamePrefix)
        typed.remove_prefix(std::strlen(WebApi::kNamePrefix));
    if (typed.empty()) {
        name = std::string(WebApi::kNamePrefix) + ipv4::format(peer);
        return true;
    }
    if (typed.size() > WebApi::kMaxNameLength) {
        error = "The name is too long: at most " + std::to_string(WebApi::kMaxNameLength) +
                " characters";
        return false;
    }
    for (char c : typed) {
        if (c < 0x20 || c > 0x7E) {
            error =
                "The name may hold only printable ASCII characters (letters, digits, spaces, "
                "punctuation)";
            return false;
        }
    }
    name = std::string(WebApi::kNamePrefix) + std::string(typed);
    return true;
}

}  // namespace

WebApi::WebApi(WebApiConfig config, WebCommands& commands)
    : config(std::move(config)), commands(commands) {
    // Without the library there is no key, and no page.
    std::string why = "no cryptography library";
    if (this->config.crypto == nullptr || !this->config.crypto->available(why))
        throw std::runtime_error("No key for its cookies: " + why);
    crypto().randomBytes(key, sizeof key);
}

WebApi::~WebApi() {
    crypto().wipe(key, sizeof key);
}

std::string WebApi::sessionToken() const {
    unsigned char mac[Crypto::kMacBytes];
    crypto().macOnce(key, std::string(kSessionMessage) + config.password, mac);
    return crypto().toHex(mac, sizeof mac);
}

bool WebApi::hostAccepted(std::string_view host) const {
    // An IPv6 literal never names this server: it listens on IPv4 only.
    std::size_t colon = host.rfind(':');
    if (colon != std::string_view::npos) {
        if (!isPort(host.substr(colon + 1)))
            return false;
        host = host.substr(0, colon);
    }
    uint32_t address;
    if (ipv4::parse(host, address)) {
        if ((address >> 24) == 127)
            return true;
        return config.isLocalAddress && config.isLocalAddress(address);
    }
    if (host.empty())
        return false;
    if (equalsIgnoringCase(host, "localhost"))
        return true;
    return std::any_of(config.hostNames.begin(), config.hostNames.end(),
                       [host](const std::string& name) { return equalsIgnoringCase(host, name); });
}

bool WebApi::hasValidCookie(std::string_view header) const {
    const std::string expected = sessionToken();
    while (!header.empty()) {
        std::size_t end = header.find(';');
        std::string_view pair = trimBlanks(header.substr(0, end));
        header = end == std::string_view::npos ? std::string_view() : header.substr(end + 1);
        std::size_t equals = pair.find('=');
        if (equals == std::string_view::npos || pair.substr(0, equals) != kCookieName)
            continue;
        std::string_view value = pair.substr(equals + 1);
        if (value.size() == expected.size() &&
            crypto().equal(value.data(), expected.data(), expected.size())) {
            return true;
        }
    }
    return false;
}

bool WebApi::passwordMatches(std::string_view supplied) const {
    // Comparing MACs of both keeps the time independent of where they differ
    // and of the password's length.
    unsigned char want[Crypto::kMacBytes];
    unsigned char got[Crypto::kMacBytes];
    crypto().macOnce(key, config.password, want);
    crypto().macOnce(key, supplied, got);
    return crypto().equal(want, got, sizeof want);
}

bool WebApi::throttled(uint32_t peer, uint32_t nowMs) const {
    for (const PasswordFailures& entry : failures) {
        if (entry.peer == peer)
            return entry.count >= kMaxPasswordFailures &&
                   nowMs - entry.windowStart < kPasswordWindowMs;
    }
    return false;
}

void WebApi::noteWrongPassword(uint32_t peer, uint32_t nowMs) {
    for (PasswordFailures& entry : failures) {
        if (entry.peer == peer) {
            if (nowMs - entry.windowStart >= kPasswordWindowMs) {
                entry.windowStart = nowMs;
                entry.count = 0;
            }
            ++entry.count;
            return;
        }
    }
    if (failures.size() >= kMaxPasswordPeers) {
        // Forget the peer whose window started longest ago.
        auto oldest =
            std::max_element(failures.begin(), failures.end(),
                             [nowMs](const PasswordFailures& a, const PasswordFailures& b) {
                                 return nowMs - a.windowStart < nowMs - b.windowStart;
                             });
        failures.erase(oldest);
    }
    failures.push_back({peer, nowMs, 1});
}

void WebApi::forgetWrongPasswords(uint32_t peer) {
    std::erase_if(failures, [peer](const PasswordFailures& entry) { return entry.peer == peer; });
}

WebResponse WebApi::handle(const WebRequest& request, uint32_t nowMs) {
    WebResponse response = respond(request, nowMs);
    // Answers are live state: never cached, never framed, never sniffed.
    response.headers.emplace_back("Cache-Control", "no-store");
    response.headers.emplace_back("X-Content-Type-Options", "nosniff");
    response.headers.emplace_back("X-Frame-Options", "DENY");
    response.headers.emplace_back("Referrer-Policy", "no-referrer");
    return response;
}

std::optional<WebResponse> WebApi::refusedUnheard(const WebRequest& request) const {
    if (config.isAllowedPeer && !config.isAllowedPeer(request.peer))
        return errorResponse(403, "Your address is not in the server's allowed networks");
    if (!request.host)
        return errorResponse(400, "The request has no Host header");
    if (!hostAccepted(*request.host))
        return errorResponse(403, "The Host header does not name this computer");
    if (request.origin &&
        !equalsIgnoringCase(*request.origin, "http://" + std::string(*request.host)))
        return errorResponse(403,
                             "The request comes from another site (Origin does not match Host)");
    if (request.bodyTooLarge || request.body.size() > kMaxBodyBytes)
        return errorResponse(413, "The request body is larger than 4096 bytes");
    return std::nullopt;
}

std::optional<WebResponse> WebApi::refusedRoute(std::string_view path,
                                                const WebRequest& request) const {
    const bool isGet = request.method == "GET" || request.method == "HEAD";
    const bool isPost = request.method == "POST";
    bool wantsPost = false;
    if (path == "/" || path == "/api/state" || path == "/api/usage" || path == "/api/code") {
        wantsPost = false;
    } else if (path == "/api/vote" || path == "/api/unvote" || path == "/api/login" ||
               path == "/api/allow") {
        wantsPost = true;
    } else {
        return errorResponse(404, "No such page");
    }
    if (wantsPost ? !isPost : !isGet) {
        WebResponse response = errorResponse(405, "Method not allowed here");
        response.headers.emplace_back("Allow", wantsPost ? "POST" : "GET, HEAD");
        return response;
    }
    if (isPost &&
        (!request.contentType || !equalsIgnoringCase(mediaType(*request.contentType), kJsonType))) {
        return errorResponse(415, "Send the body as Content-Type: application/json");
    }
    return std::nullopt;
}

WebResponse WebApi::pageResponse() const {
    WebResponse response;
    response.status = 200;
    response.contentType = "text/html; charset=utf-8";
    response.body = std::string(config.page);
    response.headers.emplace_back(
        "Content-Security-Policy",
        "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
        "connect-src 'self'; img-src data:; form-action 'none'; frame-ancestors 'none'; "
        "base-uri 'none'");
    return response;
}

std::optional<WebResponse> WebApi::refusedPassword(const WebRequest& request, uint32_t nowMs) {
    bool allowed = request.cookie && hasValidCookie(*request.cookie);
    if (!allowed && request.authorization) {
        if (throttled(request.peer, nowMs))
            return tooManyWrongPasswords();
        std::string_view value = trimBlanks(*request.authorization);
        constexpr std::string_view scheme = "Bearer ";
        if (value.size() >= scheme.size() &&
            equalsIgnoringCase(value.substr(0, scheme.size()), scheme) &&
            passwordMatches(value.substr(scheme.size()))) {
            forgetWrongPasswords(request.peer);
            allowed = true;
        } else {
            noteWrongPassword(request.peer, nowMs);
        }
    }
    if (allowed)
        return std::nullopt;
    WebResponse response = errorResponse(401, "Password required");
    response.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"linkmoot\"");
    return response;
}

WebResponse WebApi::respond(const WebRequest& request, uint32_t nowMs) {
    if (std::optional<WebResponse> refusal = refusedUnheard(request))
        return *refusal;
    const std::string_view path = request.path.substr(0, request.path.find('?'));
    if (std::optional<WebResponse> refusal = refusedRoute(path, request))
        return *refusal;
    if (path == "/")
        return pageResponse();
    if (path != "/api/login" && !config.password.empty()) {
        if (std::optional<WebResponse> refusal = refusedPassword(request, nowMs))
            return *refusal;
    }
    if (path == "/api/state")
        return jsonResponse(200, stateJson(request.peer));
    // Who used the line is for those who know the password: without one,
    // the figures alone.
    if (path == "/api/usage")
        return jsonResponse(200, usageJson(commands.usage(), !config.password.empty()));
    if (path == "/api/code")
        return codeResponse(request);

    Json body;
    try {
        body = Json::parse(request.body);
    } catch (const Json::exception& error) {
        // parse_error, and out_of_range for numbers such as 1e400.
        std::string what = error.what();
        // Drop the library's "[json.exception.parse_error.101] " tag.
        std::size_t tag = what.find("] ");
        return errorResponse(
            400, "Bad JSON: " + (tag == std::string::npos ? what : what.substr(tag + 2)));
    }
    if (!body.is_object())
        return errorResponse(400, "The body must be a JSON object");
    if (path == "/api/login")
        return postLogin(request, body, nowMs);
    if (path == "/api/allow")
        return postAllow(request, body);
    return postVote(request, body, path == "/api/unvote");
}

WebResponse WebApi::codeResponse(const WebRequest& request) const {
    if (request.local == 0 || request.localPort == 0)
        return errorResponse(503, "The page's address is not known");
    const std::string address =
        "http://" + ipv4::format(request.local) + ":" + std::to_string(request.localPort) + "/";
    QrModules code;
    std::string error;
    if (!config.encodeCode || !config.encodeCode(address, code, error))
        return errorResponse(503, "No code can be made here" + (error.empty() ? "" : ": " + error));
    return jsonResponse(
        200, Json{{"address", address}, {"size", code.size}, {"rows", moduleRows(code)}});
}

WebResponse WebApi::tooManyWrongPasswords() const {
    WebResponse response = errorResponse(429, "Too many wrong passwords; try again in a minute");
    response.headers.emplace_back("Retry-After", std::to_string(kPasswordWindowMs / 1000));
    return response;
}

WebResponse WebApi::postLogin(const WebRequest& request, const Json& body, uint32_t nowMs) {
    if (config.password.empty())
        return jsonResponse(200, stateJson(request.peer));
    if (throttled(request.peer, nowMs))
        return tooManyWrongPasswords();
    auto field = body.find("password");
    if (field == body.end() || !field->is_string())
        return errorResponse(400, "\"password\" must be a string");
    if (!passwordMatches(field->get_ref<const std::string&>())) {
        noteWrongPassword(request.peer, nowMs);
        return errorResponse(401, "Wrong password");
    }
    forgetWrongPasswords(request.peer);
    WebResponse response = jsonResponse(200, stateJson(request.peer));
    response.headers.emplace_back("Set-Cookie", std::string(kCookieName) + "=" + sessionToken() +
                                                    "; Path=/; Max-Age=2592000; HttpOnly; "
                                                    "SameSite=Strict");
    return response;
}

WebResponse WebApi::postVote(const WebRequest& request, const Json& body, bool withdraw) {
    std::string name;
    std::string error;
    if (!voteName(body, request.peer, name, error))
        return errorResponse(400, error);
    if (withdraw) {
        const bool removed = commands.unvote(name);
        Json json = stateJson(request.peer);
        json["name"] = name;
        json["removed"] = removed;
        return jsonResponse(200, json);
    }
    uint32_t minutes = config.maxVoteMinutes;
    auto field = body.find("minutes");
    if (field != body.end() && !field->is_null()) {
        // Unsigned first: a huge positive number must not wrap to a valid one.
        bool valid =
            field->is_number_unsigned()
                ? field->get<uint64_t>() >= 1 && field->get<uint64_t>() <= config.maxVoteMinutes
                : false;
        if (!valid) {
            return errorResponse(400, "\"minutes\" must be a whole number from 1 to " +
                                          std::to_string(config.maxVoteMinutes));
        }
        minutes = uint32_t(field->get<uint64_t>());
    }
    if (!commands.vote(name, minutes))
        return errorResponse(503, "The server is not taking votes now");
    Json json = stateJson(request.peer);
    json["name"] = name;
    return jsonResponse(200, json);
}

Json WebCommands::plan() {
    return Json{{"active", false}};
}

bool WebCommands::allowOverCap(std::optional<uint32_t>, bool, const std::string&,
                               std::string& error) {
    error = "No data plan here";
    return false;
}

WebResponse WebApi::postAllow(const WebRequest& request, const Json& body) {
    // Running up the bill is for those who know the password, never for any
    // device on the LAN.
    if (config.password.empty())
        return errorResponse(403, "An allowance over the data cap needs a WebPassword");
    std::string name;
    std::string error;
    if (!voteName(body, request.peer, name, error))
        return errorResponse(400, error);
    std::optional<uint32_t> minutes;
    auto field = body.find("minutes");
    if (field != body.end() && !field->is_null()) {
        if (!field->is_number_unsigned() || field->get<uint64_t>() < 1 ||
            field->get<uint64_t>() > 527040)
            return errorResponse(400, "\"minutes\" must be a whole number from 1 to 527040");
        minutes = static_cast<uint32_t>(field->get<uint64_t>());
    }
    auto cancel = body.find("cancel");
    const bool cancelling = cancel != body.end() && cancel->is_boolean() && cancel->get<bool>();
    if (!commands.allowOverCap(minutes, cancelling, name + " from " + ipv4::format(request.peer),
                               error))
        return errorResponse(409, error);
    return jsonResponse(200, stateJson(request.peer));
}

Json WebApi::stateJson(uint32_t peer) {
    const std::shared_ptr<const StatusSnapshot> status = commands.latestStatus();
    Json votes = Json::array();
    for (const VoteEntry& vote : status->votes) {
        votes.push_back({{"name", vote.host},
                         {"kind", vote.kind == VoteEntry::Kind::Web ? "web" : "datagram"},
                         {"secondsLeft", vote.secondsLeft}});
    }
    const bool up = status->line == LineStatus::Up;
    return Json{{"version", kProtocolVersion},
                {"server", config.hostNames.empty() ? std::string() : config.hostNames.front()},
                {"line", status->lineWord},
                {"secondsUp", up ? status->secondsUp : 0},
                {"retrySeconds", status->retrySeconds},
                {"maxMinutes", config.maxVoteMinutes},
                {"defaultName", std::string(kNamePrefix) + ipv4::format(peer)},
                {"votes", std::move(votes)},
                {"plan", planWithRights()}};
}

Json WebApi::planWithRights() {
    Json plan = commands.plan();
    // The page offers the allowance only where it is taken.
    if (plan.value("active", false))
        plan["canAllow"] = !config.password.empty();
    return plan;
}

}  // namespace linkmoot
