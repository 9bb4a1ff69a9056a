#include "Server.h"

#include <algorithm>

#include "Clock.h"
#include "LogText.h"
#include "PlanMeter.h"
#include "ToolBox/Logger.h"
#include "UdpSocket.h"

namespace linkmoot {

protocol::Line protocolLineOf(LineStatus line) {
    switch (line) {
        case LineStatus::Down:
            return protocol::Line::Down;
        case LineStatus::Dialling:
            return protocol::Line::Dialling;
        case LineStatus::Up:
            return protocol::Line::Up;
        case LineStatus::Failed:
            return protocol::Line::Failed;
        case LineStatus::Guard:
            return protocol::Line::Guard;
    }
    return protocol::Line::Down;
}

Server::Server(Settings settings, Network& network, Clock& clock, DialServiceProvider& dialers,
               ShutdownService& shutdown, KeyStore* keys, UsageRecorder* usage, PlanMeter* plan)
    : settings(settings),
      network(network),
      clock(clock),
      plan(plan),
      intake(network, clock, keys),
      lineControl(settings, clock, dialers, usage, plan),
      idle(settings, clock, shutdown) {
    LM_LOG(Debug, "Created server");
}

Server::~Server() {
    LM_LOG(Debug, "Destroying server");
    stop();
    LM_LOG(Debug, "Destroyed server");
}

bool Server::start() {
    LM_LOG(Info, "Starting server");
    if (intake.isOpen())
        return true;
    if (!intake.open(settings.get(keys::Port), settings.get(keys::AllowedNetworks)))
        return false;
    starts++;
    std::string name;
    hostName = network.computerName(name) ? protocol::answerHostName(name) : std::string();
    lineControl.prepare();
    LM_LOG(Debug, "Server started");
    return true;
}

void Server::stop(EndReason reason) {
    LM_LOG(Debug, "Stopping server");
    lineControl.stop(idle.lastVoteTime() == IdleShutdown::kDisarmed ? EndReason::IdleShutdown
                                                                    : reason);
    intake.close();
    votes.clear();
    LM_LOG(Info, "Server stopped");
}

bool Server::poll() {
    if (!intake.isOpen())
        return false;
    LM_LOG(Debug, "Checking server socket for votes");
    const uint32_t now = clock.tickCount();
    bool changed = votes.expire(now);
    // A timed vote is not re-sent, yet it is a vote held: the computer stays up.
    if (votes.holdsTimedVote())
        idle.rearm();
    intake.answerBroadcasts(announce.get());
    const VoteIntake::Served served = intake.read(votes, now);
    if (served.voted)
        idle.rearm();
    changed = changed || served.any;
    lineControl.step(votes);
    if (intake.hasPending())
        intake.answer(report(), votes, now);
    intake.housekeeping(now);
    idle.check();
    return changed;
}

protocol::LineReport Server::report() const {
    protocol::LineReport report;
    report.line = protocolLineOf(line());
    report.votes = static_cast<uint64_t>(votes.size());
    report.upSeconds = secondsUp();
    if (const uint32_t retry = retryWaitSeconds(); retry > 0)
        report.retrySeconds = retry;
    report.host = hostName;
    if (plan != nullptr && plan->status().active) {
        const PlanStatus& status = plan->status();
        protocol::PlanReport figures;
        figures.capMB = status.config.limits.dataCapBytes / 1000000;
        figures.usedMB = status.figures.usedBytes / 1000000;
        figures.capMinutes = status.config.limits.timeCapMinutes;
        figures.usedMinutes = status.figures.usedMinutes;
        figures.reset = static_cast<uint64_t>(std::max<int64_t>(0, status.cycle.end));
        figures.capped = status.capped;
        report.plan = figures;
    }
    return report;
}

bool Server::webVote(const std::string& name, uint32_t minutes) {
    if (!intake.isOpen())
        return false;
    votes.webVote(name, clock.tickCount(), minutes);
    idle.rearm();
    LM_LOG(Debug, "Received a vote from host '%s'", printable(name.c_str()).c_str());
    return true;
}

bool Server::webUnvote(const std::string& name) {
    if (!votes.webUnvote(name))
        return false;
    LM_LOG(Debug, "Received an unvote from host '%s'", printable(name.c_str()).c_str());
    return true;
}

}  // namespace linkmoot
