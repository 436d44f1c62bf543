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
// the load error (the flown load low-passed), damped by the load's rate
// (low-passed too).
// Yaw: the pedal asks the FCS's yaw-rate loop for the coordinated yaw rate
// and more against any sideslip.
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
    // The yaw rate (rad/s) asked of the FCS's yaw channel per rad of
    // sideslip, beyond the coordinated yaw rate: turns the nose into the
    // relative wind.
    double yaw_per_beta = 0.0;
    // Load-factor error to stick: proportional (per g) and integral (per g*s).
    double n_kp = 0.0, n_ki = 0.0;
    double n_kd = 0.0;  // seconds of the flown load's rate counted as error
    // Time constants (s) of the low-pass on the flown load ahead of the
    // proportional error, and of the one its rate is taken through.
    double n_filter_s = 0.0, n_kd_filter_s = 0.0;
    double p_ki = 0.0;  // roll-rate error integral to roll demand, per s
};

class FcsMapping final : public ControlMapping {
public:
    explicit FcsMapping(const FcsGains& gains) : gains_(gains) {}

    bool commands_rudder() const override { return true; }
    TrimHandover reset(const TrimReading& trim) override;
    Controls step(const LawCommand& cmd, const MappingInput& in, double dt) override;

private:
    double roll_stick(double p_cmd, const MappingInput& in, double dt);
    double pitch_stick(double n_cmd, const MappingInput& in, double dt);
    double pedal(const MappingInput& in) const;

    FcsGains gains_;
    double n_integral_ = 0.0;       // the load-factor loop's integral, g*s
    double load_filtered_g_ = NAN;  // the flown load as the loop sees it (NaN: none yet)
    double load_for_rate_g_ = NAN;  // the flown load its rate is taken from
    double p_integral_ = 0.0;       // the roll-rate loop's integral, rad
    double sched_ratio_ = 1.0;      // the pitch schedule's gain last seen
};

#endif
