// The guidance law as a pipeline of stages.
//
// Every stage is a plain function over explicit references. A stage takes
// what it reads, grouped by role: the inputs split into the guidance
// command, the external commands with the mode band, and the aircraft's
// state (InputRoles below); the parameters; the states (latches and the
// values they remember, see state_machine.h for who writes which); and the
// small step-local records below that carry what one stage hands the next.
// No stage touches the module-level records; the runtime binds them
// (GuideW_step), and any other owner of a set of records (an instance, a
// test) runs the same pipeline through guidance_step().
//
// One step, in order:
//   0. input_roles              the inputs by role, the mode band classified
//                               once
//   1. condition_flight_state   attitude into canonical ranges, equivalent
//                               airspeed, load-factor limit
//   2. guidance_entry_values    1 g, present roll, equivalent airspeed
//   3. with guidance on, guide: guidance_geometry, then exactly one of
//      rear_manoeuvres (command behind) or forward_pursuit (command ahead),
//      with the latch hand-overs between the hemispheres
//   4. mix_commands             lat_cmd and nz_cmd by mode band (the orbit
//                               law in the orbit band)
//   5. throttle_command         speed hold or external throttle
//   6. aux_out = aux_in
#ifndef GUIDANCE_STAGES_H
#define GUIDANCE_STAGES_H

#include "GuideW_constants.h"
#include "GuideW_types.h"

// ---- The inputs by role -------------------------------------------------------

// Where guidance is to fly, and how fast.
struct GuidanceCommand {
    double speed_mps;  // speed_cmd
    double elev_deg;   // elev_cmd
    double azim_deg;   // azim_cmd
};

// The host's own commands, mixed with guidance or passed through by band.
struct ExternalCommands {
    double weight;    // ext_weight
    double nz_g;      // ext_nz
    double bank_deg;  // ext_bank
    double throttle;  // ext_throttle
    double lat;       // ext_lat
};

// The aircraft as its sensors see it.
struct AircraftState {
    double yaw_deg, pitch_deg, roll_deg;
    double tas_mps;
    double vel_up_mps, vel_north_mps, vel_east_mps;
    double roll_rate_degps;
    double altitude_m;
};

struct InputRoles {
    GuideWModeBand band;  // the mode, classified once per step
    GuidanceCommand command;
    ExternalCommands external;
    AircraftState aircraft;
};

inline InputRoles input_roles(const GuideWInputs& u) {
    return InputRoles{
        GuideW_mode_band(u.mode), GuidanceCommand{u.speed_cmd, u.elev_cmd, u.azim_cmd},
        ExternalCommands{u.ext_weight, u.ext_nz, u.ext_bank, u.ext_throttle, u.ext_lat},
        AircraftState{u.yaw, u.pitch, u.roll, u.tas, u.vel_up, u.vel_north, u.vel_east, u.roll_rate,
                      u.altitude}};
}

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
    bool behind;        // not (|az_err| <= 90 deg): a NaN error is behind
    double az_err_rad;  // positive when the command lies clockwise
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

FlightState condition_flight_state(const AircraftState& ac);

GuidanceResults guidance_entry_values(const FlightState& fs);

GuidanceGeometry guidance_geometry(const GuidanceCommand& cmd, const AircraftState& ac,
                                   double guide_ref, const GuideWStates& dw, const FlightState& fs);

// Which rear manoeuvre a step flew: the latch hand-overs differ.
enum class RearManoeuvre { dive, climb };

RearManoeuvre rear_manoeuvres(const GuidanceCommand& cmd, const FlightState& fs,
                              const GuidanceGeometry& geo, GuideWStates& dw, GuidanceResults& res);

void forward_pursuit(const GuidanceCommand& cmd, const FlightState& fs, const GuidanceGeometry& geo,
                     GuideWStates& dw, GuidanceResults& res);

// Guidance proper (guide_ref not 0): the geometry, one branch, and the
// latch hand-overs between the hemispheres. Replaces res; returns the
// geometry for whoever wants to look at it.
GuidanceGeometry guide(const GuidanceCommand& cmd, const AircraftState& ac, const GuideWParams& p,
                       const FlightState& fs, GuideWStates& dw, GuidanceResults& res);

struct MixedCommands {
    double lat_cmd;
    double nz_cmd;
};

// lat_cmd and nz_cmd by band; updates the two mode latches and the orbit
// references.
MixedCommands mix_commands(GuideWModeBand band, const GuidanceCommand& cmd,
                           const ExternalCommands& ext, const AircraftState& ac,
                           const GuideWParams& p, const FlightState& fs, const GuidanceResults& res,
                           GuideWStates& dw);

// Returns throttle_cmd.
double throttle_command(GuideWModeBand band, const ExternalCommands& ext, const AircraftState& ac,
                        const GuideWParams& p, const FlightState& fs, double speed_ref_mps);

// The whole step over one set of records.
void guidance_step(const GuideWInputs& u, const GuideWParams& p, GuideWStates& dw,
                   GuideWOutputs& y);

// The states of a model that has flown no step: every field 0 except the
// latched turn direction, +1, so that a rear turn forced to a direction before
// any is latched turns right.
constexpr GuideWStates kFreshStates = {0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 0.0,
                                       0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};

#endif
