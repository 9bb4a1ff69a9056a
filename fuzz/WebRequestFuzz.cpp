// Feeds arbitrary requests to the web page's request handler and checks what
// must hold for any of them: the status is one of the documented ones, every
// JSON answer is valid JSON, a vote reaches the server only with a checked
// "web:" name and minutes within the limit, and with a password set nothing
// but the page is served without the right cookie or Bearer password.
//
// Input: one flag byte, then the fields method, path, Host, Origin,
// Content-Type, Cookie, Authorization and body, each ended by a NUL byte (the
// body by the end of the input). Flag bits: 0 a password is set, 1 the valid
// session cookie is added to the Cookie field, 2-6 which of the five header
// fields are present at all, 7 the adapter's "body too large" mark.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "WebApi.h"
#include "platform/SodiumCrypto.h"

using linkmoot::WebApi;
using linkmoot::WebRequest;
using linkmoot::WebResponse;

namespace {

constexpr const char* kPassword = "fuzz password";
constexpr uint32_t kMaxMinutes = 120;

[[noreturn]] void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
    std::abort();
}

struct Sink : linkmoot::WebCommands {
    std::shared_ptr<const linkmoot::StatusSnapshot> latestStatus() override {
        auto status = std::make_shared<linkmoot::StatusSnapshot>();
        status->line = linkmoot::LineStatus::Up;
        status->lineWord = "up";
        status->secondsUp = 42;
        status->votes = {{"web:anna", 0, linkmoot::VoteEntry::Kind::Web, 600},
                         {"WS\xc3\x28", 0, linkmoot::VoteEntry::Kind::Datagram, 20}};
        return status;
    }
    int calls = 0;
    static void checkName(const std::string& name) {
        if (name.rfind(WebApi::kNamePrefix, 0) != 0 || name.size() <= 4 ||
            name.size() > 4 + WebApi::kMaxNameLength) {
            fail("unchecked vote name", name);
        }
        for (char c : name) {
            if (c < 0x20 || c > 0x7E)
                fail("unprintable vote name", name);
        }
    }
    bool vote(const std::string& name, uint32_t minutes) override {
        ++calls;
        checkName(name);
        if (minutes < 1 || minutes > kMaxMinutes)
            fail("minutes out of range", std::to_string(minutes));
        return true;
    }
    bool unvote(const std::string& name) override {
        ++calls;
        checkName(name);
        return true;
    }
};

bool isKnownStatus(int status) {
    for (int known : {200, 400, 401, 403, 404, 405, 413, 415, 429, 503}) {
        if (status == known)
            return true;
    }
    return false;
}

bool bearerMatches(std::string_view value) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.remove_suffix(1);
    if (value.size() < 7)
        return false;
    std::string scheme(value.substr(0, 7));
    for (char& c : scheme)
        c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return scheme == "bearer " && value.substr(7) == kPassword;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const uint8_t flags = data[0];
    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::vector<std::string> fields;
    for (int i = 0; i < 7; ++i) {
        std::size_t end = rest.find('\0');
        fields.emplace_back(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    const std::string body(rest);

    Sink sink;
    linkmoot::WebApiConfig config;
    config.password = (flags & 1) ? kPassword : "";
    config.maxVoteMinutes = kMaxMinutes;
    config.hostNames = {"gateway"};
    config.isAllowedPeer = [](uint32_t peer) { return (peer >> 24) != 203; };
    config.isLocalAddress = [](uint32_t address) { return address == 0xC000020A; };
    config.page = "<!DOCTYPE html>";
    config.crypto = &linkmoot::sodiumCrypto();
    WebApi api(config, sink);

    std::string cookie = fields[5];
    if (flags & 2)
        cookie += "; " + std::string(WebApi::kCookieName) + "=" + api.sessionToken();
    WebRequest request;
    request.method = fields[0];
    request.path = fields[1];
    std::string* headers[] = {&fields[2], &fields[3], &fields[4], &cookie, &fields[6]};
    std::optional<std::string_view>* slots[] = {&request.host, &request.origin,
                                                &request.contentType, &request.cookie,
                                                &request.authorization};
    for (int i = 0; i < 5; ++i) {
        if (flags & (4 << i))
            *slots[i] = *headers[i];
    }
    request.bodyTooLarge = (flags & 0x80) != 0;
    request.body = body;
    request.peer = 0xC000024D;

    WebResponse response = api.handle(request, 1000);
    if (!isKnownStatus(response.status))
        fail("undocumented status", std::to_string(response.status));
    if (response.contentType == "application/json") {
        if (!nlohmann::json::accept(response.body))
            fail("invalid JSON answer", response.body);
        if (response.status != 200 &&
            !nlohmann::json::parse(response.body).at("error").is_string()) {
            fail("error without a message", response.body);
        }
    }
    if (sink.calls > 0 && response.status != 200 && response.status != 503)
        fail("a refused request reached the server", std::to_string(response.status));

    std::string_view path = request.path.substr(0, request.path.find('?'));
    const bool protectedRoute =
        path == "/api/state" || path == "/api/vote" || path == "/api/unvote";
    if ((flags & 1) && protectedRoute && response.status == 200) {
        const bool cookieSent = (flags & 2) && request.cookie.has_value();
        const bool bearer = request.authorization && bearerMatches(*request.authorization);
        if (!cookieSent && !bearer)
            fail("served without the password", std::string(request.path));
    }
    return 0;
}
