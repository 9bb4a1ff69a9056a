#include "app/Session.h"

#include <csignal>
#include <cstring>

#include "ControlCommands.h"
#include "Linkmoot.h"
#include "ToolBox/Logger.h"
#include "app/Announcer.h"
#include "app/Instance.h"
#include "app/WebPage.h"
#include "platform/AvahiDnsSd.h"

namespace linkmoot {

Session::Session(Loop& loop, Options options) : loop(loop), options(std::move(options)) {}

Session::~Session() {
    end();
}

ControlServer::BindResult Session::claim(std::string& error) {
    path = controlsocket::userSocketPath(error);
    if (path.empty()) {
        error = "no folder for the control socket: " + error;
        return ControlServer::BindResult::Failed;
    }
    return control.bind(path, options.socketMode, error);
}

Linkmoot& Session::begin(FrontEnd& frontEnd) {
    dnsSd = std::make_unique<AvahiDnsSd>(loop);
    running = std::make_unique<Instance>(
        frontEnd, [this](std::function<void()> job) { inbox.post(std::move(job)); }, dnsSd.get(),
        &loop);
    Linkmoot& app = running->application();
    web = std::make_unique<WebPage>(app, running->settings(), running->clock(), loop);
    app.attachView(*web);
    announcer = std::make_unique<Announcer>(app, running->settings(), running->networkAccess(),
                                            *dnsSd, web.get(), loop);
    app.attachView(*announcer);
    loop.watch(signalPipe.fd(), [this] { onSignal(); });
    loop.watch(inbox.fd(), [this] { inbox.runPending(); });
    if (control.fd() >= 0) {
        loop.watch(control.fd(), [this] {
            Linkmoot& target = running->application();
            control.servePending(
                [this, &target](std::string_view request, ControlServer::Ticket ticket) {
                    return control::handle(target, request, [this, ticket](std::string answer) {
                        control.answerLater(ticket, std::move(answer));
                    });
                });
        });
    }
    loop.setTick([this] { onTick(); });
    return app;
}

void Session::onTick() {
    running->application().tick();
    if (options.afterTick)
        options.afterTick();
}

void Session::onSignal() {
    const SignalPipe::Received received = signalPipe.drain();
    Linkmoot& app = running->application();
    if (received.terminating != 0) {
        LM_LOG(Info, "Signal %d (%s): exiting", received.terminating,
               strsignal(received.terminating));
        app.onCommand(Command::Exit);
    } else if (received.reload) {
        LM_LOG(Info, "Signal %d (%s): reloading the configuration", SIGHUP, strsignal(SIGHUP));
        std::string problem;
        app.reload(problem);  // a refusal is logged at Error
    }
}

void Session::end() {
    if (!running)
        return;
    // No tick, request, signal or page while the application withdraws its
    // vote, hangs up and saves.
    loop.setTick(nullptr);
    loop.unwatch(signalPipe.fd());
    loop.unwatch(inbox.fd());
    if (control.fd() >= 0)
        loop.unwatch(control.fd());
    if (announcer) {
        running->application().detachView(*announcer);
        announcer.reset();  // withdrawn
    }
    if (web) {
        running->application().detachView(*web);
        web->stop();
        web.reset();
    }
    running.reset();
    dnsSd.reset();
}

}  // namespace linkmoot
