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
//   usage [json]   today, this month, the last 30 days and the voters (text,
//            or one JSON object on one line), from memory, at once
//   sessions [since YYYY-MM-DD] [csv]   the line sessions (since that local
//            date), one per line or as CSV; read off the loop and answered
//            when ready (a deferred answer)
//   plan ...  the data plan's figures and its changes (see PlanText.h)
//   page     the web page's addresses on the LAN, one per line (none while
//            the page is not served)
// Answers: "OK\n" followed by the body lines, or "ERROR <reason>\n". A request
// that is not one of the above gets an error answer and changes nothing.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "LocalTime.h"
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
    /// The body of a usage answer (text, or one line of JSON); at once.
    virtual std::string usage(bool json) {
        (void)json;
        return "usage is not counted here\n";
    }
    /// Reads the sessions since the local date (none: all) and hands the
    /// whole answer ("OK" and the body, or one ERROR line) to `done` later,
    /// on the loop's thread.
    virtual void sessions(std::optional<CivilDate> since, bool csv,
                          std::function<void(std::string body)> done) {
        (void)since;
        (void)csv;
        done("ERROR no sessions are kept here\n");
    }
    /// A request whose first word is "plan": the whole answer.
    virtual std::string plan(const std::vector<std::string_view>& words) {
        (void)words;
        return "ERROR no data plan here\n";
    }
};

/// Adapts the application object.
class ApplicationTarget : public CommandTarget {
public:
    explicit ApplicationTarget(Linkmoot& application) : application(application) {}
    void runCommand(int commandId) override;
    StatusSnapshot currentStatus() override;
    bool reloadConfiguration(std::string& problem) override;
    std::string usage(bool json) override;
    void sessions(std::optional<CivilDate> since, bool csv,
                  std::function<void(std::string body)> done) override;
    std::string plan(const std::vector<std::string_view>& words) override;

private:
    Linkmoot& application;
};

/// The command id a request word stands for; 0 when it names none ("status"
/// and "line" included, which is answered without the command table).
int commandIdOf(std::string_view word);
/// True for every word the protocol knows.
bool isKnownRequest(std::string_view word);

/// Serves one request line (without its newline) and returns the whole
/// answer; a request answered later gets its answer through `later` (on the
/// loop's thread) and returns nullopt.
using Later = std::function<void(std::string answer)>;
std::optional<std::string> handle(CommandTarget& target, std::string_view request, Later later);
std::optional<std::string> handle(Linkmoot& application, std::string_view request, Later later);
/// The same for callers without deferred answers: a deferred request's
/// answer is what `later` would have been given, when given at once, else
/// an error.
std::string handle(CommandTarget& target, std::string_view request);
std::string handle(Linkmoot& application, std::string_view request);

/// The body of a status answer: tray text, then one line per row.
std::string formatStatus(const StatusSnapshot& status);

}  // namespace control
}  // namespace linkmoot
