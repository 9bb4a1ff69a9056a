#pragma once
// Lines typed at the terminal, read inside the event loop: a prompt that waits
// for its answer keeps running the loop, so ticks and the control socket go on.
// Never a blocking read: the descriptor is read only when poll() says so.
#include <optional>
#include <string>

#include "EventLoop.h"

namespace linkmoot::daemon {

class LineInput {
public:
    /// Lines longer than this are cut.
    static constexpr std::size_t kMaxLineLength = 4096;

    LineInput(EventLoop& loop, int fd);
    ~LineInput();
    LineInput(const LineInput&) = delete;
    LineInput& operator=(const LineInput&) = delete;

    /// The next line without its line end; nullopt at the end of input (on a
    /// terminal: Ctrl-D, reported once) or when the loop was stopped. Nested
    /// calls (a question asked while a prompt waits) take the next line.
    std::optional<std::string> readLine();

    bool isTerminal() const { return terminal; }
    /// A terminal whose foreground process group is ours: a background job
    /// that read or wrote it would be stopped (SIGTTIN, SIGTTOU).
    bool isForegroundTerminal() const;
    /// Turns the echo of typed characters off (for passwords) and on again;
    /// does nothing when the input is not a terminal.
    void setEcho(bool on);

private:
    void readAvailable();
    std::optional<std::string> takeLine();

    EventLoop& loop;
    int fd;
    bool terminal;
    std::string buffer;
    bool endOfInput = false;
    bool closedForGood = false;
    int waiting = 0;
    bool echoSaved = false;
    bool echoWasOn = true;
};

}  // namespace linkmoot::daemon
