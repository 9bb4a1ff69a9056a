#pragma once
// The event loop a program runs, as its session needs it: the daemon's poll
// loop and the tray's Qt loop each implement it in a few lines. Rules:
// - Every call and every handler runs on the loop's thread.
// - Handlers may run nested loops (a dialog, a prompt): a handler may be
//   called again before it returned, and may unwatch or cancel itself.
// - The tick comes once a second, nested loops included; missed ticks (the
//   machine slept) are not replayed in a burst.
// - A timer runs its handler once, `delayMs` from now (0: at the loop's next
//   turn), unless cancelled before. Ids are never reused.
#include "platform/EventSource.h"

namespace linkmoot {

class Loop : public EventSource {
public:
    /// Starts the one-second tick with this handler; an empty one stops it.
    virtual void setTick(Handler onTick) = 0;
    /// Ends the loop (and every nested one) at its next turn.
    virtual void quit() = 0;
};

}  // namespace linkmoot
