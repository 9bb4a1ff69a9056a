#include "QtLoop.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include "MainFrame.h"

namespace linkmoot {

QtLoop::QtLoop() = default;

QtLoop::~QtLoop() {
    for (auto& [fd, entry] : watches)
        delete entry.notifier;
    for (auto& [id, timer] : timers)
        delete timer;
}

void QtLoop::tickWith(MainFrame& frame) {
    QObject::connect(&frame, &MainFrame::tickDue, &context, [this] {
        // A copy: the handler may replace or end the tick.
        if (Handler current = tick)
            current();
    });
}

void QtLoop::watch(int fd, Handler onReadable) {
    auto handler = std::make_shared<Handler>(std::move(onReadable));
    auto found = watches.find(fd);
    if (found != watches.end()) {
        found->second.handler = handler;
        QObject::disconnect(found->second.notifier, nullptr, &context, nullptr);
    } else {
        found = watches.emplace(fd, Watch{new QSocketNotifier(fd, QSocketNotifier::Read), handler})
                    .first;
    }
    QObject::connect(found->second.notifier, &QSocketNotifier::activated, &context,
                     [handler] { (*handler)(); });
}

void QtLoop::unwatch(int fd) {
    auto found = watches.find(fd);
    if (found == watches.end())
        return;
    // It may be the notifier whose signal runs now: off at once, gone later.
    found->second.notifier->setEnabled(false);
    found->second.notifier->deleteLater();
    watches.erase(found);
}

Loop::TimerId QtLoop::startTimer(int delayMs, Handler onDue) {
    const TimerId id = nextTimer++;
    auto* timer = new QTimer;
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, &context, [this, id, onDue = std::move(onDue)] {
        auto found = timers.find(id);
        if (found == timers.end())
            return;
        found->second->deleteLater();
        timers.erase(found);
        onDue();
    });
    timers.emplace(id, timer);
    timer->start(std::max(delayMs, 0));
    return id;
}

void QtLoop::cancelTimer(TimerId id) {
    auto found = timers.find(id);
    if (found == timers.end())
        return;
    found->second->stop();
    found->second->deleteLater();
    timers.erase(found);
}

void QtLoop::quit() {
    QCoreApplication::quit();
}

}  // namespace linkmoot
