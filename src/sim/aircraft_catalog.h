// The aircraft a flight can name: "point_mass" (our own model), the JSBSim
// aircraft the data file knows (f16, f15, T38, c172p), or any JSBSim
// aircraft folder (one holding FOLDER_NAME.xml), given by a path or by a
// name that is a folder in the current directory and no aircraft's.
//
// A JSBSim aircraft flies a control entry (control_gains.h): its own, or
// the one a flight names. A folder flies the entry named, or the generic
// one (a conservative envelope, the law's default throttle table), and
// control_notice() says so. An aircraft that closes loops of its own (the
// F-16's fly-by-wire) is not flown through our surface loop unless asked.
//
// A JSBSim aircraft is loaded once per thread and control entry and reused
// by every flight that names them (each flight resets it); the point mass
// costs nothing to make.
#ifndef SIM_AIRCRAFT_CATALOG_H
#define SIM_AIRCRAFT_CATALOG_H

#include <string>

#include "aircraft_model.h"

constexpr const char* kPointMassName = "point_mass";

// Which control entry a JSBSim aircraft flies.
struct ControlChoice {
    // An entry's name; empty: a known aircraft's own, a folder's the
    // generic one.
    std::string entry;
    // Fly our surface loop over a flight-control system of the aircraft's
    // own.
    bool over_own_fcs = false;
};

// The folder JSBSim aircraft are loaded from (holding aircraft/, engine/,
// systems/): $GUIDE_JSBSIM_ROOT when set, else where the build or the
// installation put them; empty when this build has no JSBSim.
std::string jsbsim_root_dir();

// The names a scenario may give, comma-separated, for messages and --help.
std::string available_aircraft();

// The name of the control entry aircraft `name` flies under choice (whose
// scenario changes and throttle table its flights take); the point mass's
// own name. Throws AircraftError (kUnknown) for an entry no one knows.
std::string control_entry_name(const std::string& name, const ControlChoice& choice);

// One line saying which entry a folder flies when choice names none (the
// generic one, its envelope and throttle table); empty otherwise.
std::string control_notice(const std::string& name, const ControlChoice& choice);

// The model for name flying choice's entry, shared within this thread; a
// second aircraft of the same name flown at the same time (an engagement's
// opponent) takes another slot.
// Throws AircraftError (an unknown name lists the available ones; a folder
// that is not a JSBSim aircraft, or one that fails to load, names the cause;
// an unknown entry, or our surface loop over the aircraft's own FCS not
// asked for, is refused as unknown).
AircraftModel& aircraft_model(const std::string& name, const ControlChoice& choice = {},
                              int slot = 0);

#endif
