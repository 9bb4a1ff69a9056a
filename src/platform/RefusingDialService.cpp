#include "platform/RefusingDialService.h"

#include <chrono>
#include <thread>

#include "ToolBox/Logger.h"

namespace linkmoot {

bool RefusingDialService::dial(const DialRequest&, DialHandle& handle, std::string& error) {
    handle = 0;
    error = reason;
    LM_LOG(Error, "%s", reason.c_str());
    return false;
}

}  // namespace linkmoot
