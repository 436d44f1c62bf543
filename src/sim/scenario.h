// Scenarios of the closed-loop simulator: where the aircraft starts, what
// the law is commanded (and when the commands change), and what the flight
// must show.
//
// File format (JSON): one scenario object, or an array of them.
//   {
//     "name": "typical",                       required, [A-Za-z0-9_-]+
//     "description": "...",
//     "aircraft": "f16",                       point_mass (default), f16, ...
//     "control": "f16",                        the control entry a JSBSim aircraft
//                                              flies (default: its own; a folder's:
//                                              generic)
//     "duration_s": 40,                        required, > 0
//     "initial": {"altitude_m": 3000, "speed_mps": 200, "heading_deg": 0,
//                 "path_deg": 0, "bank_deg": 0},
//     "inputs": {"azim_cmd": 30, "elev_cmd": 5, "speed_cmd": 220, "mode": 1},
//     "events": [{"t_s": 10, "inputs": {"azim_cmd": 90}}],
//     "params": {"roll_kp": 3},
//     "expect": {"converge_within_s": 15, "max_load_g": 9, ...},
//     "atmosphere": {"wind": {"from_deg": 270, "speed_mps": 10},
//                    "turbulence": {"model": "milspec", "severity": "moderate", "seed": 7},
//                    "gust": {"start_s": 12, "speed_mps": 10, "from_deg": 90}}
//   }
// (air_mass.h; "wind" may also be a list of layers by altitude, see
// docs/simulator.md).
// "inputs" may name only the command inputs; the aircraft state inputs are
// sensed from the simulated aircraft. Unknown keys, a key given twice, an
// empty list and numbers that are not finite are errors. The envelope a
// flight may start in, and the values an input may take, are the named
// limits below; events happen within [0, duration_s].
#ifndef SIM_SCENARIO_H
#define SIM_SCENARIO_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "GuideW.h"
#include "air_mass.h"
#include "commands.h"
#include "engagement_setup.h"
#include "flight_state.h"

// Where a simulated flight may start: above the ground and within the
// altitudes the law's atmosphere describes, fast enough for the wing to
// carry the aircraft and below any speed an aircraft flies.
constexpr double kMinStartAltitude_m = 1.0;
constexpr double kMaxStartAltitude_m = 30000.0;
constexpr double kMinStartSpeed_mps = 30.0;
constexpr double kMaxStartSpeed_mps = 1000.0;
// Ten hours of flight: a million-and-a-half-row trajectory at most.
constexpr double kMaxDuration_s = 36000.0;

// The values a command input may take in a scenario: what an aircraft can be
// asked to fly. Commands beyond them are not a harder flight but a
// meaningless one (a speed of 1e200 m/s, a negative one), whose figures
// would only mislead.
struct CommandRange {
    const char* input;
    double min, max;
};
inline constexpr CommandRange kCommandRanges[] = {
    {"speed_cmd", kMinStartSpeed_mps, kMaxStartSpeed_mps},  // m/s, as a start speed
    {"elev_cmd", -90.0, 90.0},                              // deg, straight down to straight up
    {"azim_cmd", -360.0, 360.0},                            // deg, within a turn either way
    {"ext_weight", 0.0, 1.0},                               // a blend of two commands
    {"ext_nz", -10.0, 10.0},                                // g, beyond any airframe's limit
    {"ext_bank", -180.0, 180.0},                            // deg
    {"ext_throttle", 0.0, 120.0},                           // percent: the law commands up to 1.2
    {"mode", 0.0, 5.0},                                     // the bands 1..4 and their edges
    {"ext_lat", -360.0, 360.0},                             // deg/s of roll rate in mode 4
};

// The values a check may ask for; a negative tolerance can never hold.
constexpr double kMaxLoadCheck_g = 20.0;
constexpr double kMaxSpeedErrorCheck_mps = kMaxStartSpeed_mps;

struct OrbitExpectation {
    double settle_s = 20.0;         // checked from this time on
    double radius_tolerance = 0.1;  // fraction of the orbit radius
    double altitude_tolerance_m = 100.0;
};

struct BankExpectation {
    double value_deg;
    double tolerance_deg;
};

// What a flight must show; each present entry is one check.
struct Expectations {
    std::optional<double> converge_within_s;  // velocity within 5 deg of the command
    std::optional<double> max_load_g;         // flown load factor never above
    std::optional<double> min_altitude_m;     // never below
    std::optional<double> final_speed_error_mps;
    std::vector<std::string> latched;     // state flags that must reach 1
    bool rolls_before_pull = false;       // split manoeuvre: roll past 90, then pull
    bool turn_direction_latched = false;  // bank keeps its side while the sign latch holds
    bool passthrough = false;             // lat_cmd, nz_cmd equal ext_lat, ext_nz exactly
    bool ends_upright = false;
    bool may_reach_ground = false;  // reaching altitude 0 ends the flight, and fails it unless set
    std::optional<BankExpectation> final_bank;
    std::optional<OrbitExpectation> orbit;
    // An engagement's: our velocity within on_target_deg of the line of
    // sight by on_target_within_s and to the end; never nearer the target
    // than min_separation_m; at least rear_cone_s in its rear cone.
    std::optional<double> on_target_within_s;
    double on_target_deg = 10.0;
    std::optional<double> min_separation_m;
    std::optional<double> rear_cone_s;
    RearCone rear_cone;
};

struct Scenario {
    std::string name;
    std::string description;
    std::string aircraft = "point_mass";  // what flies it (aircraft_catalog.h)
    std::string control;                  // its control entry (empty: its own)
    double duration_s = 0.0;
    InitialFlight initial;
    GuideWInputs commands{};          // command inputs at t = 0
    std::vector<TimedChange> events;  // in time order
    std::vector<std::pair<std::string, double>> params;
    Expectations expect;
    AirMass atmosphere;  // still air unless the scenario gives one
    // An engagement: the target, and how our commands follow it (pure
    // pursuit from the start unless the scenario says otherwise).
    std::optional<TargetSetup> target;
    std::optional<PursuitSettings> pursuit;
};

// Parses scenarios from JSON text; origin names the source in errors, and
// a file a scenario names (a recorded target's track) is looked for from
// folder (empty: the current one). A problem throws a ToolError (status 1)
// naming the origin, the key path and what is wrong.
std::vector<Scenario> parse_scenarios(const std::string& text, const std::string& origin,
                                      const std::string& folder = "");

// The scenarios of a file; a file that cannot be read is refused as such.
std::vector<Scenario> load_scenario_file(const std::string& path);

// The scenarios built into the simulator, each showing one behaviour.
const std::vector<Scenario>& builtin_scenarios();

// The built-in scenarios as the JSON text they are parsed from (an array),
// for hosts that vary a built-in before flying it.
const char* builtin_scenarios_json();

#endif
