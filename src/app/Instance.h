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
// the program sets up after this object exists (timer, menus, control socket).
#include "Linkmoot.h"
#include "Settings.h"
#include "app/TriExtStore.h"
#include "app/WebPage.h"
#include "mfctriext/TriExtApp.h"
#include "platform/BackgroundQueue.h"
#include "platform/LogindShutdown.h"
#include "platform/PosixClock.h"
#include "platform/PosixNetwork.h"
#include "platform/SharedLibrary.h"
#include "platform/SystemDialServices.h"

namespace linkmoot {

class FrontEnd;

class Instance {
public:
    /// Loads the configuration and builds everything on it.
    explicit Instance(FrontEnd& frontEnd);
    /// The application object, then the services; the configuration is saved last.
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    Linkmoot& application() { return app; }
    const Settings& settings() const { return settingsView; }
    /// The web page for phones; its owner's loop watches it (see WebPage.h).
    WebPage& web() { return webPage; }

private:
    mfctriext::TriExtApp configuration;
    TriExtStore store;
    Settings settingsView;
    PosixNetwork network;
    PosixClock clock;
    LogindShutdown shutdown;
    SystemDialServices dialers;
    BackgroundQueue keyWorker;  // derives the shared secret's key; started by the first
    LibraryProblems missingLibraries;
    Linkmoot app;
    WebPage webPage;  // goes before the application object it reads
};

}  // namespace linkmoot
