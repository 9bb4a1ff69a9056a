#pragma once
// One running program around its application, the same for the daemon and
// the tray: the single-instance control socket and its requests, the signals
// (SIGTERM and SIGINT run Exit, SIGHUP reloads the configuration), the
// one-second tick, the web page, the announcement on the LAN (DNS-SD, which
// the client's search uses too), and the order in which all of it starts and
// ends. Each program brings its loop and its front end and keeps only what is
// its own (options, the terminal, the tray).
//
// Order: claim() settles the single instance before the configuration is
// read, since the instance's end saves the configuration and must not
// overwrite the file of an instance that runs; begin() builds the instance
// and connects it to the loop; end() disconnects everything from the loop,
// then the instance goes (vote withdrawn, line hung up, configuration saved).
#include <functional>
#include <memory>
#include <string>

#include "app/Loop.h"
#include "platform/ControlServer.h"
#include "platform/LoopInbox.h"
#include "platform/SignalPipe.h"

namespace linkmoot {

class Announcer;
class AvahiDnsSd;
class FrontEnd;
class Instance;
class Linkmoot;
class WebPage;

class Session {
public:
    struct Options {
        /// The control socket's file mode (controlsocket::kUserMode or kSharedMode).
        unsigned socketMode = controlsocket::kUserMode;
        /// Run after every tick (the daemon's watchdog and its lateness line).
        std::function<void()> afterTick;
    };

    /// The loop outlives the session.
    Session(Loop& loop, Options options);
    /// end(), when it has not run.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    /// Claims this user's control socket. AlreadyRunning: another instance
    /// answers there (`error` says where); Failed: no socket (the instance
    /// can run, but linkmootctl cannot reach it).
    ControlServer::BindResult claim(std::string& error);
    const std::string& socketPath() const { return path; }
    bool hasControlSocket() const { return control.fd() >= 0; }

    /// Builds the instance on the front end (the configuration is read now)
    /// and connects the signals, the control requests, the tick and the web
    /// page to the loop. The front end outlives the session.
    Linkmoot& begin(FrontEnd& frontEnd);
    Instance& instance() { return *running; }
    /// Nothing of the instance is served from the loop any more, then it goes.
    void end();

private:
    void onSignal();
    void onTick();

    Loop& loop;
    Options options;
    std::string path;
    SignalPipe signalPipe;
    ControlServer control;
    /// What other threads hand the loop (the usage database's answers);
    /// outlives the instance, whose storage posts to it.
    LoopInbox inbox;
    // DNS-SD before the instance, whose client browses with it, and gone after it.
    std::unique_ptr<AvahiDnsSd> dnsSd;
    std::unique_ptr<Instance> running;
    std::unique_ptr<WebPage> web;
    std::unique_ptr<Announcer> announcer;
};

}  // namespace linkmoot
