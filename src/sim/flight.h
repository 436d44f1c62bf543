// Flying a scenario: the law (loaded, or an instance: guidance_law.h) and
// the aircraft in closed loop at the law's 0.01 s step, with the figures
// and the checks (checks.h) the scenario asks for.
#ifndef SIM_FLIGHT_H
#define SIM_FLIGHT_H

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "aircraft.h"
#include "aircraft_model.h"
#include "checks.h"
#include "engagement.h"
#include "guidance_law.h"
#include "scenario.h"

// One step as recorded: the inputs the law saw, what it commanded, its
// states after the step, and the aircraft at that moment.
struct FlightSample {
    double t_s;
    const GuideWInputs* inputs;
    const GuideWOutputs* outputs;
    const GuideWStates* states;
    const Aircraft* aircraft;
    double dir_err_deg;  // angle between velocity and commanded direction
    // In the orbit (mode 3), the radius of the level turn the law flies and
    // the altitude its profile asks for now; NaN in the other modes.
    double orbit_radius_m;
    double orbit_alt_target_m;
    AirData air;  // the aircraft's air data and surfaces at that moment
    // An engagement's target and geometry at that moment; null without one.
    const EngagementSample* engagement = nullptr;
};

struct FlightSummary {
    // The aircraft could be trimmed at the start and the flight was flown;
    // when not, the figures below mean nothing and "trim" failed.
    bool started = true;
    bool steers = true;  // the mode steers towards the commanded direction
    // The time the direction error last came within 5 deg of the command and
    // stayed there to the end; none when the flight ends outside the band.
    std::optional<double> converge_s;
    std::optional<double> first_within_s;  // the first time within 5 deg, if ever
    double peak_load_g = 0.0;              // flown
    double altitude_lost_m = 0.0;          // start minus lowest
    double min_altitude_m = 0.0;           // the lowest
    double final_speed_err_mps = 0.0;      // final speed minus speed_cmd
    double final_bank_deg = 0.0;           // the bank the law saw last
    std::optional<double> ended_s;  // the flight ended early: ground reached, or a value not finite
    // Every check the flight was judged by (checks.h): the scenario's asked
    // ones, and the simulator's own that failed.
    std::vector<CheckResult> checks;
    std::string air_left_out;  // what of the scenario's air mass the aircraft did not fly
    std::optional<EngagementFigures> engagement;  // an engagement's figures

    bool passed() const;
    std::vector<CheckResult> failed() const;  // the checks that failed, in order
};

using SampleSink = std::function<void(const FlightSample&)>;

// The parameters sc flies with: base with the scenario's changes.
GuideWParams scenario_parameters(const GuideWParams& base, const Scenario& sc);

// Flies sc with law on aircraft, reset to the scenario's start. The law's
// parameters are restored afterwards. The flight ends early when the
// aircraft reaches the ground (altitude 0), when an input the law sees or a
// command it gives is not finite, or where the model can no longer be flown
// (its fault()); each fails a check of its own (the ground not, when the
// scenario allows it), as does leaving the aircraft's envelope (load
// factor, angle of attack). An aircraft that cannot be trimmed at the start
// is a flight that did not start (started false, "trim" failed). No
// printing, no files: sink sees each step.
// An engagement against a second aircraft flies it as opponent (its law and
// its model, each apart from ours); a host that gives none cannot fly one
// (std::invalid_argument).
FlightSummary fly_scenario(GuidanceLaw& law, const Scenario& sc, AircraftModel& aircraft,
                           const SampleSink& sink, Opponent* opponent = nullptr);

// The same with the module-level model of a loaded libGuide.so, and on the
// point mass of cfg.
FlightSummary fly_scenario(const GuideLibrary& lib, const Scenario& sc, AircraftModel& aircraft,
                           const SampleSink& sink);
FlightSummary fly_scenario(const GuideLibrary& lib, const Scenario& sc, const AircraftConfig& cfg,
                           const SampleSink& sink);

#endif
