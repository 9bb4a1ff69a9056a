#pragma once
// Where the configuration tree comes from and goes to, as the application
// object sees it: saved when a configuration flow is confirmed, and read
// again on reload. A save keeps what an edit of the file changed meanwhile.
#include <memory>
#include <string>

#include "ToolBox/Config.h"

namespace linkmoot {

class ConfigurationStore {
public:
    virtual ~ConfigurationStore() = default;
    /// Writes the live tree's changes to its file now; false (logged) when it could not.
    virtual bool saveNow() = 0;
    /// The file read again into a tree of its own; null, with why in problem,
    /// when there is none or it cannot be used. The live tree is not touched;
    /// observer hears what the parse reports.
    virtual std::unique_ptr<toolbox::Config> readAgain(std::string& problem,
                                                       toolbox::Config::Observer* observer) = 0;
    /// Makes the live tree hold what staged holds; the root section stays the
    /// same object, so every Settings view of it stays valid.
    virtual void adopt(toolbox::Config& staged) = 0;
    /// Tells observer again what the parse of the file read at start reported.
    virtual void replayLoadNotices(toolbox::Config::Observer& observer) = 0;
};

}  // namespace linkmoot
