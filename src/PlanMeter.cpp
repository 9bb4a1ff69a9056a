#include "PlanMeter.h"

#include <algorithm>
#include <cstdio>

#include "Clock.h"
#include "LocalTime.h"
#include "LogText.h"
#include "ToolBox/Config.h"
#include "ToolBox/Logger.h"
#include "UsageRecorder.h"

namespace linkmoot {

namespace {

int64_t nowSeconds(Clock& clock) {
    return static_cast<int64_t>(clock.wallClock().unixMs / 1000);
}

uint64_t corrected(uint64_t counted, int64_t correction) {
    const int64_t sum = static_cast<int64_t>(counted) + correction;
    return sum > 0 ? static_cast<uint64_t>(sum) : 0;
}

/// "10", "2.5": a cap in its unit, without a needless ".0".
std::string trimmedDecimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    std::string shown = text;
    if (shown.size() > 2 && shown.compare(shown.size() - 2, 2, ".0") == 0)
        shown.resize(shown.size() - 2);
    return shown;
}

}  // namespace

std::string resetText(int64_t unixSeconds, const LocalTime& local, bool withHour) {
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const LocalDateTime reading = local.readingAt(unixSeconds);
    char text[32];
    if (withHour)
        std::snprintf(text, sizeof text, "%u %s %02u:%02u", reading.date.day,
                      kMonths[(reading.date.month + 11) % 12], reading.hour, reading.minute);
    else
        std::snprintf(text, sizeof text, "%u %s", reading.date.day,
                      kMonths[(reading.date.month + 11) % 12]);
    return text;
}

std::string planSummary(uint64_t usedMB, uint64_t capMB, uint64_t usedMinutes, uint64_t capMinutes,
                        int64_t reset, const LocalTime& local) {
    std::string text;
    if (capMB != 0) {
        const bool gigabytes = capMB >= 1000;
        const double scale = gigabytes ? 1000.0 : 1.0;
        char used[32];
        std::snprintf(used, sizeof used, gigabytes ? "%.1f" : "%.0f",
                      static_cast<double>(usedMB) / scale);
        text = std::string(used) + " of " + trimmedDecimal(static_cast<double>(capMB) / scale) +
               (gigabytes ? " GB" : " MB");
    }
    if (capMinutes != 0) {
        text += std::string(text.empty() ? "" : ", ") + std::to_string(usedMinutes) + " of " +
                std::to_string(capMinutes) + " min";
    }
    if (text.empty())
        return text;
    return text + " used, resets " + resetText(reset, local, false);
}

PlanMeter::PlanMeter(Settings settings, UsageRecorder& usage, LocalTime& local, Clock& clock)
    : settings(settings), usage(usage), local(local), clock(clock) {}

void PlanMeter::readConfiguration() {
    // Reading the plan's keys was an eighth of an idle tick; they rarely change.
    if (configReadAt && *configReadAt == toolbox::configChangeCount()) {
        configChanged = false;
        return;
    }
    PlanReading reading = readPlan(settings);
    configReadAt = toolbox::configChangeCount();
    configChanged = reading.fingerprint != fingerprint;
    if (!configChanged)
        return;
    fingerprint = reading.fingerprint;
    for (const std::string& error : reading.errors)
        LM_LOG(Error, "%s", error.c_str());
    for (const std::string& warning : reading.warnings)
        LM_LOG(Warn, "%s", warning.c_str());
    const bool wasActive = current.active;
    current.config = reading.config;
    current.active = current.config.active();
    if (current.active && !wasActive)
        LM_LOG(Info, "Data plan: %s", describePlan(current.config).c_str());
}

PlanUse PlanMeter::counted(const Cycle& cycle) {
    const FreeHours& free = current.config.freeHours;
    const auto add = [&](PlanUse& use, const UsageBucket& bucket) {
        if (!free.empty() && free.contains(bucket.start, local))
            return;
        use.bytesIn += bucket.bytesIn;
        use.bytesOut += bucket.bytesOut;
        use.onlineSeconds += bucket.onlineMs;  // milliseconds until the end
    };
    if (usage.historyRevision() != closedRevision || !(cycle == closedCycle) ||
        fingerprint != closedFingerprint) {
        closed = PlanUse{};
        const auto& buckets = usage.closedHistory().buckets;
        for (auto it = buckets.lower_bound(cycle.start);
             it != buckets.end() && it->first < cycle.end; ++it) {
            add(closed, UsageBucket{it->first, it->second.bytesIn, it->second.bytesOut,
                                    it->second.onlineMs});
        }
        closedRevision = usage.historyRevision();
        closedCycle = cycle;
        closedFingerprint = fingerprint;
    }
    PlanUse use = closed;
    for (const UsageBucket& bucket : usage.openBuckets()) {
        if (bucket.start >= cycle.start && bucket.start < cycle.end)
            add(use, bucket);
    }
    use.onlineSeconds /= 1000;
    return use;
}

void PlanMeter::followCycle(int64_t now) {
    current.cycle = cycleAt(current.config.cycle, now, local);
    if (record.cycleStart == current.cycle.start && recordLoaded)
        return;
    if (!recordLoaded)
        return;
    // A new cycle (or the first since the start): what was kept of it, if anything.
    const bool fresh = record.cycleStart != 0;
    record = PlanRecord{};
    record.cycleStart = current.cycle.start;
    if (loadedRecord && loadedRecord->cycleStart == current.cycle.start)
        record = *loadedRecord;
    loadedRecord.reset();
    if (fresh) {
        LM_LOG(Info, "Data plan: a new cycle began; it resets %s",
               resetText(current.cycle.end, local).c_str());
        current.allowedUntil = 0;
    }
}

void PlanMeter::update() {
    readConfiguration();
    if (!current.active) {
        current.capped = false;
        waitingForCounts = false;
        current.figures = PlanFigures{};
        return;
    }
    if (!recordAsked) {
        recordAsked = true;
        if (UsageStorage* storage = usage.usageStorage(); storage != nullptr) {
            storage->loadPlan([this](std::optional<PlanRecord> latest) {
                loadedRecord = std::move(latest);
                recordLoaded = true;
            });
        } else {
            recordLoaded = true;
        }
    }
    const int64_t now = nowSeconds(clock);
    followCycle(now);
    countedNow = counted(current.cycle);
    PlanUse use;
    use.bytesIn =
        corrected(countedNow.bytesIn + (current.config.limits.countSent ? countedNow.bytesOut : 0),
                  record.bytesCorrection);
    use.onlineSeconds = corrected(countedNow.onlineSeconds, record.secondsCorrection);
    PlanLimits limits = current.config.limits;
    limits.countSent = false;  // already in
    current.figures = planFigures(limits, use, current.cycle, now);
    if (current.allowedUntil != 0 && now >= current.allowedUntil) {
        LM_LOG(Info, "The allowance over the data cap ended");
        current.allowedUntil = 0;
    }
    const bool ready = recordLoaded && usage.historyAnswered();
    rearmPending = rearmPending || configChanged;
    if (ready && rearmPending) {
        rearmPending = false;
        const std::set<unsigned> before = record.announced;
        rearmThresholds(record.announced, current.figures.percent);
        if (record.announced != before)
            save();
    }
    if (ready)
        announce();
    current.announced = record.announced;
    waitingForCounts = !ready && current.config.limits.atCap != PlanLimits::AtCap::Warn;
    current.capped = ready && current.figures.reached &&
                     current.config.limits.atCap != PlanLimits::AtCap::Warn &&
                     current.allowedUntil == 0;
    if (current.capped && !toldCapped) {
        LM_LOG(Warn,
               "%s: no new dial until the cycle resets or an allowance (linkmootctl plan allow)",
               capText().c_str());
    }
    toldCapped = current.capped;
}

void PlanMeter::announce() {
    const std::vector<unsigned> due =
        thresholdsDue(current.config.limits, current.figures.percent, record.announced);
    if (due.empty())
        return;
    for (unsigned threshold : due) {
        record.announced.insert(threshold);
        const std::string text =
            "Data plan: " + std::to_string(threshold) + " % of the cap used (" + usedText() + ")";
        LM_LOG(Warn, "%s", text.c_str());
        notices.push_back(text);
    }
    save();
}

void PlanMeter::save() {
    if (UsageStorage* storage = usage.usageStorage(); storage != nullptr)
        storage->savePlan(record);
}

bool PlanMeter::allow(std::optional<int64_t> seconds, const std::string& who, std::string& error) {
    if (!current.active) {
        error = "no data plan is set";
        return false;
    }
    const int64_t until = seconds ? nowSeconds(clock) + *seconds : current.cycle.end;
    current.allowedUntil = until;
    current.capped = false;
    LM_LOG(Info, "The line may run over the data cap until %s (asked by %s)",
           resetText(until, local).c_str(), printable(who.c_str()).c_str());
    return true;
}

bool PlanMeter::cancelAllowance(const std::string& who) {
    if (current.allowedUntil == 0)
        return false;
    current.allowedUntil = 0;
    LM_LOG(Info, "The allowance over the data cap was cancelled (asked by %s)",
           printable(who.c_str()).c_str());
    update();
    return true;
}

bool PlanMeter::setUsed(const UsedAmount& amount, const std::string& who, std::string& error) {
    if (!current.active) {
        error = "no data plan is set";
        return false;
    }
    if (!recordLoaded || !usage.historyAnswered()) {
        error = "the usage database has not answered yet; try again in a moment";
        return false;
    }
    if (amount.minutes) {
        record.secondsCorrection = static_cast<int64_t>(amount.value * 60) -
                                   static_cast<int64_t>(countedNow.onlineSeconds);
    } else {
        const uint64_t bytes =
            countedNow.bytesIn + (current.config.limits.countSent ? countedNow.bytesOut : 0);
        record.bytesCorrection = static_cast<int64_t>(amount.value) - static_cast<int64_t>(bytes);
    }
    save();
    rearmPending = true;
    LM_LOG(Info, "Data plan: this cycle's use set to %s (asked by %s)",
           amount.minutes ? (std::to_string(amount.value) + " min").c_str()
                          : bytesShort(amount.value).c_str(),
           printable(who.c_str()).c_str());
    update();
    return true;
}

std::vector<std::string> PlanMeter::takeNotices() {
    std::vector<std::string> taken;
    taken.swap(notices);
    return taken;
}

std::string PlanMeter::capText() const {
    if (!current.active || !current.figures.reached)
        return {};
    const PlanLimits& limits = current.config.limits;
    const PlanFigures& figures = current.figures;
    std::string text;
    if (limits.dataCapBytes != 0 && figures.usedBytes >= limits.dataCapBytes)
        text = bytesShort(figures.usedBytes) + " of " + bytesShort(limits.dataCapBytes);
    else
        text = std::to_string(figures.usedMinutes) + " min of " +
               std::to_string(limits.timeCapMinutes) + " min";
    return "Data cap reached: " + text + "; resets " + resetText(current.cycle.end, local);
}

std::string PlanMeter::usedText() const {
    const PlanLimits& limits = current.config.limits;
    return planSummary(current.figures.usedBytes / 1000000, limits.dataCapBytes / 1000000,
                       current.figures.usedMinutes, limits.timeCapMinutes, current.cycle.end,
                       local);
}

}  // namespace linkmoot
