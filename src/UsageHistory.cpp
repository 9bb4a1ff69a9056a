#include "UsageHistory.h"

namespace linkmoot {

void UsageHistory::add(const SessionRecord& session) {
    for (const UsageBucket& bucket : session.buckets) {
        BucketTotals& totals = buckets[bucket.start];
        totals.bytesIn += bucket.bytesIn;
        totals.bytesOut += bucket.bytesOut;
        totals.onlineMs += bucket.onlineMs;
    }
    const int64_t start = bucketOf(session.startMs / 1000);
    BucketTotals& at = buckets[start];
    if (session.ended == EndReason::Failed) {
        at.failedDials += session.dials;
    } else {
        at.sessions += 1;
        if (session.cameUp() && !session.counted())
            at.uncounted += 1;
    }
    for (const VoterUsage& voter : session.voters) {
        VoterUsage& kept = voters[{start, voter.name}];
        kept.name = voter.name;
        kept.heldMs += voter.heldMs;
        kept.shareIn += voter.shareIn;
        kept.shareOut += voter.shareOut;
    }
}

void UsageHistory::addFailedDial(int64_t startMs) {
    buckets[bucketOf(startMs / 1000)].failedDials += 1;
}

void UsageHistory::merge(const UsageHistory& other) {
    for (const auto& [start, totals] : other.buckets) {
        BucketTotals& kept = buckets[start];
        kept.bytesIn += totals.bytesIn;
        kept.bytesOut += totals.bytesOut;
        kept.onlineMs += totals.onlineMs;
        kept.sessions += totals.sessions;
        kept.failedDials += totals.failedDials;
        kept.uncounted += totals.uncounted;
    }
    for (const auto& [key, voter] : other.voters) {
        VoterUsage& kept = voters[key];
        kept.name = voter.name;
        kept.heldMs += voter.heldMs;
        kept.shareIn += voter.shareIn;
        kept.shareOut += voter.shareOut;
    }
}

void UsageHistory::forgetBefore(int64_t unixSeconds) {
    buckets.erase(buckets.begin(), buckets.lower_bound(unixSeconds));
    voters.erase(voters.begin(), voters.lower_bound({unixSeconds, std::string()}));
}

}  // namespace linkmoot
