#pragma once
#include <stdlib.h>

#include <sstream>
#include <string>

#include "TempFolder.h"
#include "ToolBox/Logger.h"

namespace testsupport {

/// Every log line at Debug and above, written to a file of its own.
class LogCapture {
public:
    LogCapture() {
        char program[] = "linkmoot_tests";
        char level[] = "/log:debug";
        char* argv[] = {program, level, nullptr};
        toolbox::Logger::constructForTests(folder.file("test.log").c_str(), 2, argv);
        // For a look at the lines while debugging a test.
        if (getenv("LINKMOOT_TEST_LOG_TO_STDERR") != nullptr)
            toolbox::Logger::setMirrorToStandardError(true);
    }
    ~LogCapture() { toolbox::Logger::resetForTests(); }
    std::string text() const { return folder.readFile("test.log"); }
    bool contains(const std::string& part) const { return text().find(part) != std::string::npos; }
    /// How many lines at `level` contain `part`.
    size_t count(const std::string& level, const std::string& part) const {
        std::istringstream lines(text());
        size_t found = 0;
        for (std::string line; std::getline(lines, line);)
            found += line.find("] " + level + " (") != std::string::npos &&
                     line.find(part) != std::string::npos;
        return found;
    }

private:
    testsupport::TempFolder folder;
};

}  // namespace testsupport
