#include "ToolBox/ProcessArguments.h"

#include <cerrno>

#include "ToolBox/Memory.h"

namespace toolbox {

namespace {
char* programArgument = nullptr;
}  // namespace

void setProcessArguments(int argc, char** argv) {
    char* copy = argc > 0 && argv != nullptr && argv[0] != nullptr ? duplicate(argv[0]) : nullptr;
    release(programArgument);
    programArgument = copy;
}

const char* processProgramArgument() {
    if (programArgument != nullptr)
        return programArgument;
    // glibc keeps argv[0] for every program, also before main.
    return program_invocation_name;
}

}  // namespace toolbox
