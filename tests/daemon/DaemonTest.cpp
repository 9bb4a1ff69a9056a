// linkmootd and linkmootctl as processes: start-up without a configuration,
// the single instance, signals, the prompts at a real terminal and the exit
// statuses of linkmootctl.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "DaemonProcess.h"
#include "PtyDriver.h"
#include "platform/ControlServer.h"
#include "support/LoopbackVoter.h"
#include "support/TempFolder.h"

namespace {

using daemontest::CommandResult;
using daemontest::Instance;
using daemontest::runProgram;
using daemontest::waitUntil;

using testsupport::VoteListener;

std::vector<std::string> clientConfig(int port) {
    return {"<Configured>1</>",
            "<Mode>client</>",
            "<Port>" + std::to_string(port) + "</>",
            "",
            "<Client>",
            "\t<Server>127.0.0.1</>",
            "</Client>"};
}

// Runs a copy of linkmootd with the driver's terminal as its standard input
// and output (its controlling terminal), standard error to a file. As a
// background job, a session leader keeps the terminal's foreground and the
// program runs in a process group of its own, as `linkmootd &` in a shell.
pid_t startAtTerminal(Instance& instance, daemontest::PtyDriver& pty,
                      const std::vector<std::string>& arguments, bool background = false) {
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        ioctl(pty.terminal(), TIOCSCTTY, 0);
        if (background) {
            pid_t job = fork();
            if (job > 0) {
                int status = 0;
                waitpid(job, &status, 0);
                _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 126);
            }
            setpgid(0, 0);
        }
        dup2(pty.terminal(), 0);
        dup2(pty.terminal(), 1);
        int err = open(instance.stderrFile().c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        dup2(err, 2);
        std::vector<std::string> env = instance.environment();
        for (const std::string& entry : env)
            putenv(const_cast<char*>(entry.c_str()));
        std::string path = instance.program();
        std::vector<char*> argv{path.data()};
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    pty.closeSlave();
    return pid;
}

int waitForChild(pid_t pid, int timeoutMs) {
    int status = 0;
    if (!waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeoutMs)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class DaemonTest : public ::testing::Test {
protected:
    testsupport::TempFolder folder;
};

TEST_F(DaemonTest, WithoutConfigurationAndWithoutTerminalItExitsWithTwoAndSaysWhatToRun) {
    Instance instance(folder.getPath(), "fresh");
    CommandResult result = runProgram({instance.program()}, instance.environment(), 10000);
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_NE(result.err.find("linkmootd --configure"), std::string::npos) << result.err;
    // Start-up that ends early still saves, with Configured false.
    EXPECT_NE(daemontest::readWhole(instance.configFile()).find("<Configured>0</>"),
              std::string::npos);
}

TEST_F(DaemonTest, HelpVersionAndBadOptions) {
    Instance instance(folder.getPath(), "options");
    CommandResult help = runProgram({instance.program(), "--help"}, instance.environment());
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.out.find("--configure"), std::string::npos);
    EXPECT_NE(help.out.find("/log:"), std::string::npos);
    CommandResult version = runProgram({instance.program(), "--version"}, instance.environment());
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.out.rfind("linkmootd ", 0), 0u);
    CommandResult bad = runProgram({instance.program(), "--frobnicate"}, instance.environment());
    EXPECT_EQ(bad.exitStatus, 2);
    EXPECT_NE(bad.err.find("--frobnicate"), std::string::npos);
    // None of them touched the configuration.
    EXPECT_FALSE(std::filesystem::exists(instance.configFile()));
}

TEST_F(DaemonTest, ASecondInstanceAndConfigureAreRefusedWhileOneRuns) {
    VoteListener server;
    Instance instance(folder.getPath(), "single");
    instance.writeConfig(clientConfig(server.port));
    instance.start();
    ASSERT_TRUE(instance.waitUntilAnswering()) << instance.errors();
    const std::string before = daemontest::readWhole(instance.configFile());

    CommandResult second = runProgram({instance.program()}, instance.environment(), 10000);
    EXPECT_EQ(second.exitStatus, 1);
    EXPECT_NE(second.err.find("already running"), std::string::npos) << second.err;
    CommandResult configure =
        runProgram({instance.program(), "--configure"}, instance.environment(), 10000);
    EXPECT_EQ(configure.exitStatus, 1);
    EXPECT_NE(configure.err.find("stop it first, configure, then start it again"),
              std::string::npos)
        << configure.err;
    // Neither wrote the configuration, and the first one still answers.
    EXPECT_EQ(daemontest::readWhole(instance.configFile()), before);
    EXPECT_EQ(instance.ctl({"status"}).exitStatus, 0);
    EXPECT_TRUE(std::filesystem::exists(instance.socketPath()));
}

TEST_F(DaemonTest, SighupAndReloadReadTheFileAgainAndSigtermWithdrawsTheVoteAndSaves) {
    VoteListener server;
    VoteListener moved;
    Instance instance(folder.getPath(), "signals");
    instance.writeConfig(clientConfig(server.port));
    instance.start();
    ASSERT_TRUE(instance.waitUntilAnswering()) << instance.errors();

    CommandResult connect = instance.ctl({"connect"});
    EXPECT_EQ(connect.exitStatus, 0) << connect.err;
    EXPECT_EQ(server.next(5000), "vote:" + testsupport::shortHostName());
    // The listener is an old server: it never answers.
    EXPECT_EQ(instance.ctl({"status"}).out,
              "Voting for connection\nLinkmoot server is disabled.\nServer 127.0.0.1: waiting for "
              "an answer\n");

    // An edit and SIGHUP: the vote leaves the old server for the new one.
    instance.writeConfig(clientConfig(moved.port));
    instance.signal(SIGHUP);
    EXPECT_EQ(moved.next(5000), "vote:" + testsupport::shortHostName());
    std::string last;
    for (std::string datagram; !(datagram = server.next(500)).empty();)
        last = datagram;
    EXPECT_EQ(last, "unvote:" + testsupport::shortHostName());
    ASSERT_TRUE(instance.running());

    // A file that does not parse is refused; the running configuration stays.
    const std::string broken = "<Configured>1</>\n<Mode>client";
    std::ofstream(instance.configFile(), std::ios::binary | std::ios::trunc) << broken;
    CommandResult refused = instance.ctl({"reload"});
    EXPECT_EQ(refused.exitStatus, 4);
    EXPECT_NE(refused.err.find("configuration not reloaded"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("not in the configuration format"), std::string::npos)
        << refused.err;

    instance.signal(SIGTERM);
    EXPECT_EQ(instance.waitForExit(), 0) << instance.errors();
    for (std::string datagram; !(datagram = moved.next(1000)).empty();)
        last = datagram;
    EXPECT_EQ(last, "unvote:" + testsupport::shortHostName());
    // The edit is left for its owner to mend, and the log says so.
    EXPECT_EQ(daemontest::readWhole(instance.configFile()), broken);
    EXPECT_FALSE(std::filesystem::exists(instance.configFile() + ".broken"));
    EXPECT_NE(instance.errors().find("was changed and cannot be used"), std::string::npos)
        << instance.errors();
    EXPECT_FALSE(std::filesystem::exists(instance.socketPath()));
}

TEST_F(DaemonTest, AnEditWhileItRunsSurvivesItsExit) {
    VoteListener server;
    Instance instance(folder.getPath(), "edited");
    instance.writeConfig(clientConfig(server.port));
    instance.start();
    ASSERT_TRUE(instance.waitUntilAnswering()) << instance.errors();
    // Edited by hand, then stopped as `systemctl restart` stops it: no reload between.
    std::vector<std::string> edited = clientConfig(server.port);
    edited.insert(edited.end() - 1, "\t<AutoVote>1</>");
    edited.insert(edited.end() - 1, "\t<Note>kept</>");
    instance.writeConfig(edited);
    instance.signal(SIGTERM);
    EXPECT_EQ(instance.waitForExit(), 0) << instance.errors();

    const std::string saved = daemontest::readWhole(instance.configFile());
    // The edit's values win over the defaults the run stored (AutoVote 0) ...
    EXPECT_NE(saved.find("\t<AutoVote>1</>\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("\t<Note>kept</>\r\n"), std::string::npos) << saved;
    // ... and a default the file lacked goes in.
    EXPECT_NE(saved.find("<Secret>\\0</>\r\n"), std::string::npos) << saved;
    EXPECT_NE(instance.errors().find("its edits are kept"), std::string::npos) << instance.errors();
}

TEST_F(DaemonTest, DuringALongGuardTimeTheLoopAnswersAndSigtermExitsAtOnce) {
    const int port = daemontest::freeUdpPort();
    Instance instance(folder.getPath(), "guard");
    instance.writeConfig({"<Configured>1</>", "<Mode>server</>",
                          "<Port>" + std::to_string(port) + "</>", "", "<Server>",
                          "\t<Dialer>simulated</>", "\t<Connection>Simulated modem</>",
                          "\t<GuardTime>600000</>", "</Server>"});
    instance.start();
    ASSERT_TRUE(instance.waitUntilAnswering()) << instance.errors();
    const int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto send = [&](const std::string& datagram) {
        sendto(udp, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&address),
               sizeof address);
    };
    send("vote:guarded");
    ASSERT_TRUE(waitUntil(
        [&] { return instance.log().find("connecting to RAS") != std::string::npos; }, 10000));
    send("unvote:guarded");
    ASSERT_TRUE(waitUntil(
        [&] { return instance.log().find("Waiting hangup guard time") != std::string::npos; },
        10000));
    send("vote:guarded");  // read, but no dial for ten minutes
    EXPECT_EQ(instance.ctl({"status"}).exitStatus, 0);
    ASSERT_TRUE(waitUntil(
        [&] {
            return instance.log().find("Received a vote from host 'guarded'",
                                       instance.log().find("Waiting hangup")) != std::string::npos;
        },
        10000));
    instance.signal(SIGTERM);
    EXPECT_EQ(instance.waitForExit(5000), 0) << instance.errors();
    EXPECT_EQ(instance.log().find("Hangup guard time complete"), std::string::npos);
    close(udp);
}

TEST_F(DaemonTest, SigintExitsLikeExit) {
    VoteListener server;
    Instance instance(folder.getPath(), "sigint");
    instance.writeConfig(clientConfig(server.port));
    instance.start();
    ASSERT_TRUE(instance.waitUntilAnswering()) << instance.errors();
    instance.signal(SIGINT);
    EXPECT_EQ(instance.waitForExit(), 0);
}

TEST_F(DaemonTest, TheFirstStartAtATerminalAsksWhileTheControlSocketGoesOn) {
    VoteListener server;
    Instance instance(folder.getPath(), "first-start");
    daemontest::PtyDriver pty;
    ASSERT_TRUE(pty.ok());
    pty.play({{"Configure now (n: Exit)? [Y/n]: ", "\n"}});
    pid_t pid = startAtTerminal(instance, pty, {"/log:info"});
    ASSERT_TRUE(pty.waitForText("Mode, 1 or 2 []: ", 10000)) << pty.output();

    // While the question waits, the instance answers on its socket.
    CommandResult status = instance.ctl({"status"});
    EXPECT_EQ(status.exitStatus, 0) << status.err;
    EXPECT_EQ(status.out, "Not voting for connection\nLinkmoot server is disabled.\n");

    pty.play({
        {"Mode, 1 or 2 []: ", "1\n"},
        {"IP address or name of the server []: ", "127.0.0.1\n"},
        {"Port of the server (default: 9005) [9005]: ", std::to_string(server.port) + "\n"},
        {"Wake on LAN? [y/N]: ", "\n"},
        {"Automatically vote on start? [y/N]: ", "\n"},
        {"characters; \"g\" generates one) []: ", "\n"},
        {"Notify when the server's line changes while voting? [Y/n]: ", "\n"},
    });
    ASSERT_TRUE(waitUntil([&] { return pty.allStepsPlayed(); }, 20000)) << pty.missedText();

    // Configured and running: it votes where it was told to.
    ASSERT_TRUE(waitUntil([&] { return instance.ctl({"connect"}).exitStatus == 0; }, 10000));
    EXPECT_EQ(server.next(5000), "vote:" + testsupport::shortHostName());
    EXPECT_EQ(instance.ctl({"exit"}).exitStatus, 0);
    EXPECT_EQ(waitForChild(pid, 15000), 0);
    pty.stop();

    const std::string config = daemontest::readWhole(instance.configFile());
    EXPECT_NE(config.find("<Configured>1</>"), std::string::npos) << config;
    EXPECT_NE(config.find("<Mode>client</>"), std::string::npos) << config;
    EXPECT_NE(config.find("<Server>127.0.0.1</>"), std::string::npos) << config;
}

TEST_F(DaemonTest, ConfigureAtATerminalSetsUpAServerAndExits) {
    Instance instance(folder.getPath(), "configure");
    const int port = daemontest::freeUdpPort();
    daemontest::PtyDriver pty;
    ASSERT_TRUE(pty.ok());
    pty.play({
        {"Mode, 1 or 2 []: ", "2\n"},
        {"Number [Automatic (auto)]: ", "simulated\n"},
        {"Port of the server (default: 9005) [9005]: ", std::to_string(port) + "\n"},
        {"Guard time after hangup (msecs) [3000]: ", "1500\n"},
        {"Auto dis- and reconnect? [y/N]: ", "\n"},
        {"Shutdown if no votes? [y/N]: ", "\n"},
        {"use with care!)? [y/N]: ", "\n"},
        {"up to 5 minutes)? [Y/n]: ", "\n"},  // proposed on in a first configuration
        {"  2) Simulated modem\n", ""},
        {"Number []: ", "Simulated modem\n"},
        {"User name []: ", "\n"},
        {"Password []: ", "\n"},
        {"Allowed networks (IPv4 blocks separated by commas; empty: the private networks) []: ",
         "\n"},
        {"characters; \"g\" generates one) []: ", "\n"},
        {"Web page for phones and tablets? [y/N]: ", "\n"},
        {"Data plan (a cap per billing cycle)? [y/N]: ", "\n"},
        {"Configuration saved.\n", ""},
    });
    pid_t pid = startAtTerminal(instance, pty, {"--configure"});
    EXPECT_EQ(waitForChild(pid, 30000), 0) << pty.output() << instance.errors();
    pty.stop();
    EXPECT_TRUE(pty.allStepsPlayed()) << pty.missedText() << "\n" << pty.output();

    const std::string config = daemontest::readWhole(instance.configFile());
    EXPECT_NE(config.find("<Configured>1</>\r\n"), std::string::npos) << config;
    EXPECT_NE(config.find("<Mode>server</>"), std::string::npos);
    EXPECT_NE(config.find("<Dialer>simulated</>"), std::string::npos);
    EXPECT_NE(config.find("<Connection>Simulated modem</>"), std::string::npos);
    EXPECT_NE(config.find("<GuardTime>1500</>"), std::string::npos);
    EXPECT_NE(config.find("<RetryBackoff>1</>"), std::string::npos);
}

TEST_F(DaemonTest, ABackgroundJobNeverTouchesItsTerminal) {
    // Reading the terminal from the background would stop the program
    // (SIGTTIN) instead of telling the user what to do.
    Instance instance(folder.getPath(), "background");
    daemontest::PtyDriver pty;
    ASSERT_TRUE(pty.ok());
    pty.play({});  // only records what appears on the terminal
    pid_t pid = startAtTerminal(instance, pty, {}, true);
    EXPECT_EQ(waitForChild(pid, 10000), 2) << pty.output();
    EXPECT_NE(instance.errors().find("linkmootd --configure"), std::string::npos)
        << instance.errors();
    EXPECT_EQ(pty.output().find("Configure now"), std::string::npos) << pty.output();

    daemontest::PtyDriver pty2;
    ASSERT_TRUE(pty2.ok());
    pid = startAtTerminal(instance, pty2, {"--configure"}, true);
    EXPECT_EQ(waitForChild(pid, 10000), 2);
    EXPECT_NE(instance.errors().find("in the foreground"), std::string::npos) << instance.errors();
}

TEST_F(DaemonTest, ConfigureNeedsATerminal) {
    Instance instance(folder.getPath(), "configure-no-tty");
    CommandResult result =
        runProgram({instance.program(), "--configure"}, instance.environment(), 10000);
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_NE(result.err.find("terminal"), std::string::npos) << result.err;
}

// linkmootctl's exit statuses, against stand-ins for an instance.
class LinkmootctlTest : public DaemonTest {
protected:
    Instance instance{folder.getPath(), "ctl"};
};

TEST_F(LinkmootctlTest, NoInstanceUnknownCommandAndBadTimeout) {
    CommandResult none = instance.ctl({"status"});
    EXPECT_EQ(none.exitStatus, 1);
    EXPECT_NE(none.err.find("no Linkmoot instance is running"), std::string::npos) << none.err;
    EXPECT_EQ(instance.ctl({"frobnicate"}).exitStatus, 2);
    EXPECT_EQ(instance.ctl({}).exitStatus, 2);
    EXPECT_EQ(instance.ctl({"status", "--timeout=soon"}).exitStatus, 2);
    EXPECT_EQ(instance.ctl({"status", "--timeout=0"}).exitStatus, 2);
}

TEST_F(LinkmootctlTest, AnInstanceThatDoesNotAnswerInTimeGivesThree) {
    linkmoot::ControlServer silent;  // listens, never serves: a guard time
    std::string error;
    ASSERT_EQ(silent.bind(instance.socketPath(), 0600, error),
              linkmoot::ControlServer::BindResult::Listening);
    CommandResult result = instance.ctl({"status", "--timeout=0.5"});
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_NE(result.err.find("--timeout"), std::string::npos) << result.err;
}

TEST_F(LinkmootctlTest, AnErrorAnswerGivesFourAndOkPrintsTheBody) {
    linkmoot::ControlServer fake;
    std::string error;
    ASSERT_EQ(fake.bind(instance.socketPath(), 0600, error),
              linkmoot::ControlServer::BindResult::Listening);
    std::atomic<bool> done{false};
    std::thread serving([&] {
        while (!done) {
            pollfd entry{fake.fd(), POLLIN, 0};
            if (poll(&entry, 1, 20) <= 0)
                continue;
            fake.servePending([](std::string_view request) -> std::string {
                if (request == "status")
                    return "OK\nline one\nline two\n";
                return "ERROR refused for the test\n";
            });
        }
    });
    CommandResult ok = instance.ctl({"status"});
    CommandResult refused = instance.ctl({"enable"});
    done = true;
    serving.join();
    EXPECT_EQ(ok.exitStatus, 0);
    EXPECT_EQ(ok.out, "line one\nline two\n");
    EXPECT_EQ(refused.exitStatus, 4);
    EXPECT_NE(refused.err.find("refused for the test"), std::string::npos) << refused.err;
}

}  // namespace
