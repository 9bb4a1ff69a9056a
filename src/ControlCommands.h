#pragma once
// The control protocol spoken on the instance's Unix socket: one request line,
// one short answer. No operating-system code here; the socket side lives in
// platform/ControlServer.
//
// Requests (exact, lower case; a trailing CR is tolerated):
//   connect, disconnect, enable, disable, refresh, exit   run the command table
//   status   the tray text, then the status rows, one per line
//   reload   read the configuration file again and apply it
//   line     one word: the line as this instance sees it (up, dialling, down,
//            guard, failed, unknown)
//   page     the web page's addresses on the LAN, one per line (none while
//            the page is not served)
// Answers: "OK\n" followed by the body lines, or "ERROR <reason>\n". A request
// that is not one of the above gets an error answer and changes nothing.
#include <cstddef>
#include <string>
#include <string_view>

#include "StatusModel.h"

namespace linkmoot {

class Linkmoot;

namespace control {

/// Longest request line accepted, newline included.
inline constexpr std::size_t kMaxRequestLength = 256;
inline constexpr std::string_view kOk = "OK";
inline constexpr std::string_view kError = "ERROR";

/// What the handler drives: the application, or a fake in tests.
class CommandTarget {
public:
    virtual ~CommandTarget() = default;
    virtual void runCommand(int commandId) = 0;
    /// The snapshot the views were last handed; asks nobody.
    virtual StatusSnapshot currentStatus() = 0;
    /// Reads the configuration again; false with why when it was refused.
    virtual bool reloadConfiguration(std::string& problem) {
        problem = "reload is not supported here";
        return false;
    }
};

/// Adapts the application object.
class ApplicationTarget : public CommandTarget {
public:
    explicit ApplicationTarget(Linkmoot& application) : application(application) {}
    void runCommand(int commandId) override;
    StatusSnapshot currentStatus() override;
    bool reloadConfiguration(std::string& problem) override;

private:
    Linkmoot& application;
};

/// The command id a request word stands for; 0 when it names none ("status"
/// and "line" included, which is answered without the command table).
int commandIdOf(std::string_view word);
/// True for every word the protocol knows.
bool isKnownRequest(std::string_view word);

/// Serves one request line (without its newline) and returns the whole answer.
std::string handle(CommandTarget& target, std::string_view request);
std::string handle(Linkmoot& application, std::string_view request);

/// The body of a status answer: tray text, then one line per row.
std::string formatStatus(const StatusSnapshot& status);

}  // namespace control
}  // namespace linkmoot
