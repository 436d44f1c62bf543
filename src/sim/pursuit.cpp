#include "pursuit.h"

#include <algorithm>
#include <cmath>

#include "law_constants.h"

namespace {

// A direction's azimuth (from north towards east) and elevation, in the
// units of the law's azim_cmd and elev_cmd.
void direction_angles(V3 d, double& azim_deg, double& elev_deg) {
    azim_deg = std::atan2(d.z, d.x) * kDegPerRad;
    elev_deg = std::atan2(d.y, std::hypot(d.x, d.z)) * kDegPerRad;
}

double lead_time_s(const PursuitSettings& s, double range_m, double own_speed_mps) {
    switch (s.law) {
        case PursuitLaw::kLead:
            return own_speed_mps > 0.0 ? std::min(range_m / own_speed_mps, s.lead_max_s)
                                       : s.lead_max_s;
        case PursuitLaw::kLag: return -s.lag_s;
        default: return 0.0;
    }
}

double steepest_dive_deg(const PursuitSettings& s, double altitude_m) {
    const double room = std::clamp((altitude_m - s.floor_m) / s.floor_depth_m, 0.0, 1.0);
    return -kQuarterTurn_deg * room;
}

double speed_for_range(const SpeedFromRange& k, double range_m, double closure_mps,
                       double target_speed_mps) {
    // The closure that can still be shed before the held range, at the
    // deceleration the airframe has with the throttle closed, bounds the
    // one asked for: otherwise a fast closure overshoots the target.
    const double error = range_m - k.hold_range_m;
    const double shed = std::sqrt(2.0 * k.decel_mps2 * std::fabs(error));
    const double wanted = std::copysign(std::min(std::fabs(error) / k.close_time_s, shed), error);
    const double v = target_speed_mps + wanted + k.closure_gain * (wanted - closure_mps);
    return std::clamp(v, k.min_mps, k.max_mps);
}

}  // namespace

PursuitCommand pursue(const PursuitSettings& s, const PursuitInput& in) {
    const V3 los = in.target_position_m - in.own_position_m;
    const double range = norm(los);
    PursuitCommand c;
    c.lead_s = lead_time_s(s, range, norm(in.own_velocity_mps));
    c.aim_point_m = in.target_position_m + c.lead_s * in.target_velocity_mps;
    direction_angles(c.aim_point_m - in.own_position_m, c.azim_cmd_deg, c.elev_cmd_deg);
    c.elev_cmd_deg = std::max(c.elev_cmd_deg, steepest_dive_deg(s, in.own_position_m.y));
    if (s.speed && range > 0.0) {
        const double closure = -dot(unit(los), in.target_velocity_mps - in.own_velocity_mps);
        c.speed_cmd_mps = speed_for_range(*s.speed, range, closure, norm(in.target_velocity_mps));
    }
    return c;
}

TargetSensor::TargetSensor(const SensorSettings& s)
    : s_(s), delay_steps_(static_cast<size_t>(std::lround(s.delay_s / kStep_s))), rng_(s.seed) {}

void TargetSensor::observe(V3 position_m, V3 velocity_mps, V3& sensed_position_m,
                           V3& sensed_velocity_mps) {
    history_.emplace_back(position_m, velocity_mps);
    // Until the delay has passed, the first report is all there is.
    if (history_.size() > delay_steps_ + 1) history_.pop_front();
    sensed_position_m = history_.front().first + noise(s_.noise_m);
    sensed_velocity_mps = history_.front().second + noise(s_.noise_mps);
}

V3 TargetSensor::noise(double sigma) {
    if (!(sigma > 0.0)) return {};
    const double x = normal(), y = normal(), z = normal();
    return sigma * V3{x, y, z};
}

double TargetSensor::normal() {
    if (spare_) {
        const double v = *spare_;
        spare_.reset();
        return v;
    }
    // Two uniform numbers in (0, 1] from the top 53 bits of two draws.
    constexpr double kTwoToMinus53 = 1.0 / 9007199254740992.0;
    const double u1 = (static_cast<double>(rng_() >> 11) + 1.0) * kTwoToMinus53;
    const double u2 = (static_cast<double>(rng_() >> 11) + 1.0) * kTwoToMinus53;
    const double r = std::sqrt(-2.0 * std::log(u1)), a = 2.0 * M_PI * u2;
    spare_ = r * std::sin(a);
    return r * std::cos(a);
}
