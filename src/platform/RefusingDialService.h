#pragma once
#include <functional>
#include <string>

#include "DialService.h"

namespace linkmoot {

/// Stands in where no dial-up service can be used: it lists nothing and refuses
/// every dial at once with an Error line that says why and what to do.
class RefusingDialService : public DialService {
public:
    /// `lister`, when given, lists instead (a service still being chosen).
    RefusingDialService(std::string name, std::string reason,
                        std::function<void(EntriesCallback done)> lister = nullptr)
        : serviceName(std::move(name)), reason(std::move(reason)), lister(std::move(lister)) {}

    const char* name() const override { return serviceName.c_str(); }
    void listEntries(EntriesCallback done) override {
        if (lister)
            lister(std::move(done));
        else
            done({});
    }
    bool dial(const DialRequest& request, DialHandle& handle, std::string& error) override;
    void hangUp(DialHandle) override {}
    LineState state(DialHandle) override { return LineState::Disconnected; }
    void setFailureCallback(FailureCallback) override {}

private:
    std::string serviceName;
    std::string reason;
    std::function<void(EntriesCallback done)> lister;
};

}  // namespace linkmoot
