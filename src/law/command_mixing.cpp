// Command mixing by mode: the lateral and normal load-factor commands.
//
//   mode <= 1.5        guidance blended with the external bank and load
//   1.5 < mode < 2.5   the same blend, but once the external bank opposes
//                      the present roll it takes the bank over alone
//   mode == 2.5        wings level, load from the speed error
//   2.5 < mode <= 3.5  orbit (orbit.cpp): the bank of a turn at ext_nz,
//                      corrected towards an altitude profile; load from the
//                      speed error
//   mode > 3.5         ext_lat and ext_nz passed straight through
//
// In every band but the last a roll law turns the bank error into lat_cmd.
#include <cmath>

#include "guidance_stages.h"
#include "law_constants.h"
#include "numeric_helpers.h"
#include "orbit.h"

namespace {

// Orbit references are taken on entering a band above 2.5 and released in
// any band below it; exactly 2.5 neither takes nor releases them.
void update_orbit_latch(const GuideWInputs& u, const FlightState& fs, GuideWStates& dw) {
    if (u.mode > kMode2To3 && dw.orbit_latched < kModeLatchHalf) {
        dw.orbit_yaw_ref = fs.yaw_n_deg;
        dw.orbit_alt_ref = u.altitude;
        dw.orbit_latched = 1.0;
    }
    if (u.mode < kMode2To3) dw.orbit_latched = 0.0;
}

// Mode 2 with both sources carrying real weight: the external bank may take
// over.
bool takeover_window(const GuideWInputs& u, double guidance_weight) {
    return u.mode > kMode1To2 && guidance_weight < kTakeoverMaxWeight &&
           guidance_weight > kTakeoverMinWeight;
}

// A blend of a guidance value and an external one. The external weight is
// formed as 1 - guidance_weight, never taken as ext_weight itself (the two
// differ in the last bit).
double blend(double guidance_weight, double guidance, double external) {
    return guidance_weight * guidance + external * (1.0 - guidance_weight);
}

// Bank of the bands below 2.5.
double blended_bank(const GuideWInputs& u, const FlightState& fs, const GuidanceResults& res,
                    double guidance_weight, bool window, GuideWStates& dw) {
    const bool mode2 = u.mode > kMode1To2;
    if (window && dw.ext_bank_latch < kModeLatchHalf && u.ext_bank * fs.roll_n_deg < 0.0) {
        dw.ext_bank_latch = 1.0;
    }
    if (mode2 && (guidance_weight >= kTakeoverMaxWeight || guidance_weight <= kTakeoverMinWeight)) {
        dw.ext_bank_latch = 0.0;
    }
    if (mode2 && dw.ext_bank_latch > kModeLatchHalf) return u.ext_bank;
    return blend(guidance_weight, res.bank_guid_deg, u.ext_bank);
}

// Roll law: proportional on the bank error with roll-rate damping. Inside
// its bounds the bank error itself is commanded; beyond one, that bound.
// The gains therefore set only where the command saturates, not how hard it
// acts inside.
double lateral_command(const GuideWParams& p, double bank_err_deg, double roll_rate_degps) {
    const double lat_pd = (p.roll_kp * bank_err_deg) - (roll_rate_degps * p.roll_kd);
    switch (passes_upper_first_strict(lat_pd, p.lat_min, p.lat_max)) {
        case Passes::upper: return p.lat_max;
        case Passes::lower: return p.lat_min;
        default: return bank_err_deg;
    }
}

// Load command of the bands below 2.5. While an external bank opposes the
// roll in mode 2, ask for the load of level flight in the present attitude
// (the angle formed by dividing by 180 before multiplying by pi).
double blended_load(const GuideWInputs& u, const FlightState& fs, const GuidanceResults& res,
                    double guidance_weight, bool window) {
    if (window && u.ext_bank * fs.roll_n_deg < 0.0) {
        return std::cos((fs.pitch_n_deg / kHalfTurn_deg) * kPi) *
               std::cos((fs.roll_n_deg / kHalfTurn_deg) * kPi);
    }
    return blend(guidance_weight, res.nz_guid_g, u.ext_nz);
}

}  // namespace

void mix_commands(const GuideWInputs& u, const GuideWParams& p, const FlightState& fs,
                  const GuidanceResults& res, GuideWStates& dw, GuideWOutputs& y) {
    const double guidance_weight = 1.0 - u.ext_weight;

    update_orbit_latch(u, fs, dw);

    // Mode 4: direct external commands, no limits.
    if (u.mode > kMode3To4) {
        y.lat_cmd = u.ext_lat;
        y.nz_cmd = u.ext_nz;
        return;
    }

    const bool window = takeover_window(u, guidance_weight);
    double bank_cmd_deg = 0.0;  // wings level at exactly 2.5
    if (u.mode < kMode2To3) {
        bank_cmd_deg = blended_bank(u, fs, res, guidance_weight, window, dw);
    } else if (u.mode > kMode2To3) {
        bank_cmd_deg = orbit_bank_command(u, fs.yaw_n_deg, dw);
    }
    y.lat_cmd = lateral_command(p, wrap_once_deg(bank_cmd_deg - fs.roll_n_deg), u.roll_rate);

    const double nz_mix_g =
        u.mode < kMode2To3
            ? blended_load(u, fs, res, guidance_weight, window)
            : (fs.v_mag_mps - u.speed_cmd) * kSpeedErrLoadGain_gpmps + u.ext_nz;
    y.nz_cmd = limit_upper_first_strict(nz_mix_g, p.nz_min, p.nz_max);
}
