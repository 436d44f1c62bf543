// How the law's commands become an aircraft's controls: one small
// interface, one implementation per way an aircraft is flown.
//   - FcsMapping (fcs_mapping.h): a fly-by-wire aircraft whose own
//     flight-control system takes stick commands (JSBSim's F-16).
//   - SurfaceLoopMapping (surface_loop_mapping.h): an aircraft flown
//     through its surfaces by our inner loop (inner_loop.h).
// The catalogue entry of an aircraft (control_gains.h) says which, with
// that mapping's gains.
//
// A mapping is a controller with its world in its signature: the flight as
// the aircraft model read it (MappingInput, units in every name), the law's
// command, an explicit dt; no clock, no flight-dynamics library inside. The
// same inputs give the same controls to the last bit, so that a mapping is
// tested without an aircraft and flights repeat byte for byte.
#ifndef SIM_CONTROL_MAPPING_H
#define SIM_CONTROL_MAPPING_H

#include <cmath>
#include <memory>

#include "GuideW.h"

struct ControlEntry;

// The law's command as the mappings fly it: a command that is not a number
// is flown as neutral (no roll, 1 g, idle), the roll rate within what the
// aircraft follows, the throttle within its travel.
struct LawCommand {
    double roll_rate_cmd_rps = 0.0;
    double load_cmd_g = 1.0;
    double throttle_cmd_norm = 0.0;
};

// The law's outputs as a LawCommand, the roll rate clamped to
// +-max_roll_rate_dps.
LawCommand law_command(const GuideWOutputs& cmd, double max_roll_rate_dps);

// The flight as a mapping reads it, one law step. The aircraft model fills
// what it has; a mapping reads only its own.
struct MappingInput {
    double load_g = 1.0;                    // normal load factor flown
    double p_rps = 0.0, q_rps = 0.0;        // body roll and pitch rates
    double phi_rad = 0.0, theta_rad = 0.0;  // bank and pitch (Euler angles)
    double speed_mps = 0.0;                 // true airspeed
    double qbar_psf = 0.0;                  // dynamic pressure, as JSBSim gives it
    double mach = 0.0;
    double alpha_deg = 0.0;        // angle of attack
    double beta_rad = 0.0;         // sideslip
    double elevator_lift_g = 0.0;  // the elevator's own lift over the weight (0: not known)
    // A fly-by-wire pitch channel: its limited stick, and the stick after
    // its gain schedule (JSBSim's F-16: fcs/elevator-cmd-limiter and
    // fcs/elevator-scheduler), normalised.
    double fcs_pitch_limited_norm = 0.0, fcs_pitch_scheduled_norm = 0.0;
    // Flaperons that share the trailing-edge flap's travel with the roll
    // (the F-16's): whether the aircraft has them, the flap's command and
    // the left surface's position (normalised), and what turns their
    // deflection into lift in g.
    bool has_flaperons = false;
    double tef_norm = 0.0, left_aileron_pos_norm = 0.0;
    double wing_area_sqft = 0.0, weight_lbs = 0.0;
};

// What a mapping reads of the trimmed aircraft to take it over.
struct TrimReading {
    double elevator_cmd_norm = 0.0;  // the pitch command the trim found
    double elevator_pos_norm = 0.0;  // the elevator's position there
    // A fly-by-wire pitch channel's angle-of-attack limiter output there.
    double fcs_alpha_limiter_norm = 0.0;
    double qbar_psf = 0.0;
    double elevator_lift_g = 0.0;
};

// What a mapping sets in the aircraft as it takes over from the trim.
struct TrimHandover {
    // The pitch command the flight starts with (NaN: the trim's).
    double elevator_cmd_norm = NAN;
    // The start of the FCS's pitch-loop integrator (NaN: left as it is).
    double fcs_pitch_integrator = NAN;
};

// The controls a mapping hands the aircraft each law step: JSBSim's
// normalised commands (fcs/elevator-cmd-norm, aileron-cmd-norm,
// rudder-cmd-norm, each within [-1, 1]; throttle-cmd-norm of every engine,
// within [0, 1]). On a fly-by-wire aircraft the first two are its sticks.
struct Controls {
    double elevator = 0.0, aileron = 0.0, rudder = 0.0, throttle = 0.0;
};

class ControlMapping {
public:
    virtual ~ControlMapping() = default;

    // Whether the mapping moves the rudder (otherwise it is left as the
    // aircraft's own system sets it).
    virtual bool commands_rudder() const = 0;

    // A new flight from a trim: forgets the last flight's state.
    virtual TrimHandover reset(const TrimReading& trim) = 0;

    // The controls for the next dt seconds under cmd.
    virtual Controls step(const LawCommand& cmd, const MappingInput& in, double dt) = 0;
};

// The mapping entry names, with its gains and limits.
std::unique_ptr<ControlMapping> make_control_mapping(const ControlEntry& entry);

#endif
