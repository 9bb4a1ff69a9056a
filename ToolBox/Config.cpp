#include "ToolBox/Config.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "ToolBox/ArrayList.h"
#include "ToolBox/Directory.h"
#include "ToolBox/Memory.h"
#include "ToolBox/String.h"
#include "ToolBox/posix/FileStore.h"
#include "ToolBox/posix/Os.h"

namespace toolbox {

namespace {

// Relaxed: only the count matters, and a tree is changed on one thread at a time.
std::atomic<uint64_t> changes{0};

void noteChange() {
    changes.fetch_add(1, std::memory_order_relaxed);
}

// Every line of the file ends with CR LF, as on the systems that share it.
constexpr const char kLineEnd[] = "\r\n";
constexpr const char kTemporarySuffix[] = ".tmp";

/// Bytes that writeEscaped writes behind a backslash.
struct EscapeTable {
    bool special[256] = {};
    constexpr EscapeTable() {
        for (unsigned char byte : {'\t', '\n', '\f', '\r', '/', '<', '>', '\\'}) {
            special[byte] = true;
        }
    }
};
constexpr EscapeTable kEscapes;

char escapeLetter(unsigned char byte) {
    switch (byte) {
        case '\t':
            return 't';
        case '\n':
            return 'n';
        case '\f':
            return 'f';
        case '\r':
            return 'r';
        default:
            return static_cast<char>(byte);
    }
}

bool isTrimmed(char byte) {
    return byte == ' ' || byte == '\r' || byte == '\n' || byte == '\t' || byte == '\f';
}

unsigned char foldCase(unsigned char byte) {
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + ('a' - 'A')) : byte;
}

/// Case-insensitive order of names: ASCII letters folded to lower case, then
/// unsigned bytes. True when a sorts before b.
bool foldedLess(const char* a, const char* b) {
    const unsigned char* left = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* right = reinterpret_cast<const unsigned char*>(b);
    while (*left != 0 && foldCase(*left) == foldCase(*right)) {
        ++left;
        ++right;
    }
    return foldCase(*left) < foldCase(*right);
}

int32_t clampToInt32(long value) {
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

/// atol on a 32-bit long: leading white space, a sign, decimal digits;
/// values beyond the range stick at its ends.
int32_t textToLong(const char* text) {
    return clampToInt32(std::strtol(text, nullptr, 10));
}

/// The names of a map, sorted case-insensitively. Names equal but for case keep
/// the map's own order (the stable order the map's keys() yields).
template <class T>
class SortedNames {
public:
    explicit SortedNames(StringKeyHashMap<T>& map) : names(nullptr), count(0) {
        PointeredList* keys = map.keys();
        int total = keys->getCount();
        if (total > 0) {
            names = static_cast<const char**>(allocate(sizeof(const char*) * total));
            for (PointeredListItem* item = keys->getFirst(); item != nullptr;
                 item = item->getNext()) {
                names[count++] = static_cast<const char*>(item->getObject());
            }
            std::stable_sort(names, names + count, foldedLess);
        }
        delete keys;
    }
    ~SortedNames() { release(names); }
    SortedNames(const SortedNames&) = delete;
    SortedNames& operator=(const SortedNames&) = delete;

    int getCount() const { return count; }
    const char* operator[](int index) const { return names[index]; }

private:
    const char** names;
    int count;
};

bool writeIndent(Config::Writer& writer, int depth) {
    static constexpr char kTabs[] = "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
    constexpr int kChunk = static_cast<int>(sizeof kTabs) - 1;
    while (depth > 0) {
        int now = std::min(depth, kChunk);
        if (!writer.writeBytes(kTabs, static_cast<std::size_t>(now)))
            return false;
        depth -= now;
    }
    return true;
}

/// Decodes the escapes of [from, to) into out (which has room for to - from + 1
/// bytes) and terminates it: \0 vanishes, \t \n \r \f become their control
/// bytes, a backslash before any other byte keeps that byte, a backslash at the
/// very end stays.
void decodeEscapes(const char* from, const char* to, char* out) {
    while (from < to) {
        char byte = *from++;
        if (byte != '\\' || from == to) {
            *out++ = byte;
            continue;
        }
        char next = *from++;
        switch (next) {
            case '0':
                break;
            case 't':
                *out++ = '\t';
                break;
            case 'n':
                *out++ = '\n';
                break;
            case 'r':
                *out++ = '\r';
                break;
            case 'f':
                *out++ = '\f';
                break;
            default:
                *out++ = next;
                break;
        }
    }
    *out = '\0';
}

/// Where the token that starts at start ends: a tag runs to its ">", text runs
/// up to the next "<"; a backslash hides the byte after it.
char* findTokenEnd(char* start) {
    char* scan = *start == '<' ? start + 1 : start;
    for (;;) {
        // A plain scan, not strcspn: tokens are a few bytes, and strcspn's
        // variant lies alone in a page of libc that start-up would map.
        while (*scan != '\0' && *scan != '\\' && *scan != '<' && *scan != '>')
            ++scan;
        switch (*scan) {
            case '\\':
                if (scan[1] == '\0')
                    return scan + 1;
                scan += 2;
                break;
            case '<':
                return scan;
            case '>':
                return scan + 1;
            default:
                return scan;  // the end of the text
        }
    }
}

/// What putting one more entry and rebalancing does to the bucket count of a
/// map, without the entry: the resize that a put/rebalance/remove round leaves.
template <class T>
void rebalanceAsIfOneMore(HashMap<T>& map) {
    int64_t entries = int64_t{map.getCount()} + 1;
    int64_t buckets = map.getBucketCount();
    int64_t loadPercent = map.getLoadPercent();
    int64_t load = entries * 100 / buckets;
    if (load < loadPercent / 2) {
        int64_t wanted = std::max<int64_t>(entries * 100 / loadPercent, map.getMinBuckets());
        if (wanted < buckets)
            map.rehash(static_cast<int>(wanted));
    } else if (load > 2 * loadPercent) {
        map.rehash(static_cast<int>(entries * 100 / loadPercent));
    }
}

/// The open sections while parsing; the root stays at the bottom.
///
/// Every opening tag makes a section, and a parameter's section is removed
/// again at its closing tag. To keep that cheap, a tag that names no existing
/// section is only noted (the top of the stack is then "deferred"); the section
/// is made when it gets a child or is closed as a section, which leaves the tree
/// exactly as making it at once would have.
class SectionStack {
public:
    explicit SectionStack(ConfigSection* root)
        : sections(static_cast<ConfigSection**>(allocate(sizeof(ConfigSection*) * 8))),
          count(1),
          capacity(8) {
        sections[0] = root;
    }
    ~SectionStack() {
        release(sections);
        release(deferredName);
    }
    SectionStack(const SectionStack&) = delete;
    SectionStack& operator=(const SectionStack&) = delete;

    /// Opens the section of that name inside the top one.
    void open(const char* name) {
        makeTop();
        ConfigSection* section = sections[count - 1]->getSections().get(name);
        grow();
        sections[count++] = section;
        if (section == nullptr) {
            std::size_t size = std::strlen(name) + 1;
            if (size > deferredCapacity) {
                release(deferredName);
                deferredName = nullptr;
                deferredCapacity = std::max<std::size_t>(size, 64);
                deferredName = static_cast<char*>(allocate(deferredCapacity));
            }
            std::memcpy(deferredName, name, size);
        }
    }
    /// Closes the top section; asParameter removes it from its parent.
    void close(bool asParameter) {
        ConfigSection* parent = sections[count - 2];
        if (!asParameter) {
            makeTop();
        } else if (sections[count - 1] != nullptr) {
            parent->removeSection(sections[count - 1]->getName());
        } else {
            rebalanceAsIfOneMore(parent->getSections());
        }
        --count;
    }
    bool onlyRoot() const { return count == 1; }
    const char* topName() const {
        return sections[count - 1] != nullptr ? sections[count - 1]->getName() : deferredName;
    }
    ConfigSection* belowTop() const { return sections[count - 2]; }
    /// The top section; null while it is deferred (no section made yet).
    ConfigSection* top() const { return sections[count - 1]; }
    std::size_t depth() const { return count; }
    /// The name of the section at that depth (1 up to the top).
    const char* nameAt(std::size_t index) const {
        return index == count - 1 ? topName() : sections[index]->getName();
    }

private:
    void makeTop() {
        if (sections[count - 1] == nullptr) {
            sections[count - 1] = sections[count - 2]->getSection(deferredName);
        }
    }
    void grow() {
        if (count < capacity)
            return;
        auto* larger =
            static_cast<ConfigSection**>(allocate(sizeof(ConfigSection*) * capacity * 2));
        std::memcpy(larger, sections, sizeof(ConfigSection*) * count);
        release(sections);
        sections = larger;
        capacity *= 2;
    }

    ConfigSection** sections;  ///< null at the top: deferred, named deferredName
    std::size_t count;
    std::size_t capacity;
    char* deferredName = nullptr;
    std::size_t deferredCapacity = 0;
};

/// Tells an observer where the text reads other than it seems (ConfigNotice).
/// Keeps its own marks beside the section stack: the line each open element
/// starts on, and whether it held text or child elements so far. Without an
/// observer every call returns at once, so the parse costs what it did.
class ParseReporter {
public:
    ParseReporter(Config::Observer* observer, const char* text)
        : observer(observer), counted(text) {}
    ~ParseReporter() { release(marks); }
    ParseReporter(const ParseReporter&) = delete;
    ParseReporter& operator=(const ParseReporter&) = delete;

    bool active() const { return observer != nullptr; }
    /// The token at position is next; lines are counted up to it.
    void moveTo(const char* position) {
        if (!active())
            return;
        while (const void* found =
                   std::memchr(counted, '\n', static_cast<std::size_t>(position - counted))) {
            ++line;
            counted = static_cast<const char*>(found) + 1;
        }
        counted = position;
    }
    /// Before stack.open: the top gets a child.
    void opening(const SectionStack& stack) {
        if (!active())
            return;
        grow(stack.depth() + 1);
        Mark& parent = marks[stack.depth() - 1];
        if (stack.depth() > 1 && !parent.hadText && !parent.hadChildren)
            noteSectionBesideKey(stack);
        parent.hadChildren = true;
        marks[stack.depth()] = Mark{line, false, false};
    }
    /// Before the text sets the key named by the top element.
    void text(const SectionStack& stack) {
        if (!active())
            return;
        Mark& mark = marks[stack.depth() - 1];
        if (!mark.hadText && stack.belowTop()->hasParameter(stack.topName()))
            report(ConfigNotice::KeyTwice, stack, mark.line);
        mark.hadText = true;
    }
    /// Before stack.close(asParameter).
    void closing(const SectionStack& stack, bool asParameter) {
        if (!active())
            return;
        const Mark& mark = marks[stack.depth() - 1];
        ConfigSection* section = stack.top();
        if (asParameter && mark.hadChildren) {
            report(ConfigNotice::TextDropsSection, stack, mark.line);
        } else if (asParameter && section != nullptr &&
                   (section->getParameters().getCount() > 0 ||
                    section->getSections().getCount() > 0)) {
            report(ConfigNotice::KeyDropsSection, stack, mark.line);
        } else if (!asParameter && mark.hadText) {
            report(ConfigNotice::TextBesideSection, stack, mark.line);
        } else if (!asParameter && !mark.hadChildren) {
            noteSectionBesideKey(stack);
        }
    }
    void malformed(ConfigNotice kind, const SectionStack& stack) {
        if (active())
            report(kind, stack, line);
    }
    void unclosed(const SectionStack& stack) {
        if (active())
            report(ConfigNotice::Unclosed, stack, marks[stack.depth() - 1].line);
    }

private:
    struct Mark {
        int line;
        bool hadText;
        bool hadChildren;
    };

    /// The deferred top is about to become a section: beside a key of its name?
    void noteSectionBesideKey(const SectionStack& stack) {
        if (stack.top() == nullptr && stack.belowTop()->hasParameter(stack.topName()))
            report(ConfigNotice::SectionAndKey, stack, marks[stack.depth() - 1].line);
    }
    void report(ConfigNotice kind, const SectionStack& stack, int at) {
        // Deeper than a load takes, the path says only its end: a text of
        // many notices deep down would otherwise cost its depth each time.
        constexpr std::size_t kNamesShown = Config::kMaxDepth + 1;
        std::size_t first = stack.depth() > kNamesShown ? stack.depth() - kNamesShown : 1;
        String path(first > 1 ? ".../" : "");
        for (std::size_t index = first; index < stack.depth(); ++index) {
            if (index > first)
                path.append('/');
            path.append(stack.nameAt(index));
        }
        observer->notice(kind, path.c_str(), at);
    }
    void grow(std::size_t size) {
        if (size <= capacity)
            return;
        std::size_t larger = std::max<std::size_t>(size, 2 * capacity + 8);
        auto* grown = static_cast<Mark*>(allocate(sizeof(Mark) * larger));
        if (marks != nullptr)
            std::memcpy(grown, marks, sizeof(Mark) * capacity);
        else
            grown[0] = Mark{1, false, false};  // the root
        release(marks);
        marks = grown;
        capacity = larger;
    }

    Config::Observer* observer;
    const char* counted;
    int line = 1;
    Mark* marks = nullptr;
    std::size_t capacity = 0;
};

/// A scratch buffer for one token at a time, reused from token to token.
class TokenBuffer {
public:
    TokenBuffer() = default;
    ~TokenBuffer() { release(bytes); }
    TokenBuffer(const TokenBuffer&) = delete;
    TokenBuffer& operator=(const TokenBuffer&) = delete;

    char* reserve(std::size_t size) {
        if (size > capacity) {
            release(bytes);
            bytes = nullptr;
            capacity = std::max<std::size_t>(size, 2 * capacity);
            capacity = std::max<std::size_t>(capacity, 256);
            bytes = static_cast<char*>(allocate(capacity));
        }
        return bytes;
    }

private:
    char* bytes = nullptr;
    std::size_t capacity = 0;
};

}  // namespace

// --- writers

bool Config::Writer::writeBytes(const char* bytes, std::size_t count) {
    for (std::size_t index = 0; index < count; ++index) {
        if (!writeChar(bytes[index]))
            return false;
    }
    return true;
}

Config::FileWriter::~FileWriter() {
    close();
}

bool Config::FileWriter::writeText(const char* text) {
    return fputs_unlocked(text, stream) >= 0;
}

bool Config::FileWriter::writeChar(char character) {
    return fputc_unlocked(static_cast<unsigned char>(character), stream) != EOF;
}

bool Config::FileWriter::writeBytes(const char* bytes, std::size_t count) {
    return fwrite_unlocked(bytes, 1, count, stream) == count;
}

bool Config::FileWriter::close() {
    if (stream == nullptr)
        return true;
    bool closed = fclose(stream) == 0;
    stream = nullptr;
    return closed;
}

Config::BufferWriter::BufferWriter()
    : text(static_cast<char*>(allocate(256))), length(0), capacity(256) {
    text[0] = '\0';
}

Config::BufferWriter::~BufferWriter() {
    release(text);
}

void Config::BufferWriter::reserve(std::size_t more) {
    if (length + more + 1 <= capacity)
        return;
    std::size_t larger = std::max(capacity * 2, length + more + 1);
    char* grown = static_cast<char*>(allocate(larger));
    std::memcpy(grown, text, length + 1);
    release(text);
    text = grown;
    capacity = larger;
}

bool Config::BufferWriter::writeText(const char* more) {
    return writeBytes(more, std::strlen(more));
}

bool Config::BufferWriter::writeChar(char character) {
    reserve(1);
    text[length++] = character;
    text[length] = '\0';
    return true;
}

bool Config::BufferWriter::writeBytes(const char* bytes, std::size_t count) {
    reserve(count);
    std::memcpy(text + length, bytes, count);
    length += count;
    text[length] = '\0';
    return true;
}

void Config::BufferWriter::clear() {
    length = 0;
    text[0] = '\0';
}

bool writeEscaped(Config::Writer& writer, const char* text) {
    if (*text == '\0')
        return writer.writeText("\\0");
    const char* run = text;
    for (const char* scan = text;; ++scan) {
        unsigned char byte = static_cast<unsigned char>(*scan);
        if (byte != 0 && !kEscapes.special[byte])
            continue;
        if (scan > run && !writer.writeBytes(run, static_cast<std::size_t>(scan - run))) {
            return false;
        }
        if (byte == 0)
            return true;
        char escaped[2] = {'\\', escapeLetter(byte)};
        if (!writer.writeBytes(escaped, 2))
            return false;
        run = scan + 1;
    }
}

// --- ConfigParameter

ConfigParameter::~ConfigParameter() {
    releaseText();
}

void ConfigParameter::releaseText() {
    if (kind == Text)
        release(value.text);
    value.text = nullptr;
}

void ConfigParameter::setBool(bool newValue) {
    noteChange();
    releaseText();
    storedDefault = false;
    value.boolean = newValue;
    kind = Boolean;
}

void ConfigParameter::setLong(int32_t newValue) {
    noteChange();
    releaseText();
    storedDefault = false;
    value.integer = newValue;
    kind = Integer;
}

void ConfigParameter::setString(const char* text) {
    noteChange();
    // Copy first: the text may be this parameter's own.
    char* copy = duplicate(text != nullptr ? text : "");
    releaseText();
    value.text = copy;
    kind = Text;
    storedDefault = false;
}

bool ConfigParameter::asBool() const {
    switch (kind) {
        case Boolean:
            return value.boolean;
        case Real:
            return value.real != 0.0;  // NaN counts as true
        case Integer:
            return value.integer != 0;
        case Text:
            return textToLong(value.text) != 0;
        default:
            return false;
    }
}

int32_t ConfigParameter::asLong() const {
    switch (kind) {
        case Boolean:
            return value.boolean ? 1 : 0;
        case Real:
            if (std::isnan(value.real))
                return 0;
            if (value.real >= static_cast<double>(INT32_MAX))
                return INT32_MAX;
            if (value.real <= static_cast<double>(INT32_MIN))
                return INT32_MIN;
            return static_cast<int32_t>(value.real);
        case Integer:
            return value.integer;
        case Text:
            return textToLong(value.text);
        default:
            return 0;
    }
}

const char* ConfigParameter::asString() const {
    switch (kind) {
        case Boolean:
            return value.boolean ? "1" : "0";
        case Text:
            return value.text;
        default:
            return "";
    }
}

bool ConfigParameter::writeValue(Config::Writer& writer) const {
    char number[40];
    switch (kind) {
        case Real:
            std::snprintf(number, sizeof number, "%lg", value.real);
            return writeEscaped(writer, number);
        case Integer:
            std::snprintf(number, sizeof number, "%ld", static_cast<long>(value.integer));
            return writeEscaped(writer, number);
        default:
            return writeEscaped(writer, asString());
    }
}

uint64_t configChangeCount() {
    return changes.load(std::memory_order_relaxed);
}

// --- ConfigSection

ConfigSection::ConfigSection(const char* name) : name(duplicate(name)) {}

ConfigSection::~ConfigSection() {
    // Deleting a subsection that holds subsections would recurse once per level
    // of nesting. Instead the subtree is unlinked onto a list threaded through
    // its sections, and each is deleted once it holds no subsection; this
    // allocates nothing.
    ConfigSection* pending = nullptr;
    auto unlink = [&pending](ConfigSection* section) {
        section->nextToDestroy = pending;
        pending = section;
    };
    sections.takeAll(unlink);
    while (pending != nullptr) {
        ConfigSection* section = pending;
        pending = section->nextToDestroy;
        section->sections.takeAll(unlink);
        delete section;
    }
    release(name);
}

ConfigSection* ConfigSection::getSection(const char* sectionName) {
    ConfigSection* section = sections.get(sectionName);
    if (section == nullptr) {
        noteChange();
        section = create<ConfigSection>(sectionName);
        sections.putCopy(sectionName, section);
    }
    return section;
}

ConfigParameter* ConfigSection::getParameter(const char* parameterName) {
    ConfigParameter* parameter = parameters.get(parameterName);
    if (parameter == nullptr) {
        noteChange();
        parameter = create<ConfigParameter>();
        parameters.putCopy(parameterName, parameter);
    }
    return parameter;
}

bool ConfigSection::hasParameter(const char* parameterName) {
    return parameters.get(parameterName) != nullptr;
}

bool ConfigSection::hasSection(const char* sectionName) {
    return sections.get(sectionName) != nullptr;
}

void ConfigSection::removeParameter(const char* parameterName) {
    noteChange();
    delete parameters.remove(parameterName);
}

void ConfigSection::removeSection(const char* sectionName) {
    noteChange();
    delete sections.remove(sectionName);
}

void ConfigSection::clear() {
    noteChange();
    parameters.clear();
    sections.clear();
}

bool ConfigSection::getBool(const char* parameterName, bool defaultValue) {
    ConfigParameter* parameter = parameters.get(parameterName);
    if (parameter == nullptr) {
        parameter = getParameter(parameterName);
        parameter->setBool(defaultValue);
        parameter->storedDefault = true;
    }
    return parameter->asBool();
}

int32_t ConfigSection::getLong(const char* parameterName, int32_t defaultValue) {
    ConfigParameter* parameter = parameters.get(parameterName);
    if (parameter == nullptr) {
        parameter = getParameter(parameterName);
        parameter->setLong(defaultValue);
        parameter->storedDefault = true;
    }
    return parameter->asLong();
}

const char* ConfigSection::getString(const char* parameterName, const char* defaultValue) {
    ConfigParameter* parameter = parameters.get(parameterName);
    if (parameter == nullptr) {
        parameter = getParameter(parameterName);
        parameter->setString(defaultValue);
        parameter->storedDefault = true;
    }
    return parameter->asString();
}

bool ConfigSection::writeParameters(Config::Writer& writer, int depth) {
    SortedNames<ConfigParameter> parameterNames(parameters);
    for (int index = 0; index < parameterNames.getCount(); ++index) {
        const char* parameterName = parameterNames[index];
        if (!writeIndent(writer, depth) || !writer.writeChar('<') ||
            !writeEscaped(writer, parameterName) || !writer.writeChar('>') ||
            !parameters.get(parameterName)->writeValue(writer) || !writer.writeText("</>") ||
            !writer.writeText(kLineEnd)) {
            return false;
        }
    }
    if (parameterNames.getCount() > 0 && sections.getCount() > 0) {
        if (!writer.writeText(kLineEnd))
            return false;
    }
    return true;
}

namespace {

/// One open section while writing: its subsection names and the next one due.
struct WriteFrame {
    WriteFrame(ConfigSection* section, int depth, const char* name)
        : section(section), names(section->getSections()), depth(depth), name(name) {}

    ConfigSection* section;
    SortedNames<ConfigSection> names;
    int next = 0;
    int depth;         ///< the depth of the section's content
    const char* name;  ///< the section's name as its parent keeps it; null for the top
};

}  // namespace

bool ConfigSection::write(Config::Writer& writer, int depth) {
    if (!writeParameters(writer, depth))
        return false;
    // The open sections are kept in a list rather than on the call stack, so
    // that no depth of nesting can exhaust the stack.
    ArrayList<WriteFrame> open;
    open.add(create<WriteFrame>(this, depth, nullptr));
    while (open.getCount() > 0) {
        WriteFrame* top = open.get(open.getCount() - 1);
        if (top->next < top->names.getCount()) {
            const char* sectionName = top->names[top->next];
            int contentDepth = top->depth + 1;
            ConfigSection* section = top->section->sections.get(sectionName);
            if ((top->next > 0 && !writer.writeText(kLineEnd)) ||
                !writeIndent(writer, top->depth) || !writer.writeChar('<') ||
                !writeEscaped(writer, sectionName) || !writer.writeChar('>') ||
                !writer.writeText(kLineEnd) || !section->writeParameters(writer, contentDepth)) {
                return false;
            }
            ++top->next;
            open.add(create<WriteFrame>(section, contentDepth, sectionName));
            continue;
        }
        const char* sectionName = top->name;
        int closingDepth = top->depth - 1;
        open.removeAt(open.getCount() - 1);
        if (sectionName != nullptr &&
            (!writeIndent(writer, closingDepth) || !writer.writeText("</") ||
             !writeEscaped(writer, sectionName) || !writer.writeChar('>') ||
             !writer.writeText(kLineEnd))) {
            return false;
        }
    }
    return true;
}

// --- Config

Config::Config() : root(create<ConfigSection>("Root")) {}

Config::~Config() {
    delete root;
    release(lastLoadedFile);
    release(lastLoadProblem);
    release(lastLoadedText);
}

void Config::forgetLoadedText() {
    release(lastLoadedText);
    lastLoadedText = nullptr;
    lastLoadedLength = 0;
}

bool Config::parse(char* buffer, Observer* observer) {
    root->clear();
    SectionStack stack(root);
    TokenBuffer scratch;
    ParseReporter report(observer, buffer);
    bool malformed = false;
    bool pendingParameter = false;

    char* position = buffer;
    while (*position != '\0' && !malformed) {
        char* start = position;
        char* end = findTokenEnd(start);
        char remembered = *end;
        *end = '\0';

        const char* first = start;
        const char* last = end;  // one past the token
        while (first < last && isTrimmed(*first))
            ++first;
        while (last > first && isTrimmed(last[-1]))
            --last;
        std::size_t length = static_cast<std::size_t>(last - first);

        if (length > 0) {
            report.moveTo(first);
            char* text = scratch.reserve(length + 1);
            bool tag = length >= 2 && first[0] == '<' && last[-1] == '>';
            if (tag && first[1] == '/' && length >= 3) {
                decodeEscapes(first + 2, last - 1, text);
                if (stack.onlyRoot()) {
                    malformed = true;
                    report.malformed(ConfigNotice::StrayClosingTag, stack);
                } else if (text[0] != '\0' && std::strcmp(text, stack.topName()) != 0) {
                    malformed = true;
                    report.malformed(ConfigNotice::WrongClosingTag, stack);
                } else {
                    // An element that held text was a parameter, not a section.
                    report.closing(stack, pendingParameter);
                    stack.close(pendingParameter);
                    pendingParameter = false;
                }
            } else if (tag) {
                decodeEscapes(first + 1, last - 1, text);
                report.opening(stack);
                stack.open(text);
            } else if (stack.onlyRoot()) {
                malformed = true;
                report.malformed(ConfigNotice::StrayText, stack);
            } else {
                decodeEscapes(first, last, text);
                report.text(stack);
                stack.belowTop()->getParameter(stack.topName())->setString(text);
                pendingParameter = true;
            }
        }

        *end = remembered;
        position = end;
    }
    if (!malformed && !stack.onlyRoot()) {
        malformed = true;
        report.unclosed(stack);
    }
    if (malformed) {
        root->clear();
        return false;
    }
    return true;
}

void Config::setLastLoadedFile(const char* fileName) {
    char* copy = fileName != nullptr ? duplicate(fileName) : nullptr;
    release(lastLoadedFile);
    lastLoadedFile = copy;
}

void Config::setLastLoadProblem(const char* problem) {
    char* copy = problem != nullptr ? duplicate(problem) : nullptr;
    release(lastLoadProblem);
    lastLoadProblem = copy;
}

namespace {

/// True when the section holds sections nested more than `levels` deep. The
/// recursion stops after levels + 1 calls.
bool nestedDeeperThan(ConfigSection* section, int levels) {
    StringKeyHashMap<ConfigSection>& sections = section->getSections();
    if (sections.getCount() == 0)
        return false;
    if (levels == 0)
        return true;
    PointeredList* names = sections.keys();
    bool deeper = false;
    for (PointeredListItem* item = names->getFirst(); item != nullptr && !deeper;
         item = item->getNext()) {
        deeper = nestedDeeperThan(sections.get(item->getObject()), levels - 1);
    }
    delete names;
    return deeper;
}

/// "what: the system's text for error", or what alone when there is none.
void describeError(char* out, std::size_t size, const char* what, int error) {
    char reason[160];
    if (error != 0 && os::systemErrorMessage(static_cast<uint32_t>(error), reason, sizeof reason)) {
        std::snprintf(out, size, "%s: %s", what, reason);
    } else {
        std::snprintf(out, size, "%s", what);
    }
}

}  // namespace

bool Config::loadFile(const char* fileName, Observer* observer) {
    forgetLoadedText();
    char* text = nullptr;
    std::size_t length = 0;
    int error = 0;
    const char* opened = fileName;
    os::ReadOutcome outcome = os::readWholeFile(fileName, kMaxFileBytes, text, length, error);
    char* temporaryName = nullptr;
    if (outcome == os::ReadOutcome::Missing) {
        // An interrupted save may have left only the temporary file.
        std::size_t nameLength = std::strlen(fileName);
        temporaryName = static_cast<char*>(allocate(nameLength + sizeof kTemporarySuffix));
        std::memcpy(temporaryName, fileName, nameLength);
        std::memcpy(temporaryName + nameLength, kTemporarySuffix, sizeof kTemporarySuffix);
        opened = temporaryName;
        outcome = os::readWholeFile(temporaryName, kMaxFileBytes, text, length, error);
    }
    char problem[240] = "";
    switch (outcome) {
        case os::ReadOutcome::Missing:
            break;
        case os::ReadOutcome::Refused:
            describeError(problem, sizeof problem,
                          error != 0 ? "it cannot be opened" : "it is not a regular file", error);
            break;
        case os::ReadOutcome::TooLarge:
            std::snprintf(problem, sizeof problem, "it is larger than %zu MiB",
                          kMaxFileBytes >> 20);
            break;
        case os::ReadOutcome::Failed:
            describeError(problem, sizeof problem, "reading it failed", error);
            break;
        case os::ReadOutcome::Read:
            if (!parse(text, observer)) {
                std::snprintf(problem, sizeof problem, "it is not in the configuration format");
            } else if (nestedDeeperThan(root, kMaxDepth)) {
                root->clear();
                std::snprintf(problem, sizeof problem, "its sections are nested deeper than %d",
                              kMaxDepth);
            }
            // parse put every byte back: this is the file's content.
            lastLoadedText = text;
            lastLoadedLength = length;
            break;
    }
    bool loaded = false;
    if (outcome == os::ReadOutcome::Missing) {
        setLastLoadedFile(nullptr);
        setLastLoadProblem(nullptr);
        lastLoadResult = LoadResult::Missing;
    } else {
        loaded = problem[0] == '\0';
        if (!loaded)
            root->clear();
        setLastLoadedFile(opened);
        setLastLoadProblem(loaded ? nullptr : problem);
        lastLoadResult = loaded ? LoadResult::Loaded : LoadResult::Unreadable;
    }
    release(temporaryName);
    return loaded;
}

bool Config::saveFile(const char* fileName) {
    BufferWriter text;
    if (!root->write(text, 0))
        return false;
    return saveText(fileName, text.getText(), text.getLength());
}

bool Config::saveText(const char* fileName, const char* text, std::size_t length) {
    std::size_t nameLength = std::strlen(fileName);
    char* temporaryName = static_cast<char*>(allocate(nameLength + sizeof kTemporarySuffix));
    std::memcpy(temporaryName, fileName, nameLength);
    std::memcpy(temporaryName + nameLength, kTemporarySuffix, sizeof kTemporarySuffix);

    // When only the temporary file is there (an interrupted save), it is the
    // one copy of the settings: give it the proper name before it is rewritten,
    // so that a failure below still leaves it.
    if (!os::fileExists(fileName) && os::isRegularFile(temporaryName)) {
        os::renameFile(temporaryName, fileName);
    }

    bool saved = false;
    FILE* stream = os::createPrivateFile(temporaryName);
    if (stream != nullptr) {
        FileWriter writer(stream);
        saved = writer.writeBytes(text, length);
        saved = saved && os::flushToDisk(stream);
        saved = writer.close() && saved;
        if (saved) {
            saved = os::replaceFile(temporaryName, fileName);
        } else {
            os::removeFile(temporaryName);
        }
    }
    release(temporaryName);
    return saved;
}

bool Config::load(const Directory& folder, Observer* observer) {
    Directory* path = folder.copy();
    path->appendProgramFileName("cfg");
    char* fileName = path->toNative();
    delete path;
    bool loaded = loadFile(fileName, observer);
    release(fileName);
    return loaded;
}

bool Config::save(const Directory& folder) {
    Directory* path = folder.copy();
    path->appendProgramFileName("cfg");
    char* fileName = path->toNative();
    delete path;
    bool saved = saveFile(fileName);
    release(fileName);
    return saved;
}

bool Config::loadBesideProgram(Observer* observer) {
    Directory* path = Directory::programPath();
    PathElement* last = path->getLastElement();
    if (last == nullptr) {
        delete path;
        return false;
    }
    last->setExtension("cfg");
    char* fileName = path->toNative();
    delete path;
    bool loaded = loadFile(fileName, observer);
    release(fileName);
    return loaded;
}

}  // namespace toolbox
