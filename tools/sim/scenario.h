// Scenarios of the closed-loop simulator: where the aircraft starts, what
// the law is commanded (and when the commands change), and what the flight
// must show.
//
// File format (JSON): one scenario object, or an array of them.
//   {
//     "name": "typical",                       required, [A-Za-z0-9_-]+
//     "description": "...",
//     "duration_s": 40,                        required, > 0
//     "initial": {"altitude_m": 3000, "speed_mps": 200, "heading_deg": 0,
//                 "path_deg": 0, "bank_deg": 0},
//     "inputs": {"azim_cmd": 30, "elev_cmd": 5, "speed_cmd": 220, "mode": 1},
//     "events": [{"t_s": 10, "inputs": {"azim_cmd": 90}}],
//     "params": {"roll_kp": 3},
//     "expect": {"converge_within_s": 15, "max_load_g": 9, ...}
//   }
// "inputs" may name only the command inputs; the aircraft state inputs are
// sensed from the simulated aircraft. Unknown keys are errors.
#ifndef SIM_SCENARIO_H
#define SIM_SCENARIO_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "GuideW.h"
#include "aircraft.h"

struct InputChange {
    int index;     // into the 19-value input array
    double value;
};

struct TimedChange {
    double t_s;
    std::vector<InputChange> changes;
};

struct OrbitExpectation {
    double settle_s = 20.0;             // checked from this time on
    double radius_tolerance = 0.1;      // fraction of the orbit radius
    double altitude_tolerance_m = 100.0;
};

struct BankExpectation {
    double value_deg;
    double tolerance_deg;
};

// What a flight must show; each present entry is one check.
struct Expectations {
    std::optional<double> converge_within_s;    // velocity within 5 deg of the command
    std::optional<double> max_load_g;           // flown load factor never above
    std::optional<double> min_altitude_m;       // never below
    std::optional<double> final_speed_error_mps;
    std::vector<std::string> latched;           // state flags that must reach 1
    bool rolls_before_pull = false;             // split manoeuvre: roll past 90, then pull
    bool turn_direction_latched = false;        // bank keeps its side while the sign latch holds
    bool passthrough = false;                   // lat_cmd, nz_cmd equal ext_lat, ext_nz exactly
    bool ends_upright = false;
    std::optional<BankExpectation> final_bank;
    std::optional<OrbitExpectation> orbit;
};

struct Scenario {
    std::string name;
    std::string description;
    double duration_s = 0.0;
    InitialFlight initial;
    GuideWInputs commands{};                    // command inputs at t = 0
    std::vector<TimedChange> events;            // in time order
    std::vector<std::pair<std::string, double>> params;
    Expectations expect;
};

// Parses scenarios from JSON text; origin names the source in errors. On
// failure returns false with a message naming the origin and the problem.
bool parse_scenarios(const std::string& text, const std::string& origin,
                     std::vector<Scenario>& out, std::string& error);

bool load_scenario_file(const std::string& path, std::vector<Scenario>& out,
                        std::string& error);

// The scenarios built into the simulator, each showing one behaviour.
const std::vector<Scenario>& builtin_scenarios();

// The built-in scenarios as the JSON text they are parsed from (an array),
// for hosts that vary a built-in before flying it.
const char* builtin_scenarios_json();

#endif
