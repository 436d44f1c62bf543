#include "aircraft.h"

#include <algorithm>
#include <cmath>

#include "atmosphere.h"

namespace {

// The aircraft falls and lifts with standard gravity, as the law's
// atmosphere does (the law's load demands use a rounded 9.81 of their own).
constexpr double kG0_mps2 = kStandardGravity_mps2;
// Below this horizontal speed the track azimuth is undefined; the last one
// is kept.
constexpr double kMinTrackSpeed_mps = 1e-6;

double lag(double value, double target, double tau_s) {
    return value + (target - value) * (kStep_s / tau_s);
}

// Wings-level up axis and right-wing axis of a path with heading chi and
// flight-path angle gamma (degrees).
void level_axes(double chi_deg, double gamma_deg, V3& up0, V3& right) {
    const double chi = chi_deg * kRadPerDeg, gam = gamma_deg * kRadPerDeg;
    up0 = {-std::cos(chi) * std::sin(gam), std::cos(gam), -std::sin(chi) * std::sin(gam)};
    right = {-std::sin(chi), 0.0, std::cos(chi)};
}

double track_deg(const Aircraft& ac) {
    const V3 air = air_velocity(ac);
    const double vh = std::hypot(air.x, air.z);
    if (vh < kMinTrackSpeed_mps) return ac.heading_deg;
    return std::atan2(air.z, air.x) * kDegPerRad;
}

double dynamic_pressure(const Aircraft& ac) {
    const double v = norm(air_velocity(ac));
    return 0.5 * air_density_kgpm3(ac.position.y) * v * v;
}

}  // namespace

Aircraft make_aircraft(const AircraftConfig& cfg, const InitialFlight& init,
                       const std::vector<WindLayer>& wind) {
    Aircraft ac;
    const double chi = init.heading_deg * kRadPerDeg, gam = init.path_deg * kRadPerDeg;
    ac.position = {0.0, init.altitude_m, 0.0};
    ac.velocity = init.speed_mps *
                  V3{std::cos(gam) * std::cos(chi), std::sin(gam), std::cos(gam) * std::sin(chi)};
    // The start's speed and angles are through the air: the wind adds to
    // the velocity over the ground.
    if (!wind.empty()) {
        ac.wind = steady_wind_at(wind, init.altitude_m);
        ac.velocity = ac.velocity + ac.wind;
    }
    ac.heading_deg = init.heading_deg;
    V3 up0, right;
    level_axes(init.heading_deg, init.path_deg, up0, right);
    const double phi = init.bank_deg * kRadPerDeg;
    ac.lift_dir = std::cos(phi) * up0 + std::sin(phi) * right;
    // Start in trim: thrust balancing drag at 1 g.
    const double qs = dynamic_pressure(ac) * cfg.wing_area_m2;
    const double cl = qs > 0.0 ? cfg.mass_kg * kG0_mps2 / qs : 0.0;
    const double drag = qs * (cfg.cd0 + cfg.induced_drag_k * cl * cl);
    ac.thrust_frac = std::min(drag / cfg.max_thrust_N, 1.0);
    return ac;
}

double path_angle_deg(const Aircraft& ac) {
    const V3 air = air_velocity(ac);
    const double v = norm(air);
    if (v <= 0.0) return 0.0;
    return std::asin(std::clamp(air.y / v, -1.0, 1.0)) * kDegPerRad;
}

double bank_angle_deg(const Aircraft& ac) {
    V3 up0, right;
    level_axes(track_deg(ac), path_angle_deg(ac), up0, right);
    return std::atan2(dot(ac.lift_dir, right), dot(ac.lift_dir, up0)) * kDegPerRad;
}

void sense(const Aircraft& ac, GuideWInputs& u) {
    const V3 air = air_velocity(ac);
    u.yaw = track_deg(ac);
    u.pitch = path_angle_deg(ac);
    u.roll = bank_angle_deg(ac);
    u.tas = norm(air);
    u.vel_up = air.y;
    u.vel_north = air.x;
    u.vel_east = air.z;
    u.roll_rate = ac.roll_rate_dps;
    u.altitude = ac.position.y;
}

void fly_step(const AircraftConfig& cfg, const GuideWOutputs& cmd, Aircraft& ac,
              const std::vector<WindLayer>& wind) {
    const V3 along = unit(air_velocity(ac));
    ac.heading_deg = track_deg(ac);

    // Roll the lift direction about the velocity; positive rolls right.
    const double p_cmd = std::clamp(cmd.lat_cmd, -cfg.max_roll_rate_dps, cfg.max_roll_rate_dps);
    ac.roll_rate_dps = lag(ac.roll_rate_dps, std::isfinite(p_cmd) ? p_cmd : 0.0, cfg.roll_lag_s);
    const double dphi = ac.roll_rate_dps * kRadPerDeg * kStep_s;
    const V3 right = cross(along, ac.lift_dir);
    ac.lift_dir = std::cos(dphi) * ac.lift_dir + std::sin(dphi) * right;

    // Load factor within what the wing can lift now.
    const double qs = dynamic_pressure(ac) * cfg.wing_area_m2;
    const double weight = cfg.mass_kg * kG0_mps2;
    const double n_max = qs * cfg.cl_max / weight, n_min = qs * cfg.cl_min / weight;
    const double n_cmd = std::isfinite(cmd.nz_cmd) ? cmd.nz_cmd : 1.0;
    ac.load_g =
        std::clamp(lag(ac.load_g, std::clamp(n_cmd, n_min, n_max), cfg.load_lag_s), n_min, n_max);

    const double thr_cmd = std::isfinite(cmd.throttle_cmd) ? cmd.throttle_cmd : 0.0;
    ac.thrust_frac = lag(ac.thrust_frac, std::max(thr_cmd, 0.0), cfg.thrust_lag_s);

    const double cl = qs > 0.0 ? ac.load_g * weight / qs : 0.0;
    const double drag = qs * (cfg.cd0 + cfg.induced_drag_k * cl * cl);
    const double thrust = ac.thrust_frac * cfg.max_thrust_N;
    const V3 accel = ((thrust - drag) / cfg.mass_kg) * along +
                     (ac.load_g * kG0_mps2) * ac.lift_dir + V3{0.0, -kG0_mps2, 0.0};

    ac.velocity = ac.velocity + kStep_s * accel;
    ac.position = ac.position + kStep_s * ac.velocity;
    // A wind that changes with altitude changes the air's velocity about
    // the aircraft, and with it the motion through the air (wind shear).
    if (!wind.empty()) ac.wind = steady_wind_at(wind, ac.position.y);

    // Keep the lift direction perpendicular to the new velocity through the air.
    const V3 new_along = unit(air_velocity(ac));
    ac.lift_dir = unit(ac.lift_dir - dot(ac.lift_dir, new_along) * new_along);
}
