#pragma once
// The session's loop over Qt's event loop: a QSocketNotifier per watched
// descriptor, a single-shot QTimer per timer, and the main window's
// one-second timer as the tick (it also runs while a dialog, a message box or
// a menu is open). Handlers may unwatch or cancel themselves: what goes is
// deleted once its signal has returned.
#include <QObject>
#include <map>
#include <memory>

#include "app/Loop.h"

class QSocketNotifier;
class QTimer;

namespace linkmoot {

class MainFrame;

class QtLoop : public Loop {
public:
    QtLoop();
    ~QtLoop() override;
    QtLoop(const QtLoop&) = delete;
    QtLoop& operator=(const QtLoop&) = delete;

    /// The window whose timer ticks; until then the tick handler waits.
    void tickWith(MainFrame& frame);

    void watch(int fd, Handler onReadable) override;
    void unwatch(int fd) override;
    void setTick(Handler onTick) override { tick = std::move(onTick); }
    TimerId startTimer(int delayMs, Handler onDue) override;
    void cancelTimer(TimerId id) override;
    void quit() override;

private:
    struct Watch {
        QSocketNotifier* notifier;
        std::shared_ptr<Handler> handler;
    };

    QObject context;  // the connections live as long as the loop
    std::map<int, Watch> watches;
    std::map<TimerId, QTimer*> timers;
    TimerId nextTimer = 1;
    Handler tick;
};

}  // namespace linkmoot
