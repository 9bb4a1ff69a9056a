#include "PlanText.h"

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>

#include "LocalTime.h"
#include "LogText.h"
#include "PlanMeter.h"

namespace linkmoot {

namespace {

using Json = nlohmann::json;

const char* atCapWord(PlanLimits::AtCap atCap) {
    switch (atCap) {
        case PlanLimits::AtCap::Refuse:
            return "refuse";
        case PlanLimits::AtCap::HangUp:
            return "hangup";
        case PlanLimits::AtCap::Warn:
            break;
    }
    return "warn";
}

std::string percentText(double percent) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%", percent);
    return text;
}

std::string error(const std::string& why) {
    return "ERROR " + printable(why.c_str()) + "\n";
}

}  // namespace

std::string planText(const PlanStatus& status, const LocalTime& local) {
    if (!status.active)
        return "No data plan is set (see the Plan section in docs/plan.md)\n";
    const PlanLimits& limits = status.config.limits;
    const PlanFigures& figures = status.figures;
    std::string text = "Data plan: " + describePlan(status.config) + "\n";
    text += "This cycle: " + local.minuteText(status.cycle.start) + " to " +
            local.minuteText(status.cycle.end) + "\n";
    if (limits.dataCapBytes != 0) {
        text += "Used: " + bytesShort(figures.usedBytes) + " of " +
                bytesShort(limits.dataCapBytes) + "\n";
        text += "Daily budget: " + bytesShort(figures.dailyBudgetBytes) + " a day\n";
        text += "Forecast: " + bytesShort(figures.forecastBytes) + " by the end of the cycle\n";
    }
    if (limits.timeCapMinutes != 0) {
        text += "Online: " + std::to_string(figures.usedMinutes) + " min of " +
                std::to_string(limits.timeCapMinutes) + " min\n";
        text += "Daily budget: " + std::to_string(figures.dailyBudgetMinutes) + " min a day\n";
        text += "Forecast: " + std::to_string(figures.forecastMinutes) +
                " min by the end of the cycle\n";
    }
    text += "Of the cap: " + percentText(figures.percent) + "\n";
    std::string warned;
    for (unsigned percent : status.announced)
        warned += (warned.empty() ? "" : ", ") + std::to_string(percent) + " %";
    text += "Warnings given: " + (warned.empty() ? std::string("none") : warned) + "\n";
    if (status.capped)
        text += "The cap holds the line: no new dial until " + resetText(status.cycle.end, local) +
                " or an allowance\n";
    else if (status.allowedUntil != 0)
        text += "Allowed over the cap until " + resetText(status.allowedUntil, local) + "\n";
    else if (figures.reached)
        text += "The cap is reached (AtCap=warn: the line is not held)\n";
    return text;
}

Json planJson(const PlanStatus& status, const LocalTime& local) {
    Json plan = Json::object();
    plan["active"] = status.active;
    if (!status.active)
        return plan;
    const PlanLimits& limits = status.config.limits;
    const PlanFigures& figures = status.figures;
    plan["usedBytes"] = figures.usedBytes;
    plan["capBytes"] = limits.dataCapBytes;
    plan["usedMinutes"] = figures.usedMinutes;
    plan["capMinutes"] = limits.timeCapMinutes;
    plan["countSent"] = limits.countSent;
    plan["percent"] = static_cast<double>(static_cast<int64_t>(figures.percent * 10)) / 10;
    plan["cycleStart"] = local.isoLocal(status.cycle.start);
    plan["cycleEnd"] = local.isoLocal(status.cycle.end);
    plan["dailyBudgetBytes"] = figures.dailyBudgetBytes;
    plan["dailyBudgetMinutes"] = figures.dailyBudgetMinutes;
    plan["forecastBytes"] = figures.forecastBytes;
    plan["forecastMinutes"] = figures.forecastMinutes;
    plan["reached"] = figures.reached;
    plan["capped"] = status.capped;
    plan["atCap"] = atCapWord(limits.atCap);
    plan["overrideUntil"] =
        status.allowedUntil != 0 ? Json(local.isoLocal(status.allowedUntil)) : Json(nullptr);
    plan["warned"] = Json::array();
    for (unsigned percent : status.announced)
        plan["warned"].push_back(percent);
    return plan;
}

std::string planRequest(PlanMeter& plan, const std::vector<std::string_view>& words,
                        const LocalTime& local, const std::string& who) {
    std::vector<std::string_view> rest(words.begin() + 1, words.end());
    std::string asker = who;
    if (rest.size() >= 2 && rest[rest.size() - 2] == "by") {
        asker = "control socket user " + std::string(rest.back());
        rest.resize(rest.size() - 2);
    }
    if (rest.empty())
        return "OK\n" + planText(plan.status(), local);
    if (rest.size() == 1 && rest[0] == "json")
        return "OK\n" + planJson(plan.status(), local).dump() + "\n";
    std::string why;
    if (rest[0] == "set-used") {
        std::string amountText;
        for (std::size_t i = 1; i < rest.size(); ++i)
            amountText += std::string(rest[i]);
        UsedAmount amount;
        if (rest.size() < 2 || !parseUsedAmount(amountText, amount, why))
            return error("set-used takes an amount such as 3.2GB or 90min" +
                         (why.empty() ? std::string() : ": " + why));
        if (!plan.setUsed(amount, asker, why))
            return error(why);
        return "OK\n" + planText(plan.status(), local);
    }
    if (rest[0] != "allow")
        return error("plan takes json, set-used AMOUNT or allow");
    if (rest.size() == 2 && rest[1] == "cancel") {
        if (!plan.cancelAllowance(asker))
            return error("no allowance over the cap runs");
        return "OK\n";
    }
    std::optional<int64_t> until;
    if (rest.size() == 3 && rest[1] == "for") {
        const std::string minutes(rest[2]);
        char* end = nullptr;
        const long long value = std::strtoll(minutes.c_str(), &end, 10);
        if (minutes.empty() || *end != '\0' || value < 1 || value > 60LL * 24 * 366)
            return error("allow for takes whole minutes from 1 to 527040");
        until = static_cast<int64_t>(value) * 60;
    } else if (!(rest.size() == 1 || (rest.size() == 2 && rest[1] == "until-reset"))) {
        return error("allow takes for MINUTES, until-reset or cancel");
    }
    if (!plan.allow(until, asker, why))
        return error(why);
    return "OK\n";
}

}  // namespace linkmoot
