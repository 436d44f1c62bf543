#include "control_gains.h"

#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <string>

#include "aircraft_controls_json.h"  // kAircraftControlsJson: the data file's text

namespace {

// One object of the data file, read key by key; finish() refuses a key no
// one read, so that a misspelt gain cannot silently fly as its default.
class Entry {
public:
    Entry(const nlohmann::json& j, std::string where) : j_(j), where_(std::move(where)) {}
    double number(const char* key, double fallback) {
        used_.insert(key);
        const auto it = j_.find(key);
        return it == j_.end() ? fallback : it->get<double>();
    }
    std::string required_text(const char* key) {
        used_.insert(key);
        return j_.at(key).get<std::string>();
    }
    std::string text(const char* key, const std::string& fallback) {
        used_.insert(key);
        return j_.value(key, fallback);
    }
    bool flag(const char* key) {
        used_.insert(key);
        return j_.value(key, false);
    }
    // The value at key, or nullptr.
    const nlohmann::json* find(const char* key) {
        used_.insert(key);
        const auto it = j_.find(key);
        return it == j_.end() ? nullptr : &*it;
    }
    void finish() const {
        for (const auto& item : j_.items()) {
            if (!used_.count(item.key())) {
                throw std::logic_error("aircraft_controls.json: " + where_ + ": unknown key " +
                                       item.key());
            }
        }
    }

private:
    const nlohmann::json& j_;
    std::string where_;
    std::set<std::string> used_;
};

InnerLoopGains inner_loop_gains(const nlohmann::json& j, const std::string& aircraft) {
    Entry e(j, aircraft + ".inner_loop");
    InnerLoopGains g;
    g.qbar_ref_kpa = e.number("qbar_ref_kpa", g.qbar_ref_kpa);
    g.elevator_per_g = e.number("elevator_per_g", 0.0);
    g.n_kp = e.number("n_kp", 0.0);
    g.n_ki = e.number("n_ki", 0.0);
    g.q_kd = e.number("q_kd", 0.0);
    g.n_slew_gps = e.number("n_slew_gps", 0.0);
    g.elevator_lift_property = e.text("elevator_lift_property", "");
    g.p_kp = e.number("p_kp", 0.0);
    g.p_ki = e.number("p_ki", 0.0);
    g.r_kb = e.number("r_kb", 0.0);
    e.finish();
    return g;
}

ControlGains aircraft_gains(const nlohmann::json& a) {
    ControlGains g;
    g.name = a.at("name").get<std::string>();
    Entry e(a, g.name);
    e.required_text("name");
    g.folder = e.required_text("folder");
    g.description = e.text("description", "");
    g.rate_hz = e.number("rate_hz", g.rate_hz);
    g.fcs = e.flag("fcs");
    g.limits.max_load_g = e.number("max_load_g", g.limits.max_load_g);
    g.limits.min_load_g = e.number("min_load_g", g.limits.min_load_g);
    g.limits.max_alpha_deg = e.number("max_alpha_deg", g.limits.max_alpha_deg);
    g.fcs_roll_gain = e.number("fcs_roll_gain", 0.0);
    g.fcs_pitch_rate_gain = e.number("fcs_pitch_rate_gain", 0.0);
    g.fcs_load_gain = e.number("fcs_load_gain", 0.0);
    g.fcs_ff_share = e.number("fcs_ff_share", g.fcs_ff_share);
    g.fcs_roll_lead = e.number("fcs_roll_lead", g.fcs_roll_lead);
    g.fcs_flaperon_lift_rate_gps = e.number("fcs_flaperon_lift_rate_gps", 0.0);
    g.n_kp = e.number("n_kp", 0.0);
    g.n_ki = e.number("n_ki", 0.0);
    g.n_kd = e.number("n_kd", 0.0);
    g.p_ki = e.number("p_ki", 0.0);
    g.max_roll_rate_dps = e.number("max_roll_rate_dps", g.max_roll_rate_dps);
    if (const nlohmann::json* j = e.find("scenario_changes")) g.scenario_changes = j->dump();
    if (const nlohmann::json* j = e.find("inner_loop")) g.inner = inner_loop_gains(*j, g.name);
    if (const nlohmann::json* j = e.find("thr_table")) g.thr_table = j->get<std::vector<double>>();
    e.finish();
    return g;
}

std::vector<ControlGains> parse() {
    const nlohmann::json doc = nlohmann::json::parse(kAircraftControlsJson);
    std::vector<ControlGains> all;
    for (const nlohmann::json& a : doc.at("aircraft")) all.push_back(aircraft_gains(a));
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
