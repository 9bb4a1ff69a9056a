#pragma once
// Where the configuration tree comes from and goes to, as the application
// object sees it: saved when a configuration flow is confirmed (so the exit's
// save cannot overwrite a later edit of the file), and read again on reload.
#include <memory>
#include <string>

namespace toolbox {
class Config;
}

namespace linkmoot {

class ConfigurationStore {
public:
    virtual ~ConfigurationStore() = default;
    /// Writes the live tree to its file now; false (logged) when it could not.
    virtual bool saveNow() = 0;
    /// The file read again into a tree of its own; null, with why in problem,
    /// when there is none or it cannot be used. The live tree is not touched.
    virtual std::unique_ptr<toolbox::Config> readAgain(std::string& problem) = 0;
    /// Makes the live tree hold what staged holds; the root section stays the
    /// same object, so every Settings view of it stays valid.
    virtual void adopt(toolbox::Config& staged) = 0;
};

}  // namespace linkmoot
