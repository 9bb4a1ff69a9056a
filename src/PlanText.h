#pragma once
// The data plan as the views write it: the text and JSON of `linkmootctl
// plan` (the JSON is also the `plan` object of the web page's /api/state),
// and the control requests that change it:
//   plan [json]                       the figures
//   plan set-used AMOUNT [by USER]    what the provider says was used (3.2GB, 90min)
//   plan allow [for MINUTES | until-reset] [by USER]   run over the cap
//   plan allow cancel [by USER]       end that
// Units are decimal (1 MB = 10^6 bytes).
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace linkmoot {

class LocalTime;
class PlanMeter;
struct PlanStatus;

std::string planText(const PlanStatus& status, const LocalTime& local);
nlohmann::json planJson(const PlanStatus& status, const LocalTime& local);

/// Serves a request whose first word is "plan": the whole answer, "OK\n..."
/// or "ERROR reason\n". `who` names the asker when the request does not.
std::string planRequest(PlanMeter& plan, const std::vector<std::string_view>& words,
                        const LocalTime& local, const std::string& who);

}  // namespace linkmoot
