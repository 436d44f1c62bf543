// Demand laws shared by the forward pursuit and the rear manoeuvres: an
// angle error over a time constant gives a demanded rate, and a rate at the
// present speed gives the load factor that flies it.
#ifndef DEMAND_LAWS_H
#define DEMAND_LAWS_H

#include <cmath>

#include "guidance_stages.h"
#include "law_constants.h"
#include "numeric_helpers.h"

// Turn rate (rad/s) within what the aircraft can turn at its speed.
inline double limit_turn_rate(double raw_rate_radps, const PathSpeeds& path) {
    return limit_upper_first(raw_rate_radps, -path.turn_rate_max_radps, path.turn_rate_max_radps);
}

// Horizontal load (g) of a turn at turn_rate (rad/s).
inline double horizontal_load_demand(double turn_rate_radps, const PathSpeeds& path) {
    return (turn_rate_radps * path.v_h_mps) / kGravity_mps2;
}

// Flight-path rate (rad/s) towards the commanded elevation, within
// +-60 deg/s.
inline double flight_path_rate_demand(const GuidanceGeometry& geo, const FlightState& fs) {
    const double elev_err_rad = geo.errors.elev_err_rad;
    const double t_s = GuideW_T_pitch_cal(elev_err_rad, fs.sigma_root);
    return limit_upper_first(elev_err_rad / t_s, -kGammaRateMax_radps, kGammaRateMax_radps);
}

// Vertical load (g): gravity's share across the flight path plus the pull
// that bends the path at gamma_rate.
inline double vertical_load_demand(double gamma_rate_radps, const PathSpeeds& path) {
    return path.cos_gamma + (gamma_rate_radps * path.v_tot_mps) / kGravity_mps2;
}

// Bank angle (deg) that tilts the lift to give n_h sideways while divisor
// carries the vertical share.
inline double bank_for_loads(double n_h_g, double divisor) {
    return kDegPerRad * std::atan(n_h_g / divisor);
}

#endif
