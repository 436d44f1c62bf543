// How the law's commands become an aircraft's controls, per aircraft, read
// from the data file aircraft_controls.json (built into the simulator).
//
// The law commands a roll rate (lat_cmd, deg/s), a normal load factor
// (nz_cmd, g) and a throttle. Two ways to fly them:
//   - "fcs": a fly-by-wire aircraft whose own flight-control system takes a
//     roll-rate command and a pitch command blending pitch rate and load
//     factor (the F-16). The roll stick is the roll-rate command scaled by
//     the FCS's own gain; the pitch stick is the FCS's steady-turn relation
//     inverted (the stick that holds n in a turn at this speed), with a
//     slow integral of the load-factor error for what the inversion misses.
//   - "inner_loop": an aircraft flown through its surfaces (f15, T38,
//     c172p): our loop of inner_loop.h, its gains in the entry's
//     "inner_loop" object.
#ifndef SIM_CONTROL_GAINS_H
#define SIM_CONTROL_GAINS_H

#include <cmath>
#include <string>
#include <vector>

#include "aircraft_model.h"
#include "inner_loop.h"

struct ControlGains {
    std::string name;    // as scenarios name it
    std::string folder;  // JSBSim aircraft folder (and model file) name
    std::string description;
    double rate_hz = 200.0;  // JSBSim's own step rate; a whole multiple of the law's
    bool fcs = false;        // drive the aircraft's own command channels
    // Its envelope; the roll-rate demand it follows at most is 180 deg/s
    // unless its data say otherwise.
    AircraftLimits limits{INFINITY, -INFINITY, INFINITY, 180.0};
    // fcs: roll stick per roll rate (1/(rad/s)), the pitch channel's gains
    // on pitch rate (per rad/s) and load factor (per g).
    double fcs_roll_gain = 0.0, fcs_pitch_rate_gain = 0.0, fcs_load_gain = 0.0;
    // fcs: the share of the FCS's steady-turn stick given ahead of the load
    // loop. The FCS reaches that relation only through its slow integrator;
    // within a manoeuvre its own angle-of-attack and pitch-rate feedback
    // hand back part of the stick, and the load loop finds the rest.
    double fcs_ff_share = 1.0;
    // fcs: the share of the FCS's own roll-rate error lead let through to
    // its roll surface (1: the FCS as it is; 0: the surface is asked for the
    // steady roll at the commanded rate).
    double fcs_roll_lead = 1.0;
    // fcs: how fast (g/s) a roll may change the flaperons' lift where that
    // works against the load error (0: as fast as the roll asks).
    double fcs_flaperon_lift_rate_gps = 0.0;
    // fcs: load-factor error to stick, proportional (per g) and integral
    // (per g*s). (The inner loop's gains are in `inner`.)
    double n_kp = 0.0, n_ki = 0.0;
    double p_ki = 0.0;  // fcs: roll-rate error integral to roll demand, per s
    double n_kd = 0.0;  // fcs: seconds of the flown load's rate counted as error
    // Built-in scenarios as this aircraft flies them: per scenario name, a
    // JSON merge patch (inputs the point mass was set up for, such as an
    // external throttle, and tolerances stated for this aircraft).
    std::string scenario_changes = "{}";
    // The law's trim-throttle table calibrated for this aircraft (empty:
    // none), in the layout of thr_table.
    std::vector<double> thr_table;
    // Not fcs: the gains of our inner loop on the surfaces ("inner_loop").
    InnerLoopGains inner;
};

// Every aircraft the data file names, in its order.
const std::vector<ControlGains>& known_aircraft();

// The entry named name, or nullptr.
const ControlGains* find_aircraft(const std::string& name);

// Whether a name a user gave names the aircraft called known: aircraft
// names are matched without regard to case (T38 and t38, F16 and f16).
bool is_aircraft_name(const std::string& given, const std::string& known);

#endif
