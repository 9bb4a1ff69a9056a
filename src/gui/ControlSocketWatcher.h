#pragma once
// Serves the control socket from the Qt event loop: when the listening socket
// has a connection waiting, the same handler as the daemon's answers it, so
// linkmootctl drives the tray application and the daemon alike.
#include <QObject>

#include "platform/ControlServer.h"

class QSocketNotifier;

namespace linkmoot {

class ControlSocketWatcher : public QObject {
    Q_OBJECT
public:
    /// `server` is listening and outlives the watcher.
    ControlSocketWatcher(ControlServer& server, ControlServer::Handler handler,
                         QObject* parent = nullptr);
    ~ControlSocketWatcher() override;

private:
    void serve();

    ControlServer& server;
    ControlServer::Handler handler;
    QSocketNotifier* notifier;
};

}  // namespace linkmoot
