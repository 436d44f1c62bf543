#include "fcs_mapping.h"

#include <algorithm>
#include <cmath>

#include "law_constants.h"

namespace {

// Below this the FCS pitch schedule's gain is taken as the last one seen
// (its ratio is not defined at a neutral stick).
constexpr double kStickForRatio = 1e-3;
// The lowest pitch-schedule gain believed: a smaller ratio is a stick the
// limiter has only begun to pass.
constexpr double kLowestScheduleRatio = 0.11;

// The F-16's roll channel (f16.xml) adds kRollPidKp times its error
// against the scaled roll rate to the aileron command.
constexpr double kRollPidKp = 3.0;
// Its stick limiter passes a push up to 0.44 of full travel (4 g negative
// against 9 g positive).
constexpr double kStickPushLimit = 0.44;
// Its yaw channel is a yaw-rate loop: the pedal plus this many units per
// rad/s of body yaw rate (above 150 ft/s of ground speed), the rudder a
// PID's output on that sum. A pedal of -kYawRateNorm * r therefore asks for
// a yaw rate r; it is given within kPedalLimit (0.3 rad/s of yaw, twice the
// fastest coordinated yaw of these flights).
constexpr double kYawRateNorm = 100.0;
constexpr double kPedalLimit = 30.0;

constexpr double kStop = 1.0;  // a stick at full travel

}  // namespace

// The trim found a stick; fly-by-wire holds 1 g with the stick neutral, the
// surface held by the pitch loop's integrator.
TrimHandover FcsMapping::reset(const TrimReading& trim) {
    n_integral_ = 0.0;
    p_integral_ = 0.0;
    sched_ratio_ = 1.0;
    load_filtered_g_ = NAN;
    load_for_rate_g_ = NAN;
    TrimHandover h;
    h.elevator_cmd_norm = 0.0;
    h.fcs_pitch_integrator = trim.elevator_pos_norm - trim.fcs_alpha_limiter_norm;
    return h;
}

// The roll stick: the roll-rate demand in the FCS's own scale. The FCS's
// roll loop is proportional: where a steady turn needs aileron it settles
// off the demand; an integral of ours takes the rest, so that the law's
// bank loop settles on its command.
double FcsMapping::roll_stick(double p_cmd, const MappingInput& in, double dt) {
    const double p_err = p_cmd - in.p_rps;
    const double stop = 1.0 / gains_.roll_gain;
    if (std::fabs(p_cmd + gains_.p_ki * p_integral_) < stop) p_integral_ += p_err * dt;
    const double steady = (p_cmd + gains_.p_ki * p_integral_) * gains_.roll_gain;
    // The FCS adds kRollPidKp times its roll-rate error to the demand: a
    // roll entry asks for up to four times the steady roll's surface, and
    // the roll overshoots its command (passthrough's load by 12 % at 0.25).
    // Of that lead roll_lead is let through; for the rest the aileron is
    // given so that the FCS's surface demand is the steady roll's at once.
    const double no_lead = (steady + kRollPidKp * gains_.roll_gain * in.p_rps) / (1.0 + kRollPidKp);
    return gains_.roll_lead * steady + (1.0 - gains_.roll_lead) * no_lead;
}

// The pitch stick for n_cmd. In a steady pull the pitch rate is
// g (n - cos theta cos phi) / V; the FCS's pitch channel is neutral when its
// stick, pitch-rate and load terms cancel, so this stick holds n_cmd once
// the FCS's slow integrator has settled. Within a manoeuvre its
// angle-of-attack and pitch-rate feedback hand back part of any stick: a
// share of this stick goes ahead, the load loop finds the rest.
double FcsMapping::pitch_stick(double n_cmd, const MappingInput& in, double dt) {
    const double dn = n_cmd - std::cos(in.theta_rad) * std::cos(in.phi_rad);
    const double v = std::max(in.speed_mps, 1.0);
    const double limited = in.fcs_pitch_limited_norm;
    if (std::fabs(limited) > kStickForRatio)
        sched_ratio_ = std::max(in.fcs_pitch_scheduled_norm / limited, kLowestScheduleRatio);
    // The flown load answers the elevator at once (the tail's own lift), so
    // a loop on the raw load, sampled every law step, is a loop at the
    // sample rate: at high dynamic pressure the elevator swung by 2-4 deg at
    // its actuator's rate every step or two (25-50 Hz). The load the loop
    // sees is low-passed over n_filter_s; its rate, which damps the loop (a
    // pull still building counts as that much nearer the command), is taken
    // through a low-pass of n_kd_filter_s. A flight's first step starts both
    // at the load flown.
    if (std::isnan(load_filtered_g_)) load_filtered_g_ = load_for_rate_g_ = in.load_g;
    load_filtered_g_ += (in.load_g - load_filtered_g_) * dt / (gains_.n_filter_s + dt);
    const double before = load_for_rate_g_;
    load_for_rate_g_ += (in.load_g - load_for_rate_g_) * dt / (gains_.n_kd_filter_s + dt);
    const double n_rate = (load_for_rate_g_ - before) / dt;
    const double n_err = n_cmd - load_filtered_g_;
    // The load error closes through the pitch rate too: n_kp g/V of pitch
    // rate per g of error turns the angle of attack (and with it the load)
    // towards the command in a fraction of a second.
    const double stick_per_q = gains_.pitch_rate_gain / sched_ratio_;
    const double ff = -gains_.ff_share * dn *
                      (gains_.pitch_rate_gain * kStandardGravity_mps2 / v - gains_.load_gain) /
                      sched_ratio_;
    const double stick =
        ff - stick_per_q * (kStandardGravity_mps2 / v) *
                 (gains_.n_kp * (n_err - gains_.n_kd * n_rate) + gains_.n_ki * n_integral_);
    // The integral stops growing further into a stop the stick is against
    // (a pull is a negative stick; the FCS passes a push up to its
    // negative-g limit only).
    const bool winds_up =
        (stick <= -kStop && n_err > 0.0) || (stick >= kStickPushLimit && n_err < 0.0);
    if (!winds_up) n_integral_ += n_err * dt;
    return stick;
}

// The pedal. The FCS's yaw channel holds the body yaw rate at the pedal's
// demand (a yaw damper without washout): left alone it holds zero yaw rate,
// which in a bank or a roll at an angle of attack is sideslip (7.6 deg in
// climb_behind's rolls). The pedal asks for the yaw rate of coordinated
// flight, (p sin alpha + g cos theta sin phi / V) / cos alpha, and
// yaw_per_beta rad/s more per rad of sideslip.
double FcsMapping::pedal(const MappingInput& in) const {
    const double alpha = in.alpha_deg * kRadPerDeg;
    const double v = std::max(in.speed_mps, 1.0);
    const double coordinated =
        (in.p_rps * std::sin(alpha) +
         kStandardGravity_mps2 / v * std::cos(in.theta_rad) * std::sin(in.phi_rad)) /
        std::cos(alpha);
    const double yaw_rate = coordinated + gains_.yaw_per_beta * in.beta_rad;
    return std::clamp(-kYawRateNorm * yaw_rate, -kPedalLimit, kPedalLimit);
}

// The roll stick, the pitch stick and the pedal.
Controls FcsMapping::step(const LawCommand& cmd, const MappingInput& in, double dt) {
    Controls c;
    c.elevator = std::clamp(pitch_stick(cmd.load_cmd_g, in, dt), -kStop, kStop);
    c.aileron = std::clamp(roll_stick(cmd.roll_rate_cmd_rps, in, dt), -kStop, kStop);
    c.rudder = pedal(in);
    c.throttle = cmd.throttle_cmd_norm;
    return c;
}
