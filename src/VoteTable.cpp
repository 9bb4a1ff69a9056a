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
        auto next = std::next(vote);
        if (over) {
            LM_LOG(Debug, "The vote from host '%s' timed out",
                   printable(vote->host.c_str()).c_str());
            erase(vote);
            removed = true;
        }
        vote = next;
    }
    return removed;
}

bool VoteTable::holdsTimedVote() const {
    return std::any_of(votes.begin(), votes.end(), [](const Vote& vote) { return vote.isTimed(); });
}

void VoteTable::erase(std::list<Vote>::iterator held) {
    index.erase(held->host);
    votes.erase(held);
    orderedStale = true;
}

void VoteTable::place(Vote vote) {
    orderedStale = true;
    if (auto found = index.find(vote.host); found != index.end()) {
        *found->second = std::move(vote);
        votes.splice(votes.end(), votes, found->second);
        return;
    }
    votes.push_back(std::move(vote));
    index.emplace(votes.back().host, std::prev(votes.end()));
}

void VoteTable::vote(const std::string& name, uint32_t now, uint32_t address, uint32_t local) {
    place({name, now, address, local, std::nullopt});
}

VoteTable::Unvote VoteTable::unvote(const std::string& name, uint32_t address, bool anyAddress) {
    const auto found = index.find(name);
    if (found == index.end())
        return Unvote::NotHeld;
    if (!anyAddress && found->second->address != address)
        return Unvote::OtherAddress;
    erase(found->second);
    return Unvote::Removed;
}

void VoteTable::webVote(const std::string& name, uint32_t now, uint32_t minutes) {
    const uint32_t lifetime = std::min(minutes, kMaxWebVoteMinutes) * 60000u;
    place({name, now, 0, 0, lifetime});
}

bool VoteTable::webUnvote(const std::string& name) {
    const auto found = index.find(name);
    if (found == index.end() || !found->second->isTimed())
        return false;
    erase(found->second);
    return true;
}

const std::vector<Vote>& VoteTable::entries() const {
    if (orderedStale) {
        ordered.assign(votes.begin(), votes.end());
        orderedStale = false;
    }
    return ordered;
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
    index.clear();
    orderedStale = true;
}

}  // namespace linkmoot
