#include "CheckConfig.h"

#include <string>

#include "ConfigCheck.h"
#include "Linkmoot.h"
#include "ToolBox/Config.h"
#include "mfctriext/TriExtApp.h"

namespace linkmoot::daemon {

int checkConfiguration(const char* file, FILE* out, FILE* err) {
    toolbox::Config config;
    ConfigCheck check;
    std::string name;
    if (file != nullptr) {
        config.loadFile(file, &check);
        name = config.getLastLoadedFile() != nullptr ? config.getLastLoadedFile() : file;
    } else {
        mfctriext::TriExtApp::readWithoutCreating(getApplicationName(), config, &check, name);
    }
    switch (config.getLastLoadResult()) {
        case toolbox::Config::LoadResult::Missing:
            fprintf(err, "linkmootd: there is no configuration file (%s)\n", name.c_str());
            return 2;
        case toolbox::Config::LoadResult::Unreadable: {
            const std::string where = check.firstOf(ConfigWarning::Kind::Malformed);
            const char* why = config.getLastLoadProblem();
            fprintf(err, "linkmootd: %s: %s%s%s%s\n", name.c_str(),
                    why != nullptr ? why : "unknown", where.empty() ? "" : " (", where.c_str(),
                    where.empty() ? "" : ")");
            return 2;
        }
        case toolbox::Config::LoadResult::Loaded:
            break;
    }
    check.checkKeys(config.getRoot());
    fprintf(out, "Configuration file: %s\n%s", name.c_str(),
            describeTree(config.getRoot()).c_str());
    for (const ConfigWarning& warning : check.warnings())
        fprintf(err, "linkmootd: warning: %s\n", warning.text.c_str());
    return check.warnings().empty() ? 0 : 1;
}

}  // namespace linkmoot::daemon
