#pragma once
// The client's view of the server's line, from the server's answers: which
// answers it trusts, what the status row says ("Server gateway: line up for
// 12 min, 3 votes (yours among them)"), the one word `linkmootctl line` and
// `wait` read, and the changes worth a notification.
#include <cstdint>
#include <string>
#include <string_view>

#include "Protocol.h"

namespace linkmoot {

class ProtocolKey;

/// What the client knows of the server's line at one moment.
struct ServerView {
    enum class State {
        Unknown,          ///< nothing asked yet (or server mode): no row
        Waiting,          ///< asked; the first answer is not due yet
        Answered,         ///< the latest trusted answer is fresh
        Silent,           ///< it answered before, but not for a while
        NeverAnswered,    ///< asked for a while and never answered
        SecretUnchecked,  ///< it answers unsigned although this client signs
    };
    State state = State::Unknown;
    protocol::LineReport report;  ///< Answered: as of now (times moved on by the answer's age)
    uint32_t silentSeconds = 0;   ///< Silent: since the latest trusted answer
};

/// Tracks requests and answers. The client calls requestSent() for every
/// request it sends and answerReceived() for every datagram read from its
/// socket (connected to the server, so nothing else arrives there).
class ServerWatch {
public:
    /// After this long without a trusted answer (two missed requests and
    /// some) the server counts as silent.
    static constexpr uint32_t kSilenceMs = 25000;

    /// t: the request's counter when signed, else 0.
    void requestSent(uint64_t t, uint32_t nowTick);
    /// Reads one datagram. With a key only signed answers that verify and
    /// echo the latest request's t are trusted. True when the view's state,
    /// line, votes, "yours" or retry changed.
    bool answerReceived(std::string_view datagram, const ProtocolKey* key, uint32_t nowTick);
    ServerView view(uint32_t nowTick) const;
    /// Forgets everything (the server or the secret changed, or server mode).
    void reset() { *this = ServerWatch(); }

private:
    bool asked = false;
    uint32_t firstRequest = 0;  // tick of the first request since the latest answer
    uint64_t latestT = 0;
    bool answered = false;    // a trusted answer has come
    uint32_t answerTime = 0;  // tick of the latest trusted answer
    protocol::LineReport latest;
    bool unsignedAnswer = false;  // the latest answer was unsigned though we sign
    uint32_t unsignedTime = 0;
};

/// The same line, votes, "yours" and retry, and the same state; times aside.
bool sameLine(const ServerView& a, const ServerView& b);

/// The status row, e.g. "Server gateway: dialling, 1 vote"; empty for Unknown.
std::string serverLineText(std::string_view serverName, const ServerView& view);

/// The one word of `linkmootctl line`: "up", "dialling", "down", "guard",
/// "failed", or "unknown" without a fresh trusted answer.
const char* lineWordOf(const ServerView& view);

/// A change worth a notification while this user votes.
enum class LineNotice { None, CameUp, WentDown, StoppedAnswering };
LineNotice noticeBetween(const ServerView& before, const ServerView& after);
/// "The line of gateway is up", ... ; empty for None.
std::string noticeText(std::string_view serverName, LineNotice notice);

/// "45 s", "12 min", "2 h 5 min", "3 d 4 h".
std::string durationText(uint64_t seconds);

}  // namespace linkmoot
