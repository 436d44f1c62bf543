// The orbit law's bank command.
#include "orbit.h"

#include <cmath>

#include "law_constants.h"
#include "numeric_helpers.h"

// No turn can be held at 1 g or less (the level-turn bank and radius have no
// finite value there), so the orbit then flies wings level and holds the
// altitude it was entered at, still correcting towards it.
double orbit_bank_command(const GuidanceCommand& cmd, double ext_nz_g, double altitude_m,
                          double yaw_n_deg, const GuideWStates& dw) {
    const double turn_nz_g = orbit_turn_load_g(ext_nz_g);

    double level_turn_bank_deg = 0.0;
    double alt_target_m = dw.orbit_alt_ref;
    if (!(std::fabs(turn_nz_g) <= kLevelTurnMinLoad_g)) {
        level_turn_bank_deg = (kHalfTurn_deg * std::acos(1.0 / turn_nz_g)) / kPi;
        const double yaw_delta_deg = wrap_once_deg(yaw_n_deg - dw.orbit_yaw_ref);
        alt_target_m =
            orbit_altitude_target_m(yaw_delta_deg, orbit_radius_m(cmd.speed_mps, turn_nz_g),
                                    cmd.elev_deg, dw.orbit_alt_ref);
    }

    // Above the target bank harder (and sink), below bank less.
    const double correction_deg =
        limit_lower_first_strict((altitude_m - alt_target_m) * kOrbitAltGain_degpm,
                                 -kOrbitMaxCorrection_deg, kOrbitMaxCorrection_deg);
    return correction_deg + level_turn_bank_deg;
}
