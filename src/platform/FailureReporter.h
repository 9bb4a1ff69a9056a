#pragma once
// A dial service's failure callback, for reports made on the service's own
// threads: a report and a change of the callback never overlap, so once the
// callback is emptied (its owner is going away) it is never called again.
#include <mutex>
#include <string>
#include <utility>

#include "DialService.h"

namespace linkmoot {

class FailureReporter {
public:
    void set(DialService::FailureCallback newCallback) {
        std::lock_guard<std::mutex> lock(mutex);
        callback = std::move(newCallback);
    }

    /// Calls the callback, if any, while holding the lock.
    void report(DialHandle handle, const std::string& reason) {
        std::lock_guard<std::mutex> lock(mutex);
        if (callback)
            callback(handle, reason);
    }

private:
    std::mutex mutex;
    DialService::FailureCallback callback;
};

}  // namespace linkmoot
