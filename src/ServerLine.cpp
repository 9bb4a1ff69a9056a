#include "ServerLine.h"

#include "SharedSecret.h"

namespace linkmoot {

namespace {

uint32_t since(uint32_t then, uint32_t nowTick) {
    return static_cast<uint32_t>(nowTick - then);
}

std::string votesText(uint64_t votes, bool you) {
    if (votes == 0)
        return "no votes";
    if (votes == 1)
        return you ? "1 vote (yours)" : "1 vote";
    return std::to_string(votes) + " votes" + (you ? " (yours among them)" : "");
}

std::string lineText(const protocol::LineReport& report) {
    const std::string votes = votesText(report.votes, report.you);
    switch (report.line) {
        case protocol::Line::Up:
            return "line up for " + durationText(report.upSeconds) + ", " + votes;
        case protocol::Line::Dialling:
            return "dialling, " + votes;
        case protocol::Line::Down:
            return "down, " + votes;
        case protocol::Line::Guard:
            return "hung up, waiting its guard time" + (report.votes > 0 ? ", " + votes : "");
        case protocol::Line::Failed: {
            std::string text = "dial failed";
            if (report.retrySeconds) {
                text += *report.retrySeconds > 0
                            ? ", trying again in " + durationText(*report.retrySeconds)
                            : ", trying again now";
            }
            return text + (report.votes > 0 ? ", " + votes : "");
        }
    }
    return votes;
}

bool isSilent(const ServerView& view) {
    return view.state == ServerView::State::Silent ||
           view.state == ServerView::State::NeverAnswered;
}

bool isUp(const ServerView& view) {
    return view.state == ServerView::State::Answered && view.report.line == protocol::Line::Up;
}

}  // namespace

void ServerWatch::requestSent(uint64_t t, uint32_t nowTick) {
    if (!asked) {
        asked = true;
        firstRequest = nowTick;
    }
    latestT = t;
}

bool ServerWatch::answerReceived(std::string_view datagram, const ProtocolKey* key,
                                 uint32_t nowTick) {
    protocol::Answer answer;
    if (protocol::parseAnswer(datagram, answer) != protocol::AnswerError::None)
        return false;
    const ServerView before = view(nowTick);
    if (key != nullptr) {
        if (answer.signing == protocol::Signing::None) {
            unsignedAnswer = true;
            unsignedTime = nowTick;
            return !sameLine(before, view(nowTick));
        }
        // An old answer, a forged one, or one for another request: not ours.
        if (answer.signing != protocol::Signing::Signed || answer.echo != latestT ||
            !key->verify(answer.signedBytes, answer.mac)) {
            return false;
        }
    }
    unsignedAnswer = false;
    answered = true;
    answerTime = nowTick;
    latest = answer.report;
    return !sameLine(before, view(nowTick));
}

ServerView ServerWatch::view(uint32_t nowTick) const {
    ServerView result;
    if (!asked)
        return result;
    if (unsignedAnswer && since(unsignedTime, nowTick) <= kSilenceMs) {
        result.state = ServerView::State::SecretUnchecked;
    } else if (answered && since(answerTime, nowTick) > kSilenceMs) {
        result.state = ServerView::State::Silent;
        result.silentSeconds = since(answerTime, nowTick) / 1000;
    } else if (answered) {
        result.state = ServerView::State::Answered;
        result.report = latest;
        const uint64_t age = since(answerTime, nowTick) / 1000;
        if (result.report.line == protocol::Line::Up)
            result.report.upSeconds += age;
        if (result.report.retrySeconds) {
            uint64_t& retry = *result.report.retrySeconds;
            retry = retry > age ? retry - age : 0;
        }
    } else {
        result.state = since(firstRequest, nowTick) > kSilenceMs ? ServerView::State::NeverAnswered
                                                                 : ServerView::State::Waiting;
    }
    return result;
}

bool sameLine(const ServerView& a, const ServerView& b) {
    if (a.state != b.state)
        return false;
    if (a.state != ServerView::State::Answered)
        return true;
    return a.report.line == b.report.line && a.report.votes == b.report.votes &&
           a.report.you == b.report.you &&
           a.report.retrySeconds.has_value() == b.report.retrySeconds.has_value();
}

std::string serverLineText(std::string_view serverName, const ServerView& view) {
    const std::string prefix = "Server " + std::string(serverName) + ": ";
    switch (view.state) {
        case ServerView::State::Unknown:
            return {};
        case ServerView::State::Waiting:
            return prefix + "waiting for an answer";
        case ServerView::State::Answered:
            return prefix + lineText(view.report);
        case ServerView::State::Silent:
            return prefix + "no answer for " + durationText(view.silentSeconds);
        case ServerView::State::NeverAnswered:
            return prefix + "no answer (an older server, or the shared secret differs)";
        case ServerView::State::SecretUnchecked:
            return prefix + "the server does not check the shared secret";
    }
    return {};
}

const char* lineWordOf(const ServerView& view) {
    return view.state == ServerView::State::Answered ? protocol::lineWord(view.report.line)
                                                     : "unknown";
}

LineNotice noticeBetween(const ServerView& before, const ServerView& after) {
    if (isUp(after) && !isUp(before))
        return LineNotice::CameUp;
    if (isUp(before) && !isUp(after) && after.state == ServerView::State::Answered) {
        return LineNotice::WentDown;
    }
    if (isSilent(after) && !isSilent(before))
        return LineNotice::StoppedAnswering;
    return LineNotice::None;
}

std::string noticeText(std::string_view serverName, LineNotice notice) {
    const std::string server(serverName);
    switch (notice) {
        case LineNotice::None:
            return {};
        case LineNotice::CameUp:
            return "Server " + server + ": the line is up";
        case LineNotice::WentDown:
            return "Server " + server + ": the line is down";
        case LineNotice::StoppedAnswering:
            return "Server " + server + " does not answer";
    }
    return {};
}

std::string durationText(uint64_t seconds) {
    if (seconds < 60)
        return std::to_string(seconds) + " s";
    const uint64_t minutes = seconds / 60;
    if (minutes < 60)
        return std::to_string(minutes) + " min";
    const uint64_t hours = minutes / 60;
    if (hours < 24) {
        return std::to_string(hours) + " h" +
               (minutes % 60 ? " " + std::to_string(minutes % 60) + " min" : "");
    }
    return std::to_string(hours / 24) + " d" +
           (hours % 24 ? " " + std::to_string(hours % 24) + " h" : "");
}

}  // namespace linkmoot
