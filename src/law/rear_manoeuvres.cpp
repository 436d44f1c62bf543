// Rear-hemisphere manoeuvres: the commanded direction lies behind.
//
// Diving commands (below the horizon):
//  - 45 deg or steeper: the split manoeuvre. Roll to a latched bank of
//    110..180 deg on the side of the command while holding the load of level
//    flight, then pull through towards the commanded elevation.
//  - shallower: a rear turn to at most 85 deg of bank, holding the level-
//    flight load until the bank is captured. A command almost straight
//    behind freezes the turn direction, so the aircraft does not reverse its
//    turn when the error flips sign across the tail.
// Climbing commands: a combined turn and pull. Once the aircraft has gone
// inverted in such a turn, it rolls over to 180 deg on its side whenever the
// command is within 90 deg of its heading, and an inverted aircraft with the
// nose near the command flies wings level.
//
// This module owns the rear latches, their release included
// (state_machine.h).
#include <cmath>

#include "demand_laws.h"
#include "guidance_stages.h"
#include "flag_tests.h"
#include "law_constants.h"
#include "level_flight_loads.h"
#include "numeric_helpers.h"
#include "state_machine.h"

namespace {

// Turn-rate demand. Upside down, a positive error needs the opposite roll.
double rear_turn_rate(const FlightState& fs, const GuidanceGeometry& geo) {
    const double az_err_rad = geo.errors.az_err_rad;
    const double t_turn_s = GuideW_T_turn_cal(-az_err_rad, fs.sigma_root);
    const double raw = geo.attitude.upright ? az_err_rad / t_turn_s : -az_err_rad / t_turn_s;
    return limit_turn_rate(raw, geo.path);
}

// Load of level flight at the present pitch and bank magnitude: a pull on
// either side of the knife edge (level_flight_loads.h).
double hold_load(const AttitudeTests& att) {
    return level_load_pull_either_side(att.cos_pitch, att.cos_roll);
}

// Bank target of the split manoeuvre: from 110 deg with the command abeam to
// 180 deg at 170 deg off, on the side of the command; further off, inverted
// on the side the aircraft already rolls.
double split_bank(const FlightState& fs, const CommandErrors& e) {
    if (e.az_err_abs_rad > kStraightBehind_rad) {
        return kHalfTurn_deg * GuideW_signg(fs.roll_n_deg);
    }
    return GuideW_signg(e.az_err_rad) *
           ((((e.az_err_abs_rad * kDegPerRad) - kQuarterTurn_deg) * kSplitBankRise_deg) /
                kSplitBankRun_deg +
            kSplitBankAbeam_deg);
}

void split_manoeuvre(const FlightState& fs, const GuidanceGeometry& geo, GuideWStates& dw,
                     GuidanceResults& res) {
    double load_g;
    if (flag_is_nonzero(dw.splits_pull)) {
        dw.splits_timer = 0.0;
        load_g = vertical_load_demand(flight_path_rate_demand(geo, fs), geo.path);
    } else {
        dw.splits_timer = dw.splits_timer + kStep_s;
        load_g = hold_load(geo.attitude);
    }
    res.bank_guid_deg = dw.splits_bank;
    res.nz_guid_g = limit_upper_first(load_g, -fs.n_lim_g, fs.n_lim_g);

    if (flag_is_zero(dw.splits_pull) && (geo.attitude.roll_abs_deg > kSplitsInvertedRoll_deg ||
                                         dw.splits_timer > kSplitsRollTime_s)) {
        dw.splits_pull = 1.0;  // pull from the next dive step on
    }
}

void rear_turn(const FlightState& fs, const GuidanceGeometry& geo, GuideWStates& dw,
               GuidanceResults& res) {
    const double n_h_g = horizontal_load_demand(rear_turn_rate(fs, geo), geo.path);
    const double n_v_g = vertical_load_demand(flight_path_rate_demand(geo, fs), geo.path);

    // Never push in a rear turn: a non-positive vertical demand is dropped.
    const double n_tot_g =
        n_v_g > 0.0 ? std::sqrt(n_h_g * n_h_g + n_v_g * n_v_g) : std::sqrt(n_h_g * n_h_g);
    res.nz_guid_g = limit_upper_first(n_tot_g, -fs.n_lim_g, fs.n_lim_g);

    // With a descending demand the lift must carry less than the path's
    // share of gravity, so the bank steepens; past that, bank fully.
    const double c = GuideW_nonzero(std::fabs(geo.path.cos_gamma));
    double bank_target_deg;
    if (n_v_g > 0.0) {
        bank_target_deg = bank_for_loads(n_h_g, c);
    } else {
        double q = c - std::fabs(n_v_g);
        if (q < 0.0) q = kRearTurnBankDivisorFloor;
        bank_target_deg = bank_for_loads(n_h_g, q);
    }
    if (flag_is_one(dw.sign_latch)) bank_target_deg = std::fabs(bank_target_deg) * dw.turn_sign;
    res.bank_guid_deg =
        limit_upper_first(bank_target_deg, -kUprightBankLimit_deg, kUprightBankLimit_deg);

    // Until the bank is captured, hold level-flight load so the aircraft
    // rolls into the turn before it pulls.
    if (flag_is_zero(dw.bank_captured)) {
        res.nz_guid_g = limit_upper_first(hold_load(geo.attitude), -fs.n_lim_g, fs.n_lim_g);
        if (std::fabs(fs.roll_n_deg - res.bank_guid_deg) < kCaptureRollErr_deg &&
            std::fabs(geo.errors.elev_err_rad) < kCaptureElevErr_rad) {
            dw.bank_captured = 1.0;
        }
    }
}

void dive(const FlightState& fs, const GuidanceGeometry& geo, GuideWStates& dw,
          GuidanceResults& res) {
    const CommandErrors& e = geo.errors;
    const bool shallow = e.elev_cmd_rad > kSteepDive_rad;

    // Almost straight behind: freeze the turn direction on the first step.
    if (shallow && e.az_err_abs_rad > kStraightBehind_rad && flag_is_zero(dw.sign_latch)) {
        dw.sign_latch = 1.0;
        dw.turn_sign = GuideW_signg(e.az_err_rad);
    }
    if (flag_is_zero(dw.splits_active) && !shallow) {
        dw.splits_active = 1.0;
        dw.splits_bank = split_bank(fs, e);
        // The law itself never reads this direction: while the split runs
        // the rear turn does not, and the release ahead clears sign_latch
        // with the split, so the next frozen direction rewrites turn_sign.
        // It records, for a host reading the states, the side the split
        // rolls to; and a host that clears splits_active itself while
        // sign_latch is set resumes the rear turn on that side.
        dw.turn_sign = GuideW_signg(fs.roll_n_deg);
    }

    // Once latched the split manoeuvre runs to its end, whatever the command
    // does meanwhile. A flag written other than 0 or 1 runs neither branch.
    if (flag_is_one(dw.splits_active)) split_manoeuvre(fs, geo, dw, res);
    if (flag_is_zero(dw.splits_active)) rear_turn(fs, geo, dw, res);

    if (flag_is_one(dw.inverted_latch) && !geo.attitude.inverted) dw.inverted_latch = 0.0;
}

void climb(const FlightState& fs, const GuidanceGeometry& geo, GuideWStates& dw,
           GuidanceResults& res) {
    const CommandErrors& e = geo.errors;
    const AttitudeTests& att = geo.attitude;

    // Almost straight behind and well above or below: pull in the vertical
    // plane alone.
    double n_h_g = 0.0;
    if (!(e.az_err_abs_rad > kStraightBehind_rad &&
          std::fabs(e.elev_err_rad) > kPurePullElevErr_rad)) {
        n_h_g = horizontal_load_demand(rear_turn_rate(fs, geo), geo.path);
    }
    const double n_v_g = vertical_load_demand(flight_path_rate_demand(geo, fs), geo.path);

    // Signed like the vertical demand, unless a hard turn dominates.
    const double s = std::sqrt(n_h_g * n_h_g + n_v_g * n_v_g);
    double n_tot_g = n_v_g > 0.0 ? s : -s;
    const double n_h_abs_g = std::fabs(n_h_g);
    if (n_h_abs_g > kTurnDominates_g && n_h_abs_g > kTurnDominatesRatio * std::fabs(n_v_g)) {
        n_tot_g = s;
    }
    res.nz_guid_g = limit_upper_first(n_tot_g, -fs.n_lim_g, fs.n_lim_g);

    double bank_target_deg = bank_for_loads(n_h_g, GuideW_nonzero(std::fabs(geo.path.cos_gamma)));
    // Having gone inverted in this turn, roll over on the present side once
    // the command is within 90 deg of the heading.
    if (flag_is_one(dw.inverted_latch) && std::fabs(e.az_err_body_rad) < kHalfPi_rad) {
        bank_target_deg = kHalfTurn_deg * GuideW_signg(fs.roll_n_deg);
    }
    // A NaN tilt takes the upright limit here.
    const double bank_limit_deg = !att.upright ? kInvertedBankLimit_deg : kUprightBankLimit_deg;
    res.bank_guid_deg = limit_upper_first(bank_target_deg, -bank_limit_deg, bank_limit_deg);

    // Inverted with the nose near the command: wings level.
    if (!att.upright && att.ang_nose_deg < kWingsLevelNose_deg && att.ang_nose_deg > 0.0) {
        res.bank_guid_deg = 0.0;
    }
    // The roll-over acts from the next climb step on.
    if (!att.upright && flag_is_zero(dw.inverted_latch)) dw.inverted_latch = 1.0;
}

// Never slow down to turn around: the larger of the commanded and the
// present equivalent airspeed, held at 600 m/s.
double rear_speed_reference(const GuidanceCommand& cmd, const FlightState& fs, double entry_mps) {
    if (fs.eas_mps >= kMaxSpeedRef_mps) return kMaxSpeedRef_mps;
    if (cmd.speed_mps >= fs.eas_mps) return cmd.speed_mps;
    return entry_mps;
}

}  // namespace

RearManoeuvre rear_manoeuvres(const GuidanceCommand& cmd, const FlightState& fs,
                              const GuidanceGeometry& geo, GuideWStates& dw, GuidanceResults& res) {
    RearManoeuvre flown = RearManoeuvre::climb;  // also for a NaN command
    if (geo.errors.elev_cmd_rad < 0.0) {
        flown = RearManoeuvre::dive;
        dive(fs, geo, dw, res);
    } else {
        climb(fs, geo, dw, res);
    }
    res.speed_ref_mps = rear_speed_reference(cmd, fs, res.speed_ref_mps);
    return flown;
}

void release_rear_latches(const AttitudeTests& att, GuideWStates& dw) {
    if (flag_is_one(dw.inverted_latch) && !att.inverted) {
        dw.inverted_latch = 0.0;
    }
    // A split manoeuvre is over once upright; a frozen turn direction no
    // longer applies, and its bank capture goes with it.
    if (flag_is_one(dw.splits_active) && !att.inverted) {
        dw.splits_active = 0.0;
        dw.splits_pull = 0.0;
    }
    if (flag_is_one(dw.sign_latch)) {
        dw.sign_latch = 0.0;
        dw.bank_captured = 0.0;
    }
}
