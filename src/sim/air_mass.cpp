#include "air_mass.h"

#include <cmath>

#include "law_constants.h"

namespace {

// The air's velocity of a wind blowing from from_deg: towards the opposite
// azimuth.
V3 wind_velocity(const WindLayer& w) {
    const double from = w.from_deg * kRadPerDeg;
    return {-w.speed_mps * std::cos(from), 0.0, -w.speed_mps * std::sin(from)};
}

}  // namespace

V3 steady_wind_at(const std::vector<WindLayer>& layers, double altitude_m) {
    if (layers.empty()) return {};
    if (!(altitude_m > layers.front().altitude_m)) return wind_velocity(layers.front());
    for (size_t i = 1; i < layers.size(); ++i) {
        const WindLayer& lo = layers[i - 1];
        const WindLayer& hi = layers[i];
        if (altitude_m > hi.altitude_m) continue;
        const double f = (altitude_m - lo.altitude_m) / (hi.altitude_m - lo.altitude_m);
        const V3 a = wind_velocity(lo), b = wind_velocity(hi);
        return a + f * (b - a);
    }
    return wind_velocity(layers.back());
}

V3 gust_at(const Gust& g, double t_s) {
    const double e = t_s - g.start_s;
    double share = 0.0;  // of the gust's full speed
    if (e < 0.0) {
        share = 0.0;
    } else if (e <= g.rise_s) {
        share = 0.5 * (1.0 - std::cos(kPi * e / g.rise_s));
    } else if (e <= g.rise_s + g.hold_s) {
        share = 1.0;
    } else if (e <= g.rise_s + g.hold_s + g.decay_s) {
        share = 0.5 * (1.0 + std::cos(kPi * (e - g.rise_s - g.hold_s) / g.decay_s));
    }
    const double from = g.from_deg * kRadPerDeg, up = g.up_deg * kRadPerDeg;
    const V3 toward{-std::cos(from) * std::cos(up), std::sin(up), -std::sin(from) * std::cos(up)};
    return (share * g.speed_mps) * toward;
}

std::string beyond_steady_wind(const AirMass& air) {
    if (air.turbulent() && air.gust) return "turbulence and the gust";
    if (air.turbulent()) return "turbulence";
    if (air.gust) return "the gust";
    return {};
}
