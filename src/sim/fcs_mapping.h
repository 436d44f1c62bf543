// The law's commands through a fly-by-wire aircraft's own channels
// (JSBSim's F-16): its flight-control system takes a roll-rate stick and a
// pitch stick blending pitch rate and load factor, and moves the surfaces
// itself.
//
// Roll: the roll stick is the roll-rate command in the FCS's own scale,
// with an integral of ours for the aileron a steady turn needs (the FCS's
// roll loop is proportional), and the FCS's own roll-error lead cut back.
// Pitch: the stick that holds the commanded load in a steady pull at this
// speed (the FCS's steady-turn relation inverted through its gain
// schedule), a share of it ahead, plus proportional and integral action on
// the load error, damped by the flown load's rate.
// Flaperons: on the F-16 the roll surfaces share the trailing-edge flap's
// travel, and a roll demand moves the aircraft's lift by up to a g within a
// tenth of a second; where that would work against the load error the roll
// is paced, and the load loop flies the load the flaperons leave to the
// wing.
//
// Pure arithmetic on the quantities handed in: the same inputs give the
// same sticks to the last bit.
#ifndef SIM_FCS_MAPPING_H
#define SIM_FCS_MAPPING_H

#include "control_mapping.h"

struct FcsGains {
    // Roll stick per roll rate (1/(rad/s)), the pitch channel's gains on
    // pitch rate (per rad/s) and load factor (per g), as the FCS uses them.
    double roll_gain = 0.0, pitch_rate_gain = 0.0, load_gain = 0.0;
    // The share of the FCS's steady-turn stick given ahead of the load
    // loop. The FCS reaches that relation only through its slow integrator;
    // within a manoeuvre its own angle-of-attack and pitch-rate feedback
    // hand back part of the stick, and the load loop finds the rest.
    double ff_share = 1.0;
    // The share of the FCS's own roll-rate error lead let through to its
    // roll surface (1: the FCS as it is; 0: the surface is asked for the
    // steady roll at the commanded rate).
    double roll_lead = 1.0;
    // How fast (g/s) a roll may change the flaperons' lift where that works
    // against the load error (0: as fast as the roll asks).
    double flaperon_lift_rate_gps = 0.0;
    // Load-factor error to stick: proportional (per g) and integral (per g*s).
    double n_kp = 0.0, n_ki = 0.0;
    double n_kd = 0.0;  // seconds of the flown load's rate counted as error
    double p_ki = 0.0;  // roll-rate error integral to roll demand, per s
};

class FcsMapping final : public ControlMapping {
public:
    explicit FcsMapping(const FcsGains& gains) : gains_(gains) {}

    bool commands_rudder() const override { return false; }
    TrimHandover reset(const TrimReading& trim) override;
    Controls step(const LawCommand& cmd, const MappingInput& in, double dt) override;

private:
    // The flaperons' lift at one flight condition (see at()).
    struct FlaperonLift {
        double mach_schedule, tef, qbar_psf, wing_area_sqft, weight_lbs;
        double at(double position) const;
    };
    static FlaperonLift flaperon_lift(const MappingInput& in);
    double roll_demand_for(double aileron, const MappingInput& in) const;
    double pace_roll_demand(double aileron, double n_err, const FlaperonLift& lift,
                            const MappingInput& in, double dt);
    double roll_stick(double p_cmd, const MappingInput& in, double dt);
    double pitch_stick(double n_cmd, double n_err, const MappingInput& in, double dt);

    FcsGains gains_;
    double n_integral_ = 0.0;   // the load-factor loop's integral, g*s
    double last_load_g_ = NAN;  // flown at the step before (NaN: none yet)
    double p_integral_ = 0.0;   // the roll-rate loop's integral, rad
    double roll_demand_ = 0.0;  // the roll surface demand given last
    double sched_ratio_ = 1.0;  // the pitch schedule's gain last seen
};

#endif
