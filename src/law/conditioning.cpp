// Flight-state conditioning: the raw aircraft state brought into the forms
// the guidance law works with.
#include <cmath>

#include "guidance_stages.h"
#include "numeric_helpers.h"

namespace {

// a - 360 floor(a / 360): [0, 360), except that a tiny negative angle rounds
// to exactly 360, which the folds below bring back to 0.
double mod360(double a_deg) {
    return a_deg - 360.0 * std::floor(a_deg / 360.0);
}

// Euler angles into canonical ranges: yaw and roll in (-180, 180], pitch in
// [-90, 90]. A pitch beyond the vertical is the same attitude seen with the
// nose the other way round: fold the pitch back and turn yaw and roll by a
// half turn. Both fold tests are strict, so a pitch of exactly 270 (an input
// of -90) stays 270; its sine and cosine are those of -90.
void normalise_attitude(const GuideWInputs& u, FlightState& fs) {
    double p = mod360(u.pitch);
    double r = mod360(u.roll);
    double y = mod360(u.yaw);
    if (p > 90.0 && p < 270.0) {
        p = 180.0 - p;
        r = 180.0 + r;
        y = 180.0 + y;
    }
    if (p > 270.0) p = p - 360.0;
    r = mod360(r);
    if (r > 180.0) r = r - 360.0;
    y = mod360(y);
    if (y > 180.0) y = y - 360.0;
    fs.pitch_n = p;
    fs.roll_n = r;
    fs.yaw_n = y;
}

// The structure takes more load as the dynamic pressure grows: 1.5 g when
// slow, 5 g at 200 m/s of equivalent airspeed, 9 g from 400 m/s. The middle
// segment's divisor 22.857 (not 80/3.5) ends it a hair above 5 g.
double load_factor_limit(double eas_mps) {
    if (eas_mps < 200.0) {
        if (eas_mps < 120.0) return 1.5;
        return (eas_mps - 120.0) / 22.857 + 1.5;
    }
    if (eas_mps < 400.0) return (eas_mps - 200.0) / 50.0 + 5.0;
    return 9.0;  // also for a NaN airspeed
}

}  // namespace

FlightState condition_flight_state(const GuideWInputs& u) {
    FlightState fs;
    normalise_attitude(u, fs);
    fs.sigma_root = density_ratio_root(u.altitude);
    fs.eas = u.tas * fs.sigma_root;
    fs.n_lim = load_factor_limit(fs.eas);
    // The vertical and azimuth-90 squares are summed first.
    fs.v_mag = std::sqrt(u.vel_north * u.vel_north +
                         (u.vel_up * u.vel_up + u.vel_east * u.vel_east));
    return fs;
}
