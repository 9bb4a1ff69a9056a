#include "platform/ProcessHardening.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace linkmoot {
namespace {

// The owner of /proc/self as the process sees it: root's once the process is
// not dumpable, which keeps other processes of its user out of its memory.
uid_t procOwner() {
    struct stat info {};
    return stat("/proc/self/stat", &info) == 0 ? info.st_uid : static_cast<uid_t>(-1);
}

TEST(ProcessHardeningTest, OtherProcessesOfTheUserCannotReadTheMemoryAnyMore) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to become another user";
    const pid_t child = fork();
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0)
            _exit(10);
        prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);  // changing users turned it off
        if (procOwner() != kNobody)
            _exit(11);
        if (!disableCoreDumps())
            _exit(12);
        _exit(procOwner() == 0 && prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 0 ? 0 : 13);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace linkmoot
