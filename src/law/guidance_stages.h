// The guidance law as a pipeline of stages.
//
// Every stage is a plain function over explicit references: the inputs, the
// parameters, the states, and the small step-local records below that carry
// what one stage hands the next. No stage touches the module-level records;
// the runtime binds them (GuideW_step), and any other owner of a set of
// records (an instance, a test) runs the same pipeline through
// guidance_step().
//
// One step, in order:
//   1. condition_flight_state   attitude into canonical ranges, equivalent
//                               airspeed, load-factor limit
//   2. guidance_entry_values    1 g, present roll, equivalent airspeed
//   3. with guidance on: guidance_geometry, then exactly one of
//      rear_manoeuvres (command behind) or forward_pursuit (command ahead)
//   4. mix_commands             lat_cmd and nz_cmd by mode (the orbit law
//                               for mode 3)
//   5. throttle_command         speed hold or external throttle
//   6. aux_out = aux_in
#ifndef GUIDANCE_STAGES_H
#define GUIDANCE_STAGES_H

#include "GuideW_types.h"

// The conditioned flight state of one step.
struct FlightState {
    double yaw_n_deg;    // in (-180, 180]
    double pitch_n_deg;  // folded into [-90, 90] (270 stays 270)
    double roll_n_deg;   // in (-180, 180], shifted 180 when pitch folded
    double sigma_root;   // square root of the density ratio at altitude
    double eas_mps;      // equivalent airspeed
    double n_lim_g;      // load-factor limit of the guidance results
    double v_mag_mps;    // magnitude of the velocity vector
};

// What guidance hands the output stages. Each step starts from the entry
// values (1 g, present roll, equivalent airspeed); a guidance branch
// replaces them.
struct GuidanceResults {
    double nz_guid_g;      // load factor
    double bank_guid_deg;  // bank angle
    double speed_ref_mps;  // speed reference of the throttle law
};

// ---- The geometry, as the guidance branches consume it ----------------------

// The velocity vector's speeds and path, and the turn rate it allows.
struct PathSpeeds {
    double v_h_mps;              // horizontal speed
    double v_tot_mps;            // total speed
    double cos_gamma;            // cosine of the flight-path angle
    double turn_rate_max_radps;  // turn-rate bound
};

// The aircraft's attitude as the branches test it. The tilt (the angle
// between body up and world up, 0..180 deg) is carried only as the side of
// 90 deg it lies on: no branch needs more.
struct AttitudeTests {
    double cos_pitch;
    double cos_roll;
    double roll_abs_deg;  // |roll_n|
    bool upright;         // not (tilt > 90): exactly 90 is upright
    bool inverted;        // not (tilt <= 90); a NaN tilt makes both hold
    // Angle between the nose and the commanded direction; formed only when
    // not upright (the only branches that read it), NaN otherwise.
    double ang_nose_deg;
};

// Where the command lies from the selected reference (velocity or nose).
struct CommandErrors {
    bool behind;             // not (|az_err| <= 90 deg): a NaN error is behind
    double az_err_rad;       // positive when the command lies clockwise
    double az_err_abs_rad;
    double az_err_body_rad;  // commanded azimuth minus heading
    double elev_err_rad;     // after the substitutions for awkward cases
    double elev_cmd_rad;     // commanded elevation
};

struct GuidanceGeometry {
    PathSpeeds path;
    AttitudeTests attitude;
    CommandErrors errors;
};

FlightState condition_flight_state(const GuideWInputs& u);

GuidanceResults guidance_entry_values(const FlightState& fs);

GuidanceGeometry guidance_geometry(const GuideWInputs& u, const GuideWParams& p,
                                   const GuideWStates& dw, const FlightState& fs);

void rear_manoeuvres(const GuideWInputs& u, const FlightState& fs,
                     const GuidanceGeometry& geo, GuideWStates& dw, GuidanceResults& res);

void forward_pursuit(const GuideWInputs& u, const FlightState& fs,
                     const GuidanceGeometry& geo, GuideWStates& dw, GuidanceResults& res);

// Writes lat_cmd and nz_cmd and updates the four mode states.
void mix_commands(const GuideWInputs& u, const GuideWParams& p, const FlightState& fs,
                  const GuidanceResults& res, GuideWStates& dw, GuideWOutputs& y);

// Returns throttle_cmd.
double throttle_command(const GuideWInputs& u, const GuideWParams& p, const FlightState& fs,
                        double speed_ref_mps);

// The whole step over one set of records.
void guidance_step(const GuideWInputs& u, const GuideWParams& p, GuideWStates& dw,
                   GuideWOutputs& y);

// The states of a model that has flown no step: every field 0 except the
// latched turn direction, +1, so that a rear turn forced to a direction before
// any is latched turns right.
constexpr GuideWStates kFreshStates = {0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 0.0,
                                       0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};

#endif
