#pragma once
// The process's argument vector split into the program name, options and plain
// arguments. Every token that begins with "/" or "-" is an option, and the
// whole token is its name: "/log:debug" is simply the name of an option. Names
// are compared exactly and case-sensitively, prefix character included.
#include <cstdint>

#include "ToolBox/ArrayList.h"
#include "ToolBox/HashMap.h"
#include "ToolBox/String.h"

namespace toolbox {

class CommandLine {
public:
    class Option {
    public:
        explicit Option(const char* name, int32_t valueCount = 0)
            : valueCount(valueCount), present(false), name(name) {}

        /// How many tokens after the option are taken as its values.
        int32_t getValueCount() const { return valueCount; }
        bool isPresent() const { return present; }
        const String& getName() const { return name; }
        /// Copies of the tokens taken as values, in order.
        const ArrayList<String>& getValues() const { return values; }

    private:
        friend class CommandLine;
        int32_t valueCount;
        bool present;
        String name;
        ArrayList<String> values;
    };

    /// No options, no arguments, an empty program name.
    CommandLine() = default;
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    /// Declares, before parse, an option that takes the next valueCount tokens
    /// as its values. Options parse meets undeclared take none.
    Option* declareOption(const char* name, int32_t valueCount);

    /// Fills the object from the process's arguments; argv[0] is the program
    /// name. An option whose values run past the end stops parsing there. A
    /// repeated option is kept once; its values are those of its last use.
    void parse(int argc, const char* const* argv);

    /// True when the command line held an option of exactly that name.
    bool hasOption(const char* name) const;
    /// The option of that name (declared or met), or null.
    Option* getOption(const char* name) const { return options.get(name); }

    const StringKeyHashMap<Option>& getOptions() const { return options; }
    /// The plain (non-option) tokens in command-line order.
    const ArrayList<String>& getArguments() const { return arguments; }
    const String& getProgramName() const { return programName; }

private:
    StringKeyHashMap<Option> options;
    ArrayList<String> arguments;
    String programName;
};

}  // namespace toolbox
