// Parse and write speed of the configuration file, on a generated file of about
// 1 MiB: many sections of parameters, nested three levels deep, some values
// and names with escapes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ToolBox/Config.h"

using toolbox::Config;
using toolbox::ConfigSection;

namespace {

constexpr std::size_t kTargetBytes = 1 << 20;

void fillSection(ConfigSection* section, int depth, int& serial) {
    char name[48];
    char value[96];
    for (int index = 0; index < 8; ++index, ++serial) {
        std::snprintf(name, sizeof name, "Parameter%d", index);
        switch (serial % 4) {
            case 0:
                section->getParameter(name)->setLong(serial * 37);
                break;
            case 1:
                section->getParameter(name)->setBool(serial % 3 == 0);
                break;
            case 2:
                std::snprintf(value, sizeof value, "host-%d.example.net", serial);
                section->getParameter(name)->setString(value);
                break;
            default:
                std::snprintf(value, sizeof value, "C:\\Data\\<%d>\tnote/%d", serial, serial);
                section->getParameter(name)->setString(value);
                break;
        }
    }
    if (depth < 3) {
        for (int index = 0; index < 3; ++index) {
            std::snprintf(name, sizeof name, depth == 2 && index == 0 ? "Sub/%d<x>" : "Sub%d",
                          index);
            fillSection(section->getSection(name), depth + 1, serial);
        }
    }
}

/// The file text of a generated tree of at least kTargetBytes.
const std::string& generatedFile() {
    static const std::string text = [] {
        Config config;
        int serial = 0;
        std::string result;
        for (int section = 0; result.size() < kTargetBytes; ++section) {
            char name[32];
            std::snprintf(name, sizeof name, "Section%d", section);
            fillSection(config.getRoot()->getSection(name), 1, serial);
            if (section % 16 == 15) {
                Config::BufferWriter writer;
                config.getRoot()->write(writer, 0);
                result.assign(writer.getText(), writer.getLength());
            }
        }
        return result;
    }();
    return text;
}

/// Parse into an empty tree, as the application does once at start. Making
/// and destroying the trees is left out of the timing.
void BM_ConfigParse(benchmark::State& state) {
    const std::string& text = generatedFile();
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    Config* config = nullptr;
    for (auto _ : state) {
        state.PauseTiming();
        delete config;
        config = new Config;
        state.ResumeTiming();
        if (!config->parse(buffer.data()))
            state.SkipWithError("generated file did not parse");
    }
    delete config;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
}

/// Parse over a tree that holds the same content: parse first empties it.
void BM_ConfigReparse(benchmark::State& state) {
    const std::string& text = generatedFile();
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    Config config;
    for (auto _ : state) {
        if (!config.parse(buffer.data()))
            state.SkipWithError("generated file did not parse");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
}

void BM_ConfigWrite(benchmark::State& state) {
    const std::string& text = generatedFile();
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    Config config;
    config.parse(buffer.data());
    Config::BufferWriter writer;
    for (auto _ : state) {
        writer.clear();
        bool written = config.getRoot()->write(writer, 0);
        benchmark::DoNotOptimize(written);
    }
    if (writer.getLength() != text.size())
        state.SkipWithError("written text differs in size");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(writer.getLength()));
}

BENCHMARK(BM_ConfigParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConfigReparse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConfigWrite)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
