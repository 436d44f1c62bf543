// Command mixing by mode: the lateral and normal load-factor commands.
//
//   mode <= 1.5        guidance blended with the external bank and load
//   1.5 < mode < 2.5   the same blend, but once the external bank opposes
//                      the present roll it takes the bank over alone
//   mode == 2.5        wings level, load from the speed error
//   2.5 < mode <= 3.5  orbit: the bank of a turn at ext_nz, corrected towards
//                      an altitude profile; load from the speed error
//   mode > 3.5         ext_lat and ext_nz passed straight through
//
// In every band but the last a roll law turns the bank error into lat_cmd.
#include <cmath>

#include "guidance_stages.h"
#include "numeric_helpers.h"

namespace {

constexpr double kMode1Upper = 1.5;
constexpr double kMode2Upper = 2.5;
constexpr double kMode3Upper = 3.5;

// The external bank may take over only while both sources carry real weight.
constexpr double kTakeoverMinWeight = 0.05;
constexpr double kTakeoverMaxWeight = 0.95;

// Orbit law.
constexpr double kMinOrbitNz_g = 0.1;           // keeps 1 / nz bounded
constexpr double kOrbitAltGain_degpm = 0.2;     // bank per metre above target
constexpr double kOrbitMaxCorrection_deg = 30.0;
constexpr double kOrbitDegPerRad = 57.3;        // the orbit's own conversion
constexpr double kOrbitQuarterTurn_deg = 90.0;

// Speed-error law of the orbit and the boundary band, g per m/s.
constexpr double kSpeedErrGain_gpmps = 0.04;

// Half-turn wrap into [-180, 180] by one correction.
double wrap_half_turn_deg(double a_deg) {
    if (a_deg > 180.0) a_deg = a_deg - 360.0;
    if (a_deg < -180.0) a_deg = a_deg + 360.0;
    return a_deg;
}

// Orbit references are taken on entering a band above 2.5 and released in
// any band below it; exactly 2.5 neither takes nor releases them.
void update_orbit_latch(const GuideWInputs& u, const FlightState& fs,
                        GuideWStates& dw) {
    if (u.mode > kMode2Upper && dw.orbit_latched < 0.5) {
        dw.orbit_yaw_ref = fs.yaw_n;
        dw.orbit_alt_ref = u.altitude;
        dw.orbit_latched = 1.0;
    }
    if (u.mode < kMode2Upper) dw.orbit_latched = 0.0;
}

// Mode 2 with both sources carrying real weight: the external bank may
// take over. g is the guidance weight.
bool takeover_window(const GuideWInputs& u, double g) {
    return u.mode > kMode1Upper && g < kTakeoverMaxWeight && g > kTakeoverMinWeight;
}

// Bank of the bands below 2.5.
double blended_bank(const GuideWInputs& u, const FlightState& fs,
                    const GuidanceResults& res, double g, bool window,
                    GuideWStates& dw) {
    const bool mode2 = u.mode > kMode1Upper;
    if (window && dw.ext_bank_latch < 0.5 && u.ext_bank * fs.roll_n < 0.0) {
        dw.ext_bank_latch = 1.0;
    }
    if (mode2 && (g >= kTakeoverMaxWeight || g <= kTakeoverMinWeight)) {
        dw.ext_bank_latch = 0.0;
    }
    if (mode2 && dw.ext_bank_latch > 0.5) return u.ext_bank;
    return g * res.bank_guid + u.ext_bank * (1.0 - g);
}

// Orbit: bank of a level turn at ext_nz, plus up to 30 deg of correction
// towards an altitude target that moves by r sin(elev_cmd) for every 90 deg
// of heading turned since the orbit began.
//
// No turn can be held at 1 g or less (the level-turn bank and radius have
// no finite value there), so the orbit then flies wings level and holds the
// altitude it was entered at, still correcting towards it.
double orbit_bank_command(const GuideWInputs& u, const FlightState& fs,
                          const GuideWStates& dw) {
    double turn_nz = u.ext_nz;
    if (turn_nz > 0.0 && turn_nz < kMinOrbitNz_g) {
        turn_nz = kMinOrbitNz_g;
    } else if (turn_nz < 0.0 && turn_nz > -kMinOrbitNz_g) {
        turn_nz = -kMinOrbitNz_g;
    }

    double orbit_bank = 0.0;
    double orbit_alt_target = dw.orbit_alt_ref;
    if (!(std::fabs(turn_nz) <= 1.0)) {
        orbit_bank = (180.0 * std::acos(1.0 / turn_nz)) / kPi;
        const double orbit_yaw_delta = wrap_half_turn_deg(fs.yaw_n - dw.orbit_yaw_ref);
        const double orbit_radius = ((u.speed_cmd * u.speed_cmd) / kGravity_mps2) /
                                    std::sqrt(turn_nz * turn_nz - 1.0);
        orbit_alt_target =
            (std::fabs(orbit_yaw_delta) / kOrbitQuarterTurn_deg) *
                (orbit_radius * std::sin(u.elev_cmd / kOrbitDegPerRad)) +
            dw.orbit_alt_ref;
    }

    // Above the target bank harder (and sink), below bank less.
    double orbit_alt_corr = (u.altitude - orbit_alt_target) * kOrbitAltGain_degpm;
    if (orbit_alt_corr < -kOrbitMaxCorrection_deg) orbit_alt_corr = -kOrbitMaxCorrection_deg;
    if (orbit_alt_corr > kOrbitMaxCorrection_deg) orbit_alt_corr = kOrbitMaxCorrection_deg;
    return orbit_alt_corr + orbit_bank;
}

// Roll law: proportional on the bank error with roll-rate damping. Inside
// its bounds the bank error itself is commanded; outside, the bound.
double lateral_command(const GuideWParams& p, double bank_err,
                       double roll_rate) {
    const double lat_pd = (p.roll_kp * bank_err) - (roll_rate * p.roll_kd);
    if (lat_pd > p.lat_max) return p.lat_max;
    if (lat_pd < p.lat_min) return p.lat_min;
    return bank_err;
}

// Load command of the bands below 2.5. While an external bank opposes the
// roll in mode 2, ask for the load of level flight in the present attitude
// (the angle formed by dividing by 180 before multiplying by pi).
double blended_load(const GuideWInputs& u, const FlightState& fs,
                    const GuidanceResults& res, double g, bool window) {
    if (window && u.ext_bank * fs.roll_n < 0.0) {
        return std::cos((fs.pitch_n / 180.0) * kPi) *
               std::cos((fs.roll_n / 180.0) * kPi);
    }
    return g * res.nz_guid + u.ext_nz * (1.0 - g);
}

}  // namespace

void mix_commands(const GuideWInputs& u, const GuideWParams& p,
                  const FlightState& fs, const GuidanceResults& res,
                  GuideWStates& dw, GuideWOutputs& y) {
    // Guidance weight; the external weight is formed as 1 - g, never taken
    // as ext_weight itself (the two differ in the last bit).
    const double g = 1.0 - u.ext_weight;

    update_orbit_latch(u, fs, dw);

    // Mode 4: direct external commands, no limits.
    if (u.mode > kMode3Upper) {
        y.lat_cmd = u.ext_lat;
        y.nz_cmd = u.ext_nz;
        return;
    }

    const bool window = takeover_window(u, g);
    double bank_cmd = 0.0;  // wings level at exactly 2.5
    if (u.mode < kMode2Upper) {
        bank_cmd = blended_bank(u, fs, res, g, window, dw);
    } else if (u.mode > kMode2Upper) {
        bank_cmd = orbit_bank_command(u, fs, dw);
    }
    y.lat_cmd = lateral_command(p, wrap_half_turn_deg(bank_cmd - fs.roll_n),
                                u.roll_rate);

    double nz_mix;
    if (u.mode < kMode2Upper) {
        nz_mix = blended_load(u, fs, res, g, window);
    } else {
        nz_mix = (fs.v_mag - u.speed_cmd) * kSpeedErrGain_gpmps + u.ext_nz;
    }
    if (nz_mix > p.nz_max) {
        y.nz_cmd = p.nz_max;
    } else if (nz_mix < p.nz_min) {
        y.nz_cmd = p.nz_min;
    } else {
        y.nz_cmd = nz_mix;
    }
}
