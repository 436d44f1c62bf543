// A flown scenario's result as JSON, written one way for every host:
// guide-sim's NAME.summary.json and libguidesim's answer (guide_sim_api.h).
//
//   {"name": ..., "started": true,
//    "metrics": {"converge_s", "first_within_s", "peak_load_g", "altitude_lost_m",
//                "final_speed_err_mps", "min_altitude_m", "final_bank_deg"},
//    "checks": [{"check": "max_load_g", "passed": true, "failure": ""}, ...],
//    "passed": true}
//
// converge_s and first_within_s are null where the law does not steer (or
// never came within the band); every metric is null for a flight that did
// not start. The checks are FlightSummary::checks, named as in checks.h.
// Numbers are written so that they read back to the same double.
#ifndef SIM_FLIGHT_RESULT_H
#define SIM_FLIGHT_RESULT_H

#include <string>

#include <nlohmann/json.hpp>

#include "flight.h"

nlohmann::ordered_json flight_result(const std::string& name, const FlightSummary& sum);

#endif
