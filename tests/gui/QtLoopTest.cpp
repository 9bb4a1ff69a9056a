// The session's loop over Qt: the control socket served from it (also while a
// request's own modal dialog is open), and its one-shot timers.
#include <QDialog>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <thread>

#include "ControlCommands.h"
#include "Linkmoot.h"
#include "QtLoop.h"
#include "platform/ControlServer.h"

using namespace linkmoot;

namespace {

class ScriptedTarget : public control::CommandTarget {
public:
    QList<int> commands;
    std::function<void(int)> onCommand;
    void runCommand(int commandId) override {
        commands << commandId;
        if (onCommand)
            onCommand(commandId);
    }
    StatusSnapshot currentStatus() override {
        return computeStatus({true, true, true, false, {"A"}});
    }
};

/// Sends one request from a thread of its own, so the loop here can answer.
struct Request {
    std::atomic<bool> done{false};
    controlsocket::Reply reply;
    std::thread thread;
    Request(const std::string& path, std::string line) {
        thread = std::thread([this, path, line] {
            reply = controlsocket::sendRequest(path, line, 8000);
            done = true;
        });
    }
    ~Request() { thread.join(); }
};

struct Fixture {
    QTemporaryDir folder;
    std::string path = folder.filePath(QStringLiteral("linkmoot.sock")).toStdString();
    ControlServer server;
    ScriptedTarget target;
    QtLoop loop;
    Fixture() {
        std::string error;
        if (server.bind(path, controlsocket::kUserMode, error) !=
            ControlServer::BindResult::Listening) {
            qFatal("bind: %s", error.c_str());
        }
        // A request may open a question box; its loop keeps the watch live,
        // so further requests (status, exit) are answered meanwhile.
        loop.watch(server.fd(), [this] {
            server.servePending(
                [this](std::string_view request) { return control::handle(target, request); });
        });
    }
    ~Fixture() { loop.unwatch(server.fd()); }
};

}  // namespace

class QtLoopTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void answersFromTheEventLoop() {
        Fixture fixture;
        {
            Request status(fixture.path, "status");
            QTRY_VERIFY_WITH_TIMEOUT(status.done, 10000);
            QCOMPARE(status.reply.status, controlsocket::Reply::Status::Answered);
            QCOMPARE(QString::fromStdString(status.reply.answer),
                     QStringLiteral("OK\nConnected (1 vote(s)) - You are not voting\n"
                                    "RAS dial-up is connected, votes:\nVote from A\n"));
        }
        {
            Request bogus(fixture.path, "format c:");
            QTRY_VERIFY_WITH_TIMEOUT(bogus.done, 10000);
            QVERIFY(QString::fromStdString(bogus.reply.answer).startsWith(QStringLiteral("ERROR")));
        }
        QVERIFY(fixture.target.commands.isEmpty());
    }

    void answersWhileARequestHoldsAModalDialog() {
        Fixture fixture;
        std::unique_ptr<Request> second;
        bool statusAnswered = false;
        // Connect opens a dialog (as a failing vote's question would) and waits
        // in its loop until another request has been answered meanwhile.
        fixture.target.onCommand = [&](int) {
            QDialog dialog;
            QTimer poll;
            connect(&poll, &QTimer::timeout, &dialog, [&] {
                if (second && second->done) {
                    statusAnswered = second->reply.status == controlsocket::Reply::Status::Answered;
                    dialog.accept();
                }
            });
            poll.start(10);
            QTimer::singleShot(9000, &dialog, &QDialog::reject);
            second = std::make_unique<Request>(fixture.path, "status");
            dialog.exec();
        };
        Request first(fixture.path, "connect");
        QTRY_VERIFY_WITH_TIMEOUT(first.done, 10000);
        QVERIFY(statusAnswered);
        QCOMPARE(QString::fromStdString(first.reply.answer), QStringLiteral("OK\n"));
        QCOMPARE(fixture.target.commands, QList<int>{Command::Connect});
    }

    // The web page's deadlines: once each, never when cancelled, and a timer
    // may cancel itself or start the next from its own handler.
    void timersRunOnceUnlessCancelled() {
        QtLoop loop;
        QStringList ran;
        loop.startTimer(20, [&] { ran << QStringLiteral("later"); });
        const Loop::TimerId cancelled = loop.startTimer(10, [&] { ran << QStringLiteral("no"); });
        Loop::TimerId self = 0;
        self = loop.startTimer(0, [&] {
            ran << QStringLiteral("now");
            loop.cancelTimer(self);
            loop.startTimer(0, [&] { ran << QStringLiteral("chained"); });
        });
        loop.cancelTimer(cancelled);
        QTRY_COMPARE_WITH_TIMEOUT(ran.size(), 3, 5000);
        QTest::qWait(50);
        QCOMPARE(ran, (QStringList{QStringLiteral("now"), QStringLiteral("chained"),
                                   QStringLiteral("later")}));
    }
};

QTEST_MAIN(QtLoopTest)
#include "QtLoopTest.moc"
