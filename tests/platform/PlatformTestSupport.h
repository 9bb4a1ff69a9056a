#pragma once
// Helpers of the platform tests: the log captured into a file, waiting for
// something that happens on another thread, and a private system bus (its own
// dbus-daemon) with python3-dbusmock peers on it. Nothing here can reach the
// machine's real system bus: DBUS_SYSTEM_BUS_ADDRESS points at the private bus
// while it exists and back at what it was (the test command's dead address)
// afterwards.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "DialService.h"
#include "Settings.h"
#include "ToolBox/Config.h"
#include "ToolBox/Logger.h"
#include "platform/ChildProcess.h"
#include "support/LogCapture.h"
#include "support/TempFolder.h"

namespace platformtest {

/// The folder of the helper files (scripts, mock additions) beside this header.
inline std::string dataFolder() {
    return (std::filesystem::path(__FILE__).parent_path() / "data").string();
}

/// Polls until the condition holds; false after the timeout. For results that
/// other threads or processes produce, never to measure time.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

/// What a service hands to a callback once, maybe from a thread of its own.
/// The callback shares the answer, so it may come after the test has moved on.
template <typename T>
class Answer {
public:
    std::function<void(T)> callback() {
        return [kept = state](T value) {
            std::lock_guard<std::mutex> lock(kept->mutex);
            kept->value = std::move(value);
        };
    }
    bool arrived() const {
        std::lock_guard<std::mutex> lock(state->mutex);
        return state->value.has_value();
    }
    bool wait() const {
        return waitUntil([this] { return arrived(); });
    }
    /// The answer; call only once it has arrived.
    T get() const {
        std::lock_guard<std::mutex> lock(state->mutex);
        return *state->value;
    }

private:
    struct State {
        std::mutex mutex;
        std::optional<T> value;
    };
    std::shared_ptr<State> state = std::make_shared<State>();
};

/// The entries a service lists, waited for here; "<no answer>" when none came.
inline std::vector<linkmoot::DialEntry> listedEntries(linkmoot::DialService& service) {
    Answer<std::vector<linkmoot::DialEntry>> entries;
    service.listEntries(entries.callback());
    if (!entries.wait())
        return {"<no answer>"};
    return entries.get();
}

/// Their names alone.
inline std::vector<std::string> entriesOf(linkmoot::DialService& service) {
    std::vector<std::string> names;
    for (const linkmoot::DialEntry& entry : listedEntries(service))
        names.push_back(entry.name);
    return names;
}

using testsupport::LogCapture;

/// The section `Server` of a configuration tree of the test's own.
class ServerSection {
public:
    toolbox::ConfigSection* get() { return config.getRoot()->getSection("Server"); }
    /// What the dial-up services read their keys through.
    linkmoot::Settings settings() { return linkmoot::Settings(config.getRoot()); }
    void set(const char* key, const std::string& value) {
        get()->getParameter(key)->setString(value.c_str());
    }

private:
    toolbox::Config config;
};

/// A dbus-daemon of the test's own, as the system bus, with mock services.
class PrivateSystemBus {
public:
    PrivateSystemBus() {
        const char* previous = getenv("DBUS_SYSTEM_BUS_ADDRESS");
        if (previous != nullptr)
            previousAddress = previous;
        hadPreviousAddress = previous != nullptr;

        const std::string socket = folder.file("system_bus_socket");
        const std::string config = folder.writeFile(
            "bus.conf",
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig>\n"
            "  <type>system</type>\n"
            "  <listen>unix:path=" +
                socket +
                "</listen>\n"
                "  <auth>EXTERNAL</auth>\n"
                "  <policy context=\"default\">\n"
                "    <allow user=\"*\"/>\n"
                "    <allow own=\"*\"/>\n"
                "    <allow send_type=\"method_call\"/>\n"
                "    <allow send_type=\"signal\"/>\n"
                "    <allow send_type=\"method_return\"/>\n"
                "    <allow send_type=\"error\"/>\n"
                "    <allow receive_type=\"method_call\"/>\n"
                "    <allow receive_type=\"signal\"/>\n"
                "    <allow receive_type=\"method_return\"/>\n"
                "    <allow receive_type=\"error\"/>\n"
                "  </policy>\n"
                "</busconfig>\n");
        // The daemon prints its address once it accepts connections.
        int addressPipe[2];
        if (pipe2(addressPipe, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        linkmoot::ChildProcess::Options options;
        options.arguments = {linkmoot::ChildProcess::findProgram("dbus-daemon"),
                             "--config-file=" + config, "--nofork", "--nosyslog",
                             "--print-address=" + std::to_string(addressPipe[1])};
        options.inheritedDescriptors = {addressPipe[1]};
        options.outputFile = folder.file("bus.log");
        std::string error;
        daemon = std::make_unique<linkmoot::ChildProcess>();
        const bool started = daemon->start(options, {}, error);
        close(addressPipe[1]);
        std::string printed;
        char buffer[256];
        pollfd readable{addressPipe[0], POLLIN, 0};
        while (started && printed.find('\n') == std::string::npos &&
               poll(&readable, 1, 10000) > 0) {
            const ssize_t count = read(addressPipe[0], buffer, sizeof buffer);
            if (count <= 0)
                break;
            printed.append(buffer, static_cast<size_t>(count));
        }
        close(addressPipe[0]);
        if (!started)
            throw std::runtime_error(error);
        if (printed.find('\n') == std::string::npos)
            throw std::runtime_error("the private dbus-daemon did not start");
        address = printed.substr(0, printed.find('\n'));
        setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    }

    ~PrivateSystemBus() {
        for (auto& mock : mocks)
            mock->terminate(std::chrono::seconds(5));
        mocks.clear();
        daemon->terminate(std::chrono::seconds(5));
        if (hadPreviousAddress)
            setenv("DBUS_SYSTEM_BUS_ADDRESS", previousAddress.c_str(), 1);
        else
            unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
    PrivateSystemBus(const PrivateSystemBus&) = delete;
    PrivateSystemBus& operator=(const PrivateSystemBus&) = delete;

    /// Starts python3-dbusmock with one of its templates and waits until the
    /// service's name is on the bus.
    void startMock(const std::string& templateName, const std::string& busName) {
        linkmoot::ChildProcess::Options options;
        options.arguments = {"/usr/bin/python3", "-m",         "dbusmock",
                             "--system",         "--template", templateName};
        options.outputFile = folder.file("bus.log");
        auto mock = std::make_unique<linkmoot::ChildProcess>();
        std::string error;
        if (!mock->start(options, {}, error))
            throw std::runtime_error(error);
        mocks.push_back(std::move(mock));
        if (!waitUntil([&] { return hasOwner(busName); }, std::chrono::seconds(30)))
            throw std::runtime_error("the mock of " + busName + " did not start");
    }

    /// Stops or continues the mocks' processes: a peer that does not answer.
    void freezeMocks(bool frozen) {
        for (auto& mock : mocks)
            kill(mock->pid(), frozen ? SIGSTOP : SIGCONT);
    }
    /// The same for the bus itself: nobody on it answers.
    void freezeBus(bool frozen) { kill(daemon->pid(), frozen ? SIGSTOP : SIGCONT); }

    /// Stops the mocks (the services vanish from the bus).
    void stopMocks() {
        for (auto& mock : mocks)
            mock->terminate(std::chrono::seconds(5));
        mocks.clear();
    }

    bool hasOwner(const std::string& busName) {
        Bus bus;
        sd_bus_message* reply = nullptr;
        int owned = 0;
        if (bus.get() == nullptr ||
            sd_bus_call_method(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", "NameHasOwner", nullptr, &reply, "s",
                               busName.c_str()) < 0)
            return false;
        sd_bus_message_read(reply, "b", &owned);
        sd_bus_message_unref(reply);
        return owned != 0;
    }

    /// A connection of the test's own to the private bus.
    class Bus {
    public:
        Bus() {
            if (sd_bus_open_system(&bus) < 0)
                bus = nullptr;
        }
        ~Bus() { sd_bus_flush_close_unref(bus); }
        Bus(const Bus&) = delete;
        Bus& operator=(const Bus&) = delete;
        sd_bus* get() const { return bus; }

    private:
        sd_bus* bus = nullptr;
    };

    const std::string& getAddress() const { return address; }

private:
    testsupport::TempFolder folder;
    std::string address;
    std::string previousAddress;
    bool hadPreviousAddress = false;
    std::unique_ptr<linkmoot::ChildProcess> daemon;
    std::vector<std::unique_ptr<linkmoot::ChildProcess>> mocks;
};

}  // namespace platformtest
