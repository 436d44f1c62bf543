// Demand laws shared by the forward pursuit and the rear manoeuvres: an
// angle error over a time constant gives a demanded rate, and a rate at the
// present speed gives the load factor that flies it.
#ifndef DEMAND_LAWS_H
#define DEMAND_LAWS_H

#include "guidance_stages.h"
#include "numeric_helpers.h"

// Bank limits of the guidance branches: 85 deg while upright; upside down
// the full half turn, so that an inverted aircraft can be rolled either way.
constexpr double kUprightBankLimit_deg = 85.0;
constexpr double kInvertedBankLimit_deg = 180.0;

// Turn rate (rad/s) within what the aircraft can turn at its speed.
inline double limit_turn_rate(double raw_rate, const GuidanceGeometry& geo) {
    return clamp_upper_first(raw_rate, -geo.turn_rate_max, geo.turn_rate_max);
}

// Horizontal load (g) of a turn at turn_rate (rad/s).
inline double horizontal_load_demand(double turn_rate,
                                     const GuidanceGeometry& geo) {
    return (turn_rate * geo.v_h) / kGravity_mps2;
}

// Flight-path rate (rad/s) towards the commanded elevation, within
// +-60 deg/s.
inline double flight_path_rate_demand(const GuidanceGeometry& geo,
                                      const FlightState& fs) {
    const double t_s = GuideW_T_pitch_cal(geo.elev_err, fs.sigma_root);
    return clamp_upper_first(geo.elev_err / t_s, -kGammaRateMax_radps,
                             kGammaRateMax_radps);
}

// Vertical load (g): gravity's share along the flight path plus the pull
// that bends the path at gamma_rate.
inline double vertical_load_demand(double gamma_rate,
                                   const GuidanceGeometry& geo) {
    return geo.cos_gamma + (gamma_rate * geo.v_tot) / kGravity_mps2;
}

// Bank angle (deg) that tilts the lift to give n_h sideways while divisor
// carries the vertical share.
inline double bank_for_loads(double n_h, double divisor) {
    return kDegPerRad * std::atan(n_h / divisor);
}

#endif
