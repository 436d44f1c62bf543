#include "inner_loop.h"

#include <algorithm>
#include <cmath>

#include "law_constants.h"

namespace {

// The gains' dynamic-pressure scale stays within these: below a fifth of the
// reference (a stall, a zoom climb's top) more gain only bangs the surface
// from stop to stop; far above it the surface's own rate and the structure
// are the limit, not the loop.
constexpr double kMinQbarScale = 0.2, kMaxQbarScale = 5.0;
constexpr double kMinSpeed_mps = 1.0;  // the steady pull's pitch rate is g n / V

// A surface command is pinned at a stop beyond this.
constexpr double kStop = 1.0;
// The share of a structural load limit the loop asks for at most: the rest
// is the margin for its overshoot, and for the elevator's own lift where the
// command reverses from near a limit (the F-15 went 0.3 g past -3 g from a
// command held at 90 % of it).
constexpr double kLoadLimitShare = 0.8;
// Past this much short of the aircraft's angle-of-attack limit the elevator
// is pushed in proportion (per degree, at the reference dynamic pressure).
constexpr double kAlphaMargin_deg = 4.0, kAlphaPushPerDeg = 0.1;
constexpr double kAlphaLetGo_s = 0.5;  // the integral's pull fades at this time constant there

}  // namespace

SurfaceInnerLoop::SurfaceInnerLoop(const InnerLoopGains& gains, const AircraftLimits& limits)
    : gains_(gains),
      min_n_cmd_g_(kLoadLimitShare * limits.min_load_g),
      max_n_cmd_g_(kLoadLimitShare * limits.max_load_g),
      max_alpha_deg_(limits.max_alpha_deg) {}

void SurfaceInnerLoop::reset(double trim_elevator, double trim_qbar_kpa,
                             double trim_elevator_lift_g) {
    trim_elevator_lift_g_ = trim_elevator_lift_g;
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
    // Near its angle-of-attack limit the wing gives little more lift for
    // more angle, and in a zoom the speed bleeds away under a held load;
    // past the stall the load even falls as the angle grows, and a load loop
    // pulls on into it (and out of the aircraft's data). Past the margin the
    // loop asks no more than the load flown, lets go of its integral's pull
    // and pushes the elevator in proportion to the excess.
    const double alpha_excess = in.alpha_deg - (max_alpha_deg_ - kAlphaMargin_deg);
    const bool alpha_limited = alpha_excess > 0.0;
    const double n_cmd = alpha_limited ? std::min(n_flown_cmd_g_, in.n_g) : n_flown_cmd_g_;
    const double qbar = std::max(in.qbar_kpa, 1e-6);
    const double scale = std::clamp(g.qbar_ref_kpa / qbar, kMinQbarScale, kMaxQbarScale);

    // Pitch. The elevator that holds a load is linear in the lift
    // coefficient, n W / (qbar S): from the trim's elevator at 1 g and its
    // dynamic pressure, the steady pull at n_cmd here.
    const double steady =
        trim_elevator_ + g.elevator_per_g * g.qbar_ref_kpa * (n_cmd / qbar - 1.0 / trim_qbar_kpa_);
    // In a steady pull the body pitches at g (n - cos theta cos phi) / V; a
    // pitch rate beyond that is the short-period swing of the angle of
    // attack, which the aircraft's own damping lets overshoot.
    const double v = std::max(in.speed_mps, kMinSpeed_mps);
    const double q_steady =
        kStandardGravity_mps2 * (n_cmd - std::cos(in.theta_rad) * std::cos(in.phi_rad)) / v;
    const double n_err = n_cmd - in.n_g;
    // The elevator lifts the tail against its moment: a pull first drops the
    // load by the tail's download, by a g and more for a full swing at high
    // dynamic pressure, before the wing's angle of attack grows. Answered
    // in proportion, that drop asks for more pull still; the proportional
    // action therefore sees the load of the wing and body alone (the flown
    // load less the elevator's lift beyond the trim's), and the integral the
    // flown load, so that the aircraft settles on the command.
    const double wing_err = n_err + (in.elevator_lift_g - trim_elevator_lift_g_);
    // A pull is a negative elevator: more load wanted, less elevator. The
    // integral is kept as elevator, so that it holds its surface when the
    // dynamic pressure (and with it the scale) changes.
    if (alpha_limited) n_integral_ -= std::max(n_integral_, 0.0) * dt / kAlphaLetGo_s;
    // (Unbounded in dynamic pressure: near the stall in a zoom the
    // dynamic pressure is a small part of the reference's.)
    const double alpha_push =
        alpha_limited ? g.qbar_ref_kpa / qbar * kAlphaPushPerDeg * alpha_excess : 0.0;
    const double elevator = steady - scale * g.n_kp * wing_err - n_integral_ +
                            scale * g.q_kd * (in.q_rps - q_steady) + alpha_push;
    const bool pitch_pinned =
        (elevator <= -kStop && n_err > 0.0) || (elevator >= kStop && n_err < 0.0) || alpha_limited;
    if (!pitch_pinned) n_integral_ += scale * g.n_ki * n_err * dt;

    // Roll: a roll-rate loop; the integral holds the aileron a steady turn
    // needs against the aircraft's own roll-off and its roll damping.
    const double p_err = in.p_cmd_rps - in.p_rps;
    const double aileron = scale * g.p_kp * p_err + p_integral_;
    const bool roll_pinned =
        (aileron >= kStop && p_err > 0.0) || (aileron <= -kStop && p_err < 0.0);
    if (!roll_pinned) p_integral_ += scale * g.p_ki * p_err * dt;

    // Yaw: the rudder holds the sideslip at zero. Rolling, the ailerons'
    // drag and the roll rate yaw the nose against the roll; the sideslip's
    // dihedral effect then rolls the aircraft back (the F-15 rolled at
    // 28 deg/s instead of 44 with its ailerons at their stops at 9000 m).
    const double rudder = scale * g.r_kb * in.beta_rad;
    return {std::clamp(elevator, -kStop, kStop), std::clamp(aileron, -kStop, kStop),
            std::clamp(rudder, -kStop, kStop)};
}
