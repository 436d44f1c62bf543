"""Campaigns on JSBSim's F-16: the campaign file names the aircraft and a
parameter file (its calibrated trim-throttle table) as a scenario does;
each worker loads the aircraft once and resets it per flight, so one and
two workers give the same table to the last digit; an unknown aircraft is
refused before any flight, at its line, naming the available ones."""

import os
import tempfile
import unittest

import guidew.campaign as gc

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
aircraft = "{aircraft}"
params_file = "{trim}"

[dispersions]
"initial.altitude_m" = {{ uniform = [2000, 5000] }}
"inputs.azim_cmd" = {{ uniform = [270, 330] }}
"""


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


class AircraftCampaigns(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def campaign(self, aircraft):
        path = os.path.join(self.folder.name, aircraft + ".toml")
        with open(path, "w", encoding="utf-8") as f:
            f.write(CAMPAIGN.format(aircraft=aircraft, trim=os.path.abspath(TRIM)))
        return path

    def run_with(self, path, workers):
        out = os.path.join(self.folder.name, "w%d" % workers)
        gc.run(path, workers=workers, out=out, progress=False, pictures=False, report=False)
        return read(os.path.join(out, "flights.csv"))

    def test_f16_campaign_is_the_same_on_one_and_two_workers(self):
        path = self.campaign("f16")
        one = self.run_with(path, 1)
        self.assertEqual(one, self.run_with(path, 2))
        self.assertEqual(len(one.splitlines()), 9)

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
