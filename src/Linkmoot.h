#pragma once
// The application object: one Client and one Server for its whole life; runs
// start-up, the configuration flow, the one-second tick and the command table,
// and after each change hands the front end an immutable status snapshot.
// Plain C++: every front end (tray application, daemon, tests) drives it
// through the same calls. The configuration tree belongs to whoever builds it
// (see src/app/Instance.h) and outlives it.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DialService.h"
#include "FrontEnd.h"
#include "Settings.h"
#include "SharedSecret.h"
#include "StatusModel.h"
#include "UsageReport.h"
#include "UsageStorage.h"

namespace linkmoot {

class Client;
class Server;
class FrontEnd;
class Network;
class Clock;
class DialServiceProvider;
class ShutdownService;
class ConfigurationStore;
class InterfaceCounters;
class LocalTime;
class UsageRecorder;
class PlanMeter;
class ServiceBrowser;
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
    Usage = 32784,
    /// The codes of the web page's addresses, for phones.
    ShowPageCode = 32785,
    /// Lets the line run over the data cap until the cycle resets ("tray").
    AllowOverCap = 32786,
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
    /// The record of the line's use: the system's interface counters (null:
    /// nothing counted but what a dial-up service counts itself), the local
    /// calendar (null: UTC), and where sessions are kept (null: nowhere, and
    /// `usageProblem` says why).
    InterfaceCounters* counters = nullptr;
    LocalTime* localTime = nullptr;
    UsageStorage* usage = nullptr;
    std::string usageProblem{};
    uint32_t usageWriteIntervalMs = 60000;
    /// DNS-SD, for a client that finds its server on the LAN; null: broadcast
    /// queries alone.
    ServiceBrowser* browser = nullptr;
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
    /// Another view that gets every snapshot from now on (and the latest at
    /// once); it must outlive the application object or be detached first.
    void attachView(StatusView& view);
    void detachView(StatusView& view);
    /// What keeps the web page from being served ("" when nothing does); shown
    /// as a status row while the server is started, from the next snapshot on.
    void setWebPageProblem(const std::string& problem);
    /// The web page's addresses while it is served (empty: it is not), from
    /// the next snapshot on.
    void setPageAddresses(std::vector<std::string> addresses);
    /// The web page's commands: a timed vote (the name "web:"-prefixed and
    /// checked) and its withdrawal. Like the menu's commands they end in a
    /// refresh of every view. False when the server takes no votes now, or
    /// (unvote) when no such web vote is held.
    bool webVote(const std::string& name, uint32_t minutes);
    bool webUnvote(const std::string& name);
    /// The usage figures of every view, at once.
    UsageReport usageReport();
    /// The sessions since `sinceUnixMs`, formatted off the loop, to `done` at
    /// a later turn of the loop.
    void readSessions(int64_t sinceUnixMs, UsageStorage::SessionsFormatter format,
                      UsageStorage::TextDone done);
    LocalTime& localTime() { return *local; }
    /// The data plan (its figures, the allowance over the cap, the correction).
    PlanMeter& dataPlan() { return *plan; }
    /// True while a dialog, prompt or question of the application is open.
    bool isAsking() const { return asking > 0; }
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
    /// Everything a snapshot is made of, read from the parts; the snapshot is
    /// a function of these alone, so while they stand still the idle tick
    /// makes none (the daemon's resting cost is mostly the memory it touches).
    struct SnapshotFacts {
        StatusInput input;
        LineStatus line = LineStatus::Down;
        uint32_t serverStarts = 0;
        uint32_t secondsUp = 0;
        uint32_t retrySeconds = 0;
        std::string clientLineWord;
        std::vector<VoteEntry> votes;
        std::vector<std::string> missingRows;
        std::string webPageProblem;
        std::vector<std::string> pageAddresses;
        bool operator==(const SnapshotFacts&) const = default;
    };
    SnapshotFacts gatherFacts() const;
    std::shared_ptr<const StatusSnapshot> compose(const SnapshotFacts& facts) const;
    /// Reads the facts and makes the snapshot of them.
    std::shared_ptr<const StatusSnapshot> snapshot();
    std::vector<VoteEntry> voteEntries() const;
    /// The question a failed start or send left, asked now that its step is
    /// done; Yes runs the configuration flow.
    void askToConfigure(int stringId);
    void startServer();
    void askClientQuestion();
    void saveConfiguration();
    /// Hands the key store the configured secret (derived off the loop).
    void applySecret();
    /// Reads the rows of what the machine cannot provide (once a round).
    void readMissingFeatures();
    /// Logs each new row of them, once, at Error.
    void reportMissingFeatures();

    Settings settings;
    Services services;
    FrontEnd& frontEnd;
    KeyStore keys;  // before the client and server, which use it
    std::unique_ptr<InterfaceCounters> noCounters;
    std::unique_ptr<LocalTime> utc;
    LocalTime* local;
    std::unique_ptr<UsageRecorder> usage;  // before the server, which records into it
    std::unique_ptr<PlanMeter> plan;       // before the server, whose line it may hold
    std::unique_ptr<Client> client;
    std::unique_ptr<Server> server;
    /// Counts the open dialogs around a front end's modal call.
    class Asking {
    public:
        explicit Asking(int& depth) : depth(depth) { ++depth; }
        ~Asking() { --depth; }
        Asking(const Asking&) = delete;
        Asking& operator=(const Asking&) = delete;

    private:
        int& depth;
    };
    void pushSnapshot();

    // Before the snapshot, which the constructor makes from them.
    std::string webPageProblem;
    std::vector<std::string> pageAddresses;
    std::vector<std::string> missingRows;  ///< as last read
    SnapshotFacts latestFacts;
    std::shared_ptr<const StatusSnapshot> latest;
    std::vector<StatusView*> views;
    std::size_t missingFeaturesReported = 0;
    int tickCounter = 0;
    int asking = 0;
};

}  // namespace linkmoot
