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
#include <cmath>

#include "demand_laws.h"
#include "guidance_stages.h"
#include "numeric_helpers.h"

namespace {

constexpr double kStep_s = 0.01;

// A command more than 170 deg off is almost straight behind.
constexpr double kStraightBehind_rad = 2.9670597283903604;

// Split manoeuvre: the roll phase ends within 1 deg of inverted, or after
// 2.5 s of rolling.
constexpr double kSplitsInvertedRoll_deg = 179.0;
constexpr double kSplitsRollTime_s = 2.5;

// Rear turn.
constexpr double kCaptureRollErr_deg = 5.0;
constexpr double kCaptureElevErr_rad = 0.5235987755982988;  // 30 deg
constexpr double kMinBankDivisor = 0.01;

// Climbing turn.
constexpr double kPurePullElevErr_rad = 0.3490658503988659;  // 20 deg
constexpr double kTurnDominates_g = 3.5;
constexpr double kWingsLevelNose_deg = 30.0;

// Above this equivalent airspeed the speed reference is held, m/s.
constexpr double kMaxSpeedRef_mps = 600.0;

// Turn-rate demand. Upside down, a positive error needs the opposite roll.
double rear_turn_rate(const FlightState& fs, const GuidanceGeometry& geo) {
    const double t_turn_s = GuideW_T_turn_cal(-geo.az_err, fs.sigma_root);
    const double raw = geo.upright ? geo.az_err / t_turn_s
                                   : -geo.az_err / t_turn_s;
    return limit_turn_rate(raw, geo);
}

// Load of level flight at the present pitch and bank magnitude.
double hold_load(const GuidanceGeometry& geo) {
    return geo.cos_pitch / std::fabs(GuideW_nonzero(geo.cos_roll));
}

// Bank target of the split manoeuvre: from 110 deg at 90 deg off to 180 deg
// at 170 deg off, on the side of the command; further off, inverted on the
// side the aircraft already rolls.
double split_bank(const FlightState& fs, const GuidanceGeometry& geo) {
    if (geo.az_err_abs > kStraightBehind_rad) {
        return 180.0 * GuideW_signg(fs.roll_n);
    }
    return GuideW_signg(geo.az_err) *
           ((((geo.az_err_abs * kDegPerRad) - 90.0) * 7.0) / 8.0 + 110.0);
}

void split_manoeuvre(const FlightState& fs, const GuidanceGeometry& geo,
                     GuideWStates& dw, GuidanceResults& res) {
    double load;
    if (dw.splits_pull != 0.0) {
        dw.splits_timer = 0.0;
        load = vertical_load_demand(flight_path_rate_demand(geo, fs), geo);
    } else {
        dw.splits_timer = dw.splits_timer + kStep_s;
        load = hold_load(geo);
    }
    res.bank_guid = dw.splits_bank;
    res.nz_guid = clamp_upper_first(load, -fs.n_lim, fs.n_lim);

    if (dw.splits_pull == 0.0 &&
        (geo.roll_abs > kSplitsInvertedRoll_deg ||
         dw.splits_timer > kSplitsRollTime_s)) {
        dw.splits_pull = 1.0;  // pull from the next dive step on
    }
}

void rear_turn(const FlightState& fs, const GuidanceGeometry& geo,
               GuideWStates& dw, GuidanceResults& res) {
    const double n_h = horizontal_load_demand(rear_turn_rate(fs, geo), geo);
    const double n_v = vertical_load_demand(flight_path_rate_demand(geo, fs), geo);

    // Never push in a rear turn: a non-positive vertical demand is dropped.
    const double n_tot = n_v > 0.0 ? std::sqrt(n_h * n_h + n_v * n_v)
                                   : std::sqrt(n_h * n_h);
    res.nz_guid = clamp_upper_first(n_tot, -fs.n_lim, fs.n_lim);

    // With a descending demand the lift must carry less than the path's
    // share of gravity, so the bank steepens; past vertical, bank fully.
    const double c = GuideW_nonzero(std::fabs(geo.cos_gamma));
    double bank_target;
    if (n_v > 0.0) {
        bank_target = bank_for_loads(n_h, c);
    } else {
        double q = c - std::fabs(n_v);
        if (q < 0.0) q = kMinBankDivisor;
        bank_target = bank_for_loads(n_h, q);
    }
    if (dw.sign_latch == 1.0) bank_target = std::fabs(bank_target) * dw.turn_sign;
    res.bank_guid = clamp_upper_first(bank_target, -kUprightBankLimit_deg,
                                      kUprightBankLimit_deg);

    // Until the bank is captured, hold level-flight load so the aircraft
    // rolls into the turn before it pulls.
    if (dw.bank_captured == 0.0) {
        res.nz_guid = clamp_upper_first(hold_load(geo), -fs.n_lim, fs.n_lim);
        if (std::fabs(fs.roll_n - res.bank_guid) < kCaptureRollErr_deg &&
            std::fabs(geo.elev_err) < kCaptureElevErr_rad) {
            dw.bank_captured = 1.0;
        }
    }
}

void dive(const FlightState& fs, const GuidanceGeometry& geo,
          GuideWStates& dw, GuidanceResults& res) {
    const bool shallow = geo.elev_cmd_r > kSteepDive_rad;

    // Almost straight behind: freeze the turn direction on the first step.
    if (shallow && geo.az_err_abs > kStraightBehind_rad && dw.sign_latch == 0.0) {
        dw.sign_latch = 1.0;
        dw.turn_sign = GuideW_signg(geo.az_err);
    }
    if (dw.splits_active == 0.0 && !shallow) {
        dw.splits_active = 1.0;
        dw.splits_bank = split_bank(fs, geo);
        dw.turn_sign = GuideW_signg(fs.roll_n);
    }

    // Once latched the split manoeuvre runs to its end, whatever the command
    // does meanwhile. A flag written other than 0 or 1 runs neither branch.
    if (dw.splits_active == 1.0) split_manoeuvre(fs, geo, dw, res);
    if (dw.splits_active == 0.0) rear_turn(fs, geo, dw, res);

    if (dw.inverted_latch == 1.0 && !geo.inverted) dw.inverted_latch = 0.0;
    if (dw.upright_latch == 1.0) dw.upright_latch = 0.0;
}

void climb(const FlightState& fs, const GuidanceGeometry& geo,
           GuideWStates& dw, GuidanceResults& res) {
    // Almost straight behind and well above or below: pull in the vertical
    // plane alone.
    double n_h = 0.0;
    if (!(geo.az_err_abs > kStraightBehind_rad &&
          std::fabs(geo.elev_err) > kPurePullElevErr_rad)) {
        n_h = horizontal_load_demand(rear_turn_rate(fs, geo), geo);
    }
    const double n_v = vertical_load_demand(flight_path_rate_demand(geo, fs), geo);

    // Signed like the vertical demand, unless a hard turn dominates.
    const double s = std::sqrt(n_h * n_h + n_v * n_v);
    double n_tot = n_v > 0.0 ? s : -s;
    const double n_h_abs = std::fabs(n_h);
    if (n_h_abs > kTurnDominates_g && n_h_abs > 2.0 * std::fabs(n_v)) n_tot = s;
    res.nz_guid = clamp_upper_first(n_tot, -fs.n_lim, fs.n_lim);

    double bank_target =
        bank_for_loads(n_h, GuideW_nonzero(std::fabs(geo.cos_gamma)));
    // Having gone inverted in this turn, roll over on the present side once
    // the command is within 90 deg of the heading.
    if (dw.inverted_latch == 1.0 && std::fabs(geo.az_err_body) < kHalfPi_rad) {
        bank_target = 180.0 * GuideW_signg(fs.roll_n);
    }
    const double bank_limit = geo.tilt_deg > kInvertedTilt_deg
                                  ? kInvertedBankLimit_deg
                                  : kUprightBankLimit_deg;
    res.bank_guid = clamp_upper_first(bank_target, -bank_limit, bank_limit);

    // Inverted with the nose near the command: wings level.
    if (geo.ang_nose_deg < kWingsLevelNose_deg && geo.ang_nose_deg > 0.0 &&
        geo.tilt_deg > kInvertedTilt_deg) {
        res.bank_guid = 0.0;
    }
    // The roll-over acts from the next climb step on.
    if (geo.tilt_deg > kInvertedTilt_deg && dw.inverted_latch == 0.0) {
        dw.inverted_latch = 1.0;
    }
}

}  // namespace

void rear_manoeuvres(const GuideWInputs& u, const FlightState& fs,
                     const GuidanceGeometry& geo, GuideWStates& dw,
                     GuidanceResults& res) {
    dw.was_behind = 1.0;
    if (geo.elev_cmd_r < 0.0) {
        dive(fs, geo, dw, res);
    } else {
        climb(fs, geo, dw, res);  // also for a NaN command
    }

    // Never slow down to turn around: the larger of the commanded and the
    // present equivalent airspeed, held at 600 m/s.
    if (fs.eas >= kMaxSpeedRef_mps) {
        res.speed_ref = kMaxSpeedRef_mps;
    } else if (u.speed_cmd >= fs.eas) {
        res.speed_ref = u.speed_cmd;
    }
}
