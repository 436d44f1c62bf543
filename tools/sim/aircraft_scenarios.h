// A built-in scenario as a given aircraft flies it. The built-ins were set
// up for the point mass; where one gives an input that belongs to that
// aircraft (an external throttle in percent of its thrust) or a tolerance
// another aircraft cannot be held to, the aircraft's data file states the
// change (aircraft_controls.json, scenario_changes), and it is applied
// here. Scenarios from files are flown as written.
#ifndef SIM_AIRCRAFT_SCENARIOS_H
#define SIM_AIRCRAFT_SCENARIOS_H

#include <string>

#include "scenario.h"

Scenario suited_to(const Scenario& sc, const std::string& aircraft);

#endif
