#include "controls_recorder.h"

void ControlsRecorder::reset(const InitialFlight& init) {
    record_.clear();
    aircraft_.reset(init);
}

void ControlsRecorder::step(const GuideWOutputs& cmd) {
    // A model that can no longer be flown does not step: nothing to record.
    if (!aircraft_.fault().empty()) return;
    aircraft_.step(cmd);
    record_.push_back(aircraft_.controls());
}

void replay_controls(JsbsimModel& aircraft, const InitialFlight& init,
                     const std::vector<JsbsimModel::Controls>& record) {
    aircraft.reset(init);
    for (const JsbsimModel::Controls& c : record) aircraft.step_jsbsim_only(c);
    aircraft.read_back_state();
}
