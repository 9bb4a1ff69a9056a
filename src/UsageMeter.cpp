#include "UsageMeter.h"

#include <algorithm>

#include "VoteTable.h"

namespace linkmoot {

void UsageMeter::begin(uint64_t key, uint32_t nowTick, const trust::WallClock& wall) {
    *this = UsageMeter();
    open = true;
    current.key = key;
    lastTick = nowTick;
    synchronised = wall.synchronised;
    startWallMs = static_cast<int64_t>(wall.unixMs);
    current.startMs = startWallMs;
    current.clockSynchronised = synchronised;
}

std::size_t UsageMeter::addTo(std::vector<UsageBucket>& buckets, int64_t start,
                              const UsageBucket& counts) {
    // Nearly always the last one; a clock that was put right may reach back.
    auto place = std::lower_bound(
        buckets.begin(), buckets.end(), start,
        [](const UsageBucket& bucket, int64_t value) { return bucket.start < value; });
    if (place == buckets.end() || place->start != start)
        place = buckets.insert(place, UsageBucket{start, 0, 0, 0});
    place->bytesIn += counts.bytesIn;
    place->bytesOut += counts.bytesOut;
    place->onlineMs += counts.onlineMs;
    return static_cast<std::size_t>(place - buckets.begin());
}

void UsageMeter::addCounts(uint64_t bytesIn, uint64_t bytesOut, uint64_t onlineMs) {
    if (bytesIn == 0 && bytesOut == 0 && onlineMs == 0)
        return;
    const UsageBucket counts{0, bytesIn, bytesOut, onlineMs};
    if (!synchronised) {
        const uint64_t minute = elapsedMs / 60000;
        if (waiting.empty() || waiting.back().minute != minute)
            waiting.push_back({minute, UsageBucket{}});
        waiting.back().counts.bytesIn += bytesIn;
        waiting.back().counts.bytesOut += bytesOut;
        waiting.back().counts.onlineMs += onlineMs;
        return;
    }
    const int64_t start = bucketOf((startWallMs + static_cast<int64_t>(elapsedMs)) / 1000);
    changedFrom = std::min(changedFrom, addTo(current.buckets, start, counts));
}

void UsageMeter::placeWaiting() {
    for (const Waiting& minute : waiting) {
        const int64_t at = startWallMs + static_cast<int64_t>(minute.minute * 60000);
        addTo(current.buckets, bucketOf(at / 1000), minute.counts);
    }
    waiting.clear();
    changedFrom = 0;
}

std::size_t UsageMeter::voterIndex(const std::string& name) {
    auto found = voterIndexes.find(name);
    if (found != voterIndexes.end())
        return found->second;
    // Names come from the network: a flood of them must not grow the record.
    const std::string& kept = voterIndexes.size() < kMaxVotersPerSession ? name : kOtherVoters;
    found = voterIndexes.find(kept);
    if (found != voterIndexes.end())
        return found->second;
    current.voters.push_back(VoterUsage{kept, 0, 0, 0});
    voterIndexes.emplace(kept, current.voters.size() - 1);
    return current.voters.size() - 1;
}

void UsageMeter::share(const std::vector<std::size_t>& holders, uint64_t bytesIn,
                       uint64_t bytesOut) {
    const uint64_t count = holders.size();
    for (std::size_t i = 0; i < holders.size(); ++i) {
        VoterUsage& voter = current.voters[holders[i]];
        voter.shareIn += bytesIn / count + (i < bytesIn % count ? 1 : 0);
        voter.shareOut += bytesOut / count + (i < bytesOut % count ? 1 : 0);
    }
}

void UsageMeter::poll(const Poll& poll, const std::vector<Vote>& votes) {
    if (!open)
        return;
    const uint32_t step = poll.now - lastTick;
    lastTick = poll.now;
    elapsedMs += step;
    if (!synchronised && poll.wall.synchronised) {
        synchronised = true;
        current.clockSynchronised = true;
        startWallMs = static_cast<int64_t>(poll.wall.unixMs) - static_cast<int64_t>(elapsedMs);
        current.startMs = startWallMs;
        placeWaiting();
    }
    std::vector<std::size_t> holders;
    if (wasUp || poll.up) {
        holders.reserve(votes.size());
        for (const Vote& vote : votes)
            holders.push_back(voterIndex(vote.host));
    }
    uint64_t onlineStep = 0;
    if (wasUp) {
        onlineStep = step;
        current.onlineMs += step;
        // Like the shares: a vote that ended during the interval held it.
        const std::vector<std::size_t> heldBy =
            !holders.empty()       ? holders
            : !lastHolders.empty() ? lastHolders
                                   : std::vector<std::size_t>{voterIndex(kAlwaysConnectedVoter)};
        for (std::size_t index : heldBy)
            current.voters[index].heldMs += step;
    } else {
        current.diallingMs += step;
    }
    TrafficCounter::Delta delta;
    if (poll.up) {
        if (!poll.interfaceName.empty())
            current.interfaceName = poll.interfaceName;
        delta = traffic.add(poll.interfaceName, poll.reading);
    }
    if (delta.received != 0 || delta.sent != 0) {
        current.bytesIn += delta.received;
        current.bytesOut += delta.sent;
        const std::vector<std::size_t>& sharers =
            !holders.empty()       ? holders
            : !lastHolders.empty() ? lastHolders
                                   : std::vector<std::size_t>{voterIndex(kAlwaysConnectedVoter)};
        share(sharers, delta.received, delta.sent);
    }
    addCounts(delta.received, delta.sent, onlineStep);
    if (!holders.empty())
        lastHolders = std::move(holders);
    wasUp = poll.up;
}

void UsageMeter::end(EndReason reason, const std::string& failure) {
    if (!open)
        return;
    current.ended = reason;
    current.failure = failure;
    if (!synchronised) {
        // Never synchronised: the unsynchronised clock is all there is.
        placeWaiting();
    }
    current.endMs = startWallMs + static_cast<int64_t>(elapsedMs);
    open = false;
}

SessionRecord UsageMeter::record(bool changedOnly) {
    SessionRecord copy;
    copy.id = current.id;
    copy.key = current.key;
    copy.startMs = current.startMs;
    copy.endMs = current.endMs;
    copy.clockSynchronised = current.clockSynchronised;
    copy.diallingMs = current.diallingMs;
    copy.onlineMs = current.onlineMs;
    copy.bytesIn = current.bytesIn;
    copy.bytesOut = current.bytesOut;
    copy.dials = current.dials;
    copy.ended = current.ended;
    copy.failure = current.failure;
    copy.interfaceName = current.interfaceName;
    copy.voters = current.voters;
    const std::size_t from = changedOnly ? std::min(changedFrom, current.buckets.size()) : 0;
    copy.buckets.assign(current.buckets.begin() + static_cast<std::ptrdiff_t>(from),
                        current.buckets.end());
    if (changedOnly) {
        // The last bucket may still grow: it goes again with the next write.
        changedFrom = current.buckets.empty() ? 0 : current.buckets.size() - 1;
    }
    return copy;
}

std::vector<UsageBucket> UsageMeter::buckets() const {
    std::vector<UsageBucket> all = current.buckets;
    for (const Waiting& minute : waiting) {
        const int64_t at = startWallMs + static_cast<int64_t>(minute.minute * 60000);
        addTo(all, bucketOf(at / 1000), minute.counts);
    }
    return all;
}

}  // namespace linkmoot
