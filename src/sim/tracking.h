// How closely an aircraft flies what the law commands, over one flight:
//   - load factor: the root-mean-square of flown minus commanded, the
//     flown peak against the commanded peak, and the largest excess of the
//     flown load over the command at any moment;
//   - roll: the root-mean-square of the roll rate minus the commanded one
//     (lat_cmd read as a roll-rate demand, within what the aircraft can
//     roll), the law's bank loop being closed through it.
// Nothing here judges; guide-sim --tracking prints it, the goals are in the
// README.
#ifndef SIM_TRACKING_H
#define SIM_TRACKING_H

#include <algorithm>
#include <cmath>

#include "flight.h"

struct Tracking {
    double rms_load_error_g = 0.0;
    double peak_flown_g = 0.0, peak_commanded_g = 0.0;
    double worst_excess_g = 0.0;  // flown minus commanded, the largest
    double rms_roll_rate_error_dps = 0.0;
    long samples = 0;
    // The flown peak above the commanded one, in percent (negative: below).
    double peak_overshoot_percent() const {
        return peak_commanded_g > 0.0 ? 100.0 * (peak_flown_g / peak_commanded_g - 1.0) : 0.0;
    }
};

class TrackingMeter {
public:
    explicit TrackingMeter(double max_roll_rate_dps) : max_roll_rate_dps_(max_roll_rate_dps) {}

    void observe(const FlightSample& s) {
        const double flown = s.aircraft->load_g, cmd = s.outputs->nz_cmd;
        if (!std::isfinite(flown) || !std::isfinite(cmd)) return;
        const double e = flown - cmd;
        sum_n2_ += e * e;
        t_.peak_flown_g = std::max(t_.peak_flown_g, flown);
        t_.peak_commanded_g = std::max(t_.peak_commanded_g, cmd);
        t_.worst_excess_g = std::max(t_.worst_excess_g, e);
        const double p_cmd = std::clamp(s.outputs->lat_cmd, -max_roll_rate_dps_, max_roll_rate_dps_);
        const double ep = s.aircraft->roll_rate_dps - p_cmd;
        sum_p2_ += ep * ep;
        ++t_.samples;
    }

    Tracking result() const {
        Tracking t = t_;
        if (t.samples > 0) {
            t.rms_load_error_g = std::sqrt(sum_n2_ / static_cast<double>(t.samples));
            t.rms_roll_rate_error_dps = std::sqrt(sum_p2_ / static_cast<double>(t.samples));
        }
        return t;
    }

private:
    double max_roll_rate_dps_;
    Tracking t_;
    double sum_n2_ = 0.0, sum_p2_ = 0.0;
};

#endif
