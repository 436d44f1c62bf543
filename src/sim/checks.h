// The checks a flight is judged by, as data: one table of every check (its
// name, when a flight is judged by it, its judge), and each result a record
// of the check's name and, when it failed, why. Tools read the name; the
// words are for people.
//
// Two kinds:
//   - the scenario's own expectations ("expect" in its file): judged and
//     reported only where the scenario asks for them, passed or failed;
//   - the simulator's own, which every flight must pass (the aircraft
//     trimmed at the start, every value finite, the model sound, the
//     ground not reached unless allowed, the aircraft's load and angle of
//     attack limits, and the same of an engagement's second aircraft):
//     reported only when they fail.
// docs/simulator.md lists the names.
#ifndef SIM_CHECKS_H
#define SIM_CHECKS_H

#include <optional>
#include <string>
#include <vector>

#include "engagement_figures.h"
#include "scenario.h"

// One check's verdict: failure is empty when the check held.
struct CheckResult {
    std::string check;
    std::string failure;
};

// What a flight showed, as far as the checks judge it: gathered step by
// step (flight.cpp), judged once at the end.
struct FlightFigures {
    std::string aircraft;            // its name, for the words
    std::string no_trim;             // why the aircraft could not start (empty: it did)
    std::string not_finite;          // the first value not finite, and when (empty: none)
    std::string model_fault;         // why the model could no longer be flown (empty: sound)
    std::optional<double> ground_s;  // when the aircraft reached the ground
    bool steers = true;              // the law steered towards the commanded direction
    bool within = false;             // inside the 5 deg band at the end
    double entered_s = 0.0;          // last entry into the band
    double min_altitude_m = 0.0, peak_load_g = 0.0;
    double last_roll_deg = 0.0, final_speed_error_mps = 0.0;
    std::vector<bool> latched_seen;  // per expect.latched state
    double split_roll_deg = 0.0;
    bool pulled_after_roll = false;
    int latched_side = 0;  // -1 left, 1 right, 0 never latched
    bool turn_reversed = false;
    int passthrough_misses = 0;
    double orbit_radius_m = 0.0, orbit_radius_formula_m = 0.0, orbit_altitude_error_m = 0.0;
    // The aircraft's structural load limits and angle-of-attack limit, and
    // the first moment it passed each.
    double min_load_limit_g = 0.0, max_load_limit_g = 0.0, alpha_limit_deg = 0.0;
    std::optional<Excursion> load_excursion, alpha_excursion;
    std::optional<EngagementFigures> engagement;  // none: not an engagement
};

// What an asked check of a flight that did not start says.
extern const char* const kNotFlown;

// Every check the flight is judged by, in the table's order: the
// scenario's asked checks with their verdicts, and the simulator's own
// checks that failed. A flight that could not start (no trim) fails "trim"
// and every asked check, the latter with kNotFlown.
std::vector<CheckResult> judge_flight(const Expectations& e, const FlightFigures& f);

// The names of the checks a scenario asks for, in the table's order.
std::vector<std::string> checks_asked(const Expectations& e);

// The names of the simulator's own checks, which every flight must pass.
std::vector<std::string> own_checks();

#endif
