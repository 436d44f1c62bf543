// One step of the guidance law over one set of records.
#include "guidance_stages.h"

GuidanceResults guidance_entry_values(const FlightState& fs) {
    // Without guidance the aircraft is asked to hold 1 g, its present bank
    // and its present equivalent airspeed.
    return GuidanceResults{1.0, fs.roll_n_deg, fs.eas_mps};
}

void guidance_step(const GuideWInputs& u, const GuideWParams& p, GuideWStates& dw,
                   GuideWOutputs& y) {
    const FlightState fs = condition_flight_state(u);
    GuidanceResults res = guidance_entry_values(fs);

    // With guidance off no guidance state changes, so a manoeuvre in
    // progress resumes where it stopped when guidance comes back.
    if (p.guide_ref != 0.0) {
        const GuidanceGeometry geo = guidance_geometry(u, p, dw, fs);
        if (geo.errors.behind) {
            rear_manoeuvres(u, fs, geo, dw, res);
        } else {
            forward_pursuit(u, fs, geo, dw, res);
        }
    }

    mix_commands(u, p, fs, res, dw, y);
    y.throttle_cmd = throttle_command(u, p, fs, res.speed_ref_mps);
    y.aux_out = u.aux_in;
}
