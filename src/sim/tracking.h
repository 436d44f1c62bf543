// How closely an aircraft flies what the law commands, over one flight:
//   - load factor: the root-mean-square of flown minus commanded, the
//     flown peak against the commanded peak, the worst instantaneous excess
//     of the flown load over the command and the worst deficit below it,
//     each with its time, and the lowest load flown: a peak that matches
//     its command can hide a push flown 2 g past it, or a roll-in that
//     dips the load a g below;
//   - the same root-mean-square away from the command's steps: a step of
//     the command (more than kCommandStep_g within one law step, or a first
//     command that far from the trimmed load) is followed by a window in
//     which no airframe can yet fly it; the figure left once those windows
//     are set aside is the inner loop's own tracking, given for windows of
//     kShortRise_s and kStepRise_s;
//   - a floor for the first figure: the same root-mean-square for an ideal
//     airframe that answers every command as a first-order lag of
//     kIdealLoadLag_s, from the same start. Where the law steps its command
//     by several g within a second, even that airframe is well off it; the
//     figure says how much of the error the command's own steps leave;
//   - roll: the root-mean-square of the roll rate minus the commanded one
//     (lat_cmd read as a roll-rate demand, within what the aircraft can
//     roll), the law's bank loop being closed through it;
//   - the elevator's activity (elevator_activity.h), its steady phases
//     being where both commands have held for kSteadyHold_s: the load
//     command within kSteadyLoad_g and the lateral command within
//     kSteadyLateral_deg of where they stood (a roll or a pull moves the
//     elevator by design; a buzz shows where nothing is asked of it);
//   - sideslip and angle of attack: the extremes flown, with their times
//     (NaN on a model without them).
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

#include "elevator_activity.h"
#include "flight.h"
#include "law_constants.h"

// A value and the time it was reached; NaN until one is seen.
struct Extreme {
    double value = NAN;
    double t_s = NAN;
};

struct Tracking {
    double rms_load_error_g = 0.0;
    double rms_load_error_settled_g = 0.0;        // outside the kStepRise_s windows after steps
    double rms_load_error_settled_short_g = 0.0;  // outside the kShortRise_s windows
    double rms_load_error_floor_g = 0.0;          // an ideal kIdealLoadLag_s airframe's
    double peak_flown_g = 0.0, peak_commanded_g = 0.0;
    double worst_excess_g = 0.0;  // flown minus commanded, the largest
    double worst_excess_t_s = NAN;
    double worst_deficit_g = 0.0;  // commanded minus flown, the largest
    double worst_deficit_t_s = NAN;
    Extreme lowest_load_g;
    Extreme max_sideslip_deg;  // the largest in size, signed
    Extreme min_alpha_deg, max_alpha_deg;
    ElevatorFigures elevator;
    double rms_roll_rate_error_dps = 0.0;
    long samples = 0, settled_samples = 0, settled_short_samples = 0, command_steps = 0;
    // The flown peak above the commanded one, in percent (negative: below).
    double peak_overshoot_percent() const {
        return peak_commanded_g > 0.0 ? 100.0 * (peak_flown_g / peak_commanded_g - 1.0) : 0.0;
    }
};

class TrackingMeter {
public:
    static constexpr double kCommandStep_g = 0.3;
    static constexpr double kStepRise_s = 1.0;
    static constexpr double kShortRise_s = 0.5;
    static constexpr double kSteadyHold_s = 1.0;
    static constexpr double kSteadyLoad_g = 0.05;
    static constexpr double kSteadyLateral_deg = 5.0;
    // A first-order load response this quick is beyond any fighter's: the
    // F-16 takes 0.1 s to build its first g from level flight and more to
    // unload, the tail's first answer being a dip.
    static constexpr double kIdealLoadLag_s = 0.1;

    // elevator_rate_dps: the elevator actuator's rate (INFINITY: unknown).
    explicit TrackingMeter(double max_roll_rate_dps, double elevator_rate_dps = INFINITY)
        : max_roll_rate_dps_(max_roll_rate_dps), elevator_(elevator_rate_dps) {}

    void observe(const FlightSample& s) {
        const double flown = s.aircraft->load_g, p = s.aircraft->roll_rate_dps;
        if (has_command_) count(s.t_s, flown, p);
        observe_air(s);
        // The command this sample gives, flown over the next step.
        const double cmd = s.outputs->nz_cmd;
        if (!has_command_) ideal_g_ = flown;
        const double before = has_command_ ? n_cmd_ : flown;
        if (std::isfinite(cmd) && std::fabs(cmd - before) > kCommandStep_g) {
            rising_steps_ = std::lround(kStepRise_s / kStep_s);
            short_rising_steps_ = std::lround(kShortRise_s / kStep_s);
            ++t_.command_steps;
        }
        hold_commands(cmd, s.outputs->lat_cmd);
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
        if (t.settled_short_samples > 0) {
            t.rms_load_error_settled_short_g =
                std::sqrt(sum_settled_short_n2_ / static_cast<double>(t.settled_short_samples));
        }
        t.elevator = elevator_.result();
        return t;
    }

private:
    // The lowest (or, with sign -1, the highest) value so far; NaN is never
    // taken.
    static void keep_extreme(Extreme& x, double value, double t_s, double sign = 1.0) {
        if (sign * value < sign * x.value || (std::isnan(x.value) && !std::isnan(value)))
            x = {value, t_s};
    }

    void observe_air(const FlightSample& s) {
        const AirData& a = s.air;
        if (!(std::fabs(a.beta_deg) <= std::fabs(t_.max_sideslip_deg.value)) &&
            std::isfinite(a.beta_deg))
            t_.max_sideslip_deg = {a.beta_deg, s.t_s};
        keep_extreme(t_.min_alpha_deg, a.alpha_deg, s.t_s);
        keep_extreme(t_.max_alpha_deg, a.alpha_deg, s.t_s, -1.0);
        elevator_.observe(a.elevator_deg, has_command_ && unsteady_steps_ == 0);
    }

    // Counts down the steps until both commands have held for
    // kSteadyHold_s; a command that leaves its band starts it again.
    void hold_commands(double n_cmd, double lat_cmd) {
        if (unsteady_steps_ > 0) --unsteady_steps_;
        if (!(std::fabs(n_cmd - held_n_cmd_) <= kSteadyLoad_g &&
              std::fabs(lat_cmd - held_lat_cmd_) <= kSteadyLateral_deg)) {
            held_n_cmd_ = n_cmd;
            held_lat_cmd_ = lat_cmd;
            unsteady_steps_ = std::lround(kSteadyHold_s / kStep_s);
        }
    }

    void count(double t_s, double flown, double p) {
        if (!std::isfinite(flown) || !std::isfinite(n_cmd_)) return;
        const double e = flown - n_cmd_;
        sum_n2_ += e * e;
        ideal_g_ += ideal_share_per_step_ * (n_cmd_ - ideal_g_);
        sum_floor_n2_ += (ideal_g_ - n_cmd_) * (ideal_g_ - n_cmd_);
        t_.peak_flown_g = std::max(t_.peak_flown_g, flown);
        t_.peak_commanded_g = std::max(t_.peak_commanded_g, n_cmd_);
        if (e > t_.worst_excess_g) {
            t_.worst_excess_g = e;
            t_.worst_excess_t_s = t_s;
        }
        if (-e > t_.worst_deficit_g) {
            t_.worst_deficit_g = -e;
            t_.worst_deficit_t_s = t_s;
        }
        keep_extreme(t_.lowest_load_g, flown, t_s);
        if (short_rising_steps_ > 0) {
            --short_rising_steps_;
        } else {
            sum_settled_short_n2_ += e * e;
            ++t_.settled_short_samples;
        }
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
    ElevatorActivity elevator_;
    double sum_n2_ = 0.0, sum_settled_n2_ = 0.0, sum_settled_short_n2_ = 0.0;
    double sum_floor_n2_ = 0.0, sum_p2_ = 0.0;
    double ideal_g_ = 1.0;  // the ideal airframe's load
    // The share of its error the ideal airframe closes in one step.
    const double ideal_share_per_step_ = 1.0 - std::exp(-kStep_s / kIdealLoadLag_s);
    bool has_command_ = false;
    double n_cmd_ = 0.0, p_cmd_ = 0.0;
    long rising_steps_ = 0, short_rising_steps_ = 0;
    long unsteady_steps_ = 0;  // until both commands have held (kSteadyHold_s)
    double held_n_cmd_ = NAN, held_lat_cmd_ = NAN;
};

#endif
