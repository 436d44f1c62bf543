// One step of the guidance law over one set of records, and the hand-over
// between the hemispheres (see state_machine.h).
#include "flag_tests.h"
#include "guidance_stages.h"
#include "state_machine.h"

namespace {

// Remember, for the next step ahead, that this one was behind.
void mark_command_behind(GuideWStates& dw) { dw.was_behind = 1.0; }

// The first step ahead after steps behind: remember the roll at which the
// target came ahead (forward pursuit holds it while upside down).
void take_over_from_rear(const FlightState& fs, GuideWStates& dw) {
    if (flag_is_one(dw.was_behind)) {
        dw.front_entry_roll = fs.roll_n_deg;
        dw.was_behind = 0.0;
    }
}

}  // namespace

GuidanceResults guidance_entry_values(const FlightState& fs) {
    // Without guidance the aircraft is asked to hold 1 g, its present bank
    // and its present equivalent airspeed.
    return GuidanceResults{1.0, fs.roll_n_deg, fs.eas_mps};
}

GuidanceGeometry guide(const GuidanceCommand& cmd, const AircraftState& ac, const GuideWParams& p,
                       const FlightState& fs, GuideWStates& dw, GuidanceResults& res) {
    const GuidanceGeometry geo = guidance_geometry(cmd, ac, p.guide_ref, dw, fs);
    if (geo.errors.behind) {
        mark_command_behind(dw);
        if (rear_manoeuvres(cmd, fs, geo, dw, res) == RearManoeuvre::dive) {
            cancel_upright_recovery(dw);
        }
    } else {
        take_over_from_rear(fs, dw);
        forward_pursuit(cmd, fs, geo, dw, res);
        release_rear_latches(geo.attitude, dw);
    }
    return geo;
}

void guidance_step(const GuideWInputs& u, const GuideWParams& p, GuideWStates& dw,
                   GuideWOutputs& y) {
    const InputRoles in = input_roles(u);
    const FlightState fs = condition_flight_state(in.aircraft);
    GuidanceResults res = guidance_entry_values(fs);

    // With guidance off no guidance state changes, so a manoeuvre in
    // progress resumes where it stopped when guidance comes back.
    if (p.guide_ref != 0.0) guide(in.command, in.aircraft, p, fs, dw, res);

    const MixedCommands mixed =
        mix_commands(in.band, in.command, in.external, in.aircraft, p, fs, res, dw);
    y.lat_cmd = mixed.lat_cmd;
    y.nz_cmd = mixed.nz_cmd;
    y.throttle_cmd = throttle_command(in.band, in.external, in.aircraft, p, fs, res.speed_ref_mps);
    y.aux_out = u.aux_in;
}
