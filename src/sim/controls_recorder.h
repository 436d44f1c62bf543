// A JSBSim aircraft flown as usual while the controls its mapping gives it
// are recorded step by step. Reset at the same start and stepped alone
// under that record (JsbsimReplay), JSBSim flies the same flight again with
// nothing of ours in between: what stepping the aircraft itself costs,
// against which the law, the mapping, the checks and the recording are
// measured (bench/bench_aircraft.cpp).
#ifndef SIM_CONTROLS_RECORDER_H
#define SIM_CONTROLS_RECORDER_H

#include <string>
#include <vector>

#include "jsbsim_model.h"

// The benchmark's hooks into a JSBSim aircraft, kept out of what flights
// use.
class JsbsimReplay {
public:
    // The controls as the aircraft's last step() or reset() left them.
    static Controls controls(const JsbsimModel& aircraft) { return aircraft.controls(); }

    // One law step of JSBSim alone under c: its own steps, nothing of ours
    // computed, read or judged.
    static void step(JsbsimModel& aircraft, const Controls& c) { aircraft.step_jsbsim_only(c); }

    // Reads the aircraft's state() afresh from JSBSim (after step()).
    static void read_back_state(JsbsimModel& aircraft) { aircraft.read_state(); }
};

class ControlsRecorder final : public AircraftModel {
public:
    explicit ControlsRecorder(JsbsimModel& aircraft) : aircraft_(aircraft) {}

    // The controls of every step since the last reset, in order.
    const std::vector<Controls>& record() const { return record_; }

    const std::string& name() const override { return aircraft_.name(); }
    void reset(const InitialFlight& init) override;
    void sense(GuideWInputs& u) const override { aircraft_.sense(u); }
    void step(const GuideWOutputs& cmd) override;
    const Aircraft& state() const override { return aircraft_.state(); }
    AircraftLimits limits() const override { return aircraft_.limits(); }
    double trim_throttle() const override { return aircraft_.trim_throttle(); }
    double alpha_deg() const override { return aircraft_.alpha_deg(); }
    AirData air_data() const override { return aircraft_.air_data(); }
    std::string fault() const override { return aircraft_.fault(); }
    std::string log() const override { return aircraft_.log(); }

private:
    JsbsimModel& aircraft_;
    std::vector<Controls> record_;
};

// Resets aircraft at init and steps JSBSim alone under record, then reads
// its state back (state()).
void replay_controls(JsbsimModel& aircraft, const InitialFlight& init,
                     const std::vector<Controls>& record);

#endif
