// The tray application: the application object with the Qt front end.
#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <memory>

#include "ControlCommands.h"
#include "ControlSocketWatcher.h"
#include "GuiFrontEnd.h"
#include "Linkmoot.h"
#include "ToolBox/Logger.h"
#include "WebPageWatcher.h"
#include "app/Instance.h"
#include "platform/ControlServer.h"
#include "platform/ProcessHardening.h"
#include "platform/SignalPipe.h"

using namespace linkmoot;

int main(int argc, char** argv) {
    disableCoreDumps();  // before anything reads the password
    // The logger reads the "/log:" options before Qt takes its own ones out.
    toolbox::Logger::construct(argc, argv);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Linkmoot"));
    QApplication::setDesktopFileName(QStringLiteral("linkmoot"));
    // The hidden main window lives on; only Exit ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    // One instance per user: a second one would bind the same port and
    // overwrite the configuration at its exit.
    ControlServer control;
    std::string error;
    const std::string socketPath = controlsocket::userSocketPath(error);
    if (!socketPath.empty()) {
        switch (control.bind(socketPath, controlsocket::kUserMode, error)) {
            case ControlServer::BindResult::AlreadyRunning:
                std::fprintf(stderr, "linkmoot: Linkmoot already runs for this user (%s)\n",
                             socketPath.c_str());
                toolbox::Logger::shutdown();
                return 1;
            case ControlServer::BindResult::Failed:
            case ControlServer::BindResult::Listening:
                break;
        }
    }
    if (control.fd() < 0) {
        std::fprintf(stderr,
                     "linkmoot: no control socket, linkmootctl cannot reach this "
                     "instance: %s\n",
                     error.c_str());
    }

    SignalPipe signalPipe;
    int status = 0;
    {
        // The front end first: the instance's application object draws on it
        // until its last moment.
        GuiFrontEnd frontEnd;
        Instance instance(frontEnd);
        Linkmoot& app = instance.application();
        driveApplication(frontEnd.frame(), app);
        // The first snapshot puts the icon in the tray before any dialog.
        frontEnd.refreshViews(app.latestStatus());
        // The web page follows the server after each tick and command (connected
        // after the application's own handlers, so it sees their outcome).
        auto web = std::make_unique<WebPageWatcher>(instance.web());
        QObject::connect(&frontEnd.frame(), &MainFrame::tickDue, web.get(),
                         [&web] { web->sync(); });
        QObject::connect(&frontEnd.frame(), &MainFrame::commandChosen, web.get(),
                         [&web](int) { web->sync(); });
        std::unique_ptr<ControlSocketWatcher> watcher;
        if (control.fd() >= 0) {
            watcher = std::make_unique<ControlSocketWatcher>(
                control, [&app, &web](std::string_view request) {
                    std::string answer = control::handle(app, request);
                    web->sync();
                    return answer;
                });
        }
        // SIGTERM (the session ending, kill) and SIGINT run Exit, so the vote is
        // withdrawn, the line hung up and the configuration saved; SIGHUP
        // reads the configuration file again.
        QSocketNotifier signalNotifier(signalPipe.fd(), QSocketNotifier::Read);
        QObject::connect(&signalNotifier, &QSocketNotifier::activated, &signalNotifier, [&] {
            const SignalPipe::Received received = signalPipe.drain();
            if (received.terminating != 0) {
                app.onCommand(Command::Exit);
            } else if (received.reload) {
                std::string problem;
                app.reload(problem);  // a refusal is logged
            }
        });
        if (app.initInstance() && !frontEnd.quitRequested()) {
            // The page (and the libraries it loads) once the loop has put
            // the icon in the tray.
            QMetaObject::invokeMethod(
                web.get(), [&web] { web->sync(); }, Qt::QueuedConnection);
            status = QApplication::exec();
        }
        // Ends what the loop served before the application object goes: no
        // tick, no request, no command, no tray icon while it withdraws its
        // vote and saves.
        watcher.reset();
        web.reset();
        signalNotifier.setEnabled(false);
        frontEnd.frame().closeForGood();
        QObject::disconnect(&frontEnd.frame(), &MainFrame::tickDue, nullptr, nullptr);
        QObject::disconnect(&frontEnd.frame(), &MainFrame::commandChosen, nullptr, nullptr);
    }  // the application, then the dial-up services and their threads, then the configuration
    // Only now: every thread that logs has ended.
    toolbox::Logger::shutdown();
    return status;
}
