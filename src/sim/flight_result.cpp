#include "flight_result.h"

using nlohmann::ordered_json;

namespace {

// A time that means nothing where the law does not steer.
ordered_json steered_time(const FlightSummary& sum, const std::optional<double>& t) {
    return t && sum.steers ? ordered_json(*t) : ordered_json();
}

ordered_json metrics(const FlightSummary& sum) {
    ordered_json m = {
        {"converge_s", steered_time(sum, sum.converge_s)},
        {"first_within_s", steered_time(sum, sum.first_within_s)},
        {"peak_load_g", sum.peak_load_g},
        {"altitude_lost_m", sum.altitude_lost_m},
        {"final_speed_err_mps", sum.final_speed_err_mps},
        {"min_altitude_m", sum.min_altitude_m},
        {"final_bank_deg", sum.final_bank_deg},
    };
    if (!sum.started) {
        for (auto& item : m.items()) item.value() = nullptr;
    }
    return m;
}

}  // namespace

ordered_json flight_result(const std::string& name, const FlightSummary& sum) {
    ordered_json checks = ordered_json::array();
    for (const CheckResult& c : sum.checks) {
        checks.push_back(
            {{"check", c.check}, {"passed", c.failure.empty()}, {"failure", c.failure}});
    }
    return {
        {"name", name},     {"started", sum.started}, {"metrics", metrics(sum)},
        {"checks", checks}, {"passed", sum.passed()},
    };
}
