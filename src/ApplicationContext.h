#pragma once

namespace toolbox {
class ConfigSection;
}

namespace linkmoot {

/// What the server and the client need of the application object. The
/// application implements it; tests supply fakes.
class ApplicationContext {
public:
    virtual ~ApplicationContext() = default;
    virtual toolbox::ConfigSection* getConfigRoot() = 0;
    /// `Mode` is exactly "server" (read afresh at each call).
    virtual bool isServerMode() = 0;
    /// The modal Yes/No error question (string id 20010 or 20033, caption 20013);
    /// Yes runs the configuration flow. Returns when the question is answered
    /// and any configuration flow has ended.
    virtual void askToConfigure(int stringId) = 0;
    /// Rebuilds the status view and the tray icon.
    virtual void refreshViews() = 0;
};

}  // namespace linkmoot
