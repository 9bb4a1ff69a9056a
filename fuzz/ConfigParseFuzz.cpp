// Feeds arbitrary bytes to the configuration parser and checks the writer and
// the parser against each other: whatever the parser accepts, the writer turns
// into text that parses again; after one write/parse round the text no longer
// changes; and that round changes nothing unless a value had spaces at its ends
// (which the format cannot hold) or two names differ in case only (the writer
// keeps those in the map's order, and a map that has shrunk by removals orders
// them differently from one freshly read). An observer of the parse changes
// nothing in what is read; it hears of a malformed text exactly when the parse
// fails, and the writer's own text is never read otherwise than written, but
// for a name that is both a section and a key.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ToolBox/Config.h"

using toolbox::Config;
using toolbox::ConfigSection;

namespace {

[[noreturn]] void fail(const char* what, const std::string& expected, const std::string& got) {
    std::fprintf(stderr, "%s\n--- expected (%zu bytes)\n%s\n--- got (%zu bytes)\n%s\n", what,
                 expected.size(), expected.c_str(), got.size(), got.c_str());
    std::abort();
}

/// Counts what a parse reports, by kind.
class Notices : public Config::Observer {
public:
    void notice(toolbox::ConfigNotice kind, const char* path, int line) override {
        if (path == nullptr || line < 1)
            std::abort();
        ++counts[static_cast<int>(kind)];
        ++total;
    }
    int malformed() const {
        int count = 0;
        for (int kind = static_cast<int>(toolbox::ConfigNotice::StrayText); kind < kKinds; ++kind)
            count += counts[kind];
        return count;
    }
    static constexpr int kKinds = static_cast<int>(toolbox::ConfigNotice::Unclosed) + 1;
    int counts[kKinds] = {};
    int total = 0;
};

bool parse(Config& config, const std::string& text, Notices* notices = nullptr) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    bool parsed = config.parse(buffer.data(), notices);
    if (std::memcmp(buffer.data(), text.data(), text.size()) != 0) {
        fail("the parser did not restore its buffer", text, std::string(buffer.data()));
    }
    return parsed;
}

std::string write(Config& config) {
    Config::BufferWriter writer;
    if (!config.getRoot()->write(writer, 0))
        std::abort();
    return std::string(writer.getText(), writer.getLength());
}

bool hasSpaceAtAnEnd(const char* text) {
    std::size_t length = std::strlen(text);
    return length > 0 && (text[0] == ' ' || text[length - 1] == ' ');
}

bool equalIgnoringCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        int left = std::tolower(static_cast<unsigned char>(*a));
        int right = std::tolower(static_cast<unsigned char>(*b));
        if (left != right)
            return false;
        if (left == 0)
            return true;
    }
}

/// True when two names of the map differ in case only: the writer keeps such
/// names in the map's order, and a freshly read map may order them otherwise.
template <class T>
bool holdsCaseTwins(toolbox::StringKeyHashMap<T>& map) {
    std::vector<const char*> names;
    toolbox::PointeredList* keys = map.keys();
    for (auto* item = keys->getFirst(); item != nullptr; item = item->getNext()) {
        names.push_back(static_cast<const char*>(item->getObject()));
    }
    delete keys;
    std::sort(names.begin(), names.end(), [](const char* a, const char* b) {
        return std::lexicographical_compare(a, a + std::strlen(a), b, b + std::strlen(b),
                                            [](char x, char y) {
                                                return std::tolower(static_cast<unsigned char>(x)) <
                                                       std::tolower(static_cast<unsigned char>(y));
                                            });
    });
    for (std::size_t i = 1; i < names.size(); ++i) {
        if (equalIgnoringCase(names[i - 1], names[i]))
            return true;
    }
    return false;
}

/// True when one write/parse round may change the text of the tree: a value
/// starts or ends with a space, or two names differ in case only.
bool mayChangeInOneRound(ConfigSection* section) {
    if (holdsCaseTwins(section->getParameters()) || holdsCaseTwins(section->getSections())) {
        return true;
    }
    bool changes = false;
    toolbox::PointeredList* names = section->getParameters().keys();
    for (auto* item = names->getFirst(); item != nullptr && !changes; item = item->getNext()) {
        const char* name = static_cast<const char*>(item->getObject());
        changes = hasSpaceAtAnEnd(section->getParameters().get(name)->asString());
    }
    delete names;
    names = section->getSections().keys();
    for (auto* item = names->getFirst(); item != nullptr && !changes; item = item->getNext()) {
        changes = mayChangeInOneRound(
            section->getSections().get(static_cast<const char*>(item->getObject())));
    }
    delete names;
    return changes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    Config first;
    const bool parsed = parse(first, input);
    const std::string written = write(first);

    Config observed;
    Notices heard;
    if (parse(observed, input, &heard) != parsed || write(observed) != written)
        fail("an observer changed what was read", written, write(observed));
    if ((heard.malformed() == 1) == parsed || heard.malformed() > 1)
        fail("a malformed text is not reported exactly once", input, written);

    Config second;
    Notices rereading;
    if (!parse(second, written, &rereading))
        fail("written text does not parse", written, "");
    const int sectionAndKey =
        rereading.counts[static_cast<int>(toolbox::ConfigNotice::SectionAndKey)];
    if (rereading.total != sectionAndKey)
        fail("the writer's text is read otherwise than written", written, write(second));
    const std::string rewritten = write(second);
    if (rewritten != written && !mayChangeInOneRound(first.getRoot())) {
        fail("a write/parse round changed the text", written, rewritten);
    }

    Config third;
    if (!parse(third, rewritten))
        fail("rewritten text does not parse", rewritten, "");
    const std::string fixedPoint = write(third);
    if (fixedPoint != rewritten)
        fail("the text is not a fixed point", rewritten, fixedPoint);
    return 0;
}
