// The foundation library's text and containers against the standard library,
// each pair on the same data in the same process. Run by hand:
//   build/normal/bench/ToolBoxBench --benchmark_min_time=0.5
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "ToolBox/ArrayList.h"
#include "ToolBox/HashMap.h"
#include "ToolBox/Memory.h"
#include "ToolBox/String.h"

namespace {

struct Payload {
    explicit Payload(int value) : value(value) {}
    int value;
};

// Configuration-like names: a word and a number.
std::vector<std::string> makeKeys(int count) {
    static const char* const words[] = {"Server", "Port",     "Connection", "Timeout",
                                        "Mode",   "AutoVote", "Guard",      "Redial"};
    std::vector<std::string> keys;
    keys.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        keys.push_back(words[i % 8] + std::to_string(i));
    return keys;
}

// --- map put + get

void MapPutGet_StringKeyHashMap(benchmark::State& state) {
    std::vector<std::string> keys = makeKeys(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        toolbox::StringKeyHashMap<Payload> map;
        for (std::size_t i = 0; i < keys.size(); ++i) {
            map.putCopy(keys[i].c_str(), toolbox::create<Payload>(static_cast<int>(i)));
        }
        long sum = 0;
        for (const std::string& key : keys)
            sum += map.get(key.c_str())->value;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void MapPutGet_StdUnorderedMap(benchmark::State& state) {
    std::vector<std::string> keys = makeKeys(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::unordered_map<std::string, std::unique_ptr<Payload>> map;
        for (std::size_t i = 0; i < keys.size(); ++i) {
            map[keys[i]] = std::make_unique<Payload>(static_cast<int>(i));
        }
        long sum = 0;
        for (const std::string& key : keys)
            sum += map.find(key)->second->value;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// --- list add + removeAt(0)

void ListAddRemoveFront_ArrayList(benchmark::State& state) {
    int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        toolbox::ArrayList<Payload> list;
        for (int i = 0; i < count; ++i)
            list.add(toolbox::create<Payload>(i));
        while (list.getCount() > 0)
            list.removeAt(0);
        benchmark::DoNotOptimize(list.getCapacity());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void ListAddRemoveFront_StdVector(benchmark::State& state) {
    int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::vector<std::unique_ptr<Payload>> list;
        for (int i = 0; i < count; ++i)
            list.push_back(std::make_unique<Payload>(i));
        while (!list.empty())
            list.erase(list.begin());
        benchmark::DoNotOptimize(list.capacity());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// --- text: appending pieces to a fresh text

const char* const kPieces[] = {"vote", ":", "workstation-", "42", " ", "Connection established"};

void TextAppend_String(benchmark::State& state) {
    int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        toolbox::String text;
        for (int i = 0; i < count; ++i)
            text.append(kPieces[i % 6]);
        benchmark::DoNotOptimize(text.c_str());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void TextAppend_StdString(benchmark::State& state) {
    int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::string text;
        for (int i = 0; i < count; ++i)
            text.append(kPieces[i % 6]);
        benchmark::DoNotOptimize(text.c_str());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// --- text: formatting a log line prefix

void FormatFresh_String(benchmark::State& state) {
    unsigned elapsed = 0;
    for (auto _ : state) {
        toolbox::String text;
        text.format("[%04d-%02d-%02d %02d:%02d:%02d (T+%u.%03u)] ", 2026, 12, 7, 6, 36, 45,
                    elapsed / 1000, elapsed % 1000);
        benchmark::DoNotOptimize(text.c_str());
        ++elapsed;
    }
}

void FormatReused_String(benchmark::State& state) {
    unsigned elapsed = 0;
    toolbox::String text;
    for (auto _ : state) {
        text.format("[%04d-%02d-%02d %02d:%02d:%02d (T+%u.%03u)] ", 2026, 12, 7, 6, 36, 45,
                    elapsed / 1000, elapsed % 1000);
        benchmark::DoNotOptimize(text.c_str());
        ++elapsed;
    }
}

void Format_Snprintf(benchmark::State& state) {
    unsigned elapsed = 0;
    char text[256];
    for (auto _ : state) {
        std::snprintf(text, sizeof text, "[%04d-%02d-%02d %02d:%02d:%02d (T+%u.%03u)] ", 2026, 12,
                      7, 6, 36, 45, elapsed / 1000, elapsed % 1000);
        benchmark::DoNotOptimize(text);
        ++elapsed;
    }
}

}  // namespace

BENCHMARK(MapPutGet_StringKeyHashMap)->Arg(16)->Arg(1000)->Arg(100000);
BENCHMARK(MapPutGet_StdUnorderedMap)->Arg(16)->Arg(1000)->Arg(100000);
BENCHMARK(ListAddRemoveFront_ArrayList)->Arg(16)->Arg(1000)->Arg(10000);
BENCHMARK(ListAddRemoveFront_StdVector)->Arg(16)->Arg(1000)->Arg(10000);
BENCHMARK(TextAppend_String)->Arg(6)->Arg(60)->Arg(600);
BENCHMARK(TextAppend_StdString)->Arg(6)->Arg(60)->Arg(600);
BENCHMARK(FormatFresh_String);
BENCHMARK(FormatReused_String);
BENCHMARK(Format_Snprintf);

BENCHMARK_MAIN();
