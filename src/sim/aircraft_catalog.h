// The aircraft a flight can name: "point_mass" (our own model), the JSBSim
// aircraft the data file knows (f16, f15, T38, c172p), or a path to any
// JSBSim aircraft folder (one holding FOLDER_NAME.xml), flown with the
// generic inner loop.
//
// A JSBSim aircraft is loaded once per thread and reused by every flight
// that names it (each flight resets it); the point mass costs nothing to
// make.
#ifndef SIM_AIRCRAFT_CATALOG_H
#define SIM_AIRCRAFT_CATALOG_H

#include <string>

#include "aircraft_model.h"

constexpr const char* kPointMassName = "point_mass";

// The folder JSBSim aircraft are loaded from (holding aircraft/, engine/,
// systems/): $GUIDE_JSBSIM_ROOT when set, else where the build or the
// installation put them; empty when this build has no JSBSim.
std::string jsbsim_root_dir();

// The names a scenario may give, comma-separated, for messages and --help.
std::string available_aircraft();

// The model for name, shared within this thread. Throws AircraftError (an
// unknown name lists the available ones; a folder that is not a JSBSim
// aircraft, or one that fails to load, names the cause).
AircraftModel& aircraft_model(const std::string& name);

#endif
