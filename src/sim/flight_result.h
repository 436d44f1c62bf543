// A flown scenario's result as JSON, written one way for every host:
// guide-sim's NAME.summary.json and libguidesim's answer (guide_sim_api.h).
//
//   {"name": ..., "started": true,
//    "metrics": {"converge_s", "first_within_s", "peak_load_g", "altitude_lost_m",
//                "final_speed_err_mps", "min_altitude_m", "final_bank_deg"},
//    "checks": [{"check": "max_load_g", "passed": true, "failure": ""}, ...],
//    "passed": true,
//    "engagement": {...}}   (an engagement's only, see below)
//
// converge_s and first_within_s are null where the law does not steer (or
// never came within the band); every metric is null for a flight that did
// not start. The checks are FlightSummary::checks, named as in checks.h.
// An engagement adds to the metrics on_target_s (our velocity within
// on_target_deg of the line of sight to stay; null if not at the end),
// closest_m and closest_t_s, final_range_m, rear_cone_s and
// rear_cone_first_s (we in the target's rear cone), and in a
// one-against-one opponent_rear_cone_s and opponent_rear_cone_first_s; and
// "engagement": {"on_target_deg", "rear_cone": {"angle_deg", "min_range_m",
// "max_range_m", "ata_deg"}, "us_in_cone": {"first_s", "total_s", "longest_s"},
// "opponent_in_cone": {...}, "first_in_cone": "us" | "opponent" | "both" | null}.
// Numbers are written so that they read back to the same double.
#ifndef SIM_FLIGHT_RESULT_H
#define SIM_FLIGHT_RESULT_H

#include <string>

#include <nlohmann/json.hpp>

#include "flight.h"

nlohmann::ordered_json flight_result(const std::string& name, const FlightSummary& sum);

#endif
