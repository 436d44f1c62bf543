#include "control_gains.h"

#include <nlohmann/json.hpp>

#include "aircraft_controls_json.h"  // kAircraftControlsJson: the data file's text

namespace {

double number_or(const nlohmann::json& j, const char* key, double fallback) {
    const auto it = j.find(key);
    return it == j.end() ? fallback : it->get<double>();
}

InnerLoopGains inner_loop_gains(const nlohmann::json& j) {
    InnerLoopGains g;
    g.qbar_ref_kpa = number_or(j, "qbar_ref_kpa", g.qbar_ref_kpa);
    g.elevator_per_g = number_or(j, "elevator_per_g", 0.0);
    g.n_kp = number_or(j, "n_kp", 0.0);
    g.n_ki = number_or(j, "n_ki", 0.0);
    g.q_kd = number_or(j, "q_kd", 0.0);
    g.n_slew_gps = number_or(j, "n_slew_gps", 0.0);
    g.elevator_lift_property = j.value("elevator_lift_property", "");
    g.p_kp = number_or(j, "p_kp", 0.0);
    g.p_ki = number_or(j, "p_ki", 0.0);
    g.r_kb = number_or(j, "r_kb", 0.0);
    return g;
}

std::vector<ControlGains> parse() {
    const nlohmann::json doc = nlohmann::json::parse(kAircraftControlsJson);
    std::vector<ControlGains> all;
    for (const nlohmann::json& a : doc.at("aircraft")) {
        ControlGains g;
        g.name = a.at("name").get<std::string>();
        g.folder = a.at("folder").get<std::string>();
        g.description = a.value("description", "");
        g.rate_hz = number_or(a, "rate_hz", g.rate_hz);
        g.fcs = a.value("fcs", false);
        g.limits.max_load_g = number_or(a, "max_load_g", g.limits.max_load_g);
        g.limits.min_load_g = number_or(a, "min_load_g", g.limits.min_load_g);
        g.limits.max_alpha_deg = number_or(a, "max_alpha_deg", g.limits.max_alpha_deg);
        g.fcs_roll_gain = number_or(a, "fcs_roll_gain", 0.0);
        g.fcs_pitch_rate_gain = number_or(a, "fcs_pitch_rate_gain", 0.0);
        g.fcs_load_gain = number_or(a, "fcs_load_gain", 0.0);
        g.fcs_ff_share = number_or(a, "fcs_ff_share", g.fcs_ff_share);
        g.fcs_roll_lead = number_or(a, "fcs_roll_lead", g.fcs_roll_lead);
        g.fcs_flaperon_lift_rate_gps = number_or(a, "fcs_flaperon_lift_rate_gps", 0.0);
        g.n_kp = number_or(a, "n_kp", 0.0);
        g.n_ki = number_or(a, "n_ki", 0.0);
        g.n_kd = number_or(a, "n_kd", 0.0);
        g.p_ki = number_or(a, "p_ki", 0.0);
        g.max_roll_rate_dps = number_or(a, "max_roll_rate_dps", g.max_roll_rate_dps);
        if (a.contains("scenario_changes")) g.scenario_changes = a.at("scenario_changes").dump();
        if (a.contains("inner_loop")) g.inner = inner_loop_gains(a.at("inner_loop"));
        if (a.contains("thr_table")) g.thr_table = a.at("thr_table").get<std::vector<double>>();
        all.push_back(g);
    }
    return all;
}

}  // namespace

const std::vector<ControlGains>& known_aircraft() {
    static const std::vector<ControlGains> all = parse();
    return all;
}

const ControlGains* find_aircraft(const std::string& name) {
    for (const ControlGains& g : known_aircraft()) {
        if (g.name == name) return &g;
    }
    return nullptr;
}
