"""Campaigns on JSBSim's F-16: the campaign file names the aircraft and a
parameter file (its calibrated trim-throttle table) as a scenario does;
each worker loads the aircraft once and resets it per flight, so one and
two workers give the same table to the last digit; an unknown aircraft is
refused before any flight, at its line, naming the available ones."""

import os
import tempfile
import unittest

import guidew.campaign as gc
from campaign_test_support import quiet_run, read

HERE = os.path.dirname(os.path.abspath(__file__))
TRIM = os.path.join(HERE, "..", "..", "campaigns", "f16_trim.params")

CAMPAIGN = """\
[campaign]
name = "f16_small"
samples = 8
seed = 5
flights_per_task = 2

[scenario]
builtin = "target_60_off"
duration_s = 15
{choices}
[dispersions]
"initial.altitude_m" = {{ uniform = [2000, 5000] }}
"inputs.azim_cmd" = {{ uniform = [270, 330] }}
{dispersed}"""


class AircraftCampaigns(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def campaign(self, aircraft, dispersed=False):
        """A campaign on aircraft with the F-16's trim table, or dispersed
        over the F-16 and the point mass and two parameter files."""
        path = os.path.join(self.folder.name, aircraft + (".mixed" if dispersed else "") + ".toml")
        choices = 'aircraft = "%s"\nparams_file = "%s"\n' % (aircraft, os.path.abspath(TRIM))
        with open(path, "w", encoding="utf-8") as f:
            if dispersed:
                files = (os.path.abspath(TRIM), self.soft_trim())
                f.write(
                    CAMPAIGN.format(
                        choices="",
                        dispersed='aircraft = { choice = ["f16", "point_mass"] }\n'
                        'params_file = { choice = ["%s", "%s"] }\n' % files,
                    )
                )
            else:
                f.write(CAMPAIGN.format(choices=choices, dispersed=""))
        return path

    def run_with(self, path, workers):
        out = os.path.join(self.folder.name, "%s.w%d" % (os.path.basename(path), workers))
        quiet_run(path, out, workers=workers)
        return read(os.path.join(out, "flights.csv"))

    def test_aircraft_campaigns_are_the_same_on_one_and_two_workers(self):
        # Each worker keeps one loaded aircraft per kind; a worker that flies
        # the F-16 after the point mass, or another parameter file after
        # this one, must fly each flight as a fresh process would.
        dispersed = self.campaign("f16", dispersed=True)
        for situation, path in (
            ("the F-16 alone", self.campaign("f16")),
            ("aircraft and parameter files dispersed", dispersed),
        ):
            with self.subTest(situation):
                one = self.run_with(path, 1)
                self.assertEqual(one, self.run_with(path, 2))
                self.assertEqual(len(one.splitlines()), 9)
                if path == dispersed:
                    self.assertIn(",point_mass,", one)
                    self.assertIn(",f16,", one)

    def soft_trim(self):
        """The F-16's parameter file with a softer roll gain."""
        path = os.path.join(self.folder.name, "soft.params")
        with open(path, "w", encoding="utf-8") as f:
            f.write(read(TRIM).replace("roll_kp = 2.5", "roll_kp = 2"))
        return path

    def test_unknown_aircraft_is_refused_at_its_line_naming_the_available_ones(self):
        path = self.campaign("f22")
        with self.assertRaises(gc.CampaignError) as caught:
            self.run_with(path, 1)
        self.assertIn(
            "f22.toml:10: scenario.aircraft: unknown aircraft f22 (available: point_mass, f16",
            str(caught.exception),
        )


if __name__ == "__main__":
    unittest.main()
