// A JSBSim aircraft behind the aircraft-model interface, in lock-step with
// the law: every law step of 0.01 s, JSBSim takes a fixed whole number of
// its own steps under the controls the law's commands give. No wall clock,
// no threads, no sockets: the same flight twice is the same to the last
// bit.
//
// The aircraft is loaded once (the costly part: parsing its XML) and reset
// per flight: reset() sets JSBSim's initial conditions, trims the aircraft
// in straight flight at the start's speed, altitude and path angle, then
// rolls it to the start's bank.
//
// JSBSim's console output never reaches the terminal: its log records and
// anything it writes to std::cout/std::cerr while it runs are collected
// (log()).
#ifndef SIM_JSBSIM_MODEL_H
#define SIM_JSBSIM_MODEL_H

#include <memory>
#include <string>

#include "aircraft_model.h"
#include "control_gains.h"
#include "inner_loop.h"

class JsbsimModel final : public AircraftModel {
public:
    // Loads the aircraft `model` (its folder aircraft_dir/model holds
    // model.xml); engines and systems come from root_dir. Throws
    // AircraftError naming name and the cause.
    JsbsimModel(const std::string& name, const std::string& root_dir,
                const std::string& aircraft_dir, const std::string& model,
                const ControlGains& gains);
    ~JsbsimModel() override;

    const std::string& name() const override { return name_; }
    void reset(const InitialFlight& init) override;
    void sense(GuideWInputs& u) const override;
    void step(const GuideWOutputs& cmd) override;
    const Aircraft& state() const override { return ac_; }
    AircraftLimits limits() const override { return gains_.limits; }
    double alpha_deg() const override { return alpha_deg_; }
    AirData air_data() const override;
    std::string fault() const override { return fault_; }

    // JSBSim's own messages since the model was made.
    std::string log() const override;

    // What our control mapping hands JSBSim each step: the normalised stick,
    // aileron and rudder commands (the rudder only where our inner loop
    // flies the aircraft) and the throttle (every engine's the same).
    struct Controls {
        double elevator = 0.0, aileron = 0.0, rudder = 0.0, throttle = 0.0;
    };
    // The controls as the last step() or reset() left them.
    Controls controls() const;

    // One law step of JSBSim alone under c: its own steps, nothing of ours
    // computed, read or judged. Fed the controls a flight's steps left, it
    // flies that flight again (the benchmark's reference for what the
    // aircraft itself costs).
    void step_jsbsim_only(const Controls& c);

    // Reads state() afresh from JSBSim (after steps of step_jsbsim_only()).
    void read_back_state() { read_state(); }

    // Seconds the loading took (wall clock, measured once; no flight reads it).
    double load_seconds() const { return load_s_; }

    double trim_throttle() const override { return trim_throttle_; }

private:
    struct Impl;
    void read_state();
    void roll_about_velocity(const InitialFlight& init);
    struct Sticks {
        double pitch = 0.0, roll = 0.0;  // normalised; the clamp is apply_controls'
        double yaw = 0.0;                // the F-16's pedal (see f16_pedal())
    };
    double f16_roll_stick(double p_cmd);
    double f16_pitch_stick(double n_cmd);
    double f16_pedal() const;
    Sticks f16_sticks(double p_cmd, double n_cmd);
    void apply_controls(const GuideWOutputs& cmd);
    InnerLoopInput inner_loop_input(double n_cmd, double p_cmd_rps) const;
    double elevator_lift_g() const;

    std::string name_;
    ControlGains gains_;
    std::unique_ptr<Impl> impl_;
    Aircraft ac_;
    double alpha_deg_ = 0.0;
    double trim_throttle_ = 0.0;
    double n_integral_ = 0.0;       // F-16: the load-factor loop's integral, g*s
    double load_filtered_g_ = 1.0;  // F-16: the flown load as its loop sees it
    double load_for_rate_g_ = 1.0;  // F-16: the flown load its rate is taken from
    double p_integral_ = 0.0;       // F-16: the roll-rate loop's integral, rad
    SurfaceInnerLoop inner_;        // not fcs: our loop on the surfaces
    std::string fault_;
    double load_s_ = 0.0;
    int substeps_ = 2;
};

#endif
