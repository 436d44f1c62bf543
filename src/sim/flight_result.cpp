#include "flight_result.h"

using nlohmann::ordered_json;

namespace {

// The numbers a campaign tabulates: when our velocity came onto the line of
// sight to stay, the closest approach and when, the time in the target's
// rear cone and when we first got there.
void add_engagement_metrics(const EngagementFigures& g, ordered_json& m) {
    const auto time_or_null = [](bool known, double t) {
        return known ? ordered_json(t) : ordered_json();
    };
    m["on_target_s"] = time_or_null(g.on_target, g.on_target_entered_s);
    m["closest_m"] = g.closest_m;
    m["closest_t_s"] = g.closest_t_s;
    m["final_range_m"] = g.final_range_m;
    m["rear_cone_s"] = g.cone_time.total_s;
    m["rear_cone_first_s"] =
        time_or_null(g.cone_time.first_s.has_value(), g.cone_time.first_s.value_or(0.0));
    if (g.opponent_cone) {
        m["opponent_rear_cone_s"] = g.opponent_cone->total_s;
        m["opponent_rear_cone_first_s"] = time_or_null(g.opponent_cone->first_s.has_value(),
                                                       g.opponent_cone->first_s.value_or(0.0));
    }
}

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
    if (sum.engagement) add_engagement_metrics(*sum.engagement, m);
    if (!sum.started) {
        for (auto& item : m.items()) item.value() = nullptr;
    }
    return m;
}

// Who held whom in the rear cone, and for how long.
ordered_json cone_json(const ConeTime& c) {
    return {{"first_s", c.first_s ? ordered_json(*c.first_s) : ordered_json()},
            {"total_s", c.total_s},
            {"longest_s", c.longest_s}};
}

ordered_json engagement_json(const EngagementFigures& g) {
    ordered_json j = {
        {"on_target_deg", g.on_target_deg},
        {"rear_cone",
         {{"angle_deg", g.cone.angle_deg},
          {"min_range_m", g.cone.min_range_m},
          {"max_range_m", g.cone.max_range_m},
          {"ata_deg", g.cone.ata_deg}}},
        {"us_in_cone", cone_json(g.cone_time)},
    };
    if (g.opponent_cone) {
        j["opponent_in_cone"] = cone_json(*g.opponent_cone);
        const std::string first = first_in_cone(g);
        j["first_in_cone"] = first.empty() ? ordered_json() : ordered_json(first);
    }
    return j;
}

}  // namespace

ordered_json flight_result(const std::string& name, const FlightSummary& sum) {
    ordered_json checks = ordered_json::array();
    for (const CheckResult& c : sum.checks) {
        checks.push_back(
            {{"check", c.check}, {"passed", c.failure.empty()}, {"failure", c.failure}});
    }
    ordered_json j = {
        {"name", name},     {"started", sum.started}, {"metrics", metrics(sum)},
        {"checks", checks}, {"passed", sum.passed()},
    };
    if (sum.engagement && sum.started) j["engagement"] = engagement_json(*sum.engagement);
    return j;
}
