// The three views of the usage figures agree on one database: a real
// linkmootd's `linkmootctl usage --json`, its web page's /api/usage (with the
// password, so with names), and the tray's usage window over the same file.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QProcess>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "UsageText.h"
#include "UsageWindow.h"
#include "platform/PosixLocalTime.h"
#include "platform/UsageDatabase.h"

using namespace linkmoot;

namespace {

int freePort(int type) {
    const int fd = socket(AF_INET, type, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

/// The body of one GET on loopback, or "" when it could not be had.
std::string httpGet(int port, const std::string& path, const std::string& password) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return "";
    }
    const std::string request = "GET " + path +
                                " HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                "\r\nAuthorization: Bearer " + password + "\r\n\r\n";
    send(fd, request.data(), request.size(), 0);
    std::string answer;
    char buffer[4096];
    for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, 0)) > 0;)
        answer.append(buffer, static_cast<std::size_t>(got));
    close(fd);
    const std::size_t body = answer.find("\r\n\r\n");
    return body == std::string::npos ? "" : answer.substr(body + 4);
}

}  // namespace

class UsageViewsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void theViewsAgreeOnOneDatabase();
};

void UsageViewsTest::theViewsAgreeOnOneDatabase() {
    QTemporaryDir root;
    const QString state = root.path() + "/state";
    QDir().mkpath(state + "/linkmoot");
    const std::string file = (state + "/linkmoot/linkmootd.db").toStdString();
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    {
        UsageDatabase database(file);
        std::string error;
        QVERIFY2(database.open(error), error.c_str());
        for (int i = 0; i < 4; ++i) {
            SessionRecord session;
            session.startMs = now - (i * 3 + 1) * 86400000LL / 2;
            session.endMs = session.startMs + 600000;
            session.clockSynchronised = true;
            session.onlineMs = 590000;
            session.diallingMs = 10000;
            session.bytesIn = 1000000ull * (i + 1);
            session.bytesOut = session.bytesIn / 10;
            session.ended = EndReason::NoMoreVotes;
            session.interfaceName = "ppp0";
            session.buckets = {{bucketOf(session.startMs / 1000), session.bytesIn, session.bytesOut,
                                session.onlineMs}};
            session.voters = {{"office-pc", 590000, session.bytesIn, session.bytesOut},
                              {"<b>web:anna</b>", 300000, 0, 0}};
            int64_t row = 0;
            QVERIFY2(database.save(session, row, error), error.c_str());
        }
    }

    const QString config = root.path() + "/config/Fennel Brookworks/Linkmoot";
    QDir().mkpath(config);
    QDir().mkpath(root.path() + "/runtime");
    QFile::setPermissions(root.path() + "/runtime",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const int webPort = freePort(SOCK_STREAM);
    QFile cfg(config + "/linkmootd.cfg");
    QVERIFY(cfg.open(QIODevice::WriteOnly));
    cfg.write(QStringLiteral("<Configured>1</>\r\n<Mode>server</>\r\n<Port>%1</>\r\n<Server>\r\n"
                             "\t<Dialer>simulated</>\r\n\t<WebPort>%2</>\r\n"
                             "\t<WebPassword>secret</>\r\n</Server>\r\n")
                  .arg(freePort(SOCK_DGRAM))
                  .arg(webPort)
                  .toUtf8());
    cfg.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", root.path() + "/config");
    environment.insert("XDG_RUNTIME_DIR", root.path() + "/runtime");
    environment.insert("XDG_STATE_HOME", state);
    QProcess daemon;
    daemon.setProcessEnvironment(environment);
    daemon.start(QStringLiteral(LINKMOOTD_PATH), {});
    QVERIFY(daemon.waitForStarted());

    auto ctlJson = [&]() -> nlohmann::json {
        QProcess ctl;
        ctl.setProcessEnvironment(environment);
        ctl.start(QStringLiteral(LINKMOOTCTL_PATH), {"usage", "--json"});
        ctl.waitForFinished(10000);
        const std::string out = ctl.readAllStandardOutput().toStdString();
        return nlohmann::json::parse(out, nullptr, false);
    };
    nlohmann::json fromCtl;
    QTRY_VERIFY_WITH_TIMEOUT((fromCtl = ctlJson()).is_object() && fromCtl["historyLoaded"] == true,
                             15000);
    const nlohmann::json fromWeb =
        nlohmann::json::parse(httpGet(webPort, "/api/usage", "secret"), nullptr, false);
    QCOMPARE(QString::fromStdString(fromWeb.dump()), QString::fromStdString(fromCtl.dump()));
    QCOMPARE(fromCtl["last30Days"]["sessions"].get<int>(), 4);

    // The tray's window over the same file.
    PosixLocalTime local;
    UsageWindow window;
    window.setSource([&] {
        UsageDatabase database(file);
        std::string error;
        UsageHistory history;
        if (database.open(error))
            database.loadHistory(now / 1000 - UsageHistory::kKeptSeconds, history, error);
        UsageReport report = composeReport(history, nullptr, local, now / 1000);
        report.historyLoaded = true;
        return UsageWindowFigures{report, ""};
    });
    QCOMPARE(QString::fromStdString(usageJson(window.report(), true).dump()),
             QString::fromStdString(fromCtl.dump()));
    const nlohmann::json& voters = fromCtl["month"]["voters"];
    QCOMPARE(window.voters()->rowCount(), static_cast<int>(voters.size()));
    for (int row = 0; row < window.voters()->rowCount(); ++row)
        QCOMPARE(window.voters()->item(row, 0)->text().toStdString(),
                 voters[static_cast<std::size_t>(row)]["name"].get<std::string>());
    QCOMPARE(window.chart()->days().size(), fromCtl["days"].size());
    for (std::size_t day = 0; day < fromCtl["days"].size(); ++day)
        QCOMPARE(window.chart()->days()[day].figures.bytesIn,
                 fromCtl["days"][day]["bytesIn"].get<uint64_t>());

    daemon.terminate();
    QVERIFY(daemon.waitForFinished(15000));
}

QTEST_MAIN(UsageViewsTest)
#include "UsageViewsTest.moc"
