// Parses arbitrary argument vectors with CommandLine and checks the result
// against a model of its rules; records them with setProcessArguments too.
//
// Input: the first byte chooses which options are declared beforehand (bit n
// declares kDeclarable[n] with its value count); the rest, split at NUL bytes,
// is the argument vector (argv[0] first).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "PrintableCheck.h"
#include "ToolBox/CommandLine.h"
#include "ToolBox/ProcessArguments.h"

using fuzzcheck::fail;
using toolbox::CommandLine;

namespace {

struct Declarable {
    const char* name;
    int32_t valueCount;
};
const Declarable kDeclarable[] = {
    {"/log:debug", 0}, {"-n", 1}, {"--pair", 2}, {"/x", 3}, {"-", 1}, {"/", 0},
};

struct ModelOption {
    bool present = false;
    int32_t valueCount = 0;
    std::vector<std::string> values;
};

struct Model {
    std::map<std::string, ModelOption> options;
    std::vector<std::string> arguments;
    std::string programName;
};

/// The rules of CommandLine::parse, written out plainly.
void modelParse(Model& model, const std::vector<std::string>& tokens) {
    if (!tokens.empty())
        model.programName = tokens[0];
    for (std::size_t i = 1; i < tokens.size(); i++) {
        const std::string& token = tokens[i];
        if (token.empty() || (token[0] != '/' && token[0] != '-')) {
            model.arguments.push_back(token);
            continue;
        }
        auto found = model.options.find(token);
        if (found == model.options.end()) {
            model.options[token].present = true;
            continue;
        }
        ModelOption& option = found->second;
        option.values.clear();
        option.present = true;
        if (i + static_cast<std::size_t>(option.valueCount) >= tokens.size())
            return;
        for (int32_t v = 0; v < option.valueCount; v++)
            option.values.push_back(tokens[++i]);
    }
}

std::vector<std::string> arrayOf(const toolbox::ArrayList<toolbox::String>& list) {
    std::vector<std::string> result;
    for (int index = 0; index < list.getCount(); index++)
        result.emplace_back(list.get(index)->c_str());
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const uint8_t declared = data[0];
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<std::string> tokens;
    if (!rest.empty()) {
        for (;;) {
            std::size_t end = rest.find('\0');
            tokens.emplace_back(rest.substr(0, end));
            if (end == std::string_view::npos)
                break;
            rest.remove_prefix(end + 1);
        }
    }
    std::vector<const char*> argv;
    for (const std::string& token : tokens)
        argv.push_back(token.c_str());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(tokens.size());

    CommandLine commandLine;
    Model model;
    for (std::size_t bit = 0; bit < sizeof kDeclarable / sizeof kDeclarable[0]; bit++) {
        if ((declared >> bit) & 1) {
            commandLine.declareOption(kDeclarable[bit].name, kDeclarable[bit].valueCount);
            model.options[kDeclarable[bit].name].valueCount = kDeclarable[bit].valueCount;
        }
    }
    commandLine.parse(argc, argv.data());
    modelParse(model, tokens);

    if (model.programName != commandLine.getProgramName().c_str())
        fail("program name", model.programName);
    if (arrayOf(commandLine.getArguments()) != model.arguments)
        fail("plain arguments differ", "");
    if (static_cast<std::size_t>(commandLine.getOptions().getCount()) != model.options.size())
        fail("a different number of options", "");
    for (const auto& [name, expected] : model.options) {
        CommandLine::Option* option = commandLine.getOption(name.c_str());
        if (option == nullptr)
            fail("an option is missing", name);
        if (option->isPresent() != expected.present ||
            commandLine.hasOption(name.c_str()) != expected.present)
            fail("an option's presence differs", name);
        if (std::string(option->getName().c_str()) != name)
            fail("an option's name differs", name);
        if (arrayOf(option->getValues()) != expected.values)
            fail("an option's values differ", name);
    }

    std::vector<char*> mutableArgv;
    for (std::string& token : tokens)
        mutableArgv.push_back(token.data());
    mutableArgv.push_back(nullptr);
    toolbox::setProcessArguments(argc, mutableArgv.data());
    if (argc > 0 && std::strcmp(toolbox::processProgramArgument(), tokens[0].c_str()) != 0)
        fail("the recorded program argument differs", tokens[0]);
    return 0;
}
