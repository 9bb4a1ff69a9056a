#include "Daemon.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "CheckConfig.h"
#include "DaemonFrontEnd.h"
#include "EventLoop.h"
#include "LineInput.h"
#include "Linkmoot.h"
#include "TerminalPrompts.h"
#include "ToolBox/Logger.h"
#include "app/Session.h"
#include "platform/ControlServer.h"
#include "platform/ServiceNotifier.h"

namespace linkmoot::daemon {

namespace {

constexpr int kLatenessReportTicks = 60;

constexpr const char* kUsage =
    "Usage: linkmootd [--configure] [--shared-socket] [/log:LEVEL]\n"
    "       linkmootd --check-config [FILE]\n"
    "\n"
    "Shares one dial-up uplink among the computers of a LAN by votes: runs Linkmoot\n"
    "as a server or a client, without a desktop. Control it with linkmootctl.\n"
    "\n"
    "  --configure      ask for the mode and its options at the terminal, save, exit\n"
    "  --check-config   read the configuration file (or FILE) as linkmootd would,\n"
    "                   print what it holds and warn of what will not mean what it\n"
    "                   seems; exit 0 when clean, 1 with warnings, 2 when unreadable\n"
    "  --shared-socket  make the control socket usable by the process's group (mode\n"
    "                   0660; the system service uses it)\n"
    "  --help           show this text\n"
    "  --version        show the version\n"
    "  /log:LEVEL       write the log beside the program from LEVEL up: debug, info,\n"
    "                   warn, error, exception or fatal (default: warnings and worse)\n"
    "\n"
    "Without a configuration and without a terminal, linkmootd exits with status 2;\n"
    "run linkmootd --configure first.\n";

struct Options {
    bool help = false;
    bool version = false;
    bool configure = false;
    bool sharedSocket = false;
    bool checkConfig = false;
    std::string checkFile;  ///< empty: the file linkmootd reads
    std::string error;
};

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; i++) {
        const char* argument = argv[i];
        if (strcmp(argument, "--help") == 0 || strcmp(argument, "-h") == 0) {
            options.help = true;
        } else if (strcmp(argument, "--version") == 0) {
            options.version = true;
        } else if (strcmp(argument, "--configure") == 0) {
            options.configure = true;
        } else if (strcmp(argument, "--shared-socket") == 0) {
            options.sharedSocket = true;
        } else if (strcmp(argument, "--check-config") == 0) {
            options.checkConfig = true;
            if (i + 1 < argc && argv[i + 1][0] != '-' && strncmp(argv[i + 1], "/log:", 5) != 0)
                options.checkFile = argv[++i];
        } else if (strncmp(argument, "/log:", 5) == 0) {
            // The logger reads these itself.
        } else {
            options.error = std::string("unknown option '") + argument + "'";
        }
    }
    return options;
}

void complain(const std::string& message) {
    // In the journal a complaint is an error, so `journalctl -p err` shows it.
    fprintf(stderr, "%slinkmootd: %s\n", toolbox::Logger::standardErrorIsJournal() ? "<3>" : "",
            message.c_str());
}

}  // namespace

namespace {

/// Settles the single instance; false (with the complaint made) when the
/// daemon must not go on.
bool claimControlSocket(Session& session, const Options& options) {
    std::string error;
    switch (session.claim(error)) {
        case ControlServer::BindResult::Listening:
            return true;
        case ControlServer::BindResult::AlreadyRunning:
            if (options.configure) {
                complain("an instance is running (it answers on " + session.socketPath() +
                         "): stop it first, configure, then start it again; or edit its "
                         "configuration file and reload it");
            } else {
                complain(error);
            }
            return false;
        case ControlServer::BindResult::Failed:
            // --configure can do without: it only keeps a second instance out.
            if (options.configure && !session.socketPath().empty())
                return true;
            complain(error);
            return false;
    }
    return false;
}

/// The configuration flow alone: the server is not started, its port not bound.
int configureOnly(Linkmoot& app) {
    if (!app.askConfiguration()) {
        complain("configuration cancelled; the fields confirmed so far are kept");
        return 1;
    }
    app.getSettings().set(keys::Configured, true);
    printf("Configuration saved.\n");
    return 0;
}

int serve(Linkmoot& app, Session& session, EventLoop& loop, DaemonFrontEnd& frontEnd,
          ServiceNotifier& notifier) {
    if (!app.initInstance()) {
        if (frontEnd.quitRequested())
            return 0;
        complain("not configured; exiting");
        return 1;
    }
    LM_LOG(Info, "Running as %s; control socket %s", app.isServerMode() ? "server" : "client",
           session.socketPath().c_str());
    // Ready whatever the server's start did: a restart would not bind the
    // port either, so the status says it and the service runs on.
    std::string status = app.latestStatus()->trayText;
    if (app.isServerMode() && !app.latestStatus()->serverStarted) {
        status += " - the server could not start on UDP port " +
                  std::to_string(app.getSettings().get(keys::Port)) + " (see the log)";
    }
    notifier.ready(status);
    loop.run();
    return 0;
}

/// After each tick: the watchdog's ping, and the loop's figures once a
/// minute: at Debug, or at Info for a measurement (bench/crowd.py) that must
/// not log every datagram; that one also takes the ticks' CPU time.
std::function<void()> afterEachTick(EventLoop& loop, ServiceNotifier& notifier) {
    const bool measuring = getenv("LINKMOOT_LOOP_FIGURES") != nullptr;
    const toolbox::LogLevel figuresLevel =
        measuring ? toolbox::LogLevel::Info : toolbox::LogLevel::Debug;
    loop.measureTickCpu(measuring);
    return [&loop, &notifier, figuresLevel, measuring] {
        notifier.watchdog();
        // Whether anything held the loop up: one cheap line a minute.
        if (loop.ticksDelivered() % kLatenessReportTicks != 0 ||
            !toolbox::Logger::passes(figuresLevel)) {
            return;
        }
        const std::string cpu = measuring
                                    ? "; the most CPU a tick took " +
                                          std::to_string(loop.takeLongestTickCpuMicros()) + " us"
                                    : std::string();
        toolbox::Logger::log(__FILE_NAME__, __LINE__, figuresLevel,
                             "Ticks ran at most %lld ms late in the last %d; the longest took "
                             "%lld us%s",
                             static_cast<long long>(loop.takeMaxLateness()), kLatenessReportTicks,
                             static_cast<long long>(loop.takeLongestTickMicros()), cpu.c_str());
    };
}

}  // namespace

int runDaemon(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    if (!options.error.empty()) {
        complain(options.error + " (see linkmootd --help)");
        return 2;
    }
    if (options.help) {
        fputs(kUsage, stdout);
        return 0;
    }
    if (options.version) {
        printf("linkmootd %s\n", LINKMOOT_VERSION);
        return 0;
    }
    if (options.checkConfig) {
        return checkConfiguration(options.checkFile.empty() ? nullptr : options.checkFile.c_str(),
                                  stdout, stderr);
    }

    EventLoop loop;
    LineInput input(loop, STDIN_FILENO);
    TerminalPrompts prompts(input, STDOUT_FILENO);
    ServiceNotifier notifier;
    DaemonFrontEnd frontEnd(
        loop, input.isTerminal() ? &prompts : nullptr,
        [&input] { return input.isForegroundTerminal(); }, &notifier);
    Session::Options sessionOptions;
    sessionOptions.socketMode =
        options.sharedSocket ? controlsocket::kSharedMode : controlsocket::kUserMode;
    sessionOptions.afterTick = afterEachTick(loop, notifier);
    Session session(loop, sessionOptions);
    // Before the configuration is read: the instance's end saves it, which
    // must not overwrite the file of an instance that is running.
    if (!claimControlSocket(session, options))
        return 1;
    // A job in the background of a shell must not touch the terminal: it would be stopped.
    const bool terminal = input.isForegroundTerminal();
    if (options.configure && !terminal) {
        complain("--configure needs a terminal on standard input (in the foreground)");
        return 2;
    }

    Linkmoot& app = session.begin(frontEnd);
    // Mirrored from the first line on, "Logger initialized" included.
    toolbox::Logger::setMirrorToStandardError(true);
    toolbox::Logger::construct(argc, argv);
    int status = 0;
    if (options.configure) {
        status = configureOnly(app);
    } else if (!app.getSettings().get(keys::Configured) && !terminal) {
        complain(
            "not configured yet: run 'linkmootd --configure' in a terminal, as the user this "
            "program runs as");
        status = 2;
    } else {
        status = serve(app, session, loop, frontEnd, notifier);
    }
    session.end();  // the vote withdrawn, the server stopped, the services ended, the
                    // configuration saved
    return status;
}

}  // namespace linkmoot::daemon
