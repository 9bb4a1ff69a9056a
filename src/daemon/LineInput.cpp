#include "LineInput.h"

#include <errno.h>
#include <termios.h>
#include <unistd.h>

namespace linkmoot::daemon {

LineInput::LineInput(EventLoop& loop, int fd) : loop(loop), fd(fd), terminal(isatty(fd) == 1) {}

LineInput::~LineInput() {
    if (waiting > 0)
        loop.unwatch(fd);
    setEcho(true);
}

void LineInput::readAvailable() {
    char chunk[1024];
    ssize_t got = read(fd, chunk, sizeof(chunk));
    if (got > 0) {
        buffer.append(chunk, static_cast<std::size_t>(got));
    } else if (got == 0) {
        // Ctrl-D on a terminal ends this answer only; a pipe or file is done.
        endOfInput = true;
        if (!terminal)
            closedForGood = true;
    } else if (errno != EINTR && errno != EAGAIN) {
        endOfInput = true;  // EIO: the terminal went away
        closedForGood = true;
    }
}

std::optional<std::string> LineInput::takeLine() {
    std::size_t newline = buffer.find('\n');
    if (newline == std::string::npos) {
        if (buffer.size() < kMaxLineLength)
            return std::nullopt;
        newline = kMaxLineLength;
        std::string line = buffer.substr(0, newline);
        buffer.erase(0, newline);
        return line;
    }
    std::string line = buffer.substr(0, newline);
    buffer.erase(0, newline + 1);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.size() > kMaxLineLength)
        line.resize(kMaxLineLength);
    return line;
}

std::optional<std::string> LineInput::readLine() {
    if (waiting++ == 0)
        loop.watch(fd, [this] { readAvailable(); });
    std::optional<std::string> line;
    for (;;) {
        line = takeLine();
        if (line)
            break;
        if (endOfInput || closedForGood || loop.isStopped())
            break;
        loop.runOnce();
    }
    if (!line && endOfInput) {
        // What was typed before the end of input is dropped with it.
        buffer.clear();
        if (!closedForGood)
            endOfInput = false;
    }
    if (--waiting == 0)
        loop.unwatch(fd);
    return line;
}

bool LineInput::isForegroundTerminal() const {
    return terminal && tcgetpgrp(fd) == getpgrp();
}

void LineInput::setEcho(bool on) {
    if (!terminal)
        return;
    termios settings{};
    if (tcgetattr(fd, &settings) != 0)
        return;
    if (!on) {
        if (!echoSaved) {
            echoWasOn = (settings.c_lflag & ECHO) != 0;
            echoSaved = true;
        }
        settings.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    } else {
        if (!echoSaved)
            return;
        echoSaved = false;
        if (!echoWasOn)
            return;
        settings.c_lflag |= ECHO;
    }
    tcsetattr(fd, TCSANOW, &settings);
}

}  // namespace linkmoot::daemon
