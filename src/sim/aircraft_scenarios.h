// A built-in scenario as a given aircraft flies it. The built-ins were set
// up for the point mass; where one gives an input that belongs to that
// aircraft (an external throttle in percent of its thrust) or a tolerance
// another aircraft cannot be held to, the aircraft's data file states the
// change (aircraft_controls.json, scenario_changes: a JSON merge patch per
// scenario name). Scenarios from files are flown as written. The aircraft
// is named here by the control entry it flies (aircraft_catalog.h,
// control_entry_name()): a folder flying the f16's entry flies the F-16's
// changes and throttle table.
#ifndef SIM_AIRCRAFT_SCENARIOS_H
#define SIM_AIRCRAFT_SCENARIOS_H

#include <string>

#include <nlohmann/json.hpp>

#include "aircraft_model.h"
#include "scenario.h"

// Applies the entry's changes for the built-in `builtin` (its JSON) in
// place; other entries (and the point mass) and scenarios are left as they
// are.
void suit_builtin(nlohmann::json& builtin, const std::string& entry);

// The built-in sc (flown as built in) as the entry's aircraft flies it.
Scenario suited_builtin(const Scenario& sc, const std::string& entry);

// Puts the entry's calibrated trim-throttle table (if it holds one) first
// among sc's parameters, so that the scenario's own still win.
void use_aircraft_trim_table(Scenario& sc, const std::string& entry);

// The second aircraft of a one-against-one in sc: its model (its own
// aircraft, or ours where it names none, in a slot apart from ours), with
// its control entry's trim table put first among its law's parameters.
// Throws AircraftError as aircraft_model() does.
AircraftModel& prepare_opponent(Scenario& sc, bool over_own_fcs);

#endif
