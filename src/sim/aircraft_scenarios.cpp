#include "aircraft_scenarios.h"

#include "control_gains.h"

void suit_builtin(nlohmann::json& builtin, const std::string& entry) {
    const ControlEntry* g = find_control_entry(entry);
    if (!g || !builtin.contains("name")) return;
    const nlohmann::json changes = nlohmann::json::parse(g->scenario_changes);
    const auto it = changes.find(builtin.at("name").get<std::string>());
    if (it != changes.end()) builtin.merge_patch(*it);
}

void use_aircraft_trim_table(Scenario& sc, const std::string& entry) {
    const ControlEntry* g = find_control_entry(entry);
    if (!g || g->thr_table.empty()) return;
    std::vector<std::pair<std::string, double>> params;
    for (size_t i = 0; i < g->thr_table.size(); ++i) {
        params.emplace_back("thr_table[" + std::to_string(i) + "]", g->thr_table[i]);
    }
    params.insert(params.end(), sc.params.begin(), sc.params.end());
    sc.params = std::move(params);
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
