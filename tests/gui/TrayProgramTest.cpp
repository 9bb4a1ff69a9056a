// The real tray program as a process on the offscreen platform: it serves the
// control socket (Connect sends the vote at once), refuses a second instance
// of the same user, a SIGHUP reads the configuration file again, and a SIGTERM
// (the session ending) runs Exit: the vote is withdrawn, the configuration
// saved and the exit status is 0.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

#include "platform/ControlServer.h"
#include "support/LoopbackVoter.h"

#ifndef LINKMOOT_PATH
#error "LINKMOOT_PATH must name the built linkmoot"
#endif

using testsupport::VoteListener;

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

    void writeConfig(int port) {
        QFile config(configFile());
        QVERIFY(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
        config.write(QStringLiteral("<Configured>1</>\r\n<Mode>client</>\r\n<Port>%1</>\r\n\r\n"
                                    "<Client>\r\n\t<Server>127.0.0.1</>\r\n"
                                    "</Client>\r\n")
                         .arg(port)
                         .toUtf8());
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
};

QTEST_GUILESS_MAIN(TrayProgramTest)
#include "TrayProgramTest.moc"
