// linkmootd's log as a system service has it: in the folder systemd names
// (LOGS_DIRECTORY), and on standard error when that is the journal's stream,
// every line from the first on with the journal's priority and no time stamp.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "DaemonProcess.h"
#include "support/TempFolder.h"

namespace {

TEST(DaemonLogTest, AServicesLogGoesToItsLogsFolderAndEveryLineToTheJournalWithItsPriority) {
    testsupport::TempFolder folder;
    daemontest::Instance instance(folder.getPath(), "service");
    const std::string logs = folder.file("logs");
    ASSERT_EQ(mkdir(logs.c_str(), 0700), 0);
    int journal = open(instance.stderrFile().c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ASSERT_GE(journal, 0);
    struct stat status {};
    ASSERT_EQ(fstat(journal, &status), 0);
    std::vector<std::string> environment = instance.environment();
    environment.push_back("LOGS_DIRECTORY=" + logs);
    environment.push_back("JOURNAL_STREAM=" + std::to_string(status.st_dev) + ":" +
                          std::to_string(status.st_ino));

    // Not configured and no terminal: it logs its start and exits with 2.
    pid_t pid = fork();
    if (pid == 0) {
        int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, 0);
        dup2(devNull, 1);
        dup2(journal, 2);
        for (const std::string& entry : environment)
            putenv(const_cast<char*>(entry.c_str()));
        std::string program = instance.program();
        char info[] = "/log:info";
        char* argv[] = {program.data(), info, nullptr};
        execv(argv[0], argv);
        _exit(127);
    }
    close(journal);
    int exitStatus = 0;
    ASSERT_TRUE(
        daemontest::waitUntil([&] { return waitpid(pid, &exitStatus, WNOHANG) == pid; }, 20000));
    ASSERT_TRUE(WIFEXITED(exitStatus));
    EXPECT_EQ(WEXITSTATUS(exitStatus), 2);

    const std::string errors = daemontest::readWhole(instance.stderrFile());
    EXPECT_EQ(errors.rfind("<6>Info (Logger.cpp:90) Logger initialized\n", 0), 0u) << errors;
    EXPECT_NE(errors.find("\n<3>linkmootd: not configured yet"), std::string::npos) << errors;
    EXPECT_NE(errors.find("\n<6>Info (Logger.cpp:100) Shutting down logger\n"), std::string::npos)
        << errors;
    EXPECT_EQ(errors.find('\r'), std::string::npos);
    EXPECT_EQ(errors.find("[20"), std::string::npos) << errors;

    EXPECT_FALSE(std::filesystem::exists(instance.logFile()));
    const std::string log = daemontest::readWhole(logs + "/linkmootd.log");
    EXPECT_NE(log.find("] Info (Logger.cpp:90) Logger initialized\r\n"), std::string::npos) << log;
}

}  // namespace
