#include "inner_loop.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kG0_mps2 = 9.80665;
// The gains' dynamic-pressure scale stays within these: below a fifth of the
// reference (a stall, a zoom climb's top) more gain only bangs the surface
// from stop to stop; far above it the surface's own rate and the structure
// are the limit, not the loop.
constexpr double kMinQbarScale = 0.2, kMaxQbarScale = 5.0;
constexpr double kMinSpeed_mps = 1.0;  // the steady pull's pitch rate is g n / V

// A surface command is pinned at a stop beyond this.
constexpr double kStop = 1.0;
// The share of a structural load limit the loop asks for at most.
constexpr double kLoadLimitShare = 0.9;

}  // namespace

SurfaceInnerLoop::SurfaceInnerLoop(const InnerLoopGains& gains, double min_load_g,
                                   double max_load_g)
    : gains_(gains),
      min_n_cmd_g_(kLoadLimitShare * min_load_g),
      max_n_cmd_g_(kLoadLimitShare * max_load_g) {}

void SurfaceInnerLoop::reset(double trim_elevator, double trim_qbar_kpa) {
    trim_elevator_ = trim_elevator;
    trim_qbar_kpa_ = std::max(trim_qbar_kpa, 1e-6);
    n_integral_ = 0.0;
    p_integral_ = 0.0;
    n_flown_cmd_g_ = 1.0;
}

SurfaceCommand SurfaceInnerLoop::step(const InnerLoopInput& in, double dt) {
    const InnerLoopGains& g = gains_;
    const double wanted = std::clamp(in.n_cmd_g, min_n_cmd_g_, max_n_cmd_g_);
    if (g.n_slew_gps > 0.0) {
        const double most = g.n_slew_gps * dt;
        n_flown_cmd_g_ += std::clamp(wanted - n_flown_cmd_g_, -most, most);
    } else {
        n_flown_cmd_g_ = wanted;
    }
    const double n_cmd = n_flown_cmd_g_;
    const double qbar = std::max(in.qbar_kpa, 1e-6);
    const double scale = std::clamp(g.qbar_ref_kpa / qbar, kMinQbarScale, kMaxQbarScale);

    // Pitch. The elevator that holds a load is linear in the lift
    // coefficient, n W / (qbar S): from the trim's elevator at 1 g and its
    // dynamic pressure, the steady pull at n_cmd here.
    const double steady = trim_elevator_ + g.elevator_per_g * g.qbar_ref_kpa *
                                               (n_cmd / qbar - 1.0 / trim_qbar_kpa_);
    // In a steady pull the body pitches at g (n - cos theta cos phi) / V; a
    // pitch rate beyond that is the short-period swing of the angle of
    // attack, which the aircraft's own damping lets overshoot.
    const double v = std::max(in.speed_mps, kMinSpeed_mps);
    const double q_steady =
        kG0_mps2 * (n_cmd - std::cos(in.theta_rad) * std::cos(in.phi_rad)) / v;
    const double n_err = n_cmd - in.n_g;
    // A pull is a negative elevator: more load wanted, less elevator.
    const double elevator = steady - scale * (g.n_kp * n_err + g.n_ki * n_integral_) +
                            scale * g.q_kd * (in.q_rps - q_steady);
    const bool pitch_pinned = (elevator <= -kStop && n_err > 0.0) ||
                              (elevator >= kStop && n_err < 0.0);
    if (!pitch_pinned) n_integral_ += n_err * dt;

    // Roll: a roll-rate loop; the integral holds the aileron a steady turn
    // needs against the aircraft's own roll-off and its roll damping.
    const double p_err = in.p_cmd_rps - in.p_rps;
    const double aileron = scale * (g.p_kp * p_err + g.p_ki * p_integral_);
    const bool roll_pinned = (aileron >= kStop && p_err > 0.0) || (aileron <= -kStop && p_err < 0.0);
    if (!roll_pinned) p_integral_ += p_err * dt;

    return {std::clamp(elevator, -kStop, kStop), std::clamp(aileron, -kStop, kStop)};
}
