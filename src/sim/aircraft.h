// A point-mass aircraft for flying the guidance law in closed loop.
//
// The aircraft is its velocity vector and the direction of its lift (the
// body up axis, kept perpendicular to the velocity): no sideslip, no angle
// of attack, no rotational inertia beyond first-order lags.
//   - Roll: the roll rate follows lat_cmd, read as a roll-rate command in
//     deg/s, through a lag; the lift direction turns about the velocity.
//   - Lift: the normal load factor follows nz_cmd through a lag, within the
//     lift the wing can give at the present dynamic pressure.
//   - Thrust follows throttle_cmd (a fraction of the maximum thrust) through
//     a lag; drag is a parabolic polar; gravity acts.
// The atmosphere is the law's own: an isothermal column at the local
// temperature of the standard troposphere, 216.65 K from 11 km up. The air
// may move with a steady wind (air_mass.h): lift, drag, roll and the law's
// inputs are those of the motion through the air; the wind carries the
// aircraft over the ground.
#ifndef SIM_AIRCRAFT_H
#define SIM_AIRCRAFT_H

#include <vector>

#include "GuideW.h"
#include "air_mass.h"
#include "law_constants.h"
#include "flight_state.h"

struct AircraftConfig {
    double mass_kg = 12000.0;
    double wing_area_m2 = 30.0;
    double cl_max = 1.4;             // lift coefficient limit, positive g
    double cl_min = -0.7;            // lift coefficient limit, negative g
    double cd0 = 0.018;              // zero-lift drag coefficient
    double induced_drag_k = 0.12;    // drag due to lift, per CL squared
    double max_thrust_N = 130000.0;  // at throttle 1
    double max_roll_rate_dps = 240.0;
    double roll_lag_s = 0.1;
    double load_lag_s = 0.15;
    double thrust_lag_s = 0.5;
};

// In the steady wind of wind's layers (none: still air).
Aircraft make_aircraft(const AircraftConfig& cfg, const InitialFlight& init,
                       const std::vector<WindLayer>& wind = {});

// Fills the aircraft-state inputs of the law (attitude, speeds, roll rate,
// altitude) as an air-data system gives them: the track, path angle, bank,
// speed and velocity components are those of the velocity through the air;
// the command inputs are left as they are.
void sense(const Aircraft& ac, GuideWInputs& u);

// Advances the aircraft by one step of the law (kStep_s) under its commands.
void fly_step(const AircraftConfig& cfg, const GuideWOutputs& cmd, Aircraft& ac,
              const std::vector<WindLayer>& wind = {});

// Flight-path angle and bank in degrees, as sense() reports them.
double path_angle_deg(const Aircraft& ac);
double bank_angle_deg(const Aircraft& ac);

#endif
