// Guidance geometry: where the commanded direction lies relative to the
// aircraft's velocity vector or nose, and whether it lies ahead or behind.
//
// Directions are vectors in the local level frame (x along azimuth 0, y up,
// z along azimuth 90). Angles between directions come from the arc cosine of
// their dot product, clamped to [-1, 1] so that nearly parallel vectors never
// give NaN.
#include <cmath>

#include "guidance_stages.h"
#include "numeric_helpers.h"

namespace {

constexpr Vec3 kWorldUp{0.0, 1.0, 0.0};

// A target within 5 deg of the pure azimuth error counts as level with it.
constexpr double kElevationTolerance_rad = 0.08726646259971647;

// Turn-rate bound, rad/s, is this over the horizontal speed: the rate of a
// level turn at 85 deg of bank (9.81 tan 85 deg).
constexpr double kMaxTurnAccel_mps2 = 112.12881309008883;

// Velocity below which the flight path counts as level, m/s.
constexpr double kStandstill_mps = 1.0;

double angle_between_deg(const Vec3& a, const Vec3& b) {
    double d = GuideW_dot(a, b);
    if (d >= 1.0) {
        d = 1.0;
    } else if (d <= -1.0) {
        d = -1.0;
    }
    return std::acos(d) * kDegPerRad;
}

// One correction by a full turn into [-pi, pi]; exactly +-pi is kept.
double wrap_once(double err_rad) {
    if (err_rad > kPi) return err_rad - kTwoPi;
    if (err_rad < -kPi) return kTwoPi + err_rad;
    return err_rad;
}

// An azimuth in degrees as radians, shifted once from (180, 360] to
// (-180, 0].
double signed_azimuth_rad(double azimuth_deg) {
    if (azimuth_deg > 180.0) return (azimuth_deg - 360.0) * kRadPerDeg;
    return kRadPerDeg * azimuth_deg;
}

// Direction of elevation el and azimuth az (given as cos el).
Vec3 direction(double az_rad, double el_rad, double cos_el) {
    return Vec3{std::cos(-az_rad) * cos_el, std::sin(el_rad),
                std::sin(-az_rad) * (-cos_el)};
}

}  // namespace

GuidanceGeometry guidance_geometry(const GuideWInputs& u, const GuideWParams& p,
                                   const GuideWStates& dw,
                                   const FlightState& fs) {
    GuidanceGeometry geo;

    // Commanded angles.
    geo.elev_cmd_r = kRadPerDeg * u.elev_cmd;
    const double azim_cmd_r = signed_azimuth_rad(u.azim_cmd);

    // Speeds, flight-path angle and track. Near standstill, or with a
    // vertical speed the total cannot account for, the path counts as level.
    geo.v_h = std::sqrt(u.vel_north * u.vel_north + u.vel_east * u.vel_east);
    geo.v_tot = std::sqrt(geo.v_h * geo.v_h + u.vel_up * u.vel_up);
    double gamma = 0.0;
    if (!(geo.v_tot < kStandstill_mps || geo.v_tot < u.vel_up)) {
        gamma = std::asin(u.vel_up / geo.v_tot);
    }
    const double chi_deg = GuideW_azimuth360_deg(u.vel_east, u.vel_north);
    const double chi = signed_azimuth_rad(chi_deg);

    // Attitude trigonometry.
    const double pitch_r = kRadPerDeg * fs.pitch_n;
    const double roll_r = kRadPerDeg * fs.roll_n;
    const double yaw_neg_r = (-fs.yaw_n) * kRadPerDeg;
    geo.cos_pitch = std::cos(pitch_r);
    const double sin_pitch = std::sin(pitch_r);
    const double cos_yaw_neg = std::cos(yaw_neg_r);
    const double sin_yaw_neg = std::sin(yaw_neg_r);
    geo.cos_roll = std::cos(roll_r);
    const double sin_roll = std::sin(roll_r);
    const double cos_elev = std::cos(geo.elev_cmd_r);
    geo.cos_gamma = std::cos(gamma);

    // Direction vectors.
    const Vec3 d_cmd = direction(azim_cmd_r, geo.elev_cmd_r, cos_elev);
    const Vec3 d_vel = direction(chi, gamma, geo.cos_gamma);
    const Vec3 d_nose{geo.cos_pitch * cos_yaw_neg, sin_pitch,
                      (-geo.cos_pitch) * sin_yaw_neg};
    const Vec3 d_up{
        sin_yaw_neg * sin_roll - (cos_yaw_neg * sin_pitch) * geo.cos_roll,
        geo.cos_pitch * geo.cos_roll,
        cos_yaw_neg * sin_roll + (sin_yaw_neg * sin_pitch) * geo.cos_roll};

    // Angles between directions. The round trip through degrees is part of
    // the value.
    const double ang_vel = kRadPerDeg * angle_between_deg(d_vel, d_cmd);
    geo.ang_nose_deg = angle_between_deg(d_nose, d_cmd);
    const double ang_nose = kRadPerDeg * geo.ang_nose_deg;
    Vec3 up_unit;
    GuideW_unit_vector(d_up, up_unit);
    geo.tilt_deg = angle_between_deg(up_unit, kWorldUp);

    // Azimuth errors, positive when the command lies clockwise (towards +z).
    geo.az_err_body = wrap_once(azim_cmd_r - kRadPerDeg * fs.yaw_n);
    const double az_err_vel = wrap_once(azim_cmd_r - chi);

    // Steer the velocity vector or the nose.
    double off_angle;
    if (p.guide_ref == 1.0 || p.guide_ref == 2.0) {
        geo.az_err = az_err_vel;
        off_angle = ang_vel;
        geo.elev_err = geo.elev_cmd_r - gamma;
    } else {
        geo.az_err = geo.az_err_body;
        off_angle = ang_nose;
        geo.elev_err = geo.elev_cmd_r - pitch_r;
    }

    // Each flag is the negation of the opposite test, which fixes the side a
    // NaN takes: a NaN azimuth error counts as behind, and a NaN tilt as both
    // upright and inverted. Exactly 90 deg off counts as ahead, exactly
    // 90 deg of tilt as upright.
    geo.az_err_abs = std::fabs(geo.az_err);
    geo.behind = !(geo.az_err_abs <= kHalfPi_rad);
    geo.upright = !(geo.tilt_deg > kInvertedTilt_deg);
    geo.inverted = !(geo.tilt_deg <= kInvertedTilt_deg);
    geo.roll_abs = std::fabs(fs.roll_n);
    geo.turn_rate_max = kMaxTurnAccel_mps2 / geo.v_h;

    // Where the azimuth error alone misjudges how far the aircraft must
    // pitch, steer on the full angle instead:
    //  - behind, diving 45 deg or steeper: the angle between velocity and
    //    command, whatever the reference;
    //  - behind, climbing or level, with the command clearly off the
    //    horizontal: the full off-angle;
    //  - ahead but upside down, before any upright recovery: the full
    //    off-angle.
    if (geo.behind && geo.elev_cmd_r < 0.0) {
        if (!(geo.elev_cmd_r > kSteepDive_rad)) geo.elev_err = ang_vel;
    } else if (geo.behind) {
        if (!(std::fabs(off_angle - geo.az_err_abs) < kElevationTolerance_rad)) {
            geo.elev_err = off_angle;
        }
    } else if (geo.tilt_deg > kInvertedTilt_deg && dw.upright_latch == 0.0) {
        geo.elev_err = off_angle;
    }

    return geo;
}
