#include <sys/auxv.h>

#include "ToolBox/posix/Os.h"

namespace toolbox::os {

// The kernel hands a starting process its ids in the auxiliary vector, which
// is in memory already; geteuid and getuid lie in a page of libc that nothing
// else an idle daemon runs needs, and that page then stays resident.
uint32_t effectiveUserId() {
    return static_cast<uint32_t>(getauxval(AT_EUID));
}

uint32_t realUserId() {
    return static_cast<uint32_t>(getauxval(AT_UID));
}

}  // namespace toolbox::os
