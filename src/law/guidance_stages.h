// The guidance step as a pipeline of stages.
//
// Every stage is a plain function over explicit references: the inputs, the
// parameters, the states, and the small step-local records below that carry
// what one stage hands the next. No stage touches the module-level records;
// GuideW_step() binds them, and any other owner of a set of records (an
// instance, a test) can run the same pipeline through guidance_step().
//
// One step, in order:
//   1. condition_flight_state   attitude into canonical ranges, equivalent
//                               airspeed, load-factor limit
//   2. guidance_entry_values    1 g, present roll, equivalent airspeed
//   3. with guidance on: guidance_geometry, then exactly one of
//      rear_manoeuvres (command behind) or forward_pursuit (command ahead)
//   4. mix_commands             lat_cmd and nz_cmd by mode
//   5. throttle_command         speed hold or external throttle
//   6. aux_out = aux_in
#ifndef GUIDANCE_STAGES_H
#define GUIDANCE_STAGES_H

#include "GuideW.h"

// Beyond this tilt of the body up axis from world up the aircraft is upside
// down; exactly 90 deg counts as upright.
constexpr double kInvertedTilt_deg = 90.0;

// A dive command at or below -45 deg is steep: behind, it is flown as a split
// manoeuvre and steered on the full angle to the command.
constexpr double kSteepDive_rad = -0.7853981633974483;

// The conditioned flight state of one step.
struct FlightState {
    double yaw_n;       // deg, in (-180, 180]
    double pitch_n;     // deg, folded into [-90, 90] (270 stays 270)
    double roll_n;      // deg, in (-180, 180], shifted 180 when pitch folded
    double sigma_root;  // square root of the density ratio at altitude
    double eas;         // equivalent airspeed, m/s
    double n_lim;       // load-factor limit of the guidance results, g
    double v_mag;       // magnitude of the velocity vector, m/s
};

// What guidance hands the output stages. Each step starts from the entry
// values (1 g, present roll, equivalent airspeed); a guidance branch
// replaces them.
struct GuidanceResults {
    double nz_guid;    // load factor, g
    double bank_guid;  // bank angle, deg
    double speed_ref;  // speed reference of the throttle law, m/s
};

// The geometry between the aircraft and the commanded direction, as the
// guidance branches consume it. Angles in radians unless named _deg.
struct GuidanceGeometry {
    bool behind;           // commanded azimuth more than 90 deg off
    double az_err;         // azimuth error of the selected reference
    double az_err_abs;
    double az_err_body;    // commanded azimuth minus heading
    double elev_err;       // elevation error after the substitutions
    double elev_cmd_r;     // commanded elevation
    double ang_nose_deg;   // angle between nose and commanded direction
    double tilt_deg;       // angle between body up and world up
    bool upright;          // tilt_deg <= 90
    bool inverted;         // tilt_deg > 90
    double v_h;            // horizontal speed, m/s
    double v_tot;          // total speed, m/s
    double cos_gamma;      // cosine of the flight-path angle
    double cos_pitch;
    double cos_roll;
    double turn_rate_max;  // turn-rate bound, rad/s
    double roll_abs;       // |roll_n|, deg
};

FlightState condition_flight_state(const GuideWInputs& u);

GuidanceResults guidance_entry_values(const FlightState& fs);

GuidanceGeometry guidance_geometry(const GuideWInputs& u, const GuideWParams& p,
                                   const GuideWStates& dw,
                                   const FlightState& fs);

void rear_manoeuvres(const GuideWInputs& u, const FlightState& fs,
                     const GuidanceGeometry& geo, GuideWStates& dw,
                     GuidanceResults& res);

void forward_pursuit(const GuideWInputs& u, const FlightState& fs,
                     const GuidanceGeometry& geo, GuideWStates& dw,
                     GuidanceResults& res);

// Writes lat_cmd and nz_cmd and updates the four mode states.
void mix_commands(const GuideWInputs& u, const GuideWParams& p,
                  const FlightState& fs, const GuidanceResults& res,
                  GuideWStates& dw, GuideWOutputs& y);

// Returns throttle_cmd.
double throttle_command(const GuideWInputs& u, const GuideWParams& p,
                        const FlightState& fs, double speed_ref);

// The whole step over one set of records.
void guidance_step(const GuideWInputs& u, const GuideWParams& p,
                   GuideWStates& dw, GuideWOutputs& y);

#endif
