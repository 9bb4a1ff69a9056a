#include "platform/ControlServer.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/TempFolder.h"

namespace linkmoot {
namespace {

using controlsocket::Reply;

unsigned modeOf(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

bool isSocket(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// A raw client socket connected to the path; -1 on failure.
int connectRaw(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string readAll(int fd) {
    std::string text;
    char buffer[512];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof(buffer))) > 0)
        text.append(buffer, static_cast<std::size_t>(got));
    return text;
}

// Leaves a socket file behind that nobody listens on, as a crashed instance does.
void makeStaleSocket(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    close(fd);
}

constexpr uid_t kNobody = 65534;

// Asks from a forked child that runs with other credentials: 0 when answered,
// 1 when the connection was closed (or reset) without an answer, 2 otherwise,
// 3 when the child could not take the credentials.
int requestAs(const std::string& path, uid_t uid, gid_t gid, const std::vector<gid_t>& groups) {
    const pid_t child = fork();
    if (child == 0) {
        if (setgroups(groups.size(), groups.data()) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
            _exit(3);
        const Reply reply = controlsocket::sendRequest(path, "status", 5000);
        if (reply.status == Reply::Status::Answered)
            _exit(0);
        _exit(reply.status == Reply::Status::Failed ? 1 : 2);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

class ControlServerTest : public ::testing::Test {
protected:
    // Serves on this thread while `client` runs on another.
    void serveWhile(ControlServer& server, const std::function<void()>& client) {
        std::atomic<bool> done{false};
        std::thread thread([&] {
            client();
            done = true;
        });
        while (!done) {
            pollfd entry{server.fd(), POLLIN, 0};
            if (poll(&entry, 1, 20) > 0)
                server.servePending(echo);
        }
        thread.join();
    }
    Reply request(ControlServer& server, const std::string& line, int timeoutMs = 5000) {
        Reply reply;
        serveWhile(server, [&] { reply = controlsocket::sendRequest(path, line, timeoutMs); });
        return reply;
    }
    void bindOrFail(ControlServer& server, unsigned mode = controlsocket::kUserMode) {
        std::string error;
        ASSERT_EQ(server.bind(path, mode, error), ControlServer::BindResult::Listening) << error;
    }

    testsupport::TempFolder folder;
    std::string path = folder.file("linkmoot.sock");
    std::vector<std::string> requests;
    ControlServer::Handler echo = [this](std::string_view line) {
        requests.emplace_back(line);
        return "OK\n<" + std::string(line) + ">\n";
    };
};

TEST_F(ControlServerTest, ListensOnAPrivateSocketAndServesOneLinePerConnection) {
    ControlServer server;
    bindOrFail(server);
    EXPECT_TRUE(isSocket(path));
    EXPECT_EQ(modeOf(path), 0600u);

    Reply reply = request(server, "status");
    ASSERT_EQ(reply.status, Reply::Status::Answered) << reply.error;
    EXPECT_EQ(reply.answer, "OK\n<status>\n");
    reply = request(server, "connect");
    EXPECT_EQ(reply.answer, "OK\n<connect>\n");
    EXPECT_EQ(requests, (std::vector<std::string>{"status", "connect"}));
}

TEST_F(ControlServerTest, TheSharedSocketIsOpenToTheGroupOnly) {
    ControlServer server;
    bindOrFail(server, controlsocket::kSharedMode);
    EXPECT_EQ(modeOf(path), 0660u);
}

TEST_F(ControlServerTest, EachPeerIsCheckedAndTheFileModeIsNotTrustedAlone) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to connect as other users";
    ASSERT_EQ(chmod(folder.getPath().c_str(), 0711), 0);  // others may reach the socket
    const gid_t group = getegid();                        // and so the socket's group
    struct Case {
        unsigned mode;
        uid_t uid;
        gid_t gid;
        std::vector<gid_t> groups;
        int outcome;
        const char* who;
    };
    const Case cases[] = {
        {controlsocket::kUserMode, 0, 0, {}, 0, "root"},
        {controlsocket::kUserMode, kNobody, group, {group}, 1, "another user, even of the group"},
        {controlsocket::kSharedMode, kNobody, kNobody, {}, 1, "another user outside the group"},
        {controlsocket::kSharedMode, kNobody, group, {}, 0, "a member by the primary group"},
        {controlsocket::kSharedMode,
         kNobody,
         kNobody,
         {kNobody, group},
         0,
         "a supplementary member"},
    };
    for (const Case& test : cases) {
        ControlServer server;
        bindOrFail(server, test.mode);
        ASSERT_EQ(chmod(path.c_str(), 0666), 0);  // as if the file mode let anyone in
        int outcome = -1;
        serveWhile(server, [&] { outcome = requestAs(path, test.uid, test.gid, test.groups); });
        EXPECT_EQ(outcome, test.outcome) << test.who;
    }
    EXPECT_EQ(requests.size(), 3u);
}

TEST_F(ControlServerTest, AFolderThatOthersMayWriteOrThatIsNotOursIsRefused) {
    ControlServer server;
    std::string error;
    ASSERT_EQ(chmod(folder.getPath().c_str(), 01777), 0);
    EXPECT_EQ(server.bind(path, controlsocket::kUserMode, error),
              ControlServer::BindResult::Failed);
    EXPECT_NE(error.find("may be written by others (mode 1777)"), std::string::npos) << error;
    ASSERT_EQ(chmod(folder.getPath().c_str(), 0700), 0);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(folder.getPath().c_str(), kNobody, static_cast<gid_t>(-1)), 0);
        EXPECT_EQ(server.bind(path, controlsocket::kUserMode, error),
                  ControlServer::BindResult::Failed);
        EXPECT_NE(error.find("belongs to another user"), std::string::npos) << error;
        ASSERT_EQ(chown(folder.getPath().c_str(), 0, static_cast<gid_t>(-1)), 0);
    }
    EXPECT_FALSE(isSocket(path));
    bindOrFail(server);
}

TEST_F(ControlServerTest, ASecondInstanceFindsTheFirstAnsweringAndLeavesItAlone) {
    ControlServer first;
    bindOrFail(first);
    {
        ControlServer second;
        std::string error;
        EXPECT_EQ(second.bind(path, controlsocket::kUserMode, error),
                  ControlServer::BindResult::AlreadyRunning);
        EXPECT_NE(error.find("already running"), std::string::npos) << error;
    }
    // The second one's end removed nothing: the first still answers.
    EXPECT_TRUE(isSocket(path));
    EXPECT_EQ(request(first, "status").answer, "OK\n<status>\n");
}

TEST_F(ControlServerTest, AStaleSocketIsReplacedAndAFileThatIsNoSocketIsNeverRemoved) {
    makeStaleSocket(path);
    EXPECT_EQ(controlsocket::sendRequest(path, "status", 1000).status, Reply::Status::NoInstance);
    {
        ControlServer server;
        bindOrFail(server);
        EXPECT_EQ(request(server, "status").answer, "OK\n<status>\n");
    }
    EXPECT_FALSE(isSocket(path));  // removed at the end

    folder.writeFile("linkmoot.sock", "precious");
    ControlServer server;
    std::string error;
    EXPECT_EQ(server.bind(path, controlsocket::kUserMode, error),
              ControlServer::BindResult::Failed);
    EXPECT_EQ(folder.readFile("linkmoot.sock"), "precious");
}

TEST_F(ControlServerTest, ClosingDoesNotRemoveASocketThatReplacedOurs) {
    ControlServer server;
    bindOrFail(server);
    unlink(path.c_str());
    makeStaleSocket(path);  // another instance's file now
    server.close();
    EXPECT_TRUE(isSocket(path));
}

TEST_F(ControlServerTest, AnOverlongRequestGetsAnErrorAndTheServerGoesOn) {
    ControlServer server;
    bindOrFail(server);
    Reply reply = request(server, std::string(5000, 'a'));
    ASSERT_EQ(reply.status, Reply::Status::Answered) << reply.error;
    EXPECT_EQ(reply.answer, "ERROR request too long\n");
    EXPECT_TRUE(requests.empty());
    EXPECT_EQ(request(server, "status").answer, "OK\n<status>\n");
}

TEST_F(ControlServerTest, ASilentClientTimesOutWithAnErrorAndTheServerGoesOn) {
    ControlServer server;
    server.setRequestTimeout(200);
    bindOrFail(server);
    std::string answer;
    serveWhile(server, [&] {
        int fd = connectRaw(path);
        ASSERT_GE(fd, 0);
        answer = readAll(fd);  // the server ends the connection
        close(fd);
    });
    EXPECT_EQ(answer.rfind("ERROR timeout", 0), 0u) << answer;
    EXPECT_TRUE(requests.empty());
    EXPECT_EQ(request(server, "status").answer, "OK\n<status>\n");
}

TEST_F(ControlServerTest, OnlyTheFirstLineCountsAndALastLineWithoutNewlineIsServed) {
    ControlServer server;
    bindOrFail(server);
    std::string answer;
    serveWhile(server, [&] {
        int fd = connectRaw(path);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, "enable\nexit\n", 12), 12);
        answer = readAll(fd);
        close(fd);
    });
    EXPECT_EQ(answer, "OK\n<enable>\n");
    serveWhile(server, [&] {
        int fd = connectRaw(path);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, "refresh", 7), 7);
        shutdown(fd, SHUT_WR);
        answer = readAll(fd);
        close(fd);
    });
    EXPECT_EQ(answer, "OK\n<refresh>\n");
    EXPECT_EQ(requests, (std::vector<std::string>{"enable", "refresh"}));
}

TEST_F(ControlServerTest, SilentConnectionsHoldNobodyUpAndThoseBeyondTheCapAreClosedAtOnce) {
    ControlServer server;
    server.setRequestTimeout(60000);  // none of them times out during the test
    bindOrFail(server);
    std::vector<int> clients;
    for (int i = 0; i < 40; i++) {
        const int fd = connectRaw(path);
        ASSERT_GE(fd, 0);
        clients.push_back(fd);
        server.servePending(echo);  // never waits for the silent ones
    }
    EXPECT_EQ(server.openConnections(), ControlServer::kMaxConnections);
    int closedAtOnce = 0;
    for (int fd : clients) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, 0) > 0 && readAll(fd).empty())
            closedAtOnce++;
    }
    EXPECT_EQ(closedAtOnce, 8);

    close(clients[0]);  // one short of the cap: a request gets through
    EXPECT_EQ(request(server, "status").answer, "OK\n<status>\n");
    EXPECT_EQ(server.openConnections(), ControlServer::kMaxConnections - 1);
    for (int fd : clients)
        close(fd);
}

TEST_F(ControlServerTest, RunningOutOfDescriptorsPausesAcceptingInsteadOfSpinning) {
    // In a child: the descriptor limit is the process's own.
    const pid_t child = fork();
    if (child == 0) {
        ControlServer server;
        std::string error;
        if (server.bind(path, controlsocket::kUserMode, error) !=
            ControlServer::BindResult::Listening)
            _exit(10);
        const int waiting = connectRaw(path);
        const int lowestFree = dup(0);
        close(lowestFree);
        const rlimit limit{static_cast<rlim_t>(lowestFree), static_cast<rlim_t>(lowestFree)};
        if (waiting < 0 || setrlimit(RLIMIT_NOFILE, &limit) != 0)
            _exit(11);
        server.servePending(echo);
        if (!server.isAcceptPaused())
            _exit(12);
        pollfd entry{server.fd(), POLLIN, 0};
        if (poll(&entry, 1, 300) != 0)  // the waiting connection does not wake the loop
            _exit(13);
        if (poll(&entry, 1, 2000) != 1)  // a tick later it tries again
            _exit(14);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(ControlServerTest, AClientGivesUpWhenTheInstanceDoesNotAnswerInTime) {
    // Listening but never served, as during a hang-up's guard time.
    ControlServer server;
    bindOrFail(server);
    Reply reply = controlsocket::sendRequest(path, "status", 300);
    EXPECT_EQ(reply.status, Reply::Status::Timeout);
    EXPECT_TRUE(controlsocket::isAnswering(path));
}

TEST_F(ControlServerTest, ADeferredAnswerComesLaterWholeAndTheWaitWakesNobody) {
    ControlServer server;
    bindOrFail(server);
    std::optional<ControlServer::Ticket> ticket;
    const ControlServer::DeferringHandler later =
        [&](std::string_view, ControlServer::Ticket given) -> std::optional<std::string> {
        ticket = given;
        return std::nullopt;
    };
    Reply reply;
    std::thread client([&] { reply = controlsocket::sendRequest(path, "sessions", 10000); });
    while (!ticket) {
        pollfd entry{server.fd(), POLLIN, 0};
        if (poll(&entry, 1, 20) > 0)
            server.servePending(later);
    }
    // The client has shut its side down and waits: nothing wakes the loop.
    pollfd entry{server.fd(), POLLIN, 0};
    EXPECT_EQ(poll(&entry, 1, 300), 0);
    // Longer than any socket buffer: written as the client reads.
    const std::string answer = "OK\n" + std::string(3 * 1024 * 1024, 'x') + "\n";
    EXPECT_TRUE(server.answerLater(*ticket, answer));
    EXPECT_FALSE(server.answerLater(*ticket, "again"));
    while (server.openConnections() > 0) {
        pollfd again{server.fd(), POLLIN, 0};
        if (poll(&again, 1, 20) > 0)
            server.servePending(later);
    }
    client.join();
    ASSERT_EQ(reply.status, Reply::Status::Answered) << reply.error;
    EXPECT_EQ(reply.answer.size(), answer.size());
}

TEST_F(ControlServerTest, NoSocketMeansNoInstance) {
    EXPECT_EQ(controlsocket::sendRequest(path, "status", 1000).status, Reply::Status::NoInstance);
    EXPECT_FALSE(controlsocket::isAnswering(path));
}

TEST(ControlSocketPath, TheRuntimeFolderWinsElseAPrivateFolderBelowTmp) {
    testsupport::TempFolder folder;
    std::string error;
    EXPECT_EQ(controlsocket::userSocketPath("/run/user/1000", folder.getPath(), error),
              "/run/user/1000/linkmoot.sock");

    const std::string own = folder.file("linkmoot-" + std::to_string(getuid()));
    EXPECT_EQ(controlsocket::userSocketPath("", folder.getPath(), error), own + "/linkmoot.sock");
    EXPECT_EQ(modeOf(own), 0700u);

    // An existing folder of our own that others could enter is made private.
    chmod(own.c_str(), 0755);
    EXPECT_EQ(controlsocket::userSocketPath(nullptr, folder.getPath(), error),
              own + "/linkmoot.sock");
    EXPECT_EQ(modeOf(own), 0700u);
}

// A client only looks: it makes no folder, and takes none that another could
// have put there for it.
TEST(ControlSocketPath, AClientMakesNothingAndTrustsOnlyAPrivateFolderOfItsOwn) {
    testsupport::TempFolder folder;
    EXPECT_EQ(controlsocket::clientSocketPath("/run/user/1000", folder.getPath()),
              "/run/user/1000/linkmoot.sock");
    const std::string own = folder.file("linkmoot-" + std::to_string(getuid()));
    EXPECT_EQ(controlsocket::clientSocketPath(nullptr, folder.getPath()), "");
    struct stat info {};
    EXPECT_NE(lstat(own.c_str(), &info), 0);

    ASSERT_EQ(mkdir(own.c_str(), 0755), 0);
    EXPECT_EQ(controlsocket::clientSocketPath("", folder.getPath()), "");
    chmod(own.c_str(), 0700);
    EXPECT_EQ(controlsocket::clientSocketPath("", folder.getPath()), own + "/linkmoot.sock");
}

TEST(ControlSocketPath, ASymlinkInPlaceOfTheFolderIsRefused) {
    testsupport::TempFolder folder;
    testsupport::TempFolder elsewhere;
    const std::string own = folder.file("linkmoot-" + std::to_string(getuid()));
    ASSERT_EQ(symlink(elsewhere.getPath().c_str(), own.c_str()), 0);
    std::string error;
    EXPECT_EQ(controlsocket::userSocketPath(nullptr, folder.getPath(), error), "");
    EXPECT_NE(error.find("not a folder of your own"), std::string::npos) << error;
}

}  // namespace
}  // namespace linkmoot
