// Shared fixtures of the model tests: a flight state to start from and a
// model instance of one's own, stepped through the same pipeline as
// GuideW_step.
#ifndef TEST_SUPPORT_H
#define TEST_SUPPORT_H

#include <cmath>

#include "GuideW.h"
#include "guidance_stages.h"
#include "law_constants.h"

// Level, wings-level flight at 200 m/s towards azimuth 0 at sea level,
// guidance in mode 1 with no external weight, command straight ahead.
inline GuideWInputs level_flight() {
    GuideWInputs u{};
    u.speed_cmd = 200.0;
    u.mode = 1.0;
    u.tas = 200.0;
    u.vel_north = 200.0;
    return u;
}

// Flying at v_mps along track_deg (azimuth, deg), climbing at gamma_deg,
// with the nose along the flight path and the wings level.
inline void fly_along(GuideWInputs& u, double v_mps, double track_deg, double gamma_deg) {
    const double v_h = v_mps * std::cos(gamma_deg * kRadPerDeg);
    u.vel_north = v_h * std::cos(track_deg * kRadPerDeg);
    u.vel_east = v_h * std::sin(track_deg * kRadPerDeg);
    u.vel_up = v_mps * std::sin(gamma_deg * kRadPerDeg);
    u.yaw = track_deg;
    u.pitch = gamma_deg;
    u.roll = 0.0;
}

// The conditioned flight state of a set of inputs.
inline FlightState conditioned(const GuideWInputs& u) {
    return condition_flight_state(input_roles(u).aircraft);
}

// A velocity over the ground, m/s.
struct Velocity {
    double north, east, up;
};

// The velocity of v_mps along track_deg, climbing at gamma_deg.
inline Velocity along(double v_mps, double track_deg, double gamma_deg) {
    const double v_h = v_mps * std::cos(gamma_deg * kRadPerDeg);
    return Velocity{v_h * std::cos(track_deg * kRadPerDeg), v_h * std::sin(track_deg * kRadPerDeg),
                    v_mps * std::sin(gamma_deg * kRadPerDeg)};
}

// Flying with velocity v, the nose along it and the wings level.
inline void fly_with(GuideWInputs& u, const Velocity& v) {
    u.vel_north = v.north;
    u.vel_east = v.east;
    u.vel_up = v.up;
    u.yaw = std::atan2(v.east, v.north) / kRadPerDeg;
    u.pitch = std::atan2(v.up, std::hypot(v.north, v.east)) / kRadPerDeg;
    u.roll = 0.0;
}

// Level at sea level at 60 m/s due north, climbing at 15.277436921299264 m/s:
// towards a level command the flight-path rate the pitch schedule asks for
// bends the path down by exactly the cosine of its angle, so the vertical
// load demand is exactly 0.
constexpr Velocity kZeroVerticalDemand{60.0, 0.0, 15.277436921299264};

// The guidance stages of one step up to what they hand the mixing and
// throttle stages, advancing dw as the step does.
struct GuidedStep {
    GuidanceGeometry geo;
    GuidanceResults res;
};
inline GuidedStep guided_step(const GuideWInputs& u, const GuideWParams& p, GuideWStates& dw) {
    const InputRoles in = input_roles(u);
    const FlightState fs = condition_flight_state(in.aircraft);
    GuidedStep s{{}, guidance_entry_values(fs)};
    s.geo = guide(in.command, in.aircraft, p, fs, dw, s.res);
    return s;
}

// One model with records of its own, defaults for the parameters.
struct Model {
    GuideWInputs u = level_flight();
    GuideWParams p = GuideW_P;
    GuideWStates dw = kFreshStates;
    GuideWOutputs y{};

    const GuideWOutputs& step() {
        guidance_step(u, p, dw, y);
        return y;
    }
};

#endif
