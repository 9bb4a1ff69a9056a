#include "WebPageWatcher.h"

#include <QSocketNotifier>

namespace linkmoot {

WebPageWatcher::WebPageWatcher(WebPage& page, QObject* parent) : QObject(parent), page(page) {
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this, &WebPageWatcher::serve);
}

WebPageWatcher::~WebPageWatcher() {
    page.stop([this](int fd) { watch(fd); });
}

void WebPageWatcher::sync() {
    page.sync([this](int fd) { watch(fd); });
}

void WebPageWatcher::watch(int fd) {
    // Each start makes a new descriptor: the old notifier goes before it closes.
    notifier.reset();
    deadline.stop();
    if (fd < 0)
        return;
    notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &WebPageWatcher::serve);
    rearm();
}

void WebPageWatcher::serve() {
    if (!page.isServing())
        return;
    page.run();
    rearm();
}

void WebPageWatcher::rearm() {
    const int wait = page.timeoutMs();
    if (wait >= 0) {
        deadline.start(wait);
    } else {
        deadline.stop();
    }
}

}  // namespace linkmoot
