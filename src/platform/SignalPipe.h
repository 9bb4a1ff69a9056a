#pragma once
// Turns SIGTERM and SIGINT into a readable descriptor (self-pipe), so the loop
// runs the Exit command in its own time instead of inside a signal handler.
// SIGHUP and SIGPIPE get handlers that do nothing: the program ignores them, yet
// children (pppd, the user's commands) start with the default dispositions and
// no blocked signals, which neither SIG_IGN nor a signalfd would give them.
namespace linkmoot {

class SignalPipe {
public:
    /// Installs the handlers; one instance per process.
    SignalPipe();
    /// Restores the default dispositions.
    ~SignalPipe();
    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;

    /// Readable when a terminating signal arrived.
    int fd() const;
    /// Empties the pipe; returns the last signal number read, 0 when none.
    int drain();
};

}  // namespace linkmoot
