// The libraries only some configurations use, in the real linkmootd: each is
// mapped only once its feature runs, and one that cannot be loaded is an Error
// line and a status row while the rest goes on.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "DaemonProcess.h"
#include "support/TempFolder.h"

namespace {

using daemontest::Instance;
using daemontest::waitUntil;

/// Whether the process has a file mapped whose name contains `part`.
bool mapped(pid_t pid, const std::string& part) {
    return daemontest::readWhole("/proc/" + std::to_string(pid) + "/maps").find(part) !=
           std::string::npos;
}

/// A TCP port that was free a moment ago.
int freeTcpPort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

std::vector<std::string> serverConfig(int port, const std::vector<std::string>& serverKeys,
                                      const std::string& secret = "") {
    std::vector<std::string> lines{"<Configured>1</>", "<Mode>server</>",
                                   "<Port>" + std::to_string(port) + "</>"};
    if (!secret.empty())
        lines.push_back("<Secret>" + secret + "</>");
    lines.insert(lines.end(), {"", "<Server>", "\t<Connection>Simulated modem</>"});
    lines.insert(lines.end(), serverKeys.begin(), serverKeys.end());
    lines.push_back("</Server>");
    return lines;
}

TEST(OptionalLibraries, EachIsMappedOnlyOnceItsFeatureRuns) {
    const std::string secret = "a shared secret of the test";
    struct Case {
        const char* what;
        std::vector<std::string> serverKeys;
        std::string secret;
        std::vector<std::string> expected;  // mapped once the server runs
    };
    const std::string webPort = "\t<WebPort>" + std::to_string(freeTcpPort()) + "</>";
    // The announcement is off where it is not the case's subject: the DNS-SD
    // client brings the bus library, and libsystemd with it.
    const std::string quiet = "\t<Announce>0</>";
    const std::vector<Case> cases = {
        {"simulated line, no page, no secret", {"\t<Dialer>simulated</>", quiet}, "", {}},
        {"a shared secret", {"\t<Dialer>simulated</>", quiet}, secret, {"libsodium"}},
        {"the web page",
         {"\t<Dialer>simulated</>", quiet, webPort},
         "",
         {"libmicrohttpd", "libsodium"}},
        {"looking for NetworkManager", {"\t<Dialer>auto</>", quiet}, "", {"libsystemd"}},
        {"announcing on the LAN",
         {"\t<Dialer>simulated</>"},
         "",
         {"libavahi-client", "libsystemd"}},
    };
    const std::vector<std::string> optional = {"libsodium",  "libmicrohttpd",   "libgnutls",
                                               "libsystemd", "libavahi-client", "libsqlite3"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempFolder folder;
        Instance server(folder.getPath(), "server");
        server.writeConfig(serverConfig(daemontest::freeUdpPort(), c.serverKeys, c.secret));
        server.start({});
        ASSERT_TRUE(server.waitUntilAnswering()) << server.errors();
        for (const std::string& library : c.expected) {
            EXPECT_TRUE(waitUntil([&] { return mapped(server.processId(), library); }, 5000))
                << library << " never mapped";
        }
        // A few ticks more: nothing else comes in by itself.
        usleep(1500 * 1000);
        for (const std::string& library : optional) {
            const bool wanted =
                library == "libgnutls"
                    ? mapped(server.processId(), "libmicrohttpd")
                    : std::find(c.expected.begin(), c.expected.end(), library) != c.expected.end();
            EXPECT_EQ(mapped(server.processId(), library), wanted) << library;
        }
        ASSERT_EQ(server.ctl({"exit"}).exitStatus, 0);
        EXPECT_EQ(server.waitForExit(), 0) << server.errors();
    }
}

TEST(OptionalLibraries, OneThatCannotBeLoadedIsAnErrorAndARowAndItsFeatureIsOff) {
    struct Case {
        const char* what;
        const char* broken;
        std::string secret;
        std::vector<std::string> rows;
    };
    const std::vector<Case> cases = {
        {"the page's library",
         LINKMOOT_MICROHTTPD_SONAME,
         "",
         {"Cannot load " LINKMOOT_MICROHTTPD_SONAME " (", "): the web page cannot be used",
          "Cannot serve the web page: " LINKMOOT_MICROHTTPD_SONAME " cannot be loaded"}},
        {"the cryptography library",
         LINKMOOT_SODIUM_SONAME,
         "a shared secret of the test",
         {"Cannot load " LINKMOOT_SODIUM_SONAME " (",
          "): the shared secret and the web page cannot be used",
          "Cannot serve the web page: No key for its cookies: " LINKMOOT_SODIUM_SONAME
          " cannot be loaded"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempFolder folder;
        // Found before the system's copy: a file that is no library at all.
        const std::string libraries = folder.getPath() + "/lib";
        ASSERT_EQ(mkdir(libraries.c_str(), 0700), 0);
        std::ofstream(libraries + "/" + c.broken) << "not a shared object\n";
        const int webPort = freeTcpPort();
        Instance server(folder.getPath(), "server");
        server.extraEnvironment = {"LD_LIBRARY_PATH=" + libraries};
        server.writeConfig(serverConfig(
            daemontest::freeUdpPort(),
            {"\t<Dialer>simulated</>", "\t<WebPort>" + std::to_string(webPort) + "</>"}, c.secret));
        server.start({});
        ASSERT_TRUE(server.waitUntilAnswering()) << server.errors();
        std::string status;
        EXPECT_TRUE(waitUntil(
            [&] {
                status = server.ctl({"status"}).out;
                for (const std::string& row : c.rows) {
                    if (status.find(row) == std::string::npos)
                        return false;
                }
                return true;
            },
            5000))
            << status;
        // Once, at Error, even when the library was wanted before the log opened.
        EXPECT_TRUE(
            waitUntil([&] { return server.log().find(c.rows[0]) != std::string::npos; }, 3000));
        const std::string log = server.log();
        const std::size_t line = log.find(c.rows[0]);
        ASSERT_NE(line, std::string::npos) << log;
        EXPECT_EQ(log.find(c.rows[0], line + 1), std::string::npos) << log;
        const std::size_t lineStart =
            log.rfind('\n', line) == std::string::npos ? 0 : log.rfind('\n', line) + 1;
        EXPECT_NE(log.substr(lineStart, line - lineStart).find("] Error ("), std::string::npos)
            << "not at Error: " << log;
        // The rest of the server runs and shows its line.
        EXPECT_NE(status.find("RAS dial-up is not connected."), std::string::npos) << status;
        ASSERT_EQ(server.ctl({"exit"}).exitStatus, 0);
        EXPECT_EQ(server.waitForExit(), 0) << server.errors();
    }
}

}  // namespace
