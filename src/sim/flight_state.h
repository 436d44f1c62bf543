// The vocabulary every aircraft model and the simulator share: where a
// flight starts, and the state of the aircraft the checks, the figures and
// the pictures read, whichever model flies it (our point mass, or a JSBSim
// aircraft). Neither model's own quantities belong here.
#ifndef SIM_FLIGHT_STATE_H
#define SIM_FLIGHT_STATE_H

#include "vec3.h"

// Where the aircraft starts; speed and angles are those of its motion
// through the air (in still air, over the ground too).
struct InitialFlight {
    double altitude_m = 3000.0;
    double speed_mps = 200.0;
    double heading_deg = 0.0;  // track azimuth
    double path_deg = 0.0;     // flight-path angle, positive up
    double bank_deg = 0.0;     // positive: right wing down
};

struct Aircraft {
    V3 position;  // m; y is the altitude
    V3 velocity;  // m/s, over the ground
    V3 wind;      // m/s, the air's own velocity where the aircraft is (0 in still air)
    V3 lift_dir;  // unit, perpendicular to the velocity through the air
    double roll_rate_dps = 0.0;
    double load_g = 1.0;
    double thrust_frac = 0.0;
    double heading_deg = 0.0;  // kept through vertical flight
};

// The aircraft's velocity through the air: what its wing and an air-data
// system see.
inline V3 air_velocity(const Aircraft& ac) { return ac.velocity - ac.wind; }

#endif
