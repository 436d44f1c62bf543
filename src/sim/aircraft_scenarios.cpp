#include "aircraft_scenarios.h"

#include "aircraft_catalog.h"
#include "control_gains.h"

void suit_builtin(nlohmann::json& builtin, const std::string& entry) {
    const ControlEntry* g = find_control_entry(entry);
    if (!g || !builtin.contains("name")) return;
    const nlohmann::json changes = nlohmann::json::parse(g->scenario_changes);
    const auto it = changes.find(builtin.at("name").get<std::string>());
    if (it != changes.end()) builtin.merge_patch(*it);
}

namespace {

void put_trim_table_first(std::vector<std::pair<std::string, double>>& params,
                          const std::string& entry) {
    const ControlEntry* g = find_control_entry(entry);
    if (!g || g->thr_table.empty()) return;
    std::vector<std::pair<std::string, double>> table;
    for (size_t i = 0; i < g->thr_table.size(); ++i) {
        table.emplace_back("thr_table[" + std::to_string(i) + "]", g->thr_table[i]);
    }
    params.insert(params.begin(), table.begin(), table.end());
}

}  // namespace

void use_aircraft_trim_table(Scenario& sc, const std::string& entry) {
    put_trim_table_first(sc.params, entry);
}

AircraftModel& prepare_opponent(Scenario& sc, bool over_own_fcs) {
    OpponentSetup& o = *sc.target->opponent;
    const std::string name = o.aircraft.empty() ? sc.aircraft : o.aircraft;
    // The same aircraft flies our control entry unless the opponent names its own.
    const ControlChoice choice{o.control.empty() && o.aircraft.empty() ? sc.control : o.control,
                               over_own_fcs};
    AircraftModel& model = aircraft_model(name, choice, 1);
    put_trim_table_first(o.params, control_entry_name(name, choice));
    return model;
}

Scenario suited_builtin(const Scenario& sc, const std::string& entry) {
    for (nlohmann::json builtin : nlohmann::json::parse(builtin_scenarios_json())) {
        if (builtin.at("name") != sc.name) continue;
        const nlohmann::json as_built = builtin;
        suit_builtin(builtin, entry);
        if (builtin == as_built) return sc;
        Scenario suited =
            parse_scenarios(builtin.dump(), "built-in " + sc.name + " on " + entry).at(0);
        suited.aircraft = sc.aircraft;
        return suited;
    }
    return sc;
}
