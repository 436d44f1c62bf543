// Forward-hemisphere pursuit: the commanded direction lies ahead.
//
// The azimuth error becomes a turn-rate demand and the elevation error a
// flight-path-rate demand; their load factors combine into the load command
// and their ratio gives the bank. An aircraft found upside down with its
// target ahead is rolled wings level while pushing (the upright recovery);
// this module owns the recovery's latch (state_machine.h).
#include <cmath>

#include "demand_laws.h"
#include "guidance_stages.h"
#include "flag_tests.h"
#include "law_constants.h"
#include "level_flight_loads.h"
#include "numeric_helpers.h"
#include "state_machine.h"

namespace {

// Signed load demand: the magnitude of both demands, a push only when nearly
// on target and nearly wings level, otherwise the turn alone (a non-positive
// vertical demand is dropped).
double combined_load_demand(double n_h_g, double n_v_g, const GuidanceGeometry& geo) {
    const double s = std::sqrt(n_h_g * n_h_g + n_v_g * n_v_g);
    if (n_v_g > 0.0) return s;
    if (geo.errors.az_err_abs_rad < kPushAzimuthWindow_rad &&
        geo.attitude.roll_abs_deg < kPushRollWindow_deg) {
        return -s;
    }
    return std::sqrt(n_h_g * n_h_g);
}

bool upright_recovery_starts(const GuidanceCommand& cmd, const FlightState& fs,
                             const AttitudeTests& att, const GuideWStates& dw) {
    return !att.upright && flag_is_zero(dw.upright_latch) &&
           fs.pitch_n_deg < kRecoveryMaxPitch_deg &&
           (att.ang_nose_deg < kRecoveryNoseWindow_deg ||
            std::fabs(fs.pitch_n_deg - cmd.elev_deg) < kRecoveryPitchWindow_deg);
}

bool upright_recovery_ends(const AttitudeTests& att, const GuideWStates& dw) {
    return !att.inverted && flag_is_one(dw.upright_latch) &&
           (att.roll_abs_deg < kRecoveryEndRoll_deg || dw.front_roll_err < kRecoveryEndRollErr_deg);
}

}  // namespace

void cancel_upright_recovery(GuideWStates& dw) {
    if (flag_is_one(dw.upright_latch)) dw.upright_latch = 0.0;
}

void forward_pursuit(const GuidanceCommand& cmd, const FlightState& fs, const GuidanceGeometry& geo,
                     GuideWStates& dw, GuidanceResults& res) {
    const AttitudeTests& att = geo.attitude;

    // Demands. The turn rate is written 0 - ((-err) / T) so that a zero
    // error gives +0.
    const double az_err_rad = geo.errors.az_err_rad;
    const double t_turn_s = GuideW_T_turn_cal(-az_err_rad, fs.sigma_root);
    const double turn_rate = limit_turn_rate(0.0 - ((-az_err_rad) / t_turn_s), geo.path);
    const double n_h_g = horizontal_load_demand(turn_rate, geo.path);
    const double n_v_g = vertical_load_demand(flight_path_rate_demand(geo, fs), geo.path);
    res.nz_guid_g =
        limit_upper_first(combined_load_demand(n_h_g, n_v_g, geo), -fs.n_lim_g, fs.n_lim_g);

    // A NaN tilt takes the inverted limit here.
    const double bank_limit_deg = !att.inverted ? kUprightBankLimit_deg : kInvertedBankLimit_deg;

    // Bank. Upside down without a recovery running, hold the roll the
    // aircraft had when the target came ahead.
    if (!att.upright && flag_is_zero(dw.upright_latch)) {
        res.bank_guid_deg = dw.front_entry_roll;
    } else {
        double divisor = std::fabs(geo.path.cos_gamma);
        if (divisor <= kPursuitBankDivisorFloor) divisor = kPursuitBankDivisorFloor;
        res.bank_guid_deg = bank_for_loads(n_h_g, divisor);
        dw.front_roll_err = std::fabs(fs.roll_n_deg - res.bank_guid_deg);
    }

    // Upright recovery under way: wings level, and the load of level flight
    // in this attitude, which is negative while upside down; never pull.
    if (flag_is_one(dw.upright_latch)) {
        const double n_upright_g = level_load_signed(att.cos_pitch, att.cos_roll);
        res.nz_guid_g = limit_upper_first(n_upright_g, -fs.n_lim_g, 0.0);
        res.bank_guid_deg = 0.0;
    }
    // Set only while inverted and cleared only while upright, so the latch
    // never changes twice in one step; the recovery output starts next step.
    if (upright_recovery_starts(cmd, fs, att, dw)) dw.upright_latch = 1.0;
    if (upright_recovery_ends(att, dw)) dw.upright_latch = 0.0;

    res.bank_guid_deg = limit_upper_first(res.bank_guid_deg, -bank_limit_deg, bank_limit_deg);
    res.speed_ref_mps = limit_upper_first(cmd.speed_mps, kMinSpeedRef_mps, kMaxSpeedRef_mps);
}
