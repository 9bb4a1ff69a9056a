#include "Protocol.h"

#include <algorithm>

#include "SharedSecret.h"

namespace linkmoot::protocol {

namespace {

constexpr std::string_view kAnswerPrefix = "state:";
/// ",mac=" and the 64 hex digits that end a signed datagram.
constexpr std::size_t kMacTailLength = 5 + ProtocolKey::kMacHexLength;
/// The longest signed tail of an answer: ",echo=", ",t=" with 16 digits each, and the mac.
constexpr std::size_t kSignedAnswerTailLength =
    6 + kMaxCounterDigits + 3 + kMaxCounterDigits + kMacTailLength;

bool isBlockCharacter(char c) {
    return c > ' ' && c < 0x7F && c != ',';
}

/// 1 to maxDigits decimal digits; false on anything else or overflow.
bool parseDecimal(std::string_view text, std::size_t maxDigits, uint64_t& value) {
    if (text.empty() || text.size() > maxDigits)
        return false;
    uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (result > (UINT64_MAX - digit) / 10)
            return false;
        result = result * 10 + digit;
    }
    value = result;
    return true;
}

bool parseCounter(std::string_view text, uint64_t& value) {
    return parseDecimal(text, kMaxCounterDigits, value);
}

bool parseNumber(std::string_view text, uint64_t& value) {
    return parseDecimal(text, 20, value);
}

bool isMacHex(std::string_view text) {
    if (text.size() != ProtocolKey::kMacHexLength)
        return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

/// The mac must be the last field; its comma ends the bytes it covers.
bool macIsLast(const Fields& fields, std::string_view datagram) {
    const Field& last = fields[fields.size() - 1];
    return last.key == "mac" && isMacHex(last.value) &&
           last.value.data() + last.value.size() == datagram.data() + datagram.size();
}

std::string_view coveredBytes(std::string_view datagram) {
    return datagram.substr(0, datagram.size() - kMacTailLength);
}

}  // namespace

const char* verbWord(Verb verb) {
    switch (verb) {
        case Verb::Vote:
            return "vote";
        case Verb::Unvote:
            return "unvote";
        case Verb::Query:
            return "query";
    }
    return "";
}

const char* lineWord(Line line) {
    switch (line) {
        case Line::Down:
            return "down";
        case Line::Dialling:
            return "dialling";
        case Line::Up:
            return "up";
        case Line::Guard:
            return "guard";
        case Line::Failed:
            return "failed";
    }
    return "";
}

bool lineFromWord(std::string_view word, Line& line) {
    for (Line candidate : {Line::Down, Line::Dialling, Line::Up, Line::Guard, Line::Failed}) {
        if (word == lineWord(candidate)) {
            line = candidate;
            return true;
        }
    }
    return false;
}

// --- Fields

Fields::Error Fields::parse(std::string_view text) {
    count = 0;
    if (text.empty())
        return Error::None;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string_view field = text.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        if (field.empty())
            return Error::EmptyField;
        const std::size_t equals = field.find('=');
        if (equals == std::string_view::npos) {
            for (char c : field) {
                if (!isBlockCharacter(c))
                    return Error::BadCharacter;
            }
            return Error::NoValue;
        }
        if (equals == 0)
            return Error::EmptyKey;
        for (std::size_t i = 0; i < field.size(); i++) {
            if (!isBlockCharacter(field[i]) || (field[i] == '=' && i != equals)) {
                return Error::BadCharacter;
            }
        }
        const Field parsed{field.substr(0, equals), field.substr(equals + 1)};
        if (find(parsed.key) != nullptr)
            return Error::RepeatedKey;
        if (count == kCapacity)
            return Error::TooMany;
        fields[count++] = parsed;
        if (comma == std::string_view::npos)
            return Error::None;
        start = comma + 1;
    }
}

const Field* Fields::find(std::string_view key) const {
    for (std::size_t i = 0; i < count; i++) {
        if (fields[i].key == key)
            return &fields[i];
    }
    return nullptr;
}

const char* fieldErrorText(Fields::Error error) {
    switch (error) {
        case Fields::Error::None:
            return "no error";
        case Fields::Error::EmptyField:
            return "an empty field";
        case Fields::Error::NoValue:
            return "a field without '='";
        case Fields::Error::EmptyKey:
            return "a field without a key";
        case Fields::Error::BadCharacter:
            return "a character that is not printable ASCII, a space, or a second '='";
        case Fields::Error::RepeatedKey:
            return "a repeated key";
        case Fields::Error::TooMany:
            return "too many fields";
    }
    return "";
}

// --- Requests

RequestError parseRequest(std::string_view datagram, Request& request) {
    // Member by member: the field array is large and need not be cleared.
    request.verb = Verb::Vote;
    request.name = {};
    request.hasBlock = false;
    request.fields.clear();
    request.signing = Signing::None;
    request.t = 0;
    request.signedBytes = {};
    request.mac = {};
    if (datagram.size() > kMaxDatagramLength)
        return RequestError::TooLong;
    const std::size_t nul = datagram.find('\0');
    const std::string_view text = datagram.substr(0, nul);
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return RequestError::NotARequest;
    const std::string_view verb = text.substr(0, colon);
    if (verb == "vote") {
        request.verb = Verb::Vote;
    } else if (verb == "unvote") {
        request.verb = Verb::Unvote;
    } else if (verb == "query") {
        request.verb = Verb::Query;
    } else {
        return RequestError::NotARequest;
    }
    request.name = text.substr(colon + 1);
    if (nul == std::string_view::npos)
        return RequestError::None;

    request.hasBlock = true;
    if (request.fields.parse(datagram.substr(nul + 1)) != Fields::Error::None) {
        return RequestError::BadBlock;
    }
    if (request.fields.find("mac") == nullptr)
        return RequestError::None;
    request.signing = Signing::Malformed;
    const Fields& fields = request.fields;
    if (fields.size() >= 2 && fields[0].key == "t" && parseCounter(fields[0].value, request.t) &&
        macIsLast(fields, datagram)) {
        request.signing = Signing::Signed;
        request.signedBytes = coveredBytes(datagram);
        request.mac = fields[fields.size() - 1].value;
    }
    return RequestError::None;
}

std::string buildRequest(Verb verb, std::string_view name, const ProtocolKey* key, uint64_t t) {
    if (name.find('\0') != std::string_view::npos)
        return {};
    std::string datagram = verbWord(verb);
    datagram += ':';
    datagram += name;
    if (key != nullptr) {
        if (t > kMaxCounter)
            return {};
        datagram += '\0';
        datagram += "t=" + std::to_string(t);
        const std::string mac = key->macHex(datagram);
        datagram += ",mac=" + mac;
    }
    if (datagram.size() > kMaxDatagramLength)
        return {};
    return datagram;
}

// --- Answers

namespace {

/// The plan's fields; a plan whose fields are not all well formed is left out
/// (the line's state still reads).
void readPlan(const Fields& fields, LineReport& report) {
    const Field* reset = fields.find("reset");
    const Field* capped = fields.find("capped");
    if (reset == nullptr || capped == nullptr)
        return;
    PlanReport plan;
    const auto pair = [&fields](const char* usedKey, const char* capKey, uint64_t& used,
                                uint64_t& cap) {
        const Field* usedField = fields.find(usedKey);
        const Field* capField = fields.find(capKey);
        if (usedField == nullptr && capField == nullptr)
            return true;
        return usedField != nullptr && capField != nullptr && parseNumber(usedField->value, used) &&
               parseNumber(capField->value, cap) && cap != 0;
    };
    if (!parseNumber(reset->value, plan.reset) || (capped->value != "0" && capped->value != "1") ||
        !pair("used", "cap", plan.usedMB, plan.capMB) ||
        !pair("usedmin", "capmin", plan.usedMinutes, plan.capMinutes) ||
        (plan.capMB == 0 && plan.capMinutes == 0))
        return;
    plan.capped = capped->value == "1";
    report.plan = plan;
}

void appendPlan(const PlanReport& plan, std::string& datagram) {
    if (plan.capMB != 0) {
        datagram += ",used=" + std::to_string(std::min(plan.usedMB, PlanReport::kMaxMB));
        datagram += ",cap=" + std::to_string(std::min(plan.capMB, PlanReport::kMaxMB));
    }
    if (plan.capMinutes != 0) {
        datagram +=
            ",usedmin=" + std::to_string(std::min(plan.usedMinutes, PlanReport::kMaxMinutes));
        datagram += ",capmin=" + std::to_string(std::min(plan.capMinutes, PlanReport::kMaxMinutes));
    }
    datagram += ",reset=" + std::to_string(std::min(plan.reset, PlanReport::kMaxReset));
    datagram += plan.capped ? ",capped=1" : ",capped=0";
}

}  // namespace

AnswerError parseAnswer(std::string_view datagram, Answer& answer) {
    answer = Answer();
    if (datagram.size() > kMaxDatagramLength)
        return AnswerError::TooLong;
    if (datagram.substr(0, kAnswerPrefix.size()) != kAnswerPrefix ||
        datagram.find('\0') != std::string_view::npos) {
        return AnswerError::NotAnAnswer;
    }
    Fields fields;
    if (fields.parse(datagram.substr(kAnswerPrefix.size())) != Fields::Error::None) {
        return AnswerError::BadFields;
    }
    const Field* version = fields.find("v");
    const Field* line = fields.find("line");
    const Field* votes = fields.find("votes");
    const Field* you = fields.find("you");
    const Field* up = fields.find("up");
    if (!version || !line || !votes || !you || !up)
        return AnswerError::MissingField;
    LineReport& report = answer.report;
    // A later version only adds fields, so any v from 2 on reads the same.
    if (!parseNumber(version->value, answer.version) || answer.version < kVersion ||
        !lineFromWord(line->value, report.line) || !parseNumber(votes->value, report.votes) ||
        (you->value != "0" && you->value != "1") || !parseNumber(up->value, report.upSeconds)) {
        return AnswerError::BadValue;
    }
    report.you = you->value == "1";
    if (const Field* host = fields.find("host"))
        report.host = std::string(host->value);
    if (const Field* retry = fields.find("retry")) {
        uint64_t seconds = 0;
        if (!parseNumber(retry->value, seconds))
            return AnswerError::BadValue;
        report.retrySeconds = seconds;
    }

    readPlan(fields, report);

    if (fields.find("mac") == nullptr)
        return AnswerError::None;
    answer.signing = Signing::Malformed;
    const Field* echo = fields.find("echo");
    const Field* t = fields.find("t");
    if (echo && t && parseCounter(echo->value, answer.echo) && parseCounter(t->value, answer.t) &&
        macIsLast(fields, datagram)) {
        answer.signing = Signing::Signed;
        answer.signedBytes = coveredBytes(datagram);
        answer.mac = fields[fields.size() - 1].value;
    }
    return AnswerError::None;
}

std::string answerHostName(std::string_view name) {
    name = name.substr(0, kMaxHostLength);
    for (char c : name) {
        if (!isBlockCharacter(c) || c == '=')
            return {};
    }
    return std::string(name);
}

std::string buildAnswer(const LineReport& report, const ProtocolKey* key, uint64_t echo,
                        uint64_t t) {
    std::string datagram(kAnswerPrefix);
    datagram += "v=" + std::to_string(kVersion);
    datagram += ",line=";
    datagram += lineWord(report.line);
    datagram += ",votes=" + std::to_string(report.votes);
    datagram += report.you ? ",you=1" : ",you=0";
    datagram += ",up=" + std::to_string(report.upSeconds);
    if (report.retrySeconds)
        datagram += ",retry=" + std::to_string(*report.retrySeconds);
    if (report.plan && (report.plan->capMB != 0 || report.plan->capMinutes != 0))
        appendPlan(*report.plan, datagram);
    // The host goes only where it fits beside the longest signed tail.
    const std::size_t tail = key != nullptr ? kSignedAnswerTailLength : 0;
    if (const std::string host = answerHostName(report.host);
        !host.empty() && datagram.size() + 6 + host.size() + tail <= kMaxDatagramLength) {
        datagram += ",host=" + host;
    }
    if (key != nullptr) {
        if (echo > kMaxCounter || t > kMaxCounter)
            return {};
        datagram += ",echo=" + std::to_string(echo) + ",t=" + std::to_string(t);
        const std::string mac = key->macHex(datagram);
        datagram += ",mac=" + mac;
    }
    return datagram;
}

}  // namespace linkmoot::protocol
