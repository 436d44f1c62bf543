// Forward-hemisphere pursuit: the commanded direction lies ahead.
//
// The azimuth error becomes a turn-rate demand and the elevation error a
// flight-path-rate demand; their load factors combine into the load command
// and their ratio gives the bank. An aircraft found upside down with its
// target ahead is rolled wings level while pushing (the upright recovery),
// and the rear stage's manoeuvre latches are cleared once the target is
// ahead.
#include <cmath>

#include "demand_laws.h"
#include "guidance_stages.h"
#include "numeric_helpers.h"

namespace {

// A push (negative load) is asked for only when nearly on target and nearly
// wings level; otherwise a non-positive vertical demand is dropped.
constexpr double kPushAzimuthWindow_rad = 0.17453292519943295;  // 10 deg
constexpr double kPushRollWindow_deg = 10.0;

// Floor of |cos gamma| in the bank formula: keeps the bank finite in steep
// climbs and dives.
constexpr double kMinBankDivisor = 0.09;

// The upright recovery starts when the nose is below this pitch and near the
// command, either in space or in pitch alone ...
constexpr double kRecoveryMaxPitch_deg = 70.0;
constexpr double kRecoveryNoseWindow_deg = 30.0;
constexpr double kRecoveryPitchWindow_deg = 10.0;
// ... and ends when upright with the wings within 60 deg of level, or close
// to the pursuit bank.
constexpr double kRecoveryEndRoll_deg = 60.0;
constexpr double kRecoveryEndRollErr_deg = 5.0;

// Commanded speeds are held within what the speed hold is meant for, m/s.
constexpr double kMinSpeedRef_mps = 100.0;
constexpr double kMaxSpeedRef_mps = 600.0;

// Signed load demand: the magnitude of both demands, a push only where it
// is safe, otherwise the turn alone.
double combined_load_demand(double n_h, double n_v,
                            const GuidanceGeometry& geo) {
    const double s = std::sqrt(n_h * n_h + n_v * n_v);
    if (n_v > 0.0) return s;
    if (geo.az_err_abs < kPushAzimuthWindow_rad &&
        geo.roll_abs < kPushRollWindow_deg) {
        return -s;
    }
    return std::sqrt(n_h * n_h);
}

bool upright_recovery_starts(const GuideWInputs& u, const FlightState& fs,
                             const GuidanceGeometry& geo,
                             const GuideWStates& dw) {
    return geo.tilt_deg > kInvertedTilt_deg && dw.upright_latch == 0.0 &&
           fs.pitch_n < kRecoveryMaxPitch_deg &&
           (geo.ang_nose_deg < kRecoveryNoseWindow_deg ||
            std::fabs(fs.pitch_n - u.elev_cmd) < kRecoveryPitchWindow_deg);
}

bool upright_recovery_ends(const GuidanceGeometry& geo,
                           const GuideWStates& dw) {
    return geo.tilt_deg <= kInvertedTilt_deg && dw.upright_latch == 1.0 &&
           (geo.roll_abs < kRecoveryEndRoll_deg ||
            dw.front_roll_err < kRecoveryEndRollErr_deg);
}

}  // namespace

void forward_pursuit(const GuideWInputs& u, const FlightState& fs,
                     const GuidanceGeometry& geo, GuideWStates& dw,
                     GuidanceResults& res) {
    // Hand-over from the rear stage: remember the roll at which the target
    // came ahead.
    if (dw.was_behind == 1.0) {
        dw.front_entry_roll = fs.roll_n;
        dw.was_behind = 0.0;
    }

    // Demands. The turn rate is written 0 - ((-err) / T) so that a zero
    // error gives +0.
    const double t_turn_s = GuideW_T_turn_cal(-geo.az_err, fs.sigma_root);
    const double turn_rate = limit_turn_rate(0.0 - ((-geo.az_err) / t_turn_s), geo);
    const double n_h = horizontal_load_demand(turn_rate, geo);
    const double gamma_rate = flight_path_rate_demand(geo, fs);
    const double n_v = vertical_load_demand(gamma_rate, geo);
    const double n_tot = combined_load_demand(n_h, n_v, geo);

    const double bank_limit = geo.tilt_deg <= kInvertedTilt_deg
                                  ? kUprightBankLimit_deg
                                  : kInvertedBankLimit_deg;
    res.nz_guid = clamp_upper_first(n_tot, -fs.n_lim, fs.n_lim);

    // Bank. Upside down without a recovery running, hold the roll the
    // aircraft had when the target came ahead.
    if (geo.tilt_deg > kInvertedTilt_deg && dw.upright_latch == 0.0) {
        res.bank_guid = dw.front_entry_roll;
    } else {
        double d = std::fabs(geo.cos_gamma);
        if (d <= kMinBankDivisor) d = kMinBankDivisor;
        res.bank_guid = bank_for_loads(n_h, d);
        dw.front_roll_err = std::fabs(fs.roll_n - res.bank_guid);
    }

    // Upright recovery under way: wings level, and the load of level flight
    // in this attitude, which is negative while upside down; never pull.
    if (dw.upright_latch == 1.0) {
        const double n_upright = geo.cos_pitch / GuideW_nonzero(geo.cos_roll);
        res.nz_guid = clamp_upper_first(n_upright, -fs.n_lim, 0.0);
        res.bank_guid = 0.0;
    }
    // Set only while inverted and cleared only while upright, so the latch
    // never changes twice in one step; the recovery output starts next step.
    if (upright_recovery_starts(u, fs, geo, dw)) dw.upright_latch = 1.0;
    if (upright_recovery_ends(geo, dw)) dw.upright_latch = 0.0;

    if (dw.inverted_latch == 1.0 && geo.tilt_deg <= kInvertedTilt_deg) {
        dw.inverted_latch = 0.0;
    }

    res.bank_guid = clamp_upper_first(res.bank_guid, -bank_limit, bank_limit);
    res.speed_ref = clamp_upper_first(u.speed_cmd, kMinSpeedRef_mps, kMaxSpeedRef_mps);

    // The target is ahead: a split manoeuvre is over once upright, and a
    // forced rear-turn direction no longer applies.
    if (dw.splits_active == 1.0 && geo.tilt_deg <= kInvertedTilt_deg) {
        dw.splits_active = 0.0;
        dw.splits_pull = 0.0;
    }
    if (dw.sign_latch == 1.0) {
        dw.sign_latch = 0.0;
        dw.bank_captured = 0.0;
    }
}
