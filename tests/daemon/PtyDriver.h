#pragma once
// Plays the user at a pseudo-terminal: waits for each expected text in what the
// program writes, then types the answer. A text that does not come in time
// ends the conversation with end-of-input keystrokes, so the program under test
// cancels instead of waiting for ever.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace daemontest {

/// Ctrl-D: end of input at the start of a line.
inline constexpr const char* kEndOfInput = "\x04";

struct Step {
    std::string expect;  ///< text to wait for, after the previous one
    std::string type;    ///< keystrokes to send then
};

class PtyDriver {
public:
    PtyDriver() {
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            master = slave = -1;
        if (master >= 0)
            fcntl(master, F_SETFD, FD_CLOEXEC);
    }
    ~PtyDriver() {
        stop();
        if (master >= 0)
            close(master);
        closeSlave();
    }
    PtyDriver(const PtyDriver&) = delete;
    PtyDriver& operator=(const PtyDriver&) = delete;

    bool ok() const { return master >= 0; }
    /// The program's side: its standard input and output.
    int terminal() const { return slave; }
    /// After the program got its own copy (fork), the test lets go of the slave.
    void closeSlave() {
        if (slave >= 0)
            close(slave);
        slave = -1;
    }

    /// Plays the steps on a thread of its own.
    void play(std::vector<Step> steps, int stepTimeoutMs = 15000) {
        stop();
        running = true;
        completed = false;
        missed.clear();
        worker = std::thread([this, steps = std::move(steps), stepTimeoutMs] {
            std::size_t searchFrom = 0;
            for (const Step& step : steps) {
                std::size_t found = waitFor(step.expect, searchFrom, stepTimeoutMs);
                if (found == std::string::npos) {
                    missed = step.expect;
                    for (int i = 0; i < 20 && running; i++) {
                        type(kEndOfInput);
                        pump(200);
                    }
                    return;
                }
                searchFrom = found + step.expect.size();
                type(step.type);
            }
            completed = true;
            while (running)
                pump(50);
        });
    }
    /// Ends the conversation; the output stays readable.
    void stop() {
        running = false;
        if (worker.joinable())
            worker.join();
    }

    bool allStepsPlayed() const { return completed; }
    /// The expected text that never came, if any.
    std::string missedText() const { return missed; }
    std::string output() {
        std::lock_guard<std::mutex> lock(mutex);
        return transcript;
    }
    /// Waits until the text appears anywhere in the output.
    bool waitForText(const std::string& text, int timeoutMs) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            if (output().find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    /// Types at once, from any thread.
    void typeNow(const std::string& keys) { type(keys); }

private:
    void type(const std::string& keys) {
        if (!keys.empty())
            (void)!write(master, keys.data(), keys.size());
    }
    // Reads what the program wrote for up to waitMs.
    void pump(int waitMs) {
        pollfd entry{master, POLLIN, 0};
        if (poll(&entry, 1, waitMs) <= 0)
            return;
        char buffer[4096];
        ssize_t got = read(master, buffer, sizeof(buffer));
        if (got > 0) {
            std::lock_guard<std::mutex> lock(mutex);
            // The terminal turns each newline into CR LF; the transcript keeps the newline.
            for (ssize_t i = 0; i < got; i++) {
                if (buffer[i] != '\r')
                    transcript += buffer[i];
            }
        }
    }
    std::size_t waitFor(const std::string& text, std::size_t from, int timeoutMs) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (running && std::chrono::steady_clock::now() < deadline) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                std::size_t found = transcript.find(text, from);
                if (found != std::string::npos)
                    return found;
            }
            pump(50);
        }
        return std::string::npos;
    }

    int master = -1;
    int slave = -1;
    std::thread worker;
    std::atomic<bool> running{true};
    std::atomic<bool> completed{false};
    std::string missed;
    std::mutex mutex;
    std::string transcript;
};

}  // namespace daemontest
