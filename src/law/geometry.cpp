// Guidance geometry: where the commanded direction lies relative to the
// aircraft's velocity vector or nose, and whether it lies ahead or behind.
//
// Directions are vectors in the local level frame (x along azimuth 0, y up,
// z along azimuth 90); azimuths grow from x towards z. The geometry is built
// in named steps, each returning a small record: the commanded angles, the
// flight path, the attitude's sines and cosines, the directions and the
// angles between them, the errors of the selected reference, and the
// elevation error the branches finally steer on.
#include <cmath>

#include "guidance_stages.h"
#include "law_constants.h"
#include "numeric_helpers.h"

namespace {

constexpr Vec3 kWorldUp{0.0, 1.0, 0.0};

struct CommandAngles {
    double elev_rad;
    double azim_rad;  // shifted once into (-180, 180] deg
};

struct FlightPath {
    double v_h_mps;
    double v_tot_mps;
    double gamma_rad;  // flight-path angle, positive up
    double cos_gamma;
    double chi_rad;    // track azimuth, in (-pi, pi]
};

struct AttitudeTrig {
    double pitch_rad;
    double cos_pitch, sin_pitch;
    double cos_roll, sin_roll;
    double cos_yaw_neg, sin_yaw_neg;  // of the negated yaw
};

struct Directions {
    Vec3 cmd, vel, nose, up;  // up: body underside to top, not normalised
};

struct OffAngles {
    double vel_rad;    // velocity to command
    double nose_deg;   // nose to command
    double nose_rad;
    double tilt_deg;   // body up to world up
};

struct ReferenceErrors {
    double az_err_rad;
    double az_err_body_rad;
    double off_angle_rad;  // full angle from the reference to the command
    double elev_err_rad;   // before the substitutions
};

CommandAngles command_angles(const GuideWInputs& u) {
    return CommandAngles{kRadPerDeg * u.elev_cmd, signed_azimuth_rad(u.azim_cmd)};
}

// Speeds, flight-path angle and track. Near standstill, or with a vertical
// speed the total cannot account for, the path counts as level. The total
// speed is built from the horizontal speed as computed.
FlightPath flight_path(const GuideWInputs& u) {
    FlightPath f;
    f.v_h_mps = std::sqrt(u.vel_north * u.vel_north + u.vel_east * u.vel_east);
    f.v_tot_mps = std::sqrt(f.v_h_mps * f.v_h_mps + u.vel_up * u.vel_up);
    f.gamma_rad = 0.0;
    if (!(f.v_tot_mps < kStandstill_mps || f.v_tot_mps < u.vel_up)) {
        f.gamma_rad = std::asin(u.vel_up / f.v_tot_mps);
    }
    f.cos_gamma = std::cos(f.gamma_rad);
    f.chi_rad = signed_azimuth_rad(GuideW_azimuth360_deg(u.vel_east, u.vel_north));
    return f;
}

// Each angle's sine and cosine side by side, so that the compiler forms
// both in one sincos call. The attitude's and the directions' azimuths turn
// the other way from the yaw: their sines are negated, never taken of a
// negated angle (the compiler rewrites cos(-a) as cos(a), which would part
// the pair). The maths library's sine is odd and its cosine even to the
// last bit, so either form gives the same values.
AttitudeTrig attitude_trig(const FlightState& fs) {
    AttitudeTrig a;
    a.pitch_rad = kRadPerDeg * fs.pitch_n_deg;
    const double roll_rad = kRadPerDeg * fs.roll_n_deg;
    const double yaw_rad = kRadPerDeg * fs.yaw_n_deg;
    a.cos_pitch = std::cos(a.pitch_rad);
    a.sin_pitch = std::sin(a.pitch_rad);
    a.cos_roll = std::cos(roll_rad);
    a.sin_roll = std::sin(roll_rad);
    a.cos_yaw_neg = std::cos(yaw_rad);
    a.sin_yaw_neg = -std::sin(yaw_rad);
    return a;
}

// Direction of elevation el and azimuth az, given cos el: the azimuth's
// sine enters negated, as that of -az.
Vec3 direction(double az_rad, double el_rad, double cos_el) {
    const double sin_az = std::sin(az_rad);
    const double cos_az = std::cos(az_rad);
    return Vec3{cos_az * cos_el, std::sin(el_rad), (-sin_az) * (-cos_el)};
}

Directions directions(const CommandAngles& cmd, const FlightPath& path, const AttitudeTrig& a) {
    Directions d;
    d.cmd = direction(cmd.azim_rad, cmd.elev_rad, std::cos(cmd.elev_rad));
    d.vel = direction(path.chi_rad, path.gamma_rad, path.cos_gamma);
    d.nose = Vec3{a.cos_pitch * a.cos_yaw_neg, a.sin_pitch, (-a.cos_pitch) * a.sin_yaw_neg};
    d.up = Vec3{a.sin_yaw_neg * a.sin_roll - (a.cos_yaw_neg * a.sin_pitch) * a.cos_roll,
                a.cos_pitch * a.cos_roll,
                a.cos_yaw_neg * a.sin_roll + (a.sin_yaw_neg * a.sin_pitch) * a.cos_roll};
    return d;
}

// The round trip through degrees is part of each angle's value.
OffAngles off_angles(const Directions& d) {
    OffAngles o;
    o.vel_rad = kRadPerDeg * angle_between_deg(d.vel, d.cmd);
    o.nose_deg = angle_between_deg(d.nose, d.cmd);
    o.nose_rad = kRadPerDeg * o.nose_deg;
    Vec3 up_unit;
    GuideW_unit_vector(d.up, up_unit);
    o.tilt_deg = angle_between_deg(up_unit, kWorldUp);
    return o;
}

// Steer the velocity vector (guide_ref 1 or 2) or the nose (any other
// value, NaN included). Azimuth errors are positive when the command lies
// clockwise (towards +z) of the reference.
ReferenceErrors reference_errors(const GuideWParams& p, const FlightState& fs,
                                 const CommandAngles& cmd, const FlightPath& path,
                                 const AttitudeTrig& a, const OffAngles& off) {
    ReferenceErrors r;
    r.az_err_body_rad = wrap_once_rad(cmd.azim_rad - kRadPerDeg * fs.yaw_n_deg);
    if (p.guide_ref == 1.0 || p.guide_ref == 2.0) {
        r.az_err_rad = wrap_once_rad(cmd.azim_rad - path.chi_rad);
        r.off_angle_rad = off.vel_rad;
        r.elev_err_rad = cmd.elev_rad - path.gamma_rad;
    } else {
        r.az_err_rad = r.az_err_body_rad;
        r.off_angle_rad = off.nose_rad;
        r.elev_err_rad = cmd.elev_rad - a.pitch_rad;
    }
    return r;
}

// Where the elevation error alone misjudges how far the aircraft must pitch,
// steer on a full angle instead:
//  - behind, diving 45 deg or steeper: the angle between velocity and
//    command, whatever the reference;
//  - behind, climbing or level, with the command clearly off the azimuth
//    plane: the full off-angle;
//  - ahead but upside down, before any upright recovery: the full off-angle.
double substituted_elevation_error(const CommandErrors& e, const ReferenceErrors& ref,
                                   const OffAngles& off, const GuideWStates& dw) {
    if (e.behind && e.elev_cmd_rad < 0.0) {
        if (!(e.elev_cmd_rad > kSteepDive_rad)) return off.vel_rad;
    } else if (e.behind) {
        if (!(std::fabs(ref.off_angle_rad - e.az_err_abs_rad) < kLevelTargetTolerance_rad)) {
            return ref.off_angle_rad;
        }
    } else if (off.tilt_deg > kInvertedTilt_deg && dw.upright_latch == 0.0) {
        return ref.off_angle_rad;
    }
    return ref.elev_err_rad;
}

}  // namespace

GuidanceGeometry guidance_geometry(const GuideWInputs& u, const GuideWParams& p,
                                   const GuideWStates& dw, const FlightState& fs) {
    const CommandAngles cmd = command_angles(u);
    const FlightPath path = flight_path(u);
    const AttitudeTrig trig = attitude_trig(fs);
    const OffAngles off = off_angles(directions(cmd, path, trig));
    const ReferenceErrors ref = reference_errors(p, fs, cmd, path, trig, off);

    GuidanceGeometry geo;
    geo.path = PathSpeeds{path.v_h_mps, path.v_tot_mps, path.cos_gamma,
                          kMaxTurnAccel_mps2 / path.v_h_mps};

    // Each flag is the negation of the opposite test, which fixes the side a
    // NaN takes.
    AttitudeTests& att = geo.attitude;
    att.cos_pitch = trig.cos_pitch;
    att.cos_roll = trig.cos_roll;
    att.roll_abs_deg = std::fabs(fs.roll_n_deg);
    att.tilt_deg = off.tilt_deg;
    att.upright = !(off.tilt_deg > kInvertedTilt_deg);
    att.inverted = !(off.tilt_deg <= kInvertedTilt_deg);
    att.ang_nose_deg = off.nose_deg;

    CommandErrors& e = geo.errors;
    e.az_err_rad = ref.az_err_rad;
    e.az_err_abs_rad = std::fabs(ref.az_err_rad);
    e.az_err_body_rad = ref.az_err_body_rad;
    e.elev_cmd_rad = cmd.elev_rad;
    e.behind = !(e.az_err_abs_rad <= kHalfPi_rad);
    e.elev_err_rad = substituted_elevation_error(e, ref, off, dw);
    return geo;
}
