// The real tray program as a process on the offscreen platform: it serves the
// control socket (Connect sends the vote at once), refuses a second instance
// of the same user, a SIGHUP reads the configuration file again, and a SIGTERM
// (the session ending) runs Exit: the vote is withdrawn, the configuration
// saved and the exit status is 0. As a server it serves the phones' web page
// from its event loop.
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>

#include "platform/ControlServer.h"
#include "support/LoopbackVoter.h"

#ifndef LINKMOOT_PATH
#error "LINKMOOT_PATH must name the built linkmoot"
#endif

using testsupport::VoteListener;

namespace {

/// A loopback port of the given socket type that nothing holds right now.
int freePort(int type) {
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

/// One request on a fresh loopback connection and the whole answer (the
/// request asks to close); empty when nobody listens. Two seconds at most
/// for each step, so a hung page fails the test instead of blocking it.
std::string httpExchange(int port, const std::string& request) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval limit{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        for (ssize_t got; (got = recv(fd, buffer, sizeof(buffer), 0)) > 0;)
            answer.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    return answer;
}

/// Polls until the condition holds or the time is up by the clock: QTRY counts
/// its pauses only, and each try here may block for its own time-out.
template <typename Condition>
bool holdsWithin(int timeoutMs, Condition condition) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(100);
    }
    return true;
}

}  // namespace

class TrayProgramTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    VoteListener server;
    VoteListener moved;

    QString path(const QString& name) const { return folder.filePath(name); }
    QString configFile() const {
        return path(QStringLiteral("config/Fennel Brookworks/Linkmoot/linkmoot.cfg"));
    }
    std::string socketPath() const {
        return path(QStringLiteral("runtime/linkmoot.sock")).toStdString();
    }

    void prepare(QProcess& process) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("runtime")));
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
                   QStringLiteral("unix:path=/nonexistent/linkmoot-test-bus"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                   QStringLiteral("unix:path=/nonexistent/linkmoot-test-bus"));
        process.setProcessEnvironment(env);
        process.setProgram(path(QStringLiteral("bin/linkmoot")));
        process.setArguments({QStringLiteral("/log:info")});
    }

    bool answers() const {
        return linkmoot::controlsocket::sendRequest(socketPath(), "status", 2000).status ==
               linkmoot::controlsocket::Reply::Status::Answered;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(folder.isValid());
        QDir root(folder.path());
        QVERIFY(root.mkpath(QStringLiteral("bin")));
        QVERIFY(root.mkpath(QStringLiteral("runtime")));
        QVERIFY(root.mkpath(QStringLiteral("config/Fennel Brookworks/Linkmoot")));
        QFile::setPermissions(path(QStringLiteral("runtime")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // A copy of its own, so its log lies in the temporary folder.
        QVERIFY(QFile::copy(QStringLiteral(LINKMOOT_PATH), path(QStringLiteral("bin/linkmoot"))));
        writeConfig(server.port);
    }

    void writeConfigText(const QString& text) {
        QFile config(configFile());
        QVERIFY(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
        config.write(text.toUtf8());
    }

    void writeConfig(int port) {
        writeConfigText(QStringLiteral("<Configured>1</>\r\n<Mode>client</>\r\n<Port>%1</>\r\n\r\n"
                                       "<Client>\r\n\t<Server>127.0.0.1</>\r\n"
                                       "</Client>\r\n")
                            .arg(port));
    }

    void votesServesTheSocketRefusesASecondReloadsOnSighupAndExitsCleanlyOnSigterm() {
        QProcess first;
        prepare(first);
        first.start();
        QVERIFY(first.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(answers(), 10000);
        QCOMPARE(linkmoot::controlsocket::sendRequest(socketPath(), "connect", 2000).answer,
                 std::string("OK\n"));
        QCOMPARE(server.next(10000), "vote:" + testsupport::shortHostName());
        linkmoot::controlsocket::Reply status =
            linkmoot::controlsocket::sendRequest(socketPath(), "status", 2000);
        QVERIFY2(status.answer.find("OK\nVoting for connection") == 0, status.answer.c_str());

        // An edit and SIGHUP: the vote leaves the old server for the new one.
        writeConfig(moved.port);
        ::kill(static_cast<pid_t>(first.processId()), SIGHUP);
        QCOMPARE(moved.next(10000), "vote:" + testsupport::shortHostName());
        std::string last;
        for (std::string datagram; !(datagram = server.next(500)).empty();)
            last = datagram;
        QCOMPARE(last, "unvote:" + testsupport::shortHostName());

        QProcess second;
        prepare(second);
        second.start();
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 1);
        QVERIFY(second.readAllStandardError().contains("already runs"));

        first.terminate();  // SIGTERM
        QVERIFY(first.waitForFinished(15000));
        QCOMPARE(first.exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.exitCode(), 0);
        for (std::string datagram; !(datagram = moved.next(1000)).empty();)
            last = datagram;
        QCOMPARE(last, "unvote:" + testsupport::shortHostName());
        QFile config(configFile());
        QVERIFY(config.open(QIODevice::ReadOnly));
        QVERIFY(config.readAll().contains("<Configured>1</>\r\n"));
        QFile log(path(QStringLiteral("bin/linkmoot.log")));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("Shutting down logger"));
    }

    // The page runs on the tray's event loop (a notifier on the server's
    // descriptor): a phone reads the state and votes, the vote is a row of the
    // status, and Exit closes the port.
    void servesTheWebPageAsAServerAndItsVotesCount() {
        const int webPort = freePort(SOCK_STREAM);
        QVERIFY(webPort > 0);
        writeConfigText(QStringLiteral("<Configured>1</>\r\n<Mode>server</>\r\n<Port>%1</>\r\n\r\n"
                                       "<Server>\r\n\t<Connection>Simulated modem</>\r\n"
                                       "\t<Dialer>simulated</>\r\n\t<WebPort>%2</>\r\n"
                                       "</Server>\r\n")
                            .arg(freePort(SOCK_DGRAM))
                            .arg(webPort));
        QProcess tray;
        prepare(tray);
        tray.start();
        QVERIFY(tray.waitForStarted(10000));
        QVERIFY(holdsWithin(10000, [this] { return answers(); }));

        const std::string host = "Host: 127.0.0.1:" + std::to_string(webPort) + "\r\n";
        const std::string getState =
            "GET /api/state HTTP/1.1\r\n" + host + "Connection: close\r\n\r\n";
        std::string answer;
        QVERIFY(holdsWithin(10000,
                            [&] { return !(answer = httpExchange(webPort, getState)).empty(); }));
        QVERIFY2(answer.rfind("HTTP/1.1 200", 0) == 0, answer.c_str());
        const std::size_t body = answer.find("\r\n\r\n");
        QVERIFY2(body != std::string::npos, answer.c_str());
        const QJsonObject state =
            QJsonDocument::fromJson(QByteArray::fromStdString(answer.substr(body + 4))).object();
        QCOMPARE(state.value(QStringLiteral("line")).toString(), QStringLiteral("down"));

        const std::string vote = R"({"name":"anna","minutes":15})";
        answer = httpExchange(webPort, "POST /api/vote HTTP/1.1\r\n" + host +
                                           "Content-Type: application/json\r\n"
                                           "Content-Length: " +
                                           std::to_string(vote.size()) +
                                           "\r\nConnection: close\r\n\r\n" + vote);
        QVERIFY2(answer.rfind("HTTP/1.1 200", 0) == 0, answer.c_str());
        std::string status;
        const bool listed = holdsWithin(5000, [&] {
            status = linkmoot::controlsocket::sendRequest(socketPath(), "status", 2000).answer;
            return status.find("Vote from web:anna (15 min left)") != std::string::npos ||
                   status.find("Vote from web:anna (14 min left)") != std::string::npos;
        });
        QVERIFY2(listed, status.c_str());

        tray.terminate();  // SIGTERM
        QVERIFY(tray.waitForFinished(15000));
        QCOMPARE(tray.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tray.exitCode(), 0);
        QVERIFY(httpExchange(webPort, getState).empty());
    }
};

QTEST_GUILESS_MAIN(TrayProgramTest)
#include "TrayProgramTest.moc"
