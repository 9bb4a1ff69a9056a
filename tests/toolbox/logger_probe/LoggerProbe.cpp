// A small program for the logger and path tests: it constructs the logger from
// its own arguments and then acts on each "+word" argument in order. The tests
// run copies of it in temporary folders, so its log lies there.
#include <cstdio>
#include <cstring>

#include "ToolBox/Directory.h"
#include "ToolBox/Exception.h"
#include "ToolBox/Logger.h"
#include "ToolBox/Memory.h"

namespace {

void printPath(const char* label, toolbox::Directory* path) {
    char* native = path->toNative();
    std::printf("%s=%s\n", label, native);
    toolbox::release(native);
    delete path;
}

}  // namespace

int main(int argc, char** argv) {
    toolbox::Logger::construct(argc, argv);
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        if (std::strcmp(word, "+debug") == 0) {
            LM_LOG(Debug, "%s line", "debug");
        } else if (std::strcmp(word, "+info") == 0) {
            LM_LOG(Info, "%s line", "info");
        } else if (std::strcmp(word, "+warn") == 0) {
            LM_LOG(Warn, "%s line", "warn");
        } else if (std::strcmp(word, "+error") == 0) {
            LM_LOG(Error, "%s line", "error");
        } else if (std::strcmp(word, "+fatal") == 0) {
            LM_LOG(Fatal, "%s line", "fatal");
        } else if (std::strcmp(word, "+exception") == 0) {
            delete new toolbox::EIllegalArgument("probe failure", __FILE__, 42);
        } else if (std::strcmp(word, "+mirror") == 0) {
            toolbox::Logger::setMirrorToStandardError(true);
        } else if (std::strcmp(word, "+where") == 0) {
            printPath("program", toolbox::Directory::programPath());
            printPath("folder", toolbox::Directory::programDirectory());
        }
    }
    return 0;
}
