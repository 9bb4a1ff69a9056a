#include "platform/SignalPipe.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace linkmoot {

namespace {

int pipeFds[2] = {-1, -1};

void onSignal(int signalNumber) {
    int saved = errno;
    unsigned char byte = static_cast<unsigned char>(signalNumber);
    ssize_t ignored = write(pipeFds[1], &byte, 1);  // a full pipe already says enough
    (void)ignored;
    errno = saved;
}

void onIgnored(int) {}

void install(int signalNumber, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: poll() returns and the loop looks at the pipe
    sigaction(signalNumber, &action, nullptr);
}

}  // namespace

SignalPipe::SignalPipe() {
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipeFds[0] = pipeFds[1] = -1;
    }
    install(SIGTERM, onSignal);
    install(SIGINT, onSignal);
    install(SIGHUP, onSignal);
    install(SIGPIPE, onIgnored);
}

SignalPipe::~SignalPipe() {
    install(SIGTERM, SIG_DFL);
    install(SIGINT, SIG_DFL);
    install(SIGHUP, SIG_DFL);
    install(SIGPIPE, SIG_DFL);
    for (int& fd : pipeFds) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
}

int SignalPipe::fd() const {
    return pipeFds[0];
}

SignalPipe::Received SignalPipe::drain() {
    Received received;
    unsigned char bytes[32];
    for (;;) {
        ssize_t got = read(pipeFds[0], bytes, sizeof(bytes));
        if (got > 0) {
            // A reload never hides an exit that came with it.
            for (ssize_t i = 0; i < got; i++) {
                if (bytes[i] == SIGHUP)
                    received.reload = true;
                else
                    received.terminating = bytes[i];
            }
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        return received;
    }
}

}  // namespace linkmoot
