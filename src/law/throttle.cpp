// Speed hold and throttle.
//
// In the BLEND band (strictly below 1.5) the throttle holds the speed
// reference: a proportional term on the speed error (limited to +-20 m/s)
// plus the trim throttle for the present altitude and speed. In every other
// band, exactly 1.5 included, the external throttle is taken. Either demand is scaled by thr_gain
// and limited.
#include <algorithm>

#include "GuideW_lookup.h"
#include "guidance_stages.h"
#include "law_constants.h"
#include "numeric_helpers.h"

namespace {

// Trim throttle at (altitude, speed). The host may rewrite thr_max_index,
// but the table it indexes has a fixed size: indices beyond it are capped so
// the lookup can never read past the parameter record.
double trim_throttle(const GuideWParams& p, double altitude_m, double v_mps) {
    const uint32_t max_index[2] = {std::min(p.thr_max_index[0], kTrimMaxAltIndex),
                                   std::min(p.thr_max_index[1], kTrimMaxSpdIndex)};
    return look2_binlcapw(altitude_m, v_mps, p.thr_alt_bp, p.thr_spd_bp, p.thr_table, max_index,
                          kTrimStride);
}

}  // namespace

double throttle_command(GuideWModeBand band, const ExternalCommands& ext, const AircraftState& ac,
                        const GuideWParams& p, const FlightState& fs, double speed_ref_mps) {
    // The trim lookup only where the speed hold uses it.
    double thr_demand;
    if (band == GUIDEW_BAND_BLEND) {
        const double thr_trim = trim_throttle(p, ac.altitude_m, fs.v_mag_mps);
        const double speed_err_mps = limit_lower_first_strict(speed_ref_mps - fs.v_mag_mps,
                                                              -kMaxSpeedErr_mps, kMaxSpeedErr_mps);
        thr_demand = kSpeedErrThrottleGain_permps * speed_err_mps + thr_trim;
    } else {
        thr_demand = ext.throttle;  // also for a NaN mode
    }
    return limit_upper_first_strict(p.thr_gain * thr_demand, p.thr_min, p.thr_max);
}
