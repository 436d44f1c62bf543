#include "controls_recorder.h"

void ControlsRecorder::reset(const InitialFlight& init) {
    record_.clear();
    aircraft_.reset(init);
}

void ControlsRecorder::step(const GuideWOutputs& cmd) {
    // A model that can no longer be flown does not step: nothing to record.
    if (!aircraft_.fault().empty()) return;
    aircraft_.step(cmd);
    record_.push_back(JsbsimReplay::controls(aircraft_));
}

void replay_controls(JsbsimModel& aircraft, const InitialFlight& init,
                     const std::vector<Controls>& record) {
    aircraft.reset(init);
    for (const Controls& c : record) JsbsimReplay::step(aircraft, c);
    JsbsimReplay::read_back_state(aircraft);
}
