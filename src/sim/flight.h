// Flying a scenario: the law (through the loaded library) and the aircraft
// in closed loop at the law's 0.01 s step, with the figures and checks the
// scenario asks for.
#ifndef SIM_FLIGHT_H
#define SIM_FLIGHT_H

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "aircraft.h"
#include "aircraft_model.h"
#include "guide_library.h"
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
};

struct FlightSummary {
    bool steers = true;  // the mode steers towards the commanded direction
    // The time the direction error last came within 5 deg of the command and
    // stayed there to the end; none when the flight ends outside the band.
    std::optional<double> converge_s;
    std::optional<double> first_within_s;  // the first time within 5 deg, if ever
    double peak_load_g = 0.0;              // flown
    double altitude_lost_m = 0.0;          // start minus lowest
    double final_speed_err_mps = 0.0;      // final speed minus speed_cmd
    std::optional<double> ended_s;  // the flight ended early: ground reached, or a value not finite
    std::vector<std::string> failed;  // checks that failed, with figures
    std::string air_left_out;         // what of the scenario's air mass the aircraft did not fly
};

using SampleSink = std::function<void(const FlightSample&)>;

// The parameters sc flies with: the library's present ones with the
// scenario's changes.
GuideWParams scenario_parameters(const GuideLibrary& lib, const Scenario& sc);

// Flies sc through lib. The library's parameters are restored afterwards.
// The flight ends early when the aircraft reaches the ground (altitude 0)
// or when an input the law sees or a command it gives is not finite; both
// fail the run (the ground not, when the scenario allows it). No printing,
// no files: sink sees each step.
FlightSummary fly_scenario(const GuideLibrary& lib, const Scenario& sc, const AircraftConfig& cfg,
                           const SampleSink& sink);

// The same with any aircraft model, reset to the scenario's start. A flight
// also fails where the aircraft leaves its envelope (load factor, angle of
// attack) and ends where the model can no longer be flown (its fault()).
FlightSummary fly_scenario(const GuideLibrary& lib, const Scenario& sc, AircraftModel& aircraft,
                           const SampleSink& sink);

#endif
