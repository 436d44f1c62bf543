// From an engagement's geometry to the law's commands: the layer a host
// puts above the law to chase a target (the law itself only steers the
// velocity onto a commanded direction at a commanded speed).
//
// Which point the velocity is steered to:
//   pure  the target itself, along the line of sight. The velocity ends on
//         the target; against a crossing target it ends behind it, in its
//         rear, at the cost of a tail chase. The law for closing on the
//         rear cone, and the most forgiving of sensing errors.
//   lead  a point ahead of the target along its velocity, by the time we
//         need to fly the range at our own speed (at most lead_max_s):
//         t_go = min(range / own speed, lead_max_s). Cuts the corner and
//         closes faster on a crossing or turning target; overshoots it when
//         the lead is large and its speed is close to ours.
//   lag   a point behind the target by lag_s of its own travel. Keeps
//         the range open and the turn inside the target's, to stay behind
//         it without overshooting into its front.
// The commanded speed, when a speed law is set, holds a range behind the
// target: speed_cmd = V_target + c_w + k (c_w - closure), with the wanted
// closure c_w = (range - hold_range_m) / close_time_s, but never more than
// the airframe can shed before the held range at decel_mps2 (sqrt(2 a e)
// for a range error e), and the command within [min_mps, max_mps]. Without
// one, the scenario's own speed_cmd stays.
//
// A target low over the ground draws the pursuit into a dive it cannot pull
// out of at the law's load limits: the dive commanded is bounded by the
// height above a floor, -90 deg x (altitude - floor_m) / floor_depth_m
// (at the floor: no descent at all), as a host's ground-avoidance does.
//
// The target may be sensed late (delay_s, a whole number of the law's steps)
// and with a noise (Gaussian, independent per axis and step, seeded), as a
// host's radar or datalink gives it. The same seed gives the same noise on
// every machine: the generator is the standard's mt19937_64, turned into
// normal numbers here (Box-Muller), not by the library's distribution.
#ifndef SIM_PURSUIT_H
#define SIM_PURSUIT_H

#include <cstdint>
#include <deque>
#include <optional>
#include <random>

#include "vec3.h"

enum class PursuitLaw { kPure, kLead, kLag };

struct SpeedFromRange {
    double hold_range_m = 1000.0;
    double close_time_s = 20.0;  // the range error closed over this time
    double closure_gain = 0.5;   // per m/s of closure off the wanted one
    double decel_mps2 = 1.5;     // what the airframe sheds with the throttle closed
    double min_mps = 120.0, max_mps = 400.0;
};

struct SensorSettings {
    double delay_s = 0.0;
    double noise_m = 0.0;    // standard deviation of each position axis
    double noise_mps = 0.0;  // and of each velocity axis
    std::uint64_t seed = 1;
};

struct PursuitSettings {
    PursuitLaw law = PursuitLaw::kPure;
    double start_s = 0.0;  // the scenario's own commands fly until then
    double lead_max_s = 3.0;
    double lag_s = 2.0;
    std::optional<SpeedFromRange> speed;
    SensorSettings sensor;
    // A floor the pursuit never dives through: within floor_depth_m above
    // floor_m the steepest dive it commands shallows in proportion, to
    // level flight at the floor.
    double floor_m = 300.0;
    double floor_depth_m = 1500.0;
};

// Our own flight and the target as sensed, in the local level frame
// (vec3.h).
struct PursuitInput {
    V3 own_position_m, own_velocity_mps;
    V3 target_position_m, target_velocity_mps;
};

// What the layer asks of the law, in its command inputs' units.
struct PursuitCommand {
    double azim_cmd_deg = 0.0, elev_cmd_deg = 0.0;
    std::optional<double> speed_cmd_mps;  // none: the scenario's own
    V3 aim_point_m;
    double lead_s = 0.0;  // along the target's velocity: + ahead (lead), - behind (lag)
};

PursuitCommand pursue(const PursuitSettings& s, const PursuitInput& in);

// The target as our sensor reports it: late by a whole number of steps and
// noisy, from one seeded generator per flight.
class TargetSensor {
public:
    explicit TargetSensor(const SensorSettings& s);
    // Takes the true target at this step; returns what is sensed now.
    void observe(V3 position_m, V3 velocity_mps, V3& sensed_position_m, V3& sensed_velocity_mps);

private:
    double normal();
    V3 noise(double sigma);

    SensorSettings s_;
    size_t delay_steps_;
    std::deque<std::pair<V3, V3>> history_;
    std::mt19937_64 rng_;
    std::optional<double> spare_;  // Box-Muller gives normals in pairs
};

#endif
