// Feeds arbitrary bytes to the client's answer parser and to the watch that
// decides which answers to trust. Whatever parses must rebuild into an answer
// that parses to the same report, signed or not; a signed rebuild echoing the
// latest request must be trusted, and the same bytes with one byte changed
// must not change what a client with a secret shows.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "Protocol.h"
#include "ServerLine.h"
#include "SharedSecret.h"
#include "platform/SodiumCrypto.h"

using namespace linkmoot;

namespace {

[[noreturn]] void fail(const char* what, std::string_view datagram) {
    std::fprintf(stderr, "%s: %.*s\n", what, static_cast<int>(datagram.size()), datagram.data());
    std::abort();
}

const ProtocolKey& key() {
    static const std::unique_ptr<ProtocolKey> made = [] {
        unsigned char bytes[ProtocolKey::kBytes];
        for (std::size_t i = 0; i < sizeof bytes; i++)
            bytes[i] = static_cast<unsigned char>(i);
        return ProtocolKey::fromBytes(sodiumCrypto(), bytes);
    }();
    return *made;
}

bool sameReport(const protocol::LineReport& a, const protocol::LineReport& b) {
    return a.line == b.line && a.votes == b.votes && a.you == b.you && a.upSeconds == b.upSeconds &&
           a.retrySeconds == b.retrySeconds;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view datagram(reinterpret_cast<const char*>(data), size);

    // Whatever arrives, the watch keeps a view it can put in words.
    for (const ProtocolKey* clientKey : {static_cast<const ProtocolKey*>(nullptr), &key()}) {
        ServerWatch watch;
        watch.requestSent(42, 1000);
        watch.answerReceived(datagram, clientKey, 1500);
        const ServerView view = watch.view(1500);
        if (serverLineText("gw", view).rfind("Server gw: ", 0) != 0)
            fail("no row", datagram);
        if (clientKey != nullptr && view.state == ServerView::State::Answered) {
            fail("a client with a secret trusted a forged answer", datagram);
        }
    }

    protocol::Answer answer;
    if (protocol::parseAnswer(datagram, answer) != protocol::AnswerError::None)
        return 0;
    if (size > protocol::kMaxDatagramLength || answer.version < protocol::kVersion) {
        fail("accepted what it must refuse", datagram);
    }
    if (answer.signing == protocol::Signing::Signed &&
        std::string(answer.signedBytes) + ",mac=" + std::string(answer.mac) != datagram) {
        fail("the mac does not end the answer", datagram);
    }

    const std::string plain = protocol::buildAnswer(answer.report, nullptr, 0, 0);
    protocol::Answer again;
    if (protocol::parseAnswer(plain, again) != protocol::AnswerError::None ||
        !sameReport(answer.report, again.report) || again.signing != protocol::Signing::None) {
        fail("an unsigned rebuild does not read back", plain);
    }

    const uint64_t echo = 1700000000000ull;
    const std::string signedAnswer = protocol::buildAnswer(answer.report, &key(), echo, echo + 1);
    if (signedAnswer.size() > protocol::kMaxDatagramLength)
        fail("over 256 bytes", signedAnswer);
    ServerWatch watch;
    watch.requestSent(echo, 1000);
    watch.answerReceived(signedAnswer, &key(), 1500);
    const ServerView view = watch.view(1500);
    if (view.state != ServerView::State::Answered || !sameReport(view.report, answer.report)) {
        fail("a verified answer that echoes the request was not trusted", signedAnswer);
    }
    // Sixteen positions spread over the datagram keep the runs fast.
    const std::size_t stride = signedAnswer.size() / 16 + 1;
    for (std::size_t i = size % stride; i < signedAnswer.size(); i += stride) {
        std::string tampered = signedAnswer;
        tampered[i] = static_cast<char>(tampered[i] ^ (1 + (i % 7)));
        ServerWatch victim;
        victim.requestSent(echo, 1000);
        victim.answerReceived(tampered, &key(), 1500);
        if (victim.view(1500).state == ServerView::State::Answered) {
            fail("a changed answer was trusted", tampered);
        }
    }
    return 0;
}
