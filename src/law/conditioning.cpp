// Flight-state conditioning: the raw aircraft state brought into the forms
// the guidance law works with.
#include <cmath>

#include "atmosphere.h"
#include "guidance_stages.h"
#include "law_constants.h"

namespace {

// a - 360 floor(a / 360): [0, 360), except that a tiny negative angle rounds
// to exactly 360, which the folds below bring back to 0.
//
// Most angles are already within one turn of the range, and there the
// quotient's floor is known without dividing: 0 for (0, 360), where the
// result is the angle itself, and -1 for (-360, 0), where it is a + 360
// (the same rounding as a - (-360)). A negative angle so tiny that its
// quotient underflows to -0 keeps its value, a zero its sign's rounding
// (-0 - -0 is +0): those, a NaN and anything further out take the division.
constexpr double kQuotientUnderflow_deg = 0x1p-1000;

//
// The turn to add is chosen as a value (0 or 360, a mask the compiler forms
// without branching), not by a branch: the sign of a roll or a heading
// changes from one step to the next without pattern. a + 0 is a for the
// nonzero angles that take this path.
double mod360(double a_deg) {
    const bool in_range =
        std::fabs(a_deg) < kFullTurn_deg && (a_deg > 0.0 || a_deg < -kQuotientUnderflow_deg);
    const double turn_deg = a_deg < 0.0 ? kFullTurn_deg : 0.0;
    if (in_range) return a_deg + turn_deg;
    return a_deg - kFullTurn_deg * std::floor(a_deg / kFullTurn_deg);
}

// Euler angles into canonical ranges: yaw and roll in (-180, 180], pitch in
// [-90, 90]. A pitch beyond the vertical is the same attitude seen with the
// nose the other way round: fold the pitch back and turn yaw and roll by a
// half turn. Both fold tests are strict, so a pitch of exactly 270 (an input
// of -90) stays 270; its sine and cosine are those of -90.
void normalise_attitude(const AircraftState& ac, FlightState& fs) {
    double p = mod360(ac.pitch_deg);
    double r = mod360(ac.roll_deg);
    double y = mod360(ac.yaw_deg);
    if (p > kQuarterTurn_deg && p < kThreeQuarterTurn_deg) {
        p = kHalfTurn_deg - p;
        r = kHalfTurn_deg + r;
        y = kHalfTurn_deg + y;
    }
    if (p > kThreeQuarterTurn_deg) p = p - kFullTurn_deg;
    // Into (-180, 180] by subtracting 360 or 0 (r - 0 is r, -0 included),
    // chosen without a branch for the same reason.
    r = mod360(r);
    r = r - (r > kHalfTurn_deg ? kFullTurn_deg : 0.0);
    y = mod360(y);
    y = y - (y > kHalfTurn_deg ? kFullTurn_deg : 0.0);
    fs.pitch_n_deg = p;
    fs.roll_n_deg = r;
    fs.yaw_n_deg = y;
}

// The structure takes more load as the dynamic pressure grows: 1.5 g when
// slow, 5 g at 200 m/s of equivalent airspeed, 9 g from 400 m/s.
double load_factor_limit(double eas_mps) {
    if (eas_mps < kLoadLimitMidEas_mps) {
        if (eas_mps < kLoadLimitSlowEas_mps) return kLoadLimitSlow_g;
        return (eas_mps - kLoadLimitSlowEas_mps) / kLoadLimitSlowSlope_mpspg + kLoadLimitSlow_g;
    }
    if (eas_mps < kLoadLimitFastEas_mps) {
        return (eas_mps - kLoadLimitMidEas_mps) / kLoadLimitMidSlope_mpspg + kLoadLimitMid_g;
    }
    return kLoadLimitFast_g;  // also for a NaN airspeed
}

}  // namespace

FlightState condition_flight_state(const AircraftState& ac) {
    FlightState fs;
    normalise_attitude(ac, fs);
    fs.sigma_root = density_ratio_root(ac.altitude_m);
    fs.eas_mps = ac.tas_mps * fs.sigma_root;
    fs.n_lim_g = load_factor_limit(fs.eas_mps);
    // The vertical and azimuth-90 squares are summed first.
    fs.v_mag_mps = std::sqrt(ac.vel_north_mps * ac.vel_north_mps +
                             (ac.vel_up_mps * ac.vel_up_mps + ac.vel_east_mps * ac.vel_east_mps));
    return fs;
}
