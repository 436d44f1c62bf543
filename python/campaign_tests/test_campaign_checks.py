"""Every failure the simulator can produce reaches a campaign under the name
of its check: each scenario below fails in one way (or in the way its
situation names and what follows from it), flown as a campaign's worker
flies a flight, through libguidesim. No check is ever reported under a name
the manual does not list."""

import unittest

from guidew.campaign import _worker

# The simulator's own checks, every flight's (docs/simulator.md).
OWN_CHECKS = {"trim", "finite_values", "aircraft_fault", "ground", "load_limits", "alpha_limit"}
# A 60 deg dive from 100 m: the ground is met within seconds.
INTO_THE_GROUND = {"initial.altitude_m": 100, "inputs.elev_cmd": -60}
# Thrust past any number: the point mass's state leaves the doubles.
ENDLESS_THRUST = {"params.thr_gain": 1e308, "params.thr_max": 1e308, "params.thr_min": -1e308}
# The F-16 pushed at -10 g: its FCS passes -4 g, past its -3 g limit.
PUSH = {"aircraft": "f16", "inputs.ext_nz": -10}
PUSH.update({"events[%d].inputs.ext_nz" % i: -10 for i in (0, 1)})

# (situation, built-in, overrides, the checks that fail)
ROWS = [
    (
        "too little time to converge",
        "typical",
        {"expect.converge_within_s": 1},
        {"converge_within_s"},
    ),
    (
        "a 60 deg turn under a 1.2 g limit",
        "target_60_off",
        {"expect.max_load_g": 1.2},
        {"max_load_g"},
    ),
    (
        "a floor above the start",
        "target_60_off",
        {"expect.min_altitude_m": 3500},
        {"min_altitude_m"},
    ),
    ("5 s to gain 80 m/s", "speed_hold", {"duration_s": 5}, {"final_speed_error_mps"}),
    (
        "a latch a turn never sets",
        "typical",
        {"expect.latched": ["inverted_latch"]},
        {"latched.inverted_latch"},
    ),
    (
        "a split manoeuvre asked of a turn",
        "typical",
        {"expect.rolls_before_pull": True},
        {"rolls_before_pull"},
    ),
    (
        "a turn direction asked of a turn ahead",
        "typical",
        {"expect.turn_direction_latched": True},
        {"turn_direction_latched"},
    ),
    ("passthrough asked in mode 1", "typical", {"expect.passthrough": True}, {"passthrough"}),
    (
        "still inverted after half a second",
        "upright_recovery",
        {"duration_s": 0.5},
        {"ends_upright", "converge_within_s"},
    ),
    (
        "a final bank of 90 deg",
        "typical",
        {"expect.final_bank_deg": {"value": 90, "tolerance": 1}},
        {"final_bank_deg"},
    ),
    ("an orbit asked of a turn", "typical", {"expect.orbit": {"settle_s": 0}}, {"orbit"}),
    ("a dive into the ground", "typical", INTO_THE_GROUND, {"ground", "converge_within_s"}),
    (
        "thrust without bound",
        "typical",
        ENDLESS_THRUST,
        {"finite_values", "converge_within_s", "final_speed_error_mps"},
    ),
    (
        "the C172 at 160 m/s",
        "speed_hold",
        {"aircraft": "c172p", "initial.speed_mps": 160},
        {"trim", "final_speed_error_mps", "min_altitude_m"},
    ),
    ("the F-16 pushed past -3 g", "passthrough", PUSH, {"load_limits"}),
    (
        "the T-38 stalling over the top",
        "climb_behind",
        {"aircraft": "T38"},
        {"alpha_limit", "converge_within_s"},
    ),
]


def fly(scenario, overrides):
    """One flight as a campaign's worker flies it: its row of the table."""
    plan = {"scenario": scenario, "base": overrides, "dispersions": [], "samples": 1, "seed": 1}
    row, result = _worker.fly_flight(plan, 0)
    return row, result


class CheckNames(unittest.TestCase):
    def test_each_failure_is_reported_under_its_check(self):
        named = set()
        for situation, scenario, overrides, failing in ROWS:
            with self.subTest(situation):
                row, result = fly(scenario, overrides)
                self.assertFalse(row["error"], row["failure"])
                failed = {c for c, ok in row["checks"].items() if not ok}
                self.assertEqual(failed, failing, row["failure"])
                self.assertFalse(row["passed"])
                # Every name is an asked check ("expect" names it) or the
                # simulator's own.
                asked = set(result["scenario"].get("expect", {}))
                for name in row["checks"]:
                    self.assertTrue(name.split(".")[0] in asked or name in OWN_CHECKS, name)
                named |= failed
        # Every check but aircraft_fault fails in some row: no bundled
        # aircraft diverges or leaves its data (tests/sim names that one).
        self.assertEqual(OWN_CHECKS - named, {"aircraft_fault"})

    def test_a_flight_that_did_not_start_has_no_figures(self):
        row, result = fly("speed_hold", {"aircraft": "c172p", "initial.speed_mps": 160})
        self.assertFalse(result["started"])
        self.assertTrue(all(v is None for v in row["metrics"].values()))
        self.assertIn("no trim", row["failure"])


if __name__ == "__main__":
    unittest.main()
