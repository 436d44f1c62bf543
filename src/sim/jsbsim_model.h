// A JSBSim aircraft behind the aircraft-model interface, in lock-step with
// the law: every law step of 0.01 s, JSBSim takes a fixed whole number of
// its own steps under the controls its control mapping (control_mapping.h)
// makes of the law's commands. No wall clock, no threads, no sockets: the
// same flight twice is the same to the last bit.
//
// The aircraft is loaded once (the costly part: parsing its XML) and reset
// per flight: reset() sets JSBSim's initial conditions, trims the aircraft
// in straight flight at the start's speed, altitude and path angle, hands
// the trim to the mapping, then rolls it to the start's bank. Each step it
// reads the flight for the mapping, sets the controls the mapping gives and
// steps JSBSim.
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
#include "control_mapping.h"
#include "jsbsim_atmosphere.h"

class JsbsimModel final : public AircraftModel {
public:
    // Loads the aircraft `model` (its folder aircraft_dir/model holds
    // model.xml); engines and systems come from root_dir; flies it as the
    // control entry says. An aircraft that closes loops of its own (a PID
    // among its flight controls) is flown through our surface loop only
    // when surface_loop_over_own_fcs. Throws AircraftError naming name and
    // the cause.
    JsbsimModel(const std::string& name, const std::string& root_dir,
                const std::string& aircraft_dir, const std::string& model,
                const ControlEntry& entry, bool surface_loop_over_own_fcs = false);
    ~JsbsimModel() override;

    const std::string& name() const override { return name_; }
    void reset(const InitialFlight& init) override;
    std::string set_air_mass(const AirMass& air) override {
        air_.set(air);
        return {};
    }
    void sense(GuideWInputs& u) const override;
    void step(const GuideWOutputs& cmd) override;
    const Aircraft& state() const override { return ac_; }
    AircraftLimits limits() const override { return entry_.limits; }
    double alpha_deg() const override { return alpha_deg_; }
    AirData air_data() const override;
    std::string fault() const override { return fault_; }

    // JSBSim's own messages since the model was made.
    std::string log() const override;

    double trim_throttle() const override { return trim_throttle_; }

private:
    // The benchmark's reference steps JSBSim alone (controls_recorder.h).
    friend class JsbsimReplay;

    struct Impl;
    void read_state();
    void roll_about_velocity(const InitialFlight& init);
    MappingInput mapping_input() const;
    TrimReading trim_reading() const;
    void hand_over(const TrimHandover& h);
    void set_controls(const Controls& c);
    double elevator_lift_g() const;
    // The controls as the last step() or reset() left them.
    Controls controls() const;
    // One law step of JSBSim alone under c: its own steps, nothing of ours.
    void step_jsbsim_only(const Controls& c);

    std::string name_;
    ControlEntry entry_;
    std::unique_ptr<Impl> impl_;
    std::unique_ptr<ControlMapping> mapping_;
    Aircraft ac_;
    double alpha_deg_ = 0.0;
    double trim_throttle_ = 0.0;
    JsbsimAirMass air_;  // the wind, turbulence and gust flown in
    std::string fault_;
    int substeps_ = 2;
};

#endif
