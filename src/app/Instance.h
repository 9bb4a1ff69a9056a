#pragma once
// The composition root of both programs: one running Linkmoot, built in the
// order its parts depend on each other and torn down in reverse. The
// configuration comes first and is saved last; the dial-up services are made
// with the settings they read, before the application object that uses them;
// the application object goes first at the end, withdrawing its vote and
// hanging up while the services (and their threads) still exist. Nothing is
// set after construction.
//
// The front end is built by each program before the instance and outlives it.
// What the front end's user does reaches the application through the wiring
// the program's session sets up after this object exists (see Session.h).
#include <functional>
#include <memory>

#include "Linkmoot.h"
#include "Settings.h"
#include "app/TriExtStore.h"
#include "mfctriext/TriExtApp.h"
#include "platform/BackgroundQueue.h"
#include "platform/LogindShutdown.h"
#include "platform/PosixClock.h"
#include "platform/PosixLocalTime.h"
#include "platform/PosixNetwork.h"
#include "platform/SharedLibrary.h"
#include "platform/SqliteUsageStorage.h"
#include "platform/SysfsInterfaceCounters.h"
#include "platform/SystemDialServices.h"

namespace linkmoot {

class FrontEnd;

class Instance {
public:
    /// Loads the configuration and builds everything on it. `toLoop` hands
    /// a job to the loop's thread (the usage database's answers); `browser`:
    /// the session's DNS-SD (null: none), which outlives the instance;
    /// `events`: the loop the sockets are read on (null: none), which outlives
    /// it too.
    Instance(FrontEnd& frontEnd, SqliteUsageStorage::Deliver toLoop,
             ServiceBrowser* browser = nullptr, EventSource* events = nullptr);
    /// The application object, then the services; the configuration is saved last.
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    Linkmoot& application() { return app; }
    const Settings& settings() const { return settingsView; }
    Clock& clock() { return systemClock; }
    Network& networkAccess() { return network; }

private:
    mfctriext::TriExtApp configuration;
    TriExtStore store;
    Settings settingsView;
    PosixNetwork network;
    PosixClock systemClock;
    LogindShutdown shutdown;
    SystemDialServices dialers;
    SysfsInterfaceCounters counters;
    PosixLocalTime localTime;
    std::unique_ptr<SqliteUsageStorage> usage;  // its writes end after the application's
    BackgroundQueue keyWorker;  // derives the shared secret's key; its thread starts with it
    LibraryProblems missingLibraries;
    Linkmoot app;

    /// The instance's own workers and findings, added to the services.
    Services withWorkers(Services services);
};

}  // namespace linkmoot
