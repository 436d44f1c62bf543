#include "aircraft_scenarios.h"

#include <nlohmann/json.hpp>

#include "control_gains.h"

namespace {

// A scenario from a file that repeats a built-in's name, description and
// duration is taken as that built-in.
bool is_builtin(const Scenario& sc) {
    for (const Scenario& b : builtin_scenarios()) {
        if (b.name == sc.name && b.description == sc.description && b.duration_s == sc.duration_s) return true;
    }
    return false;
}

}  // namespace

Scenario suited_to(const Scenario& sc, const std::string& aircraft) {
    const ControlGains* g = find_aircraft(aircraft);
    if (!g || !is_builtin(sc)) return sc;
    const nlohmann::json changes = nlohmann::json::parse(g->scenario_changes);
    if (!changes.contains(sc.name)) return sc;
    for (nlohmann::json builtin : nlohmann::json::parse(builtin_scenarios_json())) {
        if (builtin.at("name") != sc.name) continue;
        builtin.merge_patch(changes.at(sc.name));
        Scenario suited = parse_scenarios(builtin.dump(), "built-in " + sc.name + " on " + aircraft).at(0);
        suited.aircraft = sc.aircraft;
        return suited;
    }
    return sc;
}
