// The orbit law of the orbit band: a level turn at the external load factor, whose
// altitude follows a profile that climbs or descends with the heading turned
// since the orbit began.
#ifndef ORBIT_H
#define ORBIT_H

#include <cmath>

#include "GuideW_types.h"
#include "guidance_stages.h"
#include "law_constants.h"

// ext_nz moved out of (-0.1, 0.1), so that 1 / nz stays bounded; 0 stays 0.
inline double orbit_turn_load_g(double ext_nz_g) {
    if (ext_nz_g > 0.0 && ext_nz_g < kMinOrbitLoad_g) return kMinOrbitLoad_g;
    if (ext_nz_g < 0.0 && ext_nz_g > -kMinOrbitLoad_g) return -kMinOrbitLoad_g;
    return ext_nz_g;
}

// Radius (m) of a level turn at speed v (m/s) and load n (g), n^2 > 1.
inline double orbit_radius_m(double speed_mps, double turn_nz_g) {
    return ((speed_mps * speed_mps) / kGravity_mps2) / std::sqrt(turn_nz_g * turn_nz_g - 1.0);
}

// Altitude (m) the orbit should have reached after turning yaw_delta (deg,
// within +-180) from its references: r sin(elev_cmd) higher for every quarter
// turn, so twice that at the half turn and back towards the start over the
// second half of each circle. elev_cmd is converted with the orbit's own 57.3.
inline double orbit_altitude_target_m(double yaw_delta_deg, double radius_m, double elev_cmd_deg,
                                      double alt_ref_m) {
    return (std::fabs(yaw_delta_deg) / kQuarterTurn_deg) *
               (radius_m * std::sin(elev_cmd_deg / kOrbitDegPerRad)) +
           alt_ref_m;
}

// The orbit's bank command (deg): the bank of the level turn plus up to
// 30 deg of correction towards the altitude target. The command gives the
// orbit's speed and climb; ext_nz its turn load.
double orbit_bank_command(const GuidanceCommand& cmd, double ext_nz_g, double altitude_m,
                          double yaw_n_deg, const GuideWStates& dw);

#endif
