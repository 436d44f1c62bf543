#include "control_gains.h"

#include <nlohmann/json.hpp>
#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>

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

// The data file's numbers by key, each read into its field; a key the file
// does not give keeps the field's default.
template <class Record>
using Numbers = std::initializer_list<std::pair<const char*, double Record::*>>;

const Numbers<InnerLoopGains> kInnerLoopNumbers = {
    {"qbar_ref_kpa", &InnerLoopGains::qbar_ref_kpa},
    {"elevator_per_g", &InnerLoopGains::elevator_per_g},
    {"n_kp", &InnerLoopGains::n_kp},
    {"n_ki", &InnerLoopGains::n_ki},
    {"q_kd", &InnerLoopGains::q_kd},
    {"n_slew_gps", &InnerLoopGains::n_slew_gps},
    {"p_kp", &InnerLoopGains::p_kp},
    {"p_ki", &InnerLoopGains::p_ki},
    {"r_kb", &InnerLoopGains::r_kb},
};

const Numbers<AircraftLimits> kLimitNumbers = {
    {"max_load_g", &AircraftLimits::max_load_g},
    {"min_load_g", &AircraftLimits::min_load_g},
    {"max_alpha_deg", &AircraftLimits::max_alpha_deg},
    {"max_roll_rate_dps", &AircraftLimits::max_roll_rate_dps},
};

const Numbers<ControlGains> kAircraftNumbers = {
    {"rate_hz", &ControlGains::rate_hz},
    {"fcs_roll_gain", &ControlGains::fcs_roll_gain},
    {"fcs_pitch_rate_gain", &ControlGains::fcs_pitch_rate_gain},
    {"fcs_load_gain", &ControlGains::fcs_load_gain},
    {"fcs_ff_share", &ControlGains::fcs_ff_share},
    {"fcs_roll_lead", &ControlGains::fcs_roll_lead},
    {"fcs_flaperon_lift_rate_gps", &ControlGains::fcs_flaperon_lift_rate_gps},
    {"n_kp", &ControlGains::n_kp},
    {"n_ki", &ControlGains::n_ki},
    {"n_kd", &ControlGains::n_kd},
    {"p_ki", &ControlGains::p_ki},
};

template <class Record>
void read_numbers(Entry& e, const Numbers<Record>& numbers, Record& r) {
    for (const auto& [key, field] : numbers) r.*field = e.number(key, r.*field);
}

InnerLoopGains inner_loop_gains(const nlohmann::json& j, const std::string& aircraft) {
    Entry e(j, aircraft + ".inner_loop");
    InnerLoopGains g;
    read_numbers(e, kInnerLoopNumbers, g);
    g.elevator_lift_property = e.text("elevator_lift_property", "");
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
    g.fcs = e.flag("fcs");
    read_numbers(e, kAircraftNumbers, g);
    read_numbers(e, kLimitNumbers, g.limits);
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

bool is_aircraft_name(const std::string& given, const std::string& known) {
    const auto lower = [](unsigned char c) { return std::tolower(c); };
    return std::equal(given.begin(), given.end(), known.begin(), known.end(),
                      [&](char a, char b) { return lower(a) == lower(b); });
}

const ControlGains* find_aircraft(const std::string& name) {
    for (const ControlGains& g : known_aircraft()) {
        if (is_aircraft_name(name, g.name)) return &g;
    }
    return nullptr;
}
