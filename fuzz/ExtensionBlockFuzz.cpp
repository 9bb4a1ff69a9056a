// Feeds arbitrary bytes to the server's request parser and its trust gate.
// Checks what a parsed request must be: the verb, ":" and the name start the
// datagram, a block follows one NUL and holds only well-formed, distinct
// fields, a signature's mac ends the datagram and covers the rest. A signed
// rebuild of the same request must pass the gate once and only once, and no
// byte of it may change without the gate noticing. The server's answer to it
// (the intake's last step) must be one the client trusts and reads back as
// it was built.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Protocol.h"
#include "ServerLine.h"
#include "SharedSecret.h"
#include "Trust.h"
#include "platform/SodiumCrypto.h"

using namespace linkmoot;

namespace {

[[noreturn]] void fail(const char* what, std::string_view datagram) {
    std::fprintf(stderr, "%s: ", what);
    for (char c : datagram)
        std::fprintf(stderr, "\\x%02X", static_cast<unsigned char>(c));
    std::fprintf(stderr, "\n");
    std::abort();
}

const ProtocolKey& key() {
    static const std::unique_ptr<ProtocolKey> made = [] {
        unsigned char bytes[ProtocolKey::kBytes];
        for (std::size_t i = 0; i < sizeof bytes; i++)
            bytes[i] = static_cast<unsigned char>(i * 3);
        return ProtocolKey::fromBytes(sodiumCrypto(), bytes);
    }();
    return *made;
}

bool wellFormed(std::string_view text) {
    if (text.empty())
        return false;
    for (char c : text) {
        if (c <= ' ' || c >= 0x7F || c == ',' || c == '=')
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view datagram(reinterpret_cast<const char*>(data), size);
    const uint32_t source = 0xC0A80102u;
    const trust::WallClock wall{1700000000000ull, true};

    // The gate takes anything, with and without a secret.
    trust::ServerGate gate;
    protocol::Request request;
    gate.check(datagram, source, nullptr, wall, 1000, request);
    gate.check(datagram, source, &key(), wall, 1000, request);
    gate.housekeeping(1000);

    if (protocol::parseRequest(datagram, request) != protocol::RequestError::None)
        return 0;
    const std::string head =
        std::string(protocol::verbWord(request.verb)) + ":" + std::string(request.name);
    if (size > protocol::kMaxDatagramLength || datagram.substr(0, head.size()) != head ||
        request.name.find('\0') != std::string_view::npos) {
        fail("the head is not verb, colon and name", datagram);
    }
    if (request.hasBlock != (size > head.size()))
        fail("a block without its NUL", datagram);
    for (std::size_t i = 0; i < request.fields.size(); i++) {
        const protocol::Field& field = request.fields[i];
        if (!wellFormed(field.key) || (!field.value.empty() && !wellFormed(field.value))) {
            fail("a malformed field was accepted", datagram);
        }
        for (std::size_t j = 0; j < i; j++) {
            if (request.fields[j].key == field.key)
                fail("a repeated key was accepted", datagram);
        }
    }
    if (request.signing == protocol::Signing::Signed &&
        (std::string(request.signedBytes) + ",mac=" + std::string(request.mac) != datagram ||
         request.t > protocol::kMaxCounter)) {
        fail("the signature is not where it must be", datagram);
    }

    const std::string resigned = protocol::buildRequest(request.verb, request.name, &key(), 5);
    if (resigned.empty())
        return 0;  // the name leaves no room for a signature
    trust::ServerGate fresh;
    protocol::Request check;
    if (fresh.check(resigned, source, &key(), {5, true}, 1000, check) !=
            trust::ServerGate::Verdict::Accepted ||
        check.name != request.name || check.verb != request.verb) {
        fail("a signed rebuild was refused", resigned);
    }
    if (fresh.check(resigned, source, &key(), {5, true}, 2000, check) !=
        trust::ServerGate::Verdict::Dropped) {
        fail("a replay was accepted", resigned);
    }

    // The answer, with a state taken from the input's bytes.
    protocol::LineReport report;
    report.line = static_cast<protocol::Line>(data[0] % 5);
    report.votes = size;
    report.you = (data[size - 1] & 1) != 0;
    report.upSeconds = report.line == protocol::Line::Up ? size * 7 : 0;
    if (data[0] & 8)
        report.retrySeconds = data[0];
    const trust::PendingAnswer pending{.address = source,
                                       .port = 40000,
                                       .local = 0x7f000001,
                                       .name = std::string(check.name),
                                       .echo = check.t};
    if (fresh.admit({pending}, 1000) != std::vector<bool>{true})
        fail("the first answer to a source was not admitted", resigned);
    const std::string answer = fresh.answer(pending, report, &key(), {5, true});
    protocol::Answer read;
    if (answer.empty() || protocol::parseAnswer(answer, read) != protocol::AnswerError::None ||
        read.signing != protocol::Signing::Signed || read.echo != 5 ||
        read.report.line != report.line || read.report.votes != report.votes ||
        read.report.you != report.you || read.report.upSeconds != report.upSeconds ||
        read.report.retrySeconds != report.retrySeconds) {
        fail("the answer does not read back as built", answer);
    }
    ServerWatch watch;
    watch.requestSent(5, 0);
    if (!watch.answerReceived(answer, &key(), 100) ||
        watch.view(100).state != ServerView::State::Answered) {
        fail("the client does not trust the answer", answer);
    }
    if (fresh.admit({pending}, 1500) != std::vector<bool>{false})
        fail("a second answer to the same source within a second", answer);
    // Sixteen positions spread over the datagram keep the runs fast.
    const std::size_t stride = resigned.size() / 16 + 1;
    for (std::size_t i = size % stride; i < resigned.size(); i += stride) {
        std::string tampered = resigned;
        tampered[i] = static_cast<char>(tampered[i] ^ (1 + (i % 5)));
        trust::ServerGate other;
        if (other.check(tampered, source, &key(), {5, true}, 1000, check) ==
            trust::ServerGate::Verdict::Accepted) {
            fail("a changed datagram was accepted", tampered);
        }
    }
    return 0;
}
