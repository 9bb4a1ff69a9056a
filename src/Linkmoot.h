#pragma once
// The application object: one Client and one Server for its whole life; runs
// start-up, the configuration flow, the one-second tick and the command table,
// and after each change hands the front end an immutable status snapshot.
// Plain C++: every front end (tray application, daemon, tests) drives it
// through the same calls. The configuration tree belongs to whoever builds it
// (see src/app/Instance.h) and outlives it.
#include <memory>
#include <string>
#include <vector>

#include "DialService.h"
#include "Settings.h"
#include "SharedSecret.h"
#include "StatusModel.h"

namespace linkmoot {

class Client;
class Server;
class FrontEnd;
class Network;
class Clock;
class DialServiceProvider;
class ShutdownService;
class ConfigurationStore;
class Crypto;
class Worker;
class MissingFeatures;

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
    /// Saves a confirmed configuration at once and reads the file again on
    /// reload; null: neither (the exit's save alone).
    ConfigurationStore* configuration = nullptr;
    /// The shared secret's cryptography and the worker that derives its key;
    /// null: a configured secret fails (closed) and says so.
    Crypto* crypto = nullptr;
    Worker* worker = nullptr;
    /// What this machine cannot provide, shown as status rows; null: none.
    const MissingFeatures* missing = nullptr;
};

class Linkmoot {
public:
    /// Creates the client (voting when `AutoVote`) and the server (stopped).
    /// The settings' tree, the services and the front end outlive the object.
    Linkmoot(Settings settings, Services services, FrontEnd& frontEnd);
    /// Withdraws a held vote and stops the server; asks nothing.
    ~Linkmoot();
    Linkmoot(const Linkmoot&) = delete;
    Linkmoot& operator=(const Linkmoot&) = delete;

    /// Start-up after the front end runs (its timer too): starts the server
    /// when configured in server mode, or runs the welcome dialog and the
    /// configuration flow. False when the program must end.
    bool initInstance();
    /// The dialogs of the configuration flow alone: the mode, then the options
    /// of the mode. Stores what the user confirms and touches neither the
    /// server nor the vote. True when both ended with OK.
    bool askConfiguration();
    /// The configuration flow: askConfiguration(), then the server restarts
    /// (server mode) or the vote is withdrawn (client mode).
    bool configure();
    /// Reads the configuration file again and applies it as a confirmed
    /// configuration flow would, but restarts the server only when a key it
    /// binds or dials with (or the mode) changed, and moves a held vote only
    /// when the client's server changed; everything else applies in place,
    /// without hanging up. False, with why in problem (also logged), when the
    /// file cannot be used: the running configuration stays.
    bool reload(std::string& problem);
    /// The once-a-second work: server poll; client re-vote every tenth tick.
    void tick();
    /// The command table. Unknown ids are ignored.
    void onCommand(int commandId);

    bool isServerMode() const { return settings.isServerMode(); }
    bool isClientMode() const { return settings.isClientMode(); }
    /// Takes a new snapshot and hands it to the front end.
    void refreshViews();
    /// The snapshot last handed to the front end (the state at construction
    /// before the first); never null.
    std::shared_ptr<const StatusSnapshot> latestStatus() const { return latest; }
    /// What keeps the web page from being served ("" when nothing does); shown
    /// as a status row while the server is started.
    void setWebPageProblem(const std::string& problem);
    /// The names the server options offer for a dial-up service value, handed
    /// to `done` as the service lists them (see DialService::listEntries).
    void dialEntries(const std::string& dialer, DialService::EntriesCallback done);
    /// Where the help documents lie (beside the program, else the installed data folder).
    std::string documentPath(const char* relative) const;

    const Settings& getSettings() const { return settings; }
    Client& getClient() { return *client; }
    KeyStore& getKeys() { return keys; }
    Server& getServer() { return *server; }
    int getTickCounter() const { return tickCounter; }

private:
    std::shared_ptr<const StatusSnapshot> snapshot() const;
    /// The question a failed start or send left, asked now that its step is
    /// done; Yes runs the configuration flow.
    void askToConfigure(int stringId);
    void startServer();
    void askClientQuestion();
    void saveConfiguration();
    /// Hands the key store the configured secret (derived off the loop).
    void applySecret();
    /// Logs each new row of what the machine cannot provide, once, at Error.
    void reportMissingFeatures();

    Settings settings;
    Services services;
    FrontEnd& frontEnd;
    KeyStore keys;  // before the client and server, which use it
    std::unique_ptr<Client> client;
    std::unique_ptr<Server> server;
    std::shared_ptr<const StatusSnapshot> latest;
    std::string webPageProblem;
    std::size_t missingFeaturesReported = 0;
    int tickCounter = 0;
};

}  // namespace linkmoot
