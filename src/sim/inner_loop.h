// The inner loop of ours that flies an aircraft without a fly-by-wire
// system (the f15, T38 and c172p of JSBSim, and any aircraft folder) through
// its surfaces: the law's load factor on the elevator, its roll rate on the
// ailerons.
//
// Pitch: the elevator is the steady pull's (the trim's elevator moved by
// the elevator per g of lift coefficient), plus proportional and integral
// action on the load error and damping of the pitch rate's departure from
// the steady pull's. The proportional action sees the load less the
// elevator's own lift (a pull first pushes the tail down). Roll:
// proportional and integral action on the roll-rate error. Yaw: the rudder
// against the sideslip (turn coordination).
//
// Every gain holds at a reference dynamic pressure and is scaled by
// reference/now: a surface's moment grows with the dynamic pressure, so one
// set of gains gives the same loop from the slowest to the fastest flight.
// Integrals stop growing into a stop the surface is against. The load asked
// of the aircraft stays within 80 % of its structural limits, and near its
// angle-of-attack limit the loop pushes whatever the command.
//
// Pure arithmetic on the quantities handed in: no JSBSim here, the same
// inputs give the same surfaces to the last bit.
#ifndef SIM_INNER_LOOP_H
#define SIM_INNER_LOOP_H

#include <string>

#include "aircraft_model.h"  // AircraftLimits

struct InnerLoopGains {
    double qbar_ref_kpa = 20.0;  // the dynamic pressure the gains below hold at
    // Elevator command (JSBSim's normalised, positive trailing edge down) per g
    // of steady load at the reference dynamic pressure: negative, a pull.
    double elevator_per_g = 0.0;
    double n_kp = 0.0;  // elevator per g of load error
    double n_ki = 0.0;  // elevator per g*s of its integral
    double q_kd = 0.0;  // elevator per rad/s of pitch rate beyond the steady pull's
    // The load the loop flies follows the command at most this fast (g/s; 0:
    // at once): a step of the elevator lifts the tail before it turns the
    // wing, so the load first moves against the step, by a g and more where
    // the command swings by several.
    double n_slew_gps = 0.0;
    // JSBSim's property holding the elevator's own lift (lbs), where the
    // aircraft's data name one (empty: none).
    std::string elevator_lift_property;
    double p_kp = 0.0;  // aileron per rad/s of roll-rate error
    double p_ki = 0.0;  // aileron per rad of its integral
    // Rudder per rad of sideslip (JSBSim's rudder command is positive nose
    // left: negative to coordinate).
    double r_kb = 0.0;
};

// The flight as the loop reads it, one law step.
struct InnerLoopInput {
    double n_cmd_g = 1.0, n_g = 1.0;      // commanded and flown normal load factor
    double p_cmd_rps = 0.0, p_rps = 0.0;  // commanded and flown body roll rate
    double q_rps = 0.0;                   // body pitch rate
    double qbar_kpa = 0.0;                // dynamic pressure
    double speed_mps = 0.0;               // true airspeed
    double theta_rad = 0.0, phi_rad = 0.0;
    double elevator_lift_g = 0.0;  // the elevator's own lift over the weight
    double alpha_deg = 0.0;        // angle of attack
    double beta_rad = 0.0;         // sideslip
};

struct SurfaceCommand {
    double elevator = 0.0, aileron = 0.0, rudder = 0.0;  // normalised, within [-1, 1]
};

class SurfaceInnerLoop {
public:
    // limits: the structural loads and the angle of attack the aircraft's
    // data give.
    SurfaceInnerLoop(const InnerLoopGains& gains, const AircraftLimits& limits);

    // A new flight from a trim: the elevator that held 1 g there, at that
    // dynamic pressure, and the elevator's own lift there (g).
    void reset(double trim_elevator, double trim_qbar_kpa, double trim_elevator_lift_g);

    // The surfaces for the next dt seconds.
    SurfaceCommand step(const InnerLoopInput& in, double dt);

private:
    InnerLoopGains gains_;
    double min_n_cmd_g_, max_n_cmd_g_, max_alpha_deg_;
    double n_flown_cmd_g_ = 1.0;  // the command after the slew limit
    double trim_elevator_ = 0.0, trim_qbar_kpa_ = 1.0, trim_elevator_lift_g_ = 0.0;
    double n_integral_ = 0.0;  // the load integral's elevator
    double p_integral_ = 0.0;  // the roll-rate integral's aileron
};

#endif
