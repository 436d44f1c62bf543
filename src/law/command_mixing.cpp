// Command mixing by mode band (GuideW_constants.h): the lateral and normal
// load-factor commands.
//
//   BLEND, BLEND_EXT_THROTTLE  guidance blended with the external bank and
//                              load
//   TAKEOVER                   the same blend, but once the external bank
//                              opposes the present roll it takes the bank
//                              over alone
//   WINGS_LEVEL                wings level, load from the speed error
//   ORBIT                      orbit (orbit.cpp): the bank of a turn at
//                              ext_nz, corrected towards an altitude
//                              profile; load from the speed error
//   DIRECT                     ext_lat and ext_nz passed straight through
//
// In every band but the last a roll law turns the bank error into lat_cmd.
#include <cmath>

#include "flag_tests.h"
#include "guidance_stages.h"
#include "law_constants.h"
#include "level_flight_loads.h"
#include "numeric_helpers.h"
#include "orbit.h"

namespace {

// The bands below 2.5, where guidance is blended with the external commands.
bool blends(GuideWModeBand band) {
    return band == GUIDEW_BAND_BLEND || band == GUIDEW_BAND_BLEND_EXT_THROTTLE ||
           band == GUIDEW_BAND_TAKEOVER;
}

// The bands above 2.5, which hold the orbit's references.
bool holds_orbit_references(GuideWModeBand band) {
    return band == GUIDEW_BAND_ORBIT || band == GUIDEW_BAND_DIRECT;
}

// Orbit references are taken on entering a band above 2.5 and released in
// any band below it; exactly 2.5 (or a NaN mode) neither takes nor releases
// them.
void update_orbit_latch(GuideWModeBand band, const AircraftState& ac, const FlightState& fs,
                        GuideWStates& dw) {
    if (holds_orbit_references(band) && flag_below_half(dw.orbit_latched)) {
        dw.orbit_yaw_ref = fs.yaw_n_deg;
        dw.orbit_alt_ref = ac.altitude_m;
        dw.orbit_latched = 1.0;
    }
    if (blends(band)) dw.orbit_latched = 0.0;
}

// The takeover band with both sources carrying real weight: the external
// bank may take over.
bool takeover_window(GuideWModeBand band, double guidance_weight) {
    return band == GUIDEW_BAND_TAKEOVER && guidance_weight < kTakeoverMaxWeight &&
           guidance_weight > kTakeoverMinWeight;
}

// A blend of a guidance value and an external one. The external weight is
// formed as 1 - guidance_weight, never taken as ext_weight itself (the two
// differ in the last bit).
double blend(double guidance_weight, double guidance, double external) {
    return guidance_weight * guidance + external * (1.0 - guidance_weight);
}

// Bank of the blending bands.
double blended_bank(GuideWModeBand band, const ExternalCommands& ext, const FlightState& fs,
                    const GuidanceResults& res, double guidance_weight, bool window,
                    GuideWStates& dw) {
    const bool takeover = band == GUIDEW_BAND_TAKEOVER;
    if (window && flag_below_half(dw.ext_bank_latch) && ext.bank_deg * fs.roll_n_deg < 0.0) {
        dw.ext_bank_latch = 1.0;
    }
    if (takeover &&
        (guidance_weight >= kTakeoverMaxWeight || guidance_weight <= kTakeoverMinWeight)) {
        dw.ext_bank_latch = 0.0;
    }
    if (takeover && flag_above_half(dw.ext_bank_latch)) return ext.bank_deg;
    return blend(guidance_weight, res.bank_guid_deg, ext.bank_deg);
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

// Load command of the blending bands. While an external bank opposes the
// roll in the takeover window, ask for gravity's share on the lift axis
// (level_flight_loads.h): finite however far the aircraft rolls.
double blended_load(const ExternalCommands& ext, const FlightState& fs, const GuidanceResults& res,
                    double guidance_weight, bool window) {
    if (window && ext.bank_deg * fs.roll_n_deg < 0.0) {
        return gravity_share_on_lift_axis(fs.pitch_n_deg, fs.roll_n_deg);
    }
    return blend(guidance_weight, res.nz_guid_g, ext.nz_g);
}

}  // namespace

MixedCommands mix_commands(GuideWModeBand band, const GuidanceCommand& cmd,
                           const ExternalCommands& ext, const AircraftState& ac,
                           const GuideWParams& p, const FlightState& fs, const GuidanceResults& res,
                           GuideWStates& dw) {
    const double guidance_weight = 1.0 - ext.weight;

    update_orbit_latch(band, ac, fs, dw);

    // Direct external commands, no limits.
    if (band == GUIDEW_BAND_DIRECT) return MixedCommands{ext.lat, ext.nz_g};

    const bool window = takeover_window(band, guidance_weight);
    double bank_cmd_deg = 0.0;  // wings level
    if (blends(band)) {
        bank_cmd_deg = blended_bank(band, ext, fs, res, guidance_weight, window, dw);
    } else if (band == GUIDEW_BAND_ORBIT) {
        bank_cmd_deg = orbit_bank_command(cmd, ext.nz_g, ac.altitude_m, fs.yaw_n_deg, dw);
    }
    MixedCommands out;
    out.lat_cmd =
        lateral_command(p, wrap_once_deg(bank_cmd_deg - fs.roll_n_deg), ac.roll_rate_degps);

    const double nz_mix_g =
        blends(band) ? blended_load(ext, fs, res, guidance_weight, window)
                     : (fs.v_mag_mps - cmd.speed_mps) * kSpeedErrLoadGain_gpmps + ext.nz_g;
    out.nz_cmd = limit_upper_first_strict(nz_mix_g, p.nz_min, p.nz_max);
    return out;
}
