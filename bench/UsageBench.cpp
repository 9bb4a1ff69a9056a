// The usage count's cost per server poll with a line up: the interface's
// counters read through sysfs (the loopback interface, which every machine
// has) and the open session's figures advanced, with five votes held.
//
// UsageBench --make-database PATH SESSIONS VOTERS writes a database of that
// many sessions (bench/usage-bench.sh measures the views on it).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Clock.h"
#include "DialService.h"
#include "InterfaceCounters.h"
#include "LocalTime.h"
#include "Trust.h"
#include "UsageRecorder.h"
#include "VoteTable.h"
#include "platform/PosixLocalTime.h"
#include "platform/SysfsInterfaceCounters.h"
#include "platform/UsageDatabase.h"

namespace linkmoot {
namespace {

class BenchClock : public Clock {
public:
    uint32_t tick = 1000;
    uint64_t wall = 1796601600000ull;
    uint32_t tickCount() override { return tick; }
    uint32_t processMillis() override { return tick; }
    trust::WallClock wallClock() override { return {wall, true}; }
};

/// A line that is up on the loopback interface.
class LoopbackLine : public DialService {
public:
    const char* name() const override { return "bench"; }
    void listEntries(EntriesCallback done) override { done({}); }
    bool dial(const DialRequest&, DialHandle& handle, std::string&) override {
        handle = 1;
        return true;
    }
    void hangUp(DialHandle) override {}
    LineState state(DialHandle) override { return LineState::Connected; }
    void setFailureCallback(FailureCallback) override {}
    std::string interfaceName(DialHandle) override { return "lo"; }
};

class NoStorage : public UsageStorage {
public:
    void save(SessionRecord) override {}
    void loadHistory(int64_t, HistoryDone done) override { done({}, ""); }
    void readSessions(int64_t, SessionsFormatter, TextDone) override {}
};

void PollWithTheLineUp(benchmark::State& state) {
    BenchClock clock;
    SysfsInterfaceCounters counters;
    PosixLocalTime local;
    NoStorage storage;
    UsageRecorder recorder(clock, counters, local, &storage);
    LoopbackLine line;
    VoteTable votes;
    for (int i = 0; i < 5; ++i)
        votes.vote("host-" + std::to_string(i), clock.tick, 0xC0A80100u + i, 0);
    recorder.dialStarted();
    recorder.step(&line, 1, true, votes);
    for (auto _ : state) {
        clock.tick += 1000;
        clock.wall += 1000;
        recorder.step(&line, 1, true, votes);
    }
}
BENCHMARK(PollWithTheLineUp);

int makeDatabase(const char* path, int sessions, int voters) {
    UsageDatabase database(path);
    std::string error;
    if (!database.open(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    for (int i = 0; i < sessions; ++i) {
        SessionRecord record;
        // One every 50 minutes back from now: about a year.
        record.startMs = now - static_cast<int64_t>(sessions - i) * 3000000;
        record.endMs = record.startMs + 1800000;
        record.clockSynchronised = true;
        record.diallingMs = 5000;
        record.onlineMs = 1795000;
        // Uneven, so that a chart of them shows its days apart.
        record.bytesIn = 5000000 + static_cast<uint64_t>((i * 7919) % 37) * 1000000;
        record.bytesOut = 2000000;
        record.ended = EndReason::NoMoreVotes;
        record.interfaceName = "ppp0";
        for (int b = 0; b < 3; ++b)
            record.buckets.push_back({bucketOf(record.startMs / 1000) + b * kBucketSeconds,
                                      record.bytesIn / 3, record.bytesOut / 3, 598000});
        for (int v = 0; v < voters; ++v)
            record.voters.push_back({"office-pc-" + std::to_string(v), 1795000,
                                     record.bytesIn / voters, record.bytesOut / voters});
        int64_t row = 0;
        if (!database.save(record, row, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
    }
    return 0;
}

}  // namespace
}  // namespace linkmoot

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--make-database") == 0)
        return linkmoot::makeDatabase(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
