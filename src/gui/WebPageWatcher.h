#pragma once
// Drives the web page from the Qt event loop: a QSocketNotifier on its one
// descriptor and a single-shot timer for its deadlines (connection
// time-outs), re-armed after every run. sync() follows the server's state.
#include <QObject>
#include <QTimer>
#include <memory>

#include "app/WebPage.h"

class QSocketNotifier;

namespace linkmoot {

class WebPageWatcher : public QObject {
    Q_OBJECT
public:
    /// `page` outlives the watcher.
    explicit WebPageWatcher(WebPage& page, QObject* parent = nullptr);
    /// Stops the page: its descriptor must not close under a live notifier.
    ~WebPageWatcher() override;

    /// Starts, restarts or stops the page as the server and the settings say.
    void sync();

private:
    void watch(int fd);
    void serve();
    void rearm();

    WebPage& page;
    std::unique_ptr<QSocketNotifier> notifier;
    QTimer deadline;
};

}  // namespace linkmoot
