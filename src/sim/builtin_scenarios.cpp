// The simulator's own scenarios, written in the same file format a user
// writes, so that every built-in also exercises the parser.
#include <cstdio>
#include <cstdlib>

#include "scenario.h"

namespace {

const char* const kBuiltinScenarios = R"json([
  {
    "name": "typical",
    "description": "Level at 200 m/s, target 30 deg right and 5 deg up at 220 m/s",
    "duration_s": 40,
    "initial": {"altitude_m": 3000, "speed_mps": 200, "heading_deg": 0},
    "inputs": {"azim_cmd": 30, "elev_cmd": 5, "speed_cmd": 220, "mode": 1, "aux_in": 7},
    "expect": {"converge_within_s": 10, "max_load_g": 9, "final_speed_error_mps": 5}
  },
  {
    "name": "typical_turbulence",
    "description": "typical in moderate turbulence and a 10 m/s west wind: the law steers through the air",
    "duration_s": 40,
    "initial": {"altitude_m": 3000, "speed_mps": 200, "heading_deg": 0},
    "inputs": {"azim_cmd": 30, "elev_cmd": 5, "speed_cmd": 220, "mode": 1, "aux_in": 7},
    "atmosphere": {"wind": {"from_deg": 270, "speed_mps": 10},
                   "turbulence": {"model": "milspec", "severity": "moderate", "seed": 1}},
    "expect": {"converge_within_s": 15, "max_load_g": 9, "final_speed_error_mps": 8}
  },
  {
    "name": "target_60_off",
    "description": "Level at 200 m/s, target 60 deg left, level",
    "duration_s": 40,
    "initial": {"altitude_m": 3000, "speed_mps": 200, "heading_deg": 0},
    "inputs": {"azim_cmd": 300, "elev_cmd": 0, "speed_cmd": 200},
    "expect": {"converge_within_s": 15, "max_load_g": 9, "min_altitude_m": 2800}
  },
  {
    "name": "straight_behind",
    "description": "Target almost straight behind and a little below: the turn direction is latched",
    "duration_s": 60,
    "initial": {"altitude_m": 5000, "speed_mps": 220, "heading_deg": 0},
    "inputs": {"azim_cmd": 178, "elev_cmd": -10, "speed_cmd": 220},
    "expect": {"converge_within_s": 40, "max_load_g": 9, "latched": ["sign_latch"],
               "turn_direction_latched": true}
  },
  {
    "name": "split_manoeuvre",
    "description": "Target behind and 60 deg down: roll past 90 deg of bank, then pull through",
    "duration_s": 25,
    "initial": {"altitude_m": 9000, "speed_mps": 200, "heading_deg": 0},
    "inputs": {"azim_cmd": 170, "elev_cmd": -60, "speed_cmd": 200},
    "expect": {"converge_within_s": 22, "max_load_g": 9, "min_altitude_m": 3000,
               "latched": ["splits_active", "splits_pull"], "rolls_before_pull": true}
  },
  {
    "name": "climb_behind",
    "description": "Target behind and 75 deg up: the climbing turn goes over the top inverted, then rolls upright",
    "duration_s": 40,
    "initial": {"altitude_m": 3000, "speed_mps": 250, "heading_deg": 0},
    "inputs": {"azim_cmd": 175, "elev_cmd": 75, "speed_cmd": 250},
    "expect": {"converge_within_s": 25, "max_load_g": 9, "latched": ["inverted_latch", "upright_latch"],
               "ends_upright": true}
  },
  {
    "name": "upright_recovery",
    "description": "Starting inverted with the target ahead: roll upright while pushing",
    "duration_s": 20,
    "initial": {"altitude_m": 3000, "speed_mps": 200, "heading_deg": 0, "bank_deg": 180},
    "inputs": {"azim_cmd": 10, "elev_cmd": 0, "speed_cmd": 200},
    "expect": {"latched": ["upright_latch"], "ends_upright": true, "converge_within_s": 10,
               "min_altitude_m": 2700}
  },
  {
    "name": "external_bank",
    "description": "Mode 2 at half weight: an external bank of 40 deg opposite the roll takes over",
    "duration_s": 20,
    "initial": {"altitude_m": 3000, "speed_mps": 200, "heading_deg": 0, "bank_deg": -20},
    "inputs": {"mode": 2, "ext_weight": 0.5, "ext_bank": 40, "ext_nz": 1, "ext_throttle": 30,
               "azim_cmd": 0, "elev_cmd": 0, "speed_cmd": 200},
    "expect": {"latched": ["ext_bank_latch"], "final_bank_deg": {"value": 40, "tolerance": 2}}
  },
  {
    "name": "orbit",
    "description": "Mode 3: a 2 g orbit whose altitude profile climbs 5 deg per quarter turn",
    "duration_s": 40,
    "initial": {"altitude_m": 3000, "speed_mps": 200, "heading_deg": 0},
    "inputs": {"mode": 3, "ext_nz": 2, "ext_throttle": 20, "speed_cmd": 200, "elev_cmd": 5},
    "expect": {"latched": ["orbit_latched"], "max_load_g": 2.5,
               "orbit": {"settle_s": 5, "radius_tolerance": 0.05, "altitude_tolerance_m": 50}}
  },
  {
    "name": "passthrough",
    "description": "Mode 4: lateral and load commands pass straight through",
    "duration_s": 20,
    "initial": {"altitude_m": 3000, "speed_mps": 200, "heading_deg": 0},
    "inputs": {"mode": 4, "ext_lat": 20, "ext_nz": 1, "ext_throttle": 30},
    "events": [{"t_s": 3, "inputs": {"ext_lat": 0, "ext_nz": 3}},
               {"t_s": 10, "inputs": {"ext_lat": -20, "ext_nz": 1}},
               {"t_s": 13, "inputs": {"ext_lat": 0}}],
    "expect": {"passthrough": true}
  },
  {
    "name": "speed_hold",
    "description": "Level at 160 m/s, commanded 240 m/s straight ahead",
    "duration_s": 90,
    "initial": {"altitude_m": 2000, "speed_mps": 160, "heading_deg": 0},
    "inputs": {"azim_cmd": 0, "elev_cmd": 0, "speed_cmd": 240},
    "expect": {"final_speed_error_mps": 5, "min_altitude_m": 1900}
  },
  {
    "name": "crossing_target",
    "description": "Target 4 km off, crossing ahead left to right at 90 deg; pure pursuit, speed holding 1 km",
    "duration_s": 60,
    "initial": {"altitude_m": 3000, "speed_mps": 250, "heading_deg": 0},
    "target": {"range_m": 4000, "angle_off_tail_deg": 90, "crossing_deg": 90, "speed_mps": 200},
    "pursuit": {"law": "pure", "speed": {"hold_range_m": 1000}},
    "expect": {"on_target_within_s": 30, "min_separation_m": 300, "rear_cone_s": 20, "max_load_g": 9}
  },
  {
    "name": "target_turning_away",
    "description": "Target 3 km ahead breaks right at 4 g through 180 deg, then rolls out; lag pursuit follows it round without overshooting",
    "duration_s": 60,
    "initial": {"altitude_m": 3000, "speed_mps": 250, "heading_deg": 0},
    "target": {"range_m": 3000, "speed_mps": 200, "manoeuvre": {"kind": "turn", "load_g": 4, "side": "right", "start_s": 2, "turn_deg": 180}},
    "pursuit": {"law": "lag", "speed": {"hold_range_m": 1000}},
    "expect": {"min_separation_m": 300, "rear_cone_s": 15, "max_load_g": 9}
  },
  {
    "name": "weaving_target",
    "description": "Target 2 km ahead weaving +-70 deg of bank every 16 s (+-20 deg of heading); lag pursuit stays behind it",
    "duration_s": 60,
    "initial": {"altitude_m": 3000, "speed_mps": 230, "heading_deg": 0},
    "target": {"range_m": 2000, "speed_mps": 200, "manoeuvre": {"kind": "weave", "bank_deg": 70, "period_s": 16}},
    "pursuit": {"law": "lag", "speed": {"hold_range_m": 1000}},
    "expect": {"min_separation_m": 300, "rear_cone_s": 40, "max_load_g": 9}
  },
  {
    "name": "target_above_behind",
    "description": "Target 2 km behind, 30 deg off its nose and 1 km above, same heading; turn about and climb to it",
    "duration_s": 90,
    "initial": {"altitude_m": 3000, "speed_mps": 250, "heading_deg": 0},
    "target": {"range_m": 2000, "angle_off_tail_deg": 150, "altitude_diff_m": 1000, "speed_mps": 200},
    "pursuit": {"law": "pure", "speed": {"hold_range_m": 1000}},
    "expect": {"on_target_within_s": 60, "min_separation_m": 300, "rear_cone_s": 10, "max_load_g": 9}
  },
  {
    "name": "head_on_1v1",
    "description": "Two aircraft on the same law pass head-on 1.5 km apart, then pursue each other: ours leads, the opponent pursues purely",
    "duration_s": 120,
    "initial": {"altitude_m": 5000, "speed_mps": 250, "heading_deg": 0},
    "target": {"range_m": 8000, "angle_off_tail_deg": 169, "crossing_deg": 180, "speed_mps": 250, "opponent": {"pursuit": {"law": "pure", "start_s": 16, "speed": {"hold_range_m": 1000}}}},
    "pursuit": {"law": "lead", "start_s": 16, "speed": {"hold_range_m": 1000}},
    "expect": {"min_separation_m": 300, "max_load_g": 9}
  }
])json";

}  // namespace

const char* builtin_scenarios_json() { return kBuiltinScenarios; }

const std::vector<Scenario>& builtin_scenarios() {
    static const std::vector<Scenario> scenarios = [] {
        try {
            return parse_scenarios(kBuiltinScenarios, "built-in scenarios");
        } catch (const std::exception& e) {  // a fault of this file, found by every test
            std::fprintf(stderr, "guide-sim: %s\n", e.what());
            std::abort();
        }
    }();
    return scenarios;
}
