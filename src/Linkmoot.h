#pragma once
// The application object: owns the configuration (through TriExtApp), one
// Client and one Server for its whole life, runs start-up, the configuration
// flow, the one-second tick and the command table. Plain C++: every front end
// (tray application, daemon, tests) drives it through the same calls.
#include <memory>
#include <string>
#include <vector>

#include "ApplicationContext.h"
#include "StatusModel.h"
#include "mfctriext/TriExtApp.h"

namespace linkmoot {

class Client;
class Server;
class FrontEnd;
class Network;
class Clock;
class DialServiceProvider;
class ShutdownService;

/// Command ids of the menus, accelerators and the control socket.
namespace Command {
enum : int {
    Connect = 32771,
    Disconnect = 32772,
    Configuration = 32773,
    Help = 32774,
    TermsAndConditions = 32777,
    WebSite = 32778,
    DisableServer = 32780,
    EnableServer = 32781,
    Status = 32782,
    Refresh = 32783,
    Exit = 57665,
};
}

/// The application's name, used for its data folder.
const char* getApplicationName();

/// What the application reaches the world through; all must outlive it.
struct Services {
    Network& network;
    Clock& clock;
    DialServiceProvider& dialers;
    ShutdownService& shutdown;
};

class Linkmoot : public mfctriext::TriExtApp, public ApplicationContext {
public:
    /// Loads the configuration, creates the client (voting when `AutoVote`) and
    /// the server (stopped).
    explicit Linkmoot(Services services);
    /// Withdraws a held vote, stops the server, then the base saves the configuration.
    ~Linkmoot() override;

    /// Must be set before initInstance(); the front end outlives every call.
    void setFrontEnd(FrontEnd* frontEnd) { this->frontEnd = frontEnd; }
    FrontEnd* getFrontEnd() const { return frontEnd; }

    /// Start-up after the front end exists (its timer running): starts the
    /// server when configured in server mode, or runs the welcome dialog and the
    /// configuration flow. False when the program must end.
    bool initInstance();
    /// The configuration flow: mode dialog, then the options of the mode; true
    /// when it ran to the end.
    bool configure();
    /// The once-a-second work: server poll; client re-vote every tenth tick.
    void tick();
    /// The command table. Unknown ids are ignored.
    void onCommand(int commandId);

    bool isServerMode() override;
    bool isClientMode();
    void refreshViews() override;
    void askToConfigure(int stringId) override;
    toolbox::ConfigSection* getConfigRoot() override { return TriExtApp::getConfigRoot(); }

    /// Rows, tray text and icon of the current state.
    StatusSnapshot status();
    /// The names the server options offer for a dial-up service value.
    std::vector<std::string> dialEntries(const std::string& dialer);
    /// Where the help documents lie (beside the program, else the installed data folder).
    std::string documentPath(const char* relative) const;

    Client& getClient() { return *client; }
    Server& getServer() { return *server; }
    int getTickCounter() const { return tickCounter; }

private:
    Services services;
    FrontEnd* frontEnd = nullptr;
    std::unique_ptr<Client> client;
    std::unique_ptr<Server> server;
    int tickCounter = 0;
    bool shuttingDown = false;
};

}  // namespace linkmoot
