// A built-in scenario as a given aircraft flies it. The built-ins were set
// up for the point mass; where one gives an input that belongs to that
// aircraft (an external throttle in percent of its thrust) or a tolerance
// another aircraft cannot be held to, the aircraft's data file states the
// change (aircraft_controls.json, scenario_changes: a JSON merge patch per
// scenario name). Scenarios from files are flown as written.
#ifndef SIM_AIRCRAFT_SCENARIOS_H
#define SIM_AIRCRAFT_SCENARIOS_H

#include <string>

#include <nlohmann/json.hpp>

#include "scenario.h"

// Applies the aircraft's changes for the built-in `builtin` (its JSON) in
// place; other aircraft and scenarios are left as they are.
void suit_builtin(nlohmann::json& builtin, const std::string& aircraft);

// The built-in sc (flown as built in) as aircraft flies it.
Scenario suited_builtin(const Scenario& sc, const std::string& aircraft);

// Puts the aircraft's calibrated trim-throttle table (if its data hold one)
// first among sc's parameters, so that the scenario's own still win.
void use_aircraft_trim_table(Scenario& sc, const std::string& aircraft);

#endif
