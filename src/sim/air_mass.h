// The air the aircraft flies in: a steady wind that may change with
// altitude, turbulence and a discrete gust. Still air is the default.
//
// The law is fed what an air-data system measures: its speed, path angles,
// bank and velocity components are those of the aircraft's motion through
// the air, not over the ground. So a wind that is the same at every altitude
// leaves the law's flight in the air mass as it is in still air, while the
// ground track drifts with the wind.
#ifndef SIM_AIR_MASS_H
#define SIM_AIR_MASS_H

#include <optional>
#include <string>
#include <vector>

#include "vec3.h"

// The wind at one altitude, as a weather report gives it: where it blows
// from (degrees from north, clockwise) and its speed.
struct WindLayer {
    double altitude_m = 0.0;
    double from_deg = 0.0;
    double speed_mps = 0.0;
};

// JSBSim's Dryden-spectrum turbulence after MIL-F-8785C in its two
// discretisations; the severity is the index of the probability-of-
// exceedance curve (1 to 7: light 3, moderate 4, severe 6).
enum class TurbulenceModel { kNone, kMilspec, kTustin };

struct Turbulence {
    TurbulenceModel model = TurbulenceModel::kNone;
    int severity = 0;
    unsigned seed = 0;  // the same seed, the same turbulence to the last bit
};

// A one-minus-cosine gust: it builds up over rise_s, holds, then decays
// over decay_s. Its air moves towards the azimuth opposite from_deg,
// climbing at up_deg above the horizontal (90: an updraught, -90: a
// downdraught).
struct Gust {
    double start_s = 0.0;
    double speed_mps = 0.0;
    double from_deg = 0.0;
    double up_deg = 0.0;
    double rise_s = 1.0, hold_s = 0.0, decay_s = 1.0;
};

struct AirMass {
    std::vector<WindLayer> wind;  // by increasing altitude; empty: no steady wind
    Turbulence turbulence;
    std::optional<Gust> gust;

    bool turbulent() const { return turbulence.model != TurbulenceModel::kNone; }
};

// The steady wind at altitude_m as the air's velocity (north, up, east),
// m/s. Between two layers the wind's north and east components vary
// linearly with altitude (so a wind veering through the layers turns
// smoothly, and calm is reached through zero, never through a spin of
// direction); below the lowest layer and above the highest it is theirs.
V3 steady_wind_at(const std::vector<WindLayer>& layers, double altitude_m);

// The gust's air velocity at t_s (north, up, east), m/s: zero before its
// start and after its decay.
V3 gust_at(const Gust& g, double t_s);

// What of the air mass the point mass leaves out, in words ("turbulence
// and the gust"); empty when it flies all of it.
std::string beyond_steady_wind(const AirMass& air);

#endif
