#pragma once
// The configuration tree and its tagged text file:
//   <Configured>1</>
//   <Client>
//   	<Server>gateway</>
//   </Client>
// A tree of named sections holding named parameters. Reading a key with a
// default stores the default, so the next save writes it.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "ToolBox/HashMap.h"

namespace toolbox {

class Directory;
class ConfigSection;

/// Counts every change to any configuration tree of the process: a value set,
/// a key or section created or removed, a tree cleared or parsed. What is
/// worked out from the settings on every tick is worked out again only when the
/// count has moved since.
uint64_t configChangeCount();

/// Where a text does not read as it seems to say. The parse reads it as the
/// format says all the same; an observer only hears of it.
enum class ConfigNotice {
    // Read, but not as it looks:
    TextDropsSection,   ///< text and child elements in one element: a key; the section is dropped
    TextBesideSection,  ///< text before child elements: a key and a section of the same name
    KeyDropsSection,    ///< a key named like a section given before drops that section
    SectionAndKey,      ///< one name is a section and a key of the same section
    KeyTwice,           ///< a key given twice in one section: the later value counts
    // Malformed: the text is not read at all.
    StrayText,        ///< text outside every element
    StrayClosingTag,  ///< a closing tag with no element open
    WrongClosingTag,  ///< a closing tag that names another element than the open one
    Unclosed,         ///< an element still open at the end
};

class Config {
public:
    /// Abstract text sink of the writer. Each operation returns false once a
    /// write failed; writing stops at the first failure.
    class Writer {
    public:
        virtual ~Writer() = default;
        virtual bool writeText(const char* text) = 0;
        virtual bool writeChar(char character) = 0;
        /// count bytes that need not be NUL-terminated; by default one writeChar each.
        virtual bool writeBytes(const char* bytes, std::size_t count);
    };
    /// Writes to an open stream (fputs/fputc) and closes it when destroyed.
    class FileWriter : public Writer {
    public:
        explicit FileWriter(FILE* stream) : stream(stream) {}
        ~FileWriter() override;
        bool writeText(const char* text) override;
        bool writeChar(char character) override;
        bool writeBytes(const char* bytes, std::size_t count) override;
        /// Closes the stream now; false when the close (the final flush) failed.
        bool close();

    private:
        FILE* stream;
    };
    /// Collects the text in memory (the file's exact bytes).
    class BufferWriter : public Writer {
    public:
        BufferWriter();
        ~BufferWriter() override;
        BufferWriter(const BufferWriter&) = delete;
        BufferWriter& operator=(const BufferWriter&) = delete;
        bool writeText(const char* text) override;
        bool writeChar(char character) override;
        bool writeBytes(const char* bytes, std::size_t count) override;
        /// NUL-terminated; valid until the next write.
        const char* getText() const { return text; }
        std::size_t getLength() const { return length; }
        void clear();

    private:
        void reserve(std::size_t more);

        char* text;
        std::size_t length;
        std::size_t capacity;
    };

    /// Hears what a parse reads other than it seems (ConfigNotice).
    class Observer {
    public:
        virtual ~Observer() = default;
        /// path: the names of the enclosing sections and the element's own,
        /// joined by "/" ("" at the top level); line: where the element opens
        /// (for a malformed text: where the fault is), counted from 1.
        virtual void notice(ConfigNotice kind, const char* path, int line) = 0;
    };

    /// What the last loadFile found.
    enum class LoadResult {
        Missing,     ///< neither the file nor its ".tmp" exists; tree unchanged
        Loaded,      ///< the tree holds the file's content
        Unreadable,  ///< a file is there but could not be used (getLastLoadProblem); tree empty
    };

    /// Loading refuses larger files and deeper nesting (parse itself takes any).
    static constexpr std::size_t kMaxFileBytes = std::size_t{1} << 20;
    static constexpr int kMaxDepth = 32;

    /// An empty root section named "Root".
    Config();
    ~Config();
    Config(const Config&) = delete;
    Config& operator=(const Config&) = delete;

    ConfigSection* getRoot() { return root; }

    /// Replaces the tree by the text's content; the buffer is modified while
    /// parsing and restored token by token. False (and an empty tree) when
    /// malformed. An observer changes nothing in what is read.
    bool parse(char* buffer, Observer* observer = nullptr);
    /// Reads the file, or the name + ".tmp" when there is no file of that name.
    /// A file that cannot be opened, is not a regular file, is larger than
    /// kMaxFileBytes, does not parse or nests sections deeper than kMaxDepth is
    /// Unreadable. Never blocks on a FIFO or a device.
    bool loadFile(const char* fileName, Observer* observer = nullptr);
    /// Writes name + ".tmp" completely (mode 0600, flushed and synced), then
    /// renames it over the name. False leaves the old file untouched. A lone
    /// ".tmp" left by an interrupted save first takes the name, so that it
    /// survives a failed write as well.
    bool saveFile(const char* fileName);
    /// saveFile with the given bytes as the file's content.
    static bool saveText(const char* fileName, const char* text, std::size_t length);
    /// The file named after the program with the extension "cfg" in the folder.
    bool load(const Directory& folder, Observer* observer = nullptr);
    bool save(const Directory& folder);
    bool loadBesideProgram(Observer* observer = nullptr);

    LoadResult getLastLoadResult() const { return lastLoadResult; }
    /// The native name of the file the last loadFile opened (the name or the
    /// name + ".tmp"); null when it opened none.
    const char* getLastLoadedFile() const { return lastLoadedFile; }
    /// Why the last loadFile found its file Unreadable, as a clause such as
    /// "it is larger than 1 MiB"; null after any other result.
    const char* getLastLoadProblem() const { return lastLoadProblem; }
    /// The bytes the last loadFile read, whether or not they parsed (so that
    /// a caller can tell whether the file changed since); null when it read
    /// none. Kept until the next loadFile or forgetLoadedText.
    const char* getLastLoadedText() const { return lastLoadedText; }
    std::size_t getLastLoadedLength() const { return lastLoadedLength; }
    void forgetLoadedText();

private:
    void setLastLoadedFile(const char* fileName);
    void setLastLoadProblem(const char* problem);

    ConfigSection* root;
    LoadResult lastLoadResult = LoadResult::Missing;
    char* lastLoadedFile = nullptr;
    char* lastLoadProblem = nullptr;
    char* lastLoadedText = nullptr;
    std::size_t lastLoadedLength = 0;
};

class ConfigParameter {
public:
    enum Kind : int32_t { Unset = 0, Boolean = 1, Real = 2, Integer = 3, Text = 4 };

    ConfigParameter() = default;
    ~ConfigParameter();
    ConfigParameter(const ConfigParameter&) = delete;
    ConfigParameter& operator=(const ConfigParameter&) = delete;

    void setBool(bool value);
    void setLong(int32_t value);
    /// Stores a copy of the text.
    void setString(const char* text);

    bool asBool() const;
    /// Integers as they are, texts through atol, reals truncated.
    int32_t asLong() const;
    /// Text and boolean parameters only; every other kind reads as "".
    const char* asString() const;
    Kind getKind() const { return kind; }
    /// True while the parameter holds what a read stored because the key was
    /// missing (getParameter's unset value or a get's default); any setter
    /// clears it. Lets a save tell a stored default from a value set since.
    bool isStoredDefault() const { return storedDefault; }

    /// The value's file form through writeEscaped.
    bool writeValue(Config::Writer& writer) const;

private:
    friend class ConfigSection;  // marks the defaults its reads store
    void releaseText();

    union {
        bool boolean;
        int32_t integer;
        double real;
        char* text;
    } value{};
    Kind kind = Unset;
    bool storedDefault = true;
};

class ConfigSection {
public:
    explicit ConfigSection(const char* name);
    ~ConfigSection();
    ConfigSection(const ConfigSection&) = delete;
    ConfigSection& operator=(const ConfigSection&) = delete;

    const char* getName() const { return name; }

    /// The subsection of that name, created empty when missing. Never null.
    ConfigSection* getSection(const char* name);
    /// The parameter of that name, created unset when missing. Never null.
    ConfigParameter* getParameter(const char* name);
    /// Creates nothing.
    bool hasParameter(const char* name);
    bool hasSection(const char* name);
    void removeParameter(const char* name);
    void removeSection(const char* name);
    /// Remove every parameter and subsection.
    void clear();

    /// Read with a default; a missing key is created with the default.
    bool getBool(const char* name, bool defaultValue);
    int32_t getLong(const char* name, int32_t defaultValue);
    const char* getString(const char* name, const char* defaultValue);

    /// The section's content in file form, sorted case-insensitively, indented
    /// by depth TABs. Any depth of nesting: the subtree is walked without recursion.
    bool write(Config::Writer& writer, int depth);

    StringKeyHashMap<ConfigParameter>& getParameters() { return parameters; }
    StringKeyHashMap<ConfigSection>& getSections() { return sections; }

private:
    /// Writes the parameters at depth, and the empty line that parts them
    /// from the subsections when there are both.
    bool writeParameters(Config::Writer& writer, int depth);

    char* name;
    StringKeyHashMap<ConfigParameter> parameters;
    StringKeyHashMap<ConfigSection> sections;
    /// Links the sections of a subtree being destroyed (see the destructor).
    ConfigSection* nextToDestroy = nullptr;
};

/// A name or value in file form: "\0" for the empty text, TAB LF FF CR as
/// \t \n \f \r, and / < > backslash behind a backslash.
bool writeEscaped(Config::Writer& writer, const char* text);

}  // namespace toolbox
