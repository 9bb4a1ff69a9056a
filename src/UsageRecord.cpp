#include "UsageRecord.h"

namespace linkmoot {

const char* endReasonName(EndReason reason) {
    switch (reason) {
        case EndReason::NoMoreVotes:
            return "no more votes";
        case EndReason::PeriodicRedial:
            return "periodic re-dial";
        case EndReason::Failed:
            return "failed";
        case EndReason::DroppedByLine:
            return "dropped by the line";
        case EndReason::ServerStopped:
            return "server stopped";
        case EndReason::Exit:
            return "exit";
        case EndReason::IdleShutdown:
            return "idle shutdown";
        case EndReason::Interrupted:
            return "interrupted";
        case EndReason::DataCap:
            return "data cap";
    }
    return "unknown";
}

std::optional<EndReason> endReasonOf(int number) {
    if (number < 1 || number > static_cast<int>(kLastEndReason))
        return std::nullopt;
    return static_cast<EndReason>(number);
}

}  // namespace linkmoot
