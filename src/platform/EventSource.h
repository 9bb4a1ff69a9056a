#pragma once
// The part of a program's event loop that platform parts driven by it need:
// watching a descriptor and one-shot timers. The programs' loop (app/Loop.h)
// is one; linkmootctl, which has no session, brings a small one of its own.
// Rules: every call and every handler runs on the loop's thread; a handler may
// unwatch or cancel itself; a timer runs once, `delayMs` from now, unless
// cancelled before, and its id is never reused.
#include <cstdint>
#include <functional>

namespace linkmoot {

class EventSource {
public:
    using Handler = std::function<void()>;
    using TimerId = uint64_t;

    virtual ~EventSource() = default;
    /// Calls the handler whenever the descriptor is readable (or hung up);
    /// watching it again replaces the handler.
    virtual void watch(int fd, Handler onReadable) = 0;
    virtual void unwatch(int fd) = 0;
    virtual TimerId startTimer(int delayMs, Handler onDue) = 0;
    /// Does nothing for a timer that ran or was cancelled already.
    virtual void cancelTimer(TimerId id) = 0;
};

}  // namespace linkmoot
