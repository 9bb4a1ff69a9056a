#pragma once
// The configuration file of the application base, as the application object
// saves and reloads it. Header-only, so the core's tests can hand the same
// adapter to the application object without linking the composition root.
#include <memory>
#include <string>

#include "ConfigurationStore.h"
#include "ToolBox/Config.h"
#include "mfctriext/TriExtApp.h"

namespace linkmoot {

class TriExtStore : public ConfigurationStore {
public:
    explicit TriExtStore(mfctriext::TriExtApp& base) : base(base) {}
    bool saveNow() override { return base.saveNow(); }
    std::unique_ptr<toolbox::Config> readAgain(std::string& problem,
                                               toolbox::Config::Observer* observer) override {
        return base.readAgain(problem, observer);
    }
    void adopt(toolbox::Config& staged) override { base.adopt(staged); }
    void replayLoadNotices(toolbox::Config::Observer& observer) override {
        for (const mfctriext::TriExtApp::LoadNotice& notice : base.getLoadNotices())
            observer.notice(notice.kind, notice.path.c_str(), notice.line);
    }

private:
    mfctriext::TriExtApp& base;
};

}  // namespace linkmoot
