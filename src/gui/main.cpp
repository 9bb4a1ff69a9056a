// The tray application: the application object with the Qt front end.
#include <QApplication>
#include <cstdio>
#include <string>

#include "GuiFrontEnd.h"
#include "Linkmoot.h"
#include "QtLoop.h"
#include "ToolBox/Logger.h"
#include "app/Session.h"
#include "platform/ProcessHardening.h"

using namespace linkmoot;

namespace {

/// One instance per user: a second one would bind the same port and
/// overwrite the configuration at its exit. False when this one must end.
bool claimControlSocket(Session& session) {
    std::string error;
    switch (session.claim(error)) {
        case ControlServer::BindResult::AlreadyRunning:
            std::fprintf(stderr, "linkmoot: Linkmoot already runs for this user (%s)\n",
                         session.socketPath().c_str());
            return false;
        case ControlServer::BindResult::Failed:
            std::fprintf(stderr,
                         "linkmoot: no control socket, linkmootctl cannot reach this "
                         "instance: %s\n",
                         error.c_str());
            return true;
        case ControlServer::BindResult::Listening:
            return true;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    disableCoreDumps();  // before anything reads the password
    // The logger reads the "/log:" options before Qt takes its own ones out.
    toolbox::Logger::construct(argc, argv);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Linkmoot"));
    QApplication::setDesktopFileName(QStringLiteral("linkmoot"));
    // The hidden main window lives on; only Exit ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    QtLoop loop;
    int status = 0;
    {
        Session session(loop, {});
        if (!claimControlSocket(session)) {
            toolbox::Logger::shutdown();
            return 1;
        }
        // The front end first: the instance's application object draws on it
        // until its last moment.
        GuiFrontEnd frontEnd;
        loop.tickWith(frontEnd.frame());
        Linkmoot& app = session.begin(frontEnd);
        driveCommands(frontEnd.frame(), app);
        // The first snapshot puts the icon in the tray before any dialog.
        frontEnd.refreshViews(app.latestStatus());
        if (app.initInstance() && !frontEnd.quitRequested())
            status = QApplication::exec();
        // No tick, request, command or tray icon while the application
        // withdraws its vote and saves.
        frontEnd.frame().closeForGood();
        QObject::disconnect(&frontEnd.frame(), &MainFrame::commandChosen, nullptr, nullptr);
        session.end();
    }  // the application, then the dial-up services and their threads, then the configuration
    // Only now: every thread that logs has ended.
    toolbox::Logger::shutdown();
    return status;
}
