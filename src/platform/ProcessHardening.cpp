#include "platform/ProcessHardening.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>

namespace linkmoot {

bool disableCoreDumps() {
    // Not dumpable also means: no ptrace and no /proc/PID/mem or environ for
    // other processes of the same user, only for root.
    if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0)
        return true;
    fprintf(stderr, "warning: cannot turn core dumps off: %s\n", strerror(errno));
    return false;
}

}  // namespace linkmoot
