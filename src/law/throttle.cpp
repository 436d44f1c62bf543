// Speed hold and throttle.
//
// Below mode 1.5 the throttle holds the speed reference: a proportional term
// on the speed error (limited to +-20 m/s) plus the trim throttle for the
// present altitude and speed. In every other mode the external throttle is
// taken. Either demand is scaled by thr_gain and limited.
#include <algorithm>

#include "guidance_stages.h"

namespace {

constexpr double kSpeedHoldModeUpper = 1.5;
constexpr double kMaxSpeedErr_mps = 20.0;
constexpr double kSpeedErrGain_perMps = 5.0;

// The trim table is 11 altitudes by 12 speeds laid out with a fixed stride.
constexpr uint32_t kTrimStride = 11;
constexpr uint32_t kTrimMaxAltIndex = 10;
constexpr uint32_t kTrimMaxSpdIndex = 11;

// Trim throttle at (altitude, speed). The host may rewrite thr_max_index,
// but the table it indexes has a fixed size: indices beyond it are capped so
// the lookup can never read past the parameter record.
double trim_throttle(const GuideWParams& p, double altitude_m, double v_mps) {
    const uint32_t max_index[2] = {
        std::min(p.thr_max_index[0], kTrimMaxAltIndex),
        std::min(p.thr_max_index[1], kTrimMaxSpdIndex)};
    return look2_binlcapw(altitude_m, v_mps, p.thr_alt_bp, p.thr_spd_bp,
                          p.thr_table, max_index, kTrimStride);
}

}  // namespace

double throttle_command(const GuideWInputs& u, const GuideWParams& p,
                        const FlightState& fs, double speed_ref) {
    const double thr_trim = trim_throttle(p, u.altitude, fs.v_mag);

    double thr_demand;
    if (u.mode < kSpeedHoldModeUpper) {
        double speed_err = speed_ref - fs.v_mag;
        if (speed_err < -kMaxSpeedErr_mps) speed_err = -kMaxSpeedErr_mps;
        if (speed_err > kMaxSpeedErr_mps) speed_err = kMaxSpeedErr_mps;
        thr_demand = kSpeedErrGain_perMps * speed_err + thr_trim;
    } else {
        thr_demand = u.ext_throttle;  // also for a NaN mode
    }

    const double c = p.thr_gain * thr_demand;
    if (c > p.thr_max) return p.thr_max;
    if (c < p.thr_min) return p.thr_min;
    return c;
}
