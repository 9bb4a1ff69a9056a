#include "VoteTable.h"

#include <algorithm>

#include "LogText.h"
#include "ToolBox/Logger.h"

namespace linkmoot {

uint32_t Vote::millisLeft(uint32_t now) const {
    const uint32_t age = now - time;
    const uint32_t span = lifetime.value_or(VoteTable::kVoteTimeoutMs);
    return age < span ? span - age : 0;
}

bool VoteTable::expire(uint32_t now) {
    bool removed = false;
    for (auto vote = votes.begin(); vote != votes.end();) {
        const uint32_t age = now - vote->time;
        const bool over = vote->isTimed() ? age >= *vote->lifetime : age > kVoteTimeoutMs;
        if (over) {
            LM_LOG(Debug, "The vote from host '%s' timed out",
                   printable(vote->host.c_str()).c_str());
            names.erase(vote->host);
            vote = votes.erase(vote);
            removed = true;
        } else {
            ++vote;
        }
    }
    return removed;
}

bool VoteTable::holdsTimedVote() const {
    return std::any_of(votes.begin(), votes.end(), [](const Vote& vote) { return vote.isTimed(); });
}

void VoteTable::remove(const std::string& name) {
    if (names.erase(name) == 0)
        return;
    votes.erase(std::find_if(votes.begin(), votes.end(),
                             [&](const Vote& vote) { return vote.host == name; }));
}

void VoteTable::vote(const std::string& name, uint32_t now, uint32_t address, uint32_t local) {
    remove(name);
    votes.push_back({name, now, address, local, std::nullopt});
    names.insert(name);
}

VoteTable::Unvote VoteTable::unvote(const std::string& name, uint32_t address, bool anyAddress) {
    if (!holds(name))
        return Unvote::NotHeld;
    const auto held = std::find_if(votes.begin(), votes.end(),
                                   [&](const Vote& vote) { return vote.host == name; });
    if (!anyAddress && held->address != address)
        return Unvote::OtherAddress;
    names.erase(name);
    votes.erase(held);
    return Unvote::Removed;
}

void VoteTable::webVote(const std::string& name, uint32_t now, uint32_t minutes) {
    remove(name);
    const uint32_t lifetime = std::min(minutes, kMaxWebVoteMinutes) * 60000u;
    votes.push_back({name, now, 0, 0, lifetime});
    names.insert(name);
}

bool VoteTable::webUnvote(const std::string& name) {
    const auto held = std::find_if(votes.begin(), votes.end(), [&](const Vote& vote) {
        return vote.isTimed() && vote.host == name;
    });
    if (held == votes.end())
        return false;
    names.erase(name);
    votes.erase(held);
    return true;
}

std::vector<uint32_t> VoteTable::localAddresses() const {
    std::vector<uint32_t> addresses;
    for (const Vote& vote : votes) {
        if (vote.local != 0 &&
            std::find(addresses.begin(), addresses.end(), vote.local) == addresses.end()) {
            addresses.push_back(vote.local);
        }
    }
    return addresses;
}

void VoteTable::clear() {
    votes.clear();
    names.clear();
}

}  // namespace linkmoot
