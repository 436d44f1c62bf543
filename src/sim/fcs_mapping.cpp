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

// The F-16's flaperons, as its flight-control system and aerodynamics
// (f16.xml) have them: the roll channel's demand is the aileron command plus
// 3 times its error against the scaled roll rate, moved at most 1/0.3 of
// full travel per second; a Mach schedule (1 at Mach 0 to 0.15 at Mach 1)
// scales the deflection; the two flaperons' sum, 1.4324 rad per unit,
// enters the lift at 0.35 per rad. A roll demand therefore lifts or drops
// the aircraft by up to a g within a tenth of a second, before the tail
// can move the angle of attack.
constexpr double kRollPidKp = 3.0;
// Its stick limiter passes a push up to 0.44 of full travel (4 g negative
// against 9 g positive).
constexpr double kStickPushLimit = 0.44;
constexpr double kFlaperonMixRadPerUnit = 1.4324;
constexpr double kFlaperonLiftPerRad = 0.35;
constexpr double kAileronMachSlope = 0.85;  // the schedule falls from 1 by this per Mach
constexpr double kAileronMachFloor = 0.15;

constexpr double kStop = 1.0;  // a stick at full travel

}  // namespace

// The trim found a stick; fly-by-wire holds 1 g with the stick neutral, the
// surface held by the pitch loop's integrator.
TrimHandover FcsMapping::reset(const TrimReading& trim) {
    n_integral_ = 0.0;
    p_integral_ = 0.0;
    roll_demand_ = 0.0;
    sched_ratio_ = 1.0;
    last_load_g_ = NAN;
    TrimHandover h;
    h.elevator_cmd_norm = 0.0;
    h.fcs_pitch_integrator = trim.elevator_pos_norm - trim.fcs_alpha_limiter_norm;
    return h;
}

// The flaperons' lift in g with the roll channel's surface at position
// (its normalised deflection before the Mach schedule), at the flight
// condition read once per step.
double FcsMapping::FlaperonLift::at(double position) const {
    const double scheduled = position * mach_schedule;
    const double mix =
        (std::clamp(-tef - scheduled, -1.0, 1.0) + std::clamp(tef - scheduled, -1.0, 1.0)) *
        kFlaperonMixRadPerUnit;
    return kFlaperonLiftPerRad * mix * qbar_psf * wing_area_sqft / weight_lbs;
}

FcsMapping::FlaperonLift FcsMapping::flaperon_lift(const MappingInput& in) {
    return {std::clamp(1.0 - kAileronMachSlope * in.mach, kAileronMachFloor, 1.0), in.tef_norm,
            in.qbar_psf, in.wing_area_sqft, in.weight_lbs};
}

// The roll channel's surface demand for an aileron command: the command
// plus kRollPidKp times its error against the scaled roll rate.
double FcsMapping::roll_demand_for(double aileron, const MappingInput& in) const {
    return aileron + kRollPidKp * (aileron - gains_.roll_gain * in.p_rps);
}

// The flaperons' lift follows the roll surface within a tenth of a second;
// the tail needs two to three tenths to move the angle of attack, and its
// own first answer to a pull is a dip (its down-load). A full-rate roll
// entry from level flight swings the F-16's load by 2.5 g while the tail
// has barely begun: typical's opening roll into its 3.5 g pull flew -0.7 g.
// Where the change of the flaperons' lift works against the load error (a
// roll that drops the load while the load is short, or lifts it while the
// load is over), the surface demand moves at most flaperon_lift_rate_gps
// g/s of flaperon lift, a rate the tail can answer; a change that helps, and
// every roll once the load is on, goes at once.
double FcsMapping::pace_roll_demand(double aileron, double n_err, const FlaperonLift& lift,
                                    const MappingInput& in, double dt) {
    const double wanted = roll_demand_for(aileron, in);
    const double lift_per_demand = std::fabs(lift.at(1.0) - lift.at(0.0));
    if (gains_.flaperon_lift_rate_gps <= 0.0 || lift_per_demand <= 0.0) {
        roll_demand_ = wanted;
        return aileron;
    }
    const double lift_change =
        lift.at(std::clamp(wanted, -1.0, 1.0)) - lift.at(std::clamp(roll_demand_, -1.0, 1.0));
    double demand = wanted;
    if (lift_change * n_err < 0.0) {
        const double most = gains_.flaperon_lift_rate_gps * dt / lift_per_demand;
        demand = std::clamp(wanted, roll_demand_ - most, roll_demand_ + most);
    }
    roll_demand_ = demand;
    if (demand == wanted) return aileron;
    // The aileron command whose surface demand is the paced one.
    return (demand + kRollPidKp * gains_.roll_gain * in.p_rps) / (1.0 + kRollPidKp);
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
    // the flaperons' lift swings the load by a g before the tail can answer.
    // Of that lead roll_lead is let through; for the rest the aileron is
    // given so that the FCS's surface demand is the steady roll's at once.
    const double no_lead = (steady + kRollPidKp * gains_.roll_gain * in.p_rps) / (1.0 + kRollPidKp);
    return gains_.roll_lead * steady + (1.0 - gains_.roll_lead) * no_lead;
}

// The pitch stick for n_cmd, n_err g short of it. In a steady pull the
// pitch rate is g (n - cos theta cos phi) / V; the FCS's pitch channel is
// neutral when its stick, pitch-rate and load terms cancel, so this stick
// holds n_cmd once the FCS's slow integrator has settled. Within a
// manoeuvre its angle-of-attack and pitch-rate feedback hand back part of
// any stick: a share of this stick goes ahead, the load loop finds the rest.
double FcsMapping::pitch_stick(double n_cmd, double n_err, const MappingInput& in, double dt) {
    const double dn = n_cmd - std::cos(in.theta_rad) * std::cos(in.phi_rad);
    const double v = std::max(in.speed_mps, 1.0);
    const double limited = in.fcs_pitch_limited_norm;
    if (std::fabs(limited) > kStickForRatio)
        sched_ratio_ = std::max(in.fcs_pitch_scheduled_norm / limited, kLowestScheduleRatio);
    // The load error closes through the pitch rate too: n_kp g/V of pitch
    // rate per g of error turns the angle of attack (and with it the load)
    // towards the command in a fraction of a second.
    const double stick_per_q = gains_.pitch_rate_gain / sched_ratio_;
    const double ff = -gains_.ff_share * dn *
                      (gains_.pitch_rate_gain * kStandardGravity_mps2 / v - gains_.load_gain) /
                      sched_ratio_;
    // The flown load's rate damps the loop: a pull that is still building
    // counts as already that much nearer the command. A flight's first step
    // has no load before it: its rate counts as zero.
    if (std::isnan(last_load_g_)) last_load_g_ = in.load_g;
    const double n_rate = (in.load_g - last_load_g_) / dt;
    return ff - stick_per_q * (kStandardGravity_mps2 / v) *
                    (gains_.n_kp * (n_err - gains_.n_kd * n_rate) + gains_.n_ki * n_integral_);
}

// The roll stick, paced where the flaperons' lift would fight the load,
// then the pitch stick for the load the flaperons leave to the wing.
Controls FcsMapping::step(const LawCommand& cmd, const MappingInput& in, double dt) {
    const double n_cmd = cmd.load_cmd_g;
    double n_err = n_cmd - in.load_g;
    double aileron = roll_stick(cmd.roll_rate_cmd_rps, in, dt);
    if (in.has_flaperons) {
        const FlaperonLift lift = flaperon_lift(in);
        aileron = pace_roll_demand(aileron, n_err, lift, in, dt);
        // The flaperons' lift follows the aileron at once; the angle of
        // attack takes a fraction of a second. The load loop flies the rest
        // of the load: the command less the flaperons' lift once the aileron
        // has reached its demand, against the flown load less their lift now.
        n_err -= lift.at(std::clamp(roll_demand_for(aileron, in), -1.0, 1.0)) -
                 lift.at(in.left_aileron_pos_norm);
    }
    const double stick = pitch_stick(n_cmd, n_err, in, dt);
    // The integral stops growing further into a stop the stick is against
    // (a pull is a negative stick; the FCS passes a push up to its
    // negative-g limit only).
    const bool winds_up =
        (stick <= -kStop && n_err > 0.0) || (stick >= kStickPushLimit && n_err < 0.0);
    if (!winds_up) n_integral_ += n_err * dt;
    last_load_g_ = in.load_g;
    Controls c;
    c.elevator = std::clamp(stick, -kStop, kStop);
    c.aileron = std::clamp(aileron, -kStop, kStop);
    c.throttle = cmd.throttle_cmd_norm;
    return c;
}
