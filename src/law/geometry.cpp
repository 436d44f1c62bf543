// Guidance geometry: where the commanded direction lies relative to the
// aircraft's velocity vector or nose, and whether it lies ahead or behind.
//
// Directions are vectors in the local level frame (x along azimuth 0, y up,
// z along azimuth 90); azimuths grow from x towards z. The geometry is built
// in named steps, each returning a small record: the commanded angles, the
// flight path, the attitude's sines and cosines, the side of the tilt, the
// errors of the selected reference, and, only where a branch reads them, the
// directions and the full angles between them.
//
// Pursuing a command ahead while upright needs no full angle at all: that is
// most steps of a flight, and they skip the direction vectors and their
// acos calls.
#include <cmath>

#include "flag_tests.h"
#include "guidance_stages.h"
#include "law_constants.h"
#include "numeric_helpers.h"

namespace {

constexpr Vec3 kWorldUp{0.0, 1.0, 0.0};

// Below this the cosine of the tilt is too close to zero for its sign alone
// to say on which side of 90 deg the rounded tilt falls (the tilt is formed
// from the unit body-up vector, within a few units of the last place of
// this cosine); there the tilt is formed exactly.
constexpr double kTiltSignMargin = 1e-6;

struct SinCos {
    double sin, cos;
};

// Sine and cosine of one angle side by side, which the compiler forms in one
// sincos call.
inline SinCos sin_cos(double a_rad) { return SinCos{std::sin(a_rad), std::cos(a_rad)}; }

struct CommandAngles {
    double elev_rad;
    double azim_rad;  // shifted once into (-180, 180] deg
};

struct FlightPath {
    double v_h_mps;
    double v_tot_mps;
    double gamma_rad;  // flight-path angle, positive up
    double cos_gamma;
    double chi_rad;  // track azimuth, in (-pi, pi]
};

struct AttitudeTrig {
    double pitch_rad;
    double cos_pitch, sin_pitch;
    double cos_roll;
};

struct ReferenceErrors {
    bool steer_velocity;  // guide_ref 1 or 2; otherwise the nose
    double az_err_rad;
    double az_err_body_rad;
    double elev_err_rad;  // before the substitutions
};

// Which full angles the branch this step takes will read.
struct AnglesNeeded {
    bool vel;   // velocity to command
    bool nose;  // nose to command
};

struct OffAngles {
    double vel_rad = NAN;   // velocity to command
    double nose_deg = NAN;  // nose to command
    double nose_rad = NAN;
};

CommandAngles command_angles(const GuidanceCommand& cmd) {
    return CommandAngles{kRadPerDeg * cmd.elev_deg, signed_azimuth_rad(cmd.azim_deg)};
}

// Speeds, flight-path angle and track. Near standstill, or with a vertical
// speed the total cannot account for, the path counts as level. The total
// speed is built from the horizontal speed as computed.
FlightPath flight_path(const AircraftState& ac) {
    FlightPath f;
    f.v_h_mps = std::sqrt(ac.vel_north_mps * ac.vel_north_mps + ac.vel_east_mps * ac.vel_east_mps);
    f.v_tot_mps = std::sqrt(f.v_h_mps * f.v_h_mps + ac.vel_up_mps * ac.vel_up_mps);
    f.gamma_rad = 0.0;
    if (!(f.v_tot_mps < kStandstill_mps || f.v_tot_mps < ac.vel_up_mps)) {
        f.gamma_rad = std::asin(ac.vel_up_mps / f.v_tot_mps);
    }
    f.cos_gamma = std::cos(f.gamma_rad);
    f.chi_rad = signed_azimuth_rad(GuideW_azimuth360_deg(ac.vel_east_mps, ac.vel_north_mps));
    return f;
}

AttitudeTrig attitude_trig(const FlightState& fs) {
    AttitudeTrig a;
    a.pitch_rad = kRadPerDeg * fs.pitch_n_deg;
    const SinCos pitch = sin_cos(a.pitch_rad);
    a.cos_pitch = pitch.cos;
    a.sin_pitch = pitch.sin;
    a.cos_roll = std::cos(kRadPerDeg * fs.roll_n_deg);
    return a;
}

// ---- Directions ---------------------------------------------------------------
// The attitude's and the directions' azimuths turn the other way from the
// yaw: their sines enter negated, never taken of a negated angle (the
// compiler rewrites cos(-a) as cos(a), which would part the sincos pair).
// The maths library's sine is odd and its cosine even to the last bit, so
// either form gives the same values.

// Direction of elevation el and azimuth az, given sin el and cos el.
Vec3 direction(double az_rad, double sin_el, double cos_el) {
    const SinCos az = sin_cos(az_rad);
    return Vec3{az.cos * cos_el, sin_el, (-az.sin) * (-cos_el)};
}

Vec3 command_direction(const CommandAngles& cmd) {
    const SinCos el = sin_cos(cmd.elev_rad);
    return direction(cmd.azim_rad, el.sin, el.cos);
}

Vec3 velocity_direction(const FlightPath& path) {
    return direction(path.chi_rad, std::sin(path.gamma_rad), path.cos_gamma);
}

Vec3 nose_direction(const AttitudeTrig& a, const SinCos& yaw) {
    const double sin_yaw_neg = -yaw.sin;
    return Vec3{a.cos_pitch * yaw.cos, a.sin_pitch, (-a.cos_pitch) * sin_yaw_neg};
}

// Body up, from underside to top; not normalised.
Vec3 body_up(const AttitudeTrig& a, const SinCos& yaw, double sin_roll) {
    const double sin_yaw_neg = -yaw.sin;
    return Vec3{sin_yaw_neg * sin_roll - (yaw.cos * a.sin_pitch) * a.cos_roll,
                a.cos_pitch * a.cos_roll,
                yaw.cos * sin_roll + (sin_yaw_neg * a.sin_pitch) * a.cos_roll};
}

// ---- The tilt's side ------------------------------------------------------------

// The tilt in degrees, formed in full: the angle between the unit body-up
// vector and world up.
double tilt_deg(const FlightState& fs, const AttitudeTrig& a) {
    const SinCos yaw = sin_cos(kRadPerDeg * fs.yaw_n_deg);
    const double sin_roll = std::sin(kRadPerDeg * fs.roll_n_deg);
    Vec3 up_unit;
    GuideW_unit_vector(body_up(a, yaw, sin_roll), up_unit);
    return angle_between_deg(up_unit, kWorldUp);
}

// Upright is not (tilt > 90), inverted not (tilt <= 90): each flag the
// negation of the opposite test, which fixes the side a NaN takes. The
// tilt's cosine is body up's vertical component, cos pitch cos roll, over a
// length within rounding of 1; clear of zero its sign decides, and only
// within a hair of zero, or with an angle not a number (a NaN yaw makes the
// length NaN), is the tilt formed and compared.
void tilt_side(const FlightState& fs, const AttitudeTrig& a, AttitudeTests& att) {
    const double cos_tilt = a.cos_pitch * a.cos_roll;
    const bool yaw_known = fs.yaw_n_deg == fs.yaw_n_deg;
    if (cos_tilt > kTiltSignMargin && yaw_known) {
        att.upright = true;
        att.inverted = false;
    } else if (cos_tilt < -kTiltSignMargin && yaw_known) {
        att.upright = false;
        att.inverted = true;
    } else {
        const double t = tilt_deg(fs, a);
        att.upright = !(t > kInvertedTilt_deg);
        att.inverted = !(t <= kInvertedTilt_deg);
    }
}

// ---- Errors and full angles ---------------------------------------------------

// Steer the velocity vector (guide_ref 1 or 2) or the nose (any other
// value, NaN included). Azimuth errors are positive when the command lies
// clockwise (towards +z) of the reference.
ReferenceErrors reference_errors(double guide_ref, const FlightState& fs, const CommandAngles& cmd,
                                 const FlightPath& path, const AttitudeTrig& a) {
    ReferenceErrors r;
    r.az_err_body_rad = wrap_once_rad(cmd.azim_rad - kRadPerDeg * fs.yaw_n_deg);
    r.steer_velocity = guide_ref == 1.0 || guide_ref == 2.0;
    if (r.steer_velocity) {
        r.az_err_rad = wrap_once_rad(cmd.azim_rad - path.chi_rad);
        r.elev_err_rad = cmd.elev_rad - path.gamma_rad;
    } else {
        r.az_err_rad = r.az_err_body_rad;
        r.elev_err_rad = cmd.elev_rad - a.pitch_rad;
    }
    return r;
}

// Where the elevation error alone misjudges how far the aircraft must pitch,
// the branches steer on a full angle instead:
//  - behind, diving 45 deg or steeper: the angle between velocity and
//    command, whatever the reference;
//  - behind, climbing or level: the full off-angle of the reference, if the
//    command lies clearly off the azimuth plane;
//  - ahead but upside down, before any upright recovery: the full off-angle.
// Upside down, the branches also read the nose's angle to the command.
enum class Substitution { none, velocity_angle, reference_angle_if_off_plane, reference_angle };

Substitution substitution(const CommandErrors& e, const AttitudeTests& att,
                          const GuideWStates& dw) {
    if (e.behind && e.elev_cmd_rad < 0.0) {
        if (!(e.elev_cmd_rad > kSteepDive_rad)) return Substitution::velocity_angle;
    } else if (e.behind) {
        return Substitution::reference_angle_if_off_plane;
    } else if (!att.upright && flag_is_zero(dw.upright_latch)) {
        return Substitution::reference_angle;
    }
    return Substitution::none;
}

AnglesNeeded angles_needed(Substitution sub, const ReferenceErrors& ref, const AttitudeTests& att) {
    const bool reference =
        sub == Substitution::reference_angle_if_off_plane || sub == Substitution::reference_angle;
    return AnglesNeeded{sub == Substitution::velocity_angle || (reference && ref.steer_velocity),
                        !att.upright || (reference && !ref.steer_velocity)};
}

// The round trip through degrees is part of each angle's value.
OffAngles off_angles(const AnglesNeeded& need, const FlightState& fs, const CommandAngles& cmd,
                     const FlightPath& path, const AttitudeTrig& a) {
    OffAngles o;
    if (!need.vel && !need.nose) return o;
    const Vec3 cmd_dir = command_direction(cmd);
    if (need.vel) o.vel_rad = kRadPerDeg * angle_between_deg(velocity_direction(path), cmd_dir);
    if (need.nose) {
        const SinCos yaw = sin_cos(kRadPerDeg * fs.yaw_n_deg);
        o.nose_deg = angle_between_deg(nose_direction(a, yaw), cmd_dir);
        o.nose_rad = kRadPerDeg * o.nose_deg;
    }
    return o;
}

double substituted_elevation_error(Substitution sub, const CommandErrors& e,
                                   const ReferenceErrors& ref, const OffAngles& off) {
    // Tests, not a switch: a jump table's indirect branch is mispredicted
    // whenever the substitution changes.
    const double off_angle_rad = ref.steer_velocity ? off.vel_rad : off.nose_rad;
    if (sub == Substitution::none) return ref.elev_err_rad;
    if (sub == Substitution::velocity_angle) return off.vel_rad;
    if (sub == Substitution::reference_angle) return off_angle_rad;
    if (!(std::fabs(off_angle_rad - e.az_err_abs_rad) < kLevelTargetTolerance_rad)) {
        return off_angle_rad;
    }
    return ref.elev_err_rad;
}

}  // namespace

GuidanceGeometry guidance_geometry(const GuidanceCommand& command, const AircraftState& ac,
                                   double guide_ref, const GuideWStates& dw,
                                   const FlightState& fs) {
    const CommandAngles cmd = command_angles(command);
    const FlightPath path = flight_path(ac);
    const AttitudeTrig trig = attitude_trig(fs);
    const ReferenceErrors ref = reference_errors(guide_ref, fs, cmd, path, trig);

    GuidanceGeometry geo;
    geo.path =
        PathSpeeds{path.v_h_mps, path.v_tot_mps, path.cos_gamma, kMaxTurnAccel_mps2 / path.v_h_mps};

    AttitudeTests& att = geo.attitude;
    att.cos_pitch = trig.cos_pitch;
    att.cos_roll = trig.cos_roll;
    att.roll_abs_deg = std::fabs(fs.roll_n_deg);
    tilt_side(fs, trig, att);

    CommandErrors& e = geo.errors;
    e.az_err_rad = ref.az_err_rad;
    e.az_err_abs_rad = std::fabs(ref.az_err_rad);
    e.az_err_body_rad = ref.az_err_body_rad;
    e.elev_cmd_rad = cmd.elev_rad;
    e.behind = !(e.az_err_abs_rad <= kHalfPi_rad);

    const Substitution sub = substitution(e, att, dw);
    const OffAngles off = off_angles(angles_needed(sub, ref, att), fs, cmd, path, trig);
    att.ang_nose_deg = off.nose_deg;
    e.elev_err_rad = substituted_elevation_error(sub, e, ref, off);
    return geo;
}
