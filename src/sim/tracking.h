// How closely an aircraft flies what the law commands, over one flight:
//   - load factor: the root-mean-square of flown minus commanded, the
//     flown peak against the commanded peak, and the largest excess of the
//     flown load over the command at any moment;
//   - the same root-mean-square away from the command's steps: a step of
//     the command (more than kCommandStep_g within one law step, or a first
//     command that far from the trimmed load) is followed by kStepRise_s in
//     which no airframe can yet fly it; the figure left once those windows
//     are set aside is the inner loop's own tracking;
//   - a floor for the first figure: the same root-mean-square for an ideal
//     airframe that answers every command as a first-order lag of
//     kIdealLoadLag_s, from the same start. Where the law steps its command
//     by several g within a second, even that airframe is well off it; the
//     figure says how much of the error the command's own steps leave;
//   - roll: the root-mean-square of the roll rate minus the commanded one
//     (lat_cmd read as a roll-rate demand, within what the aircraft can
//     roll), the law's bank loop being closed through it.
// A sample holds the aircraft as the law saw it and the command the law gave
// on it; that command is flown over the following step. So the aircraft of
// each sample is compared with the command of the sample before (the one it
// has just flown), and the first sample, flown under no command, is not
// counted.
// Nothing here judges; guide-sim --tracking prints it, the goals are in the
// README.
#ifndef SIM_TRACKING_H
#define SIM_TRACKING_H

#include <algorithm>
#include <cmath>

#include "flight.h"
#include "law_constants.h"

struct Tracking {
    double rms_load_error_g = 0.0;
    double rms_load_error_settled_g = 0.0;  // outside the windows after the command's steps
    double rms_load_error_floor_g = 0.0;    // an ideal kIdealLoadLag_s airframe's
    double peak_flown_g = 0.0, peak_commanded_g = 0.0;
    double worst_excess_g = 0.0;  // flown minus commanded, the largest
    double rms_roll_rate_error_dps = 0.0;
    long samples = 0, settled_samples = 0, command_steps = 0;
    // The flown peak above the commanded one, in percent (negative: below).
    double peak_overshoot_percent() const {
        return peak_commanded_g > 0.0 ? 100.0 * (peak_flown_g / peak_commanded_g - 1.0) : 0.0;
    }
};

class TrackingMeter {
public:
    static constexpr double kCommandStep_g = 0.3;
    static constexpr double kStepRise_s = 1.0;
    // A first-order load response this quick is beyond any fighter's: the
    // F-16 takes 0.1 s to build its first g from level flight and more to
    // unload, the tail's first answer being a dip.
    static constexpr double kIdealLoadLag_s = 0.1;

    explicit TrackingMeter(double max_roll_rate_dps) : max_roll_rate_dps_(max_roll_rate_dps) {}

    void observe(const FlightSample& s) {
        const double flown = s.aircraft->load_g, p = s.aircraft->roll_rate_dps;
        if (has_command_) count(flown, p);
        // The command this sample gives, flown over the next step.
        const double cmd = s.outputs->nz_cmd;
        if (!has_command_) ideal_g_ = flown;
        const double before = has_command_ ? n_cmd_ : flown;
        if (std::isfinite(cmd) && std::fabs(cmd - before) > kCommandStep_g) {
            rising_steps_ = std::lround(kStepRise_s / kStep_s);
            ++t_.command_steps;
        }
        n_cmd_ = cmd;
        p_cmd_ = std::clamp(s.outputs->lat_cmd, -max_roll_rate_dps_, max_roll_rate_dps_);
        has_command_ = true;
    }

    Tracking result() const {
        Tracking t = t_;
        if (t.samples > 0) {
            t.rms_load_error_g = std::sqrt(sum_n2_ / static_cast<double>(t.samples));
            t.rms_roll_rate_error_dps = std::sqrt(sum_p2_ / static_cast<double>(t.samples));
        }
        if (t.samples > 0) {
            t.rms_load_error_floor_g = std::sqrt(sum_floor_n2_ / static_cast<double>(t.samples));
        }
        if (t.settled_samples > 0) {
            t.rms_load_error_settled_g =
                std::sqrt(sum_settled_n2_ / static_cast<double>(t.settled_samples));
        }
        return t;
    }

private:
    void count(double flown, double p) {
        if (!std::isfinite(flown) || !std::isfinite(n_cmd_)) return;
        const double e = flown - n_cmd_;
        sum_n2_ += e * e;
        ideal_g_ += ideal_share_per_step_ * (n_cmd_ - ideal_g_);
        sum_floor_n2_ += (ideal_g_ - n_cmd_) * (ideal_g_ - n_cmd_);
        t_.peak_flown_g = std::max(t_.peak_flown_g, flown);
        t_.peak_commanded_g = std::max(t_.peak_commanded_g, n_cmd_);
        t_.worst_excess_g = std::max(t_.worst_excess_g, e);
        if (rising_steps_ > 0) {
            --rising_steps_;
        } else {
            sum_settled_n2_ += e * e;
            ++t_.settled_samples;
        }
        const double ep = p - p_cmd_;
        sum_p2_ += ep * ep;
        ++t_.samples;
    }

    double max_roll_rate_dps_;
    Tracking t_;
    double sum_n2_ = 0.0, sum_settled_n2_ = 0.0, sum_floor_n2_ = 0.0, sum_p2_ = 0.0;
    double ideal_g_ = 1.0;  // the ideal airframe's load
    // The share of its error the ideal airframe closes in one step.
    const double ideal_share_per_step_ = 1.0 - std::exp(-kStep_s / kIdealLoadLag_s);
    bool has_command_ = false;
    double n_cmd_ = 0.0, p_cmd_ = 0.0;
    long rising_steps_ = 0;
};

#endif
