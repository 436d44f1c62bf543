// The control entries: how the law's commands become an aircraft's
// controls, per aircraft, read from the data file aircraft_controls.json
// (built into the simulator).
//
// An entry names its mapping (control_mapping.h) with that mapping's gains,
// the aircraft's envelope, JSBSim's step rate, the law's trim-throttle table
// calibrated for it and the built-in scenarios as it flies them:
//   - "fcs": a fly-by-wire aircraft whose own flight-control system takes
//     the sticks (the F-16), gains in the entry's "fcs" object
//     (fcs_mapping.h);
//   - "surface_loop": an aircraft flown through its surfaces by our inner
//     loop (f15, T38, c172p), gains in its "surface_loop" object
//     (inner_loop.h).
// The entries of "aircraft" are JSBSim's aircraft by name; an aircraft
// given as a folder flies one entry of either list by name, or the generic
// entry of "folder_entries".
#ifndef SIM_CONTROL_GAINS_H
#define SIM_CONTROL_GAINS_H

#include <cmath>
#include <string>
#include <vector>

#include "aircraft_model.h"
#include "fcs_mapping.h"
#include "inner_loop.h"

enum class MappingKind {
    kFcs,          // the aircraft's own fly-by-wire channels (FcsMapping)
    kSurfaceLoop,  // our inner loop on its surfaces (SurfaceLoopMapping)
};

// The mapping's name in the data file ("fcs", "surface_loop").
const char* mapping_name(MappingKind kind);

struct ControlEntry {
    std::string name;    // as scenarios name it
    std::string folder;  // JSBSim aircraft folder (and model file) name; empty: folders only
    std::string description;
    double rate_hz = 200.0;  // JSBSim's own step rate; a whole multiple of the law's
    // Its envelope; the roll-rate demand it follows at most is 180 deg/s
    // unless its data say otherwise.
    AircraftLimits limits{INFINITY, -INFINITY, INFINITY, 180.0};
    MappingKind mapping = MappingKind::kSurfaceLoop;
    FcsGains fcs;                 // mapping kFcs
    InnerLoopGains surface_loop;  // mapping kSurfaceLoop
    // Built-in scenarios as this aircraft flies them: per scenario name, a
    // JSON merge patch (inputs the point mass was set up for, such as an
    // external throttle, and tolerances stated for this aircraft).
    std::string scenario_changes = "{}";
    // The law's trim-throttle table calibrated for this aircraft (empty:
    // none, the law's default), in the layout of thr_table.
    std::vector<double> thr_table;
};

// Every JSBSim aircraft the data file names, in its order.
const std::vector<ControlEntry>& known_aircraft();

// The aircraft named name, or nullptr.
const ControlEntry* find_aircraft(const std::string& name);

// The control entry named name (an aircraft's or a folder entry), or
// nullptr.
const ControlEntry* find_control_entry(const std::string& name);

// The entry a folder aircraft flies when none is named.
const ControlEntry& generic_control_entry();

// The names find_control_entry() knows, comma-separated.
std::string control_entry_names();

// Whether a name a user gave names the aircraft called known: aircraft
// names are matched without regard to case (T38 and t38, F16 and f16).
bool is_aircraft_name(const std::string& given, const std::string& known);

#endif
