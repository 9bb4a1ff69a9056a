#include "Daemon.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "CheckConfig.h"
#include "ControlCommands.h"
#include "DaemonFrontEnd.h"
#include "EventLoop.h"
#include "LineInput.h"
#include "Linkmoot.h"
#include "Server.h"
#include "TerminalPrompts.h"
#include "ToolBox/Logger.h"
#include "app/Instance.h"
#include "platform/ControlServer.h"
#include "platform/ServiceNotifier.h"
#include "platform/SignalPipe.h"

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

    // Settle the single instance before the application object exists: its
    // destruction saves the configuration, which must not overwrite the file of
    // an instance that is running.
    std::string error;
    const std::string socketPath = controlsocket::userSocketPath(error);
    if (socketPath.empty()) {
        complain("no folder for the control socket: " + error);
        return 1;
    }
    if (options.configure && controlsocket::isAnswering(socketPath)) {
        complain("an instance is running (it answers on " + socketPath +
                 "): stop the running instance first, or it overwrites the configuration "
                 "when it exits");
        return 1;
    }
    SignalPipe signals;
    ControlServer control;
    const unsigned mode =
        options.sharedSocket ? controlsocket::kSharedMode : controlsocket::kUserMode;
    switch (control.bind(socketPath, mode, error)) {
        case ControlServer::BindResult::Listening:
            break;
        case ControlServer::BindResult::AlreadyRunning:
            complain(error);
            return 1;
        case ControlServer::BindResult::Failed:
            // --configure can do without: it only keeps a second instance out.
            if (!options.configure) {
                complain(error);
                return 1;
            }
            break;
    }

    EventLoop loop;
    LineInput input(loop, STDIN_FILENO);
    // A job in the background of a shell must not touch the terminal: it would be stopped.
    const bool terminal = input.isForegroundTerminal();
    if (options.configure && !terminal) {
        complain("--configure needs a terminal on standard input (in the foreground)");
        return 2;
    }
    TerminalPrompts prompts(input, STDOUT_FILENO);
    ServiceNotifier notifier;
    DaemonFrontEnd frontEnd(
        loop, input.isTerminal() ? &prompts : nullptr,
        [&input] { return input.isForegroundTerminal(); }, &notifier);

    int status = 0;
    {
        Instance instance(frontEnd);
        Linkmoot& app = instance.application();
        // Mirrored from the first line on, "Logger initialized" included.
        toolbox::Logger::setMirrorToStandardError(true);
        toolbox::Logger::construct(argc, argv);

        WebPage& web = instance.web();
        int webFd = -1;
        const WebPage::Watch watchWeb = [&](int fd) {
            if (webFd >= 0)
                loop.unwatch(webFd);
            webFd = fd;
            if (fd >= 0)
                loop.watch(fd, [&web] { web.run(); });
        };
        loop.setTimeoutSource([&web] { return web.timeoutMs(); }, [&web] { web.run(); });

        loop.watch(signals.fd(), [&] {
            const SignalPipe::Received received = signals.drain();
            if (received.terminating != 0) {
                LM_LOG(Info, "Signal %d (%s): exiting", received.terminating,
                       strsignal(received.terminating));
                app.onCommand(Command::Exit);
            } else if (received.reload) {
                LM_LOG(Info, "Signal %d (%s): reloading the configuration", SIGHUP,
                       strsignal(SIGHUP));
                std::string problem;
                app.reload(problem);  // a refusal is logged
            }
        });
        if (control.fd() >= 0) {
            loop.watch(control.fd(), [&] {
                control.servePending(
                    [&app](std::string_view request) { return control::handle(app, request); });
                web.sync(watchWeb);
            });
        }
        loop.startTicks([&] {
            app.tick();
            web.sync(watchWeb);
            notifier.watchdog();
            // Whether anything held the loop up: one cheap line a minute.
            if (loop.ticksDelivered() % kLatenessReportTicks == 0)
                LM_LOG(Debug, "Ticks ran at most %lld ms late in the last %d",
                       static_cast<long long>(loop.takeMaxLateness()), kLatenessReportTicks);
        });

        const Settings& settings = instance.settings();
        if (options.configure) {
            // Only the dialogs: the server is not started, its port not bound.
            if (app.askConfiguration()) {
                settings.set(keys::Configured, true);
                printf("Configuration saved.\n");
            } else {
                complain("configuration cancelled; the fields confirmed so far are kept");
                status = 1;
            }
        } else if (!settings.get(keys::Configured) && !terminal) {
            complain(
                "not configured yet: run 'linkmootd --configure' in a terminal, as the user "
                "this program runs as");
            status = 2;
        } else if (!app.initInstance()) {
            if (!frontEnd.quitRequested()) {
                complain("not configured; exiting");
                status = 1;
            }
        } else {
            LM_LOG(Info, "Running as %s; control socket %s",
                   app.isServerMode() ? "server" : "client", control.path().c_str());
            // Ready whatever the server's start did: a restart would not bind
            // the port either, so the status says it and the service runs on.
            std::string status = app.latestStatus()->trayText;
            if (app.isServerMode() && !app.getServer().isStarted()) {
                status += " - the server could not start on UDP port " +
                          std::to_string(settings.get(keys::Port)) + " (see the log)";
            }
            notifier.ready(status);
            web.sync(watchWeb);
            loop.run();
        }
        web.stop(watchWeb);
        loop.setTimeoutSource(nullptr, nullptr);
        loop.unwatch(signals.fd());
        loop.unwatch(control.fd());
        loop.stopTicks();
    }  // the vote withdrawn, the server stopped, the services ended, the configuration saved
    return status;
}

}  // namespace linkmoot::daemon
