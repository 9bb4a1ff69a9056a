#include "ToolBox/CommandLine.h"

#include "ToolBox/Memory.h"

namespace toolbox {

CommandLine::Option* CommandLine::declareOption(const char* name, int32_t valueCount) {
    Option* option = options.get(name);
    if (option == nullptr) {
        option = create<Option>(name, valueCount);
        options.putCopy(name, option);
    } else {
        option->valueCount = valueCount;
    }
    return option;
}

void CommandLine::parse(int argc, const char* const* argv) {
    if (argc > 0)
        programName.assign(argv[0]);
    for (int i = 1; i < argc; ++i) {
        const char* token = argv[i];
        if (token[0] != '/' && token[0] != '-') {
            arguments.add(create<String>(token));
            continue;
        }
        Option* option = options.get(token);
        if (option == nullptr) {
            option = create<Option>(token);
            option->present = true;
            options.putCopy(token, option);
            continue;
        }
        option->values.clear();
        option->present = true;
        if (i + option->valueCount >= argc)
            return;
        for (int v = 0; v < option->valueCount; ++v) {
            option->values.add(create<String>(argv[++i]));
        }
    }
}

bool CommandLine::hasOption(const char* name) const {
    const Option* option = options.get(name);
    return option != nullptr && option->present;
}

}  // namespace toolbox
