#pragma once
// Turns SIGTERM, SIGINT (exit) and SIGHUP (reload) into a readable descriptor
// (self-pipe), so the loop acts in its own time instead of inside a signal
// handler. SIGPIPE gets a handler that does nothing: the program ignores it, yet
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

    /// What the signals read since the last drain ask for.
    struct Received {
        /// The last terminating signal's number; 0 when none.
        int terminating = 0;
        /// A SIGHUP came: read the configuration again.
        bool reload = false;
    };

    /// Readable when a signal arrived.
    int fd() const;
    /// Empties the pipe.
    Received drain();
};

}  // namespace linkmoot
