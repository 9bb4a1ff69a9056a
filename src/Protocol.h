#pragma once
// The voting protocol on the wire (docs/protocol.md is its full description):
// requests "vote:NAME", "unvote:NAME" and "query:NAME", optionally followed by
// a NUL and an extension block of key=value fields, signed or not; and the
// server's answers "state:v=2,line=...,...". Parsing and building only: no
// sockets, no clocks, no policy. Parsed texts are views into the caller's bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace linkmoot {

class ProtocolKey;

namespace protocol {

/// Longer datagrams are dropped; builders never exceed it.
inline constexpr std::size_t kMaxDatagramLength = 256;
inline constexpr uint64_t kVersion = 2;
/// A counter `t` has 1 to 16 decimal digits.
inline constexpr std::size_t kMaxCounterDigits = 16;
inline constexpr uint64_t kMaxCounter = 9999999999999999ull;

enum class Verb { Vote, Unvote, Query };
/// The server's line as its answers tell it.
enum class Line { Down, Dialling, Up, Guard, Failed };

const char* verbWord(Verb verb);
/// "down", "dialling", "up", "guard" or "failed".
const char* lineWord(Line line);
bool lineFromWord(std::string_view word, Line& line);

struct Field {
    std::string_view key;
    std::string_view value;
};

/// The key=value fields of an extension block or an answer, in order.
class Fields {
public:
    /// A block within 256 bytes holds at most 84 fields ("k=" and a comma each).
    static constexpr std::size_t kCapacity = 86;
    enum class Error {
        None,
        EmptyField,    ///< two commas in a row, or a comma at an end
        NoValue,       ///< a field without "="
        EmptyKey,      ///< "=value"
        BadCharacter,  ///< not printable ASCII, a space, or a second "=" in a field
        RepeatedKey,
        TooMany,
    };

    /// Reads "k=v,k=v"; an empty text holds no fields. On an error the fields
    /// read so far stay, and the caller drops the datagram.
    Error parse(std::string_view text);
    void clear() { count = 0; }
    std::size_t size() const { return count; }
    const Field& operator[](std::size_t index) const { return fields[index]; }
    /// The field with this key, or null.
    const Field* find(std::string_view key) const;

private:
    std::array<Field, kCapacity> fields;  // only the first `count` are set
    std::size_t count = 0;
};

const char* fieldErrorText(Fields::Error error);

/// How a datagram carries a mac.
enum class Signing {
    None,       ///< no "mac" field
    Signed,     ///< "t" first, "mac" last with 64 lowercase hex digits
    Malformed,  ///< a "mac" field, but not in that form
};

/// A request as the server reads it.
struct Request {
    Verb verb = Verb::Vote;
    std::string_view name;  ///< after the first ":" up to the first NUL or the end
    bool hasBlock = false;  ///< a NUL followed the name
    Fields fields;          ///< the block's fields
    Signing signing = Signing::None;
    uint64_t t = 0;                ///< the counter, when Signed
    std::string_view signedBytes;  ///< what the mac covers, when Signed
    std::string_view mac;          ///< the 64 hex digits, when Signed
};

enum class RequestError {
    None,
    TooLong,      ///< over 256 bytes: dropped
    NotARequest,  ///< no ":" before the first NUL, or another verb: ignored as always
    BadBlock,     ///< the extension block breaks its rules: dropped
};

RequestError parseRequest(std::string_view datagram, Request& request);

/// Builds a request. With a key it is signed with the counter t (the block is
/// then "t=T,mac=M"); without, it is the plain "verb:name". Empty when the name
/// holds a NUL, t is not a counter, or the datagram would pass 256 bytes.
std::string buildRequest(Verb verb, std::string_view name, const ProtocolKey* key, uint64_t t);

/// The server's data plan as its answers carry it (whole MB and minutes).
/// The bounds keep the longest signed answer within 256 bytes: the caps are
/// bounded by their keys, the used figures are sent clamped to them.
struct PlanReport {
    static constexpr uint64_t kMaxMB = 999999;      ///< 6 digits
    static constexpr uint64_t kMaxMinutes = 99999;  ///< 5 digits
    static constexpr uint64_t kMaxReset = 9999999999;
    uint64_t usedMB = 0;
    uint64_t capMB = 0;  ///< 0: no data cap (used= and cap= left out)
    uint64_t usedMinutes = 0;
    uint64_t capMinutes = 0;  ///< 0: no time cap (usedmin= and capmin= left out)
    uint64_t reset = 0;       ///< the cycle's end, Unix seconds
    bool capped = false;      ///< the cap holds the line
    bool operator==(const PlanReport&) const = default;
};

/// The server's state as one answer tells it.
struct LineReport {
    Line line = Line::Down;
    uint64_t votes = 0;
    bool you = false;                      ///< the sender's name is in the table
    uint64_t upSeconds = 0;                ///< since the line came up; 0 when not up
    std::optional<uint64_t> retrySeconds;  ///< until the next dial the back-off allows
    /// The server's short host name (`host=`); empty when it sent none.
    std::string host;
    /// The data plan, when one is set (and its fields are well formed).
    std::optional<PlanReport> plan;
};

/// The longest `host=` value: a DNS label.
inline constexpr std::size_t kMaxHostLength = 63;
/// A host name as an answer carries it: cut to 63 bytes; empty when it holds
/// a byte the block does not allow (a space, "=", ",", non-ASCII).
std::string answerHostName(std::string_view name);

struct Answer {
    uint64_t version = kVersion;
    LineReport report;
    Signing signing = Signing::None;
    uint64_t echo = 0;  ///< the request's t, when Signed
    uint64_t t = 0;     ///< the server's counter, when Signed
    std::string_view signedBytes;
    std::string_view mac;
};

enum class AnswerError {
    None,
    TooLong,
    NotAnAnswer,   ///< does not start with "state:", or holds a NUL
    BadFields,     ///< the fields break the block's rules
    MissingField,  ///< v, line, votes, you or up is missing
    BadValue,      ///< a known field's value is out of its form, or v < 2
};

/// Reads an answer as a client does. Fields it does not know are skipped.
AnswerError parseAnswer(std::string_view datagram, Answer& answer);

/// Builds an answer; with a key it is signed and carries echo and t. Empty
/// when echo or t is not a counter. The plan's fields (their figures clamped
/// to PlanReport's bounds) go before `host`, which goes before echo when it
/// is a fit host name and there is room for it; the answer never passes 256
/// bytes (`host`, the one field of unbounded worth, yields first).
std::string buildAnswer(const LineReport& report, const ProtocolKey* key, uint64_t echo,
                        uint64_t t);

/// A sender's counter: its clock in Unix milliseconds, but always above the
/// last one it gave.
class Counter {
public:
    uint64_t next(uint64_t nowUnixMs) {
        last = nowUnixMs > last ? nowUnixMs : last + 1;
        return last;
    }
    uint64_t latest() const { return last; }

private:
    uint64_t last = 0;
};

}  // namespace protocol
}  // namespace linkmoot
