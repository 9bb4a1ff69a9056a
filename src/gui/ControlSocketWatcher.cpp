#include "ControlSocketWatcher.h"

#include <QSocketNotifier>

namespace linkmoot {

ControlSocketWatcher::ControlSocketWatcher(ControlServer& server, ControlServer::Handler handler,
                                           QObject* parent)
    : QObject(parent),
      server(server),
      handler(std::move(handler)),
      notifier(new QSocketNotifier(server.fd(), QSocketNotifier::Read, this)) {
    connect(notifier, &QSocketNotifier::activated, this, &ControlSocketWatcher::serve);
}

ControlSocketWatcher::~ControlSocketWatcher() = default;

void ControlSocketWatcher::serve() {
    // A request may open a question box; its loop keeps this notifier live, so
    // further requests (status, exit) are answered meanwhile.
    server.servePending(handler);
}

}  // namespace linkmoot
