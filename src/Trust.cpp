#include "Trust.h"

#include <algorithm>

#include "Ipv4.h"
#include "SharedSecret.h"
#include "TextTools.h"

namespace linkmoot::trust {

namespace {

constexpr uint32_t kLoopbackNetwork = 0x7F000000u;
constexpr uint32_t kLoopbackMask = 0xFF000000u;

uint32_t maskOf(unsigned prefix) {
    return prefix == 0 ? 0u : static_cast<uint32_t>(0xFFFFFFFFull << (32 - prefix));
}

bool parseBlock(std::string_view entry, AllowedNetworks::Block& block, std::string& error) {
    const std::string quoted = "'" + std::string(entry) + "'";
    const std::string notANetwork = quoted + " is not an IPv4 network such as 192.168.1.0/24";
    std::string why;
    const std::size_t slash = entry.find('/');
    const std::string_view address = entry.substr(0, slash);
    unsigned prefix = 32;
    if (slash != std::string_view::npos) {
        if (!ipv4::parseDecimal(entry.substr(slash + 1), 2, ipv4::LeadingZeros::Refused, prefix,
                                why)) {
            error = notANetwork + (why.empty() ? "" : ": " + why);
            return false;
        }
        if (prefix > 32) {
            error = notANetwork + ": the prefix length " + std::to_string(prefix) + " is above 32";
            return false;
        }
    }
    uint32_t value = 0;
    if (!ipv4::parse(address, value, ipv4::LeadingZeros::Refused, why)) {
        error = notANetwork + (why.empty() ? "" : ": " + why);
        return false;
    }
    block.mask = maskOf(prefix);
    block.network = value & block.mask;
    if (block.network != value) {
        error = quoted + " has bits set past its prefix; the network is " +
                ipv4::format(block.network) + "/" + std::to_string(prefix);
        return false;
    }
    return true;
}

}  // namespace

// --- AllowedNetworks

AllowedNetworks::AllowedNetworks()
    : list{{0x0A000000u, maskOf(8)},
           {0xAC100000u, maskOf(12)},
           {0xC0A80000u, maskOf(16)},
           {0xA9FE0000u, maskOf(16)}} {}

bool AllowedNetworks::parse(std::string_view text, AllowedNetworks& networks, std::string& error) {
    if (trimBlanks(text).empty()) {
        networks = AllowedNetworks();
        return true;
    }
    std::vector<Block> blocks;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string_view entry = trimBlanks(text.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (entry.empty()) {
            error = "An entry is empty: remove the extra comma";
            return false;
        }
        Block block{};
        if (!parseBlock(entry, block, error))
            return false;
        blocks.push_back(block);
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    networks.list = std::move(blocks);
    return true;
}

bool AllowedNetworks::allows(uint32_t address) const {
    if ((address & kLoopbackMask) == kLoopbackNetwork)
        return true;
    return std::any_of(list.begin(), list.end(), [address](const Block& block) {
        return (address & block.mask) == block.network;
    });
}

// --- ReplayGuard

bool ReplayGuard::accept(std::string_view name, uint64_t t, uint32_t nowTick) {
    expire(nowTick);
    std::string key(name);
    auto found = names.find(key);
    if (found != names.end()) {
        if (t <= found->second.t)
            return false;
        found->second.t = t;
        found->second.lastUse = nowTick;
        byUse.splice(byUse.end(), byUse, found->second.order);
        return true;
    }
    if (names.size() >= kMaxNames) {
        names.erase(byUse.front());
        byUse.pop_front();
    }
    byUse.push_back(key);
    names.emplace(std::move(key), Entry{t, nowTick, std::prev(byUse.end())});
    return true;
}

void ReplayGuard::expire(uint32_t nowTick) {
    while (!byUse.empty()) {
        auto found = names.find(byUse.front());
        if (static_cast<uint32_t>(nowTick - found->second.lastUse) <= kKeepMs)
            break;
        names.erase(found);
        byUse.pop_front();
    }
}

bool withinTimeWindow(uint64_t t, uint64_t nowUnixMs) {
    const uint64_t difference = t > nowUnixMs ? t - nowUnixMs : nowUnixMs - t;
    return difference <= kTimeWindowMs;
}

// --- AnswerLimiter

std::vector<bool> AnswerLimiter::admit(const std::vector<uint32_t>& sources, uint32_t nowTick) {
    refill(nowTick);
    // Due: the first request of each source not answered within the second.
    std::vector<std::size_t> due;
    std::unordered_map<uint32_t, bool> seen;
    for (std::size_t i = 0; i < sources.size(); i++) {
        if (!seen.emplace(sources[i], true).second)
            continue;
        const auto last = lastAnswer.find(sources[i]);
        if (last == lastAnswer.end() || static_cast<uint32_t>(nowTick - last->second) >= kWindowMs)
            due.push_back(i);
    }
    const std::size_t budget = static_cast<std::size_t>(tokens);
    if (due.size() > budget) {
        // Longest unanswered first; the never answered before all others.
        auto age = [&](std::size_t i) -> uint64_t {
            const auto last = lastAnswer.find(sources[i]);
            return last == lastAnswer.end() ? UINT64_MAX : nowTick - last->second;
        };
        std::stable_sort(due.begin(), due.end(),
                         [&](std::size_t a, std::size_t b) { return age(a) > age(b); });
        due.resize(budget);
    }
    std::vector<bool> admitted(sources.size(), false);
    for (std::size_t i : due) {
        admitted[i] = true;
        tokens -= 1;
        lastAnswer[sources[i]] = nowTick;
    }
    if (lastAnswer.size() > kMaxSources)
        forgetStalest(nowTick);
    return admitted;
}

void AnswerLimiter::refill(uint32_t nowTick) {
    if (!refilled) {
        refilled = true;
    } else {
        const double elapsed = static_cast<uint32_t>(nowTick - lastRefill);
        tokens = std::min<double>(
            kMaxPerWindow, tokens + elapsed * kMaxPerWindow / static_cast<double>(kWindowMs));
    }
    lastRefill = nowTick;
}

void AnswerLimiter::forgetStalest(uint32_t nowTick) {
    std::vector<uint32_t> ages;
    ages.reserve(lastAnswer.size());
    for (const auto& [source, tick] : lastAnswer)
        ages.push_back(nowTick - tick);
    // Keep the most recent three quarters, so the pruning is rare.
    std::nth_element(ages.begin(), ages.begin() + kMaxSources * 3 / 4, ages.end());
    const uint32_t limit = ages[kMaxSources * 3 / 4];
    for (auto entry = lastAnswer.begin(); entry != lastAnswer.end();) {
        const uint32_t age = nowTick - entry->second;
        if (age >= limit && age >= kWindowMs)
            entry = lastAnswer.erase(entry);
        else
            ++entry;
    }
}

// --- DropLog

const char* dropReasonText(DropReason reason) {
    switch (reason) {
        case DropReason::NotAllowed:
            return "not from an allowed network";
        case DropReason::Malformed:
            return "malformed";
        case DropReason::Unsigned:
            return "not signed with the shared secret";
        case DropReason::WrongMac:
            return "wrong mac";
        case DropReason::Replayed:
            return "counter not above the last one";
        case DropReason::OutsideWindow:
            return "time more than 300 s off";
    }
    return "";
}

void DropLog::count(uint32_t source, DropReason reason, uint32_t nowTick) {
    if (!warnedOnce) {
        warnedOnce = true;
        lastReport = nowTick;
        first = "Dropped a datagram from " + ipv4::format(source) + ": " + dropReasonText(reason) +
                "; further drops are counted and reported at most once an hour";
        return;
    }
    sinceReport++;
    for (Source& known : sources) {
        if (known.address == source) {
            known.count++;
            known.lastReason = reason;
            return;
        }
    }
    if (sources.size() < kMaxSources) {
        sources.push_back({source, 1, reason});
    } else {
        others++;
    }
}

std::string DropLog::due(uint32_t nowTick) {
    if (!first.empty()) {
        std::string line;
        line.swap(first);
        return line;
    }
    if (!warnedOnce)
        return {};
    // Noted once a poll, so the unsigned difference is read long before it wraps.
    if (static_cast<uint32_t>(nowTick - lastReport) >= kReportIntervalMs)
        intervalOver = true;
    if (!intervalOver || sinceReport == 0)
        return {};

    std::stable_sort(sources.begin(), sources.end(),
                     [](const Source& a, const Source& b) { return a.count > b.count; });
    constexpr std::size_t kListed = 8;
    std::string line =
        "Dropped " + std::to_string(sinceReport) + " datagrams since the last report:";
    uint64_t rest = others;
    std::size_t restSources = 0;
    for (std::size_t i = 0; i < sources.size(); i++) {
        if (i < kListed) {
            line += (i == 0 ? " " : ", ") + ipv4::format(sources[i].address) + " " +
                    std::to_string(sources[i].count) + " (" +
                    dropReasonText(sources[i].lastReason) + ")";
        } else {
            rest += sources[i].count;
            restSources++;
        }
    }
    if (rest > 0) {
        line += (sources.empty() ? " " : ", ") + std::to_string(rest) + " from " +
                (others > 0 ? std::string("other sources")
                            : std::to_string(restSources) + " other sources");
    }
    sources.clear();
    others = 0;
    sinceReport = 0;
    lastReport = nowTick;
    intervalOver = false;
    return line;
}

// --- ServerGate

bool ServerGate::sourceAllowed(uint32_t source, uint32_t nowTick) {
    if (allowed.allows(source))
        return true;
    drop(source, DropReason::NotAllowed, nowTick);
    return false;
}

ServerGate::Verdict ServerGate::drop(uint32_t source, DropReason reason, uint32_t nowTick) {
    dropLog.count(source, reason, nowTick);
    return Verdict::Dropped;
}

ServerGate::Verdict ServerGate::check(std::string_view datagram, uint32_t source,
                                      const ProtocolKey* key, const WallClock& wall,
                                      uint32_t nowTick, protocol::Request& request) {
    switch (protocol::parseRequest(datagram, request)) {
        case protocol::RequestError::None:
            break;
        case protocol::RequestError::NotARequest:
            return Verdict::Ignored;
        case protocol::RequestError::TooLong:
        case protocol::RequestError::BadBlock:
            return drop(source, DropReason::Malformed, nowTick);
    }
    if (key == nullptr)
        return Verdict::Accepted;

    if (request.signing != protocol::Signing::Signed) {
        return drop(source, DropReason::Unsigned, nowTick);
    }
    if (!key->verify(request.signedBytes, request.mac)) {
        return drop(source, DropReason::WrongMac, nowTick);
    }
    if (wall.synchronised) {
        unsynchronisedSaid = false;
        if (!withinTimeWindow(request.t, wall.unixMs)) {
            return drop(source, DropReason::OutsideWindow, nowTick);
        }
    } else if (!unsynchronisedSaid) {
        unsynchronisedSaid = true;
        warnings.push_back(
            "The system clock is not synchronised: signed datagrams are checked by their "
            "counter alone until it is");
    }
    // Last, so only a datagram that passed everything else moves the counter on.
    if (!replayGuard.accept(request.name, request.t, nowTick)) {
        return drop(source, DropReason::Replayed, nowTick);
    }
    return Verdict::Accepted;
}

std::vector<bool> ServerGate::admit(const std::vector<PendingAnswer>& pending, uint32_t nowTick) {
    std::vector<uint32_t> sources;
    sources.reserve(pending.size());
    for (const PendingAnswer& request : pending)
        sources.push_back(request.address);
    return limiter.admit(sources, nowTick);
}

std::string ServerGate::answer(const PendingAnswer& pending, const protocol::LineReport& report,
                               const ProtocolKey* key, const WallClock& wall) {
    const uint64_t t = key != nullptr ? counter.next(wall.unixMs) : 0;
    return protocol::buildAnswer(report, key, pending.echo, t);
}

std::vector<std::string> ServerGate::housekeeping(uint32_t nowTick) {
    replayGuard.expire(nowTick);
    std::vector<std::string> due;
    due.swap(warnings);
    std::string drops = dropLog.due(nowTick);
    if (!drops.empty())
        due.push_back(std::move(drops));
    return due;
}

}  // namespace linkmoot::trust
