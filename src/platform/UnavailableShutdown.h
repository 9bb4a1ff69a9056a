#pragma once
#include "ShutdownService.h"

namespace linkmoot {

/// Used where no shutdown facility can be reached: it never claims success.
class UnavailableShutdown : public ShutdownService {
public:
    bool acquireRight(std::string&) override { return true; }
    bool powerOff(const std::string&, unsigned, std::string& error) override {
        error = "no shutdown service available";
        return false;
    }
};

}  // namespace linkmoot
