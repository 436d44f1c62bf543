"""Campaign files: what a user gets wrong is reported at its file, line and
key; each flight's draw depends on the seed and its index only; the
summary's statistics match independently known figures."""

import math
import os
import pickle
import subprocess
import sys
import tempfile
import textwrap
import unittest

import guidew
import guidew.campaign as gc
from guidew.campaign import _draws, _results, _worker
from campaign_test_support import ENGAGEMENT

GOOD = """\
[campaign]
samples = 10
seed = 7

[scenario]
builtin = "typical"
duration_s = 5

[dispersions]
"initial.altitude_m" = { uniform = [2000, 4000] }
"""


# A built-in flight with events at 3, 10 and 13 s of its 20 s.
PASSTHROUGH = """\
[campaign]
samples = 3
[scenario]
builtin = "passthrough"
"""


def write(folder, name, text):
    path = os.path.join(folder, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write(textwrap.dedent(text))
    return path


class CampaignFileErrors(unittest.TestCase):
    # (situation, file text, line the error names, words it must hold)
    ROWS = [
        ("TOML syntax error", "[campaign]\nsamples = = 3\n", "line 2", ["not valid TOML"]),
        ("unknown table", GOOD + "[sweeps]\nx = 1\n", ":11:", ["sweeps", "unknown key"]),
        (
            "no base scenario",
            "[campaign]\nsamples = 3\n[scenario]\nduration_s = 5\n",
            ":3:",
            ["scenario", "builtin"],
        ),
        (
            "unknown built-in scenario",
            GOOD.replace('"typical"', '"loop_the_loop"'),
            ":6:",
            ["loop_the_loop"],
        ),
        (
            "start speed the simulator refuses",
            GOOD.replace("duration_s = 5", "duration_s = 5\n[scenario.initial]\nspeed_mps = -1"),
            ":9:",
            ["scenario.initial.speed_mps", "must lie within"],
        ),
        (
            "samples missing for random draws",
            GOOD.replace("samples = 10\n", ""),
            ":1:",
            ["samples"],
        ),
        (
            "samples not a whole number",
            GOOD.replace("samples = 10", "samples = 2.5"),
            ":2:",
            ["campaign.samples"],
        ),
        (
            "uniform bounds reversed",
            GOOD.replace("[2000, 4000]", "[4000, 2000]"),
            ":10:",
            ["initial.altitude_m.uniform", "above"],
        ),
        (
            "normal without spread",
            GOOD + '"initial.speed_mps" = { normal = { mean = 200, sd = 0 } }\n',
            ":11:",
            ["sd", "above 0"],
        ),
        (
            "two distributions for one field",
            GOOD + '"inputs.azim_cmd" = { uniform = [0, 1], choice = [3] }\n',
            ":11:",
            ["exactly one"],
        ),
        (
            "field the scenario does not have",
            GOOD + '"initial.mach" = { uniform = [0.5, 0.9] }\n',
            ":11:",
            ["initial.mach", "mach"],
        ),
        (
            "value the simulator refuses",
            GOOD + '"initial.path_deg" = { choice = [0, 120] }\n',
            ":11:",
            ["path_deg"],
        ),
        (
            "parameter that does not exist",
            GOOD + "[dispersions.params]\nno_such_gain = { grid = [1, 2] }\n",
            ":12:",
            ["no_such_gain"],
        ),
        (
            "report of a check the scenario lacks",
            GOOD + '[report]\nchecks = ["orbit"]\n',
            ":12:",
            ["report.checks", "orbit"],
        ),
        (
            "negative flight duration",
            GOOD.replace("duration_s = 5", "duration_s = -5"),
            ":7:",
            ["scenario.duration_s", "must lie within"],
        ),
        (
            "zero flight duration",
            GOOD.replace("duration_s = 5", "duration_s = 0"),
            ":7:",
            ["scenario.duration_s"],
        ),
        (
            "flight longer than ten hours",
            GOOD.replace("duration_s = 5", "duration_s = 50000"),
            ":7:",
            ["scenario.duration_s", "36000"],
        ),
        (
            "duration given as text",
            GOOD.replace("duration_s = 5", 'duration_s = "40"'),
            ":7:",
            ["scenario.duration_s", "number"],
        ),
        (
            "duration not a number",
            GOOD.replace("duration_s = 5", "duration_s = nan"),
            ":7:",
            ["scenario.duration_s", "finite"],
        ),
        (
            "empty dispersion",
            GOOD + '"initial.speed_mps" = {}\n',
            ":11:",
            ["dispersions.initial.speed_mps", "empty"],
        ),
        (
            "event time dispersed past the end of the flight",
            PASSTHROUGH + '[dispersions]\n"events[0].t_s" = { uniform = [1, 25] }\n',
            ":6:",
            ["dispersions.events[0].t_s", "25"],
        ),
        (
            "dispersed flight duration that ends before an event",
            PASSTHROUGH + "[dispersions]\nduration_s = { choice = [20, 2] }\n",
            ":6:",
            ["dispersions.duration_s", "t_s"],
        ),
        (
            "turbulence seed drawn as a fraction",
            GOOD + '"atmosphere.turbulence.model" = { choice = ["milspec"] }\n'
            '"atmosphere.turbulence.severity" = { choice = [4] }\n'
            '"atmosphere.turbulence.seed" = { uniform = [0.5, 0.7] }\n',
            ":13:",
            ["dispersions.atmosphere.turbulence.seed", "whole number"],
        ),
        (
            "a duration that ends before the built-in's events",
            PASSTHROUGH + "duration_s = 2\n",
            ":5:",
            ["scenario.duration_s", "t_s"],
        ),
        (
            "a name too long for the files it names",
            GOOD.replace("[campaign]", '[campaign]\nname = "%s"' % ("n" * 300)),
            ":2:",
            ["campaign.name", "300 characters; at most 200"],
        ),
        (
            "reported checks that name none",
            GOOD + "[report]\nchecks = []\n",
            ":12:",
            ["report.checks", "names no check"],
        ),
        (
            "field set in both scenario and dispersions",
            GOOD.replace("duration_s = 5", "duration_s = 5\n[scenario.initial]\naltitude_m = 1000"),
            ":12:",
            ["set in [scenario]"],
        ),
        (
            "a manoeuvre's load beyond any airframe, its kind dispersed",
            ENGAGEMENT.replace(
                "[report]", '"target.manoeuvre.load_g" = { uniform = [2, 20] }\n[report]'
            ),
            ":20:",
            ["dispersions.target.manoeuvre.load_g", "within [1, 12], not 20"],
        ),
    ]

    def test_each_mistake_is_named_at_its_line(self):
        with tempfile.TemporaryDirectory() as folder:
            for situation, text, line, words in self.ROWS:
                with self.subTest(situation):
                    path = write(folder, "c.toml", text)
                    with self.assertRaises(gc.CampaignError) as caught:
                        gc.validate(gc.load(path))
                    message = str(caught.exception)
                    self.assertTrue(message.startswith(path), message)
                    self.assertIn(line, message)
                    for word in words:
                        self.assertIn(word, message)

    def test_nested_and_quoted_dispersions_read_alike(self):
        with tempfile.TemporaryDirectory() as folder:
            nested = gc.load(
                write(
                    folder,
                    "a.toml",
                    GOOD.replace(
                        '"initial.altitude_m" = { uniform = [2000, 4000] }',
                        "[dispersions.initial.altitude_m]\nuniform = [2000, 4000]",
                    ),
                )
            )
            quoted = gc.load(write(folder, "b.toml", GOOD))
            self.assertEqual(nested.dispersions, quoted.dispersions)
            self.assertEqual(nested.base_overrides, {"duration_s": 5})

    def test_flights_with_events_and_their_dispersions_are_accepted(self):
        # Each event, and each dispersion of an event's time or inputs,
        # within the flight's own duration.
        rows = [
            ("built-in with events", PASSTHROUGH),
            (
                "event time dispersed",
                PASSTHROUGH + '[dispersions]\n"events[0].t_s" = { uniform = [0, 20] }\n',
            ),
            (
                "event input dispersed",
                PASSTHROUGH + '[dispersions]\n"events[1].inputs.ext_lat" = { grid = [-30, 30] }\n',
            ),
            (
                "duration dispersed",
                PASSTHROUGH + "[dispersions]\nduration_s = { uniform = [14, 40] }\n",
            ),
            # A manoeuvre's side and load read only beside its kind, itself dispersed.
            ("engagement's target manoeuvre dispersed", ENGAGEMENT),
        ]
        with tempfile.TemporaryDirectory() as folder:
            for situation, text in rows:
                with self.subTest(situation):
                    gc.validate(gc.load(write(folder, "c.toml", text)))

    def test_flights_disperse_over_the_wind_and_the_turbulence(self):
        # The fixed part of the air in [scenario], the varied part drawn;
        # a steady wind changes the ground track, not the flight through
        # the air that the law steers and the checks judge.
        text = GOOD + (
            '"atmosphere.wind.speed_mps" = { uniform = [0, 20] }\n'
            '"atmosphere.turbulence.seed" = { grid = { from = 1, to = 3, steps = 3 } }\n'
            '"atmosphere.turbulence.severity" = { choice = ["light", "moderate", "severe"] }\n'
            "[scenario.atmosphere.wind]\nfrom_deg = 270\n"
            '[scenario.atmosphere.turbulence]\nmodel = "tustin"\n'
        )
        with tempfile.TemporaryDirectory() as folder:
            gc.validate(gc.load(write(folder, "c.toml", text)))
        still = gc.fly("typical", {"duration_s": 15})
        windy = gc.fly(
            "typical",
            {"duration_s": 15, "atmosphere.wind.from_deg": 270, "atmosphere.wind.speed_mps": 20},
        )
        self.assertAlmostEqual(windy["metrics"]["converge_s"], still["metrics"]["converge_s"], 1)

    def test_scenario_file_errors_keep_its_line_and_column(self):
        with tempfile.TemporaryDirectory() as folder:
            bad = write(folder, "left.json", '{"name": "left",\n "duration_s": 5,,\n}')
            with self.assertRaises(gc.CampaignError) as caught:
                gc.load(
                    write(
                        folder, "c.toml", GOOD.replace('builtin = "typical"', 'file = "left.json"')
                    )
                )
            self.assertIn(bad + ":2:18:", str(caught.exception))

    def test_names_from_awkward_file_names_and_a_byte_order_mark(self):
        with tempfile.TemporaryDirectory() as folder:
            for file_name, name in (
                ("v1.2.toml", "v1_2"),
                ("my flights.toml", "my_flights"),
                ("plain-1_a.toml", "plain-1_a"),
            ):
                with self.subTest(file_name):
                    self.assertEqual(gc.load(write(folder, file_name, GOOD)).name, name)
            with open(os.path.join(folder, "bom.toml"), "wb") as f:
                f.write(b"\xef\xbb\xbf" + GOOD.encode("utf-8"))
            self.assertEqual(gc.load(os.path.join(folder, "bom.toml")).samples, 10)

    def test_scenario_file_beside_the_campaign(self):
        with tempfile.TemporaryDirectory() as folder:
            write(
                folder,
                "left.json",
                '{"name": "left", "duration_s": 5, "inputs": {"azim_cmd": 270}}',
            )
            c = gc.load(
                write(folder, "c.toml", GOOD.replace('builtin = "typical"', 'file = "left.json"'))
            )
            gc.validate(c)
            self.assertEqual(c.scenario_label, "left.json")


def plan(dispersions, samples=1, seed=1):
    return {
        "scenario": "typical",
        "base": {},
        "samples": samples,
        "seed": seed,
        "dispersions": [gc.Dispersion(**d).__dict__ for d in dispersions],
    }


ALT = dict(path="initial.altitude_m", kind="uniform", low=1000.0, high=2000.0)
SPEED = dict(path="initial.speed_mps", kind="normal", mean=200.0, sd=20.0, low=190.0, high=250.0)
GAIN = dict(path="params.roll_kp", kind="choice", values=(2, 3, 4))
ELEV = dict(path="inputs.elev_cmd", kind="grid", values=(-10, 0, 10))
AZIM = dict(path="inputs.azim_cmd", kind="grid", values=(0, 90))


class Draws(unittest.TestCase):
    def test_a_flight_draw_depends_on_seed_and_index_only(self):
        alone = plan([ALT], seed=5)
        more = plan([SPEED, ALT, GAIN], seed=5)
        for index in (0, 1, 999, 123456):
            # Adding other dispersions leaves a variable's draw unchanged,
            # and the draw of flight i does not depend on drawing i-1 first.
            self.assertEqual(
                _draws.draw(alone, index)["initial.altitude_m"],
                _draws.draw(more, index)["initial.altitude_m"],
            )
        self.assertNotEqual(_draws.draw(alone, 0), _draws.draw(plan([ALT], seed=6), 0))
        self.assertNotEqual(_draws.draw(alone, 0), _draws.draw(alone, 1))

    def test_distributions_keep_their_bounds_and_moments(self):
        s = plan([ALT, SPEED, GAIN])
        draws = [_draws.draw(s, i) for i in range(4000)]
        alt = [d["initial.altitude_m"] for d in draws]
        self.assertTrue(all(1000.0 <= a <= 2000.0 for a in alt))
        self.assertAlmostEqual(sum(alt) / len(alt), 1500.0, delta=3 * 1000 / math.sqrt(12 * 4000))
        speed = [d["initial.speed_mps"] for d in draws]
        self.assertTrue(all(190.0 <= v <= 250.0 for v in speed))
        # Mean of N(200, 20) truncated to [190, 250]: 200 + 20 (phi(a) - phi(b)) / (Phi(b) - Phi(a))
        # with a = -0.5, b = 2.5: 210.09 (figures from tables of the normal).
        self.assertAlmostEqual(sum(speed) / len(speed), 210.09, delta=0.6)
        counts = {g: sum(1 for d in draws if d["params.roll_kp"] == g) for g in (2, 3, 4)}
        for g, n in counts.items():
            self.assertAlmostEqual(n / 4000, 1 / 3, delta=0.03, msg=g)

    def test_far_tail_windows_are_sampled_throughout(self):
        # N(200, 20) truncated to 8..9 sigma on either side. The tail beyond
        # z falls off as exp(-z^2/2), so the mass of [8, 9] sits near its
        # lower end: mean z of about 8 + 1/8 (Mills ratio, 1/z), 8.12 exactly.
        for side, name in ((1.0, "above the mean"), (-1.0, "below the mean")):
            with self.subTest(name):
                low, high = sorted((200.0 + side * 160.0, 200.0 + side * 180.0))
                s = plan([dict(SPEED, low=low, high=high)])
                z = [
                    side * (_draws.draw(s, i)["initial.speed_mps"] - 200.0) / 20.0
                    for i in range(2000)
                ]
                self.assertTrue(all(8.0 <= v <= 9.0 for v in z))
                self.assertGreater(len(set(z)), 1900)  # not a handful of rounded values
                self.assertAlmostEqual(sum(z) / len(z), 8.12, delta=0.02)

    def test_grid_flies_every_point_samples_times(self):
        s = plan([ELEV, ALT, AZIM], samples=4)
        n = 3 * 2 * 4
        points = [
            (_draws.draw(s, i)["inputs.elev_cmd"], _draws.draw(s, i)["inputs.azim_cmd"])
            for i in range(n)
        ]
        for point in {(e, a) for e in ELEV["values"] for a in AZIM["values"]}:
            self.assertEqual(points.count(point), 4, point)
        # The first grid variable varies slowest.
        self.assertEqual(points[:8], [(-10, 0)] * 4 + [(-10, 90)] * 4)


class RefusedFlights(unittest.TestCase):
    def test_a_draw_the_simulator_refuses_is_a_failed_row_not_a_crash(self):
        # A normal start speed without bounds: some draws fall below the
        # simulator's envelope (30 m/s and up).
        s = plan(
            [
                dict(
                    path="initial.speed_mps",
                    kind="normal",
                    mean=20.0,
                    sd=40.0,
                    low=-math.inf,
                    high=math.inf,
                )
            ]
        )
        s["base"] = {"duration_s": 1}
        rows = _worker.fly_task(s, 0, 40)
        refused = [r for r in rows if r["error"]]
        flown = [r for r in rows if not r["error"]]
        self.assertTrue(refused and flown)
        for r in refused:
            self.assertLess(r["values"]["initial.speed_mps"], 30.0)
            self.assertFalse(r["passed"])
            self.assertIn("speed_mps", r["failure"])


def guide_campaign(*args):
    return subprocess.run(
        [sys.executable, "-m", "guidew.campaign", *args],
        capture_output=True,
        text=True,
        timeout=120,
    )


class CommandLine(unittest.TestCase):
    def test_exit_status_and_one_line_per_situation(self):
        with tempfile.TemporaryDirectory() as folder:
            bad = write(folder, "c.toml", GOOD.replace("uniform", "uniformly"))
            umlaut = write(folder, "u.toml", GOOD.replace("seed = 7", '"h\u00f6he_m" = 5'))
            good = write(folder, "g.toml", GOOD)
            a_file = write(folder, "taken", "mine\n")
            # (situation, arguments, exit status, words on the one line)
            rows = [
                (
                    "campaign file with a mistake",
                    [bad],
                    1,
                    ["c.toml:10: dispersions.initial.altitude_m.uniformly"],
                ),
                ("key with non-ASCII letters, escaped", [umlaut], 1, ["h\\xc3\\xb6he_m"]),
                ("campaign file missing", [bad + ".not"], 2, ["c.toml.not", "no such file"]),
                ("unknown option", [good, "--fast"], 2, ["--fast"]),
                (
                    "flight index beyond the campaign",
                    [good, "--flight", "10"],
                    2,
                    ["--flight 10", "0..9"],
                ),
                ("campaign file is a folder", [folder], 1, [folder]),
                ("output is an existing file", [good, "-o", a_file], 3, ["taken", "not a folder"]),
                (
                    "output folder cannot be made",
                    [good, "-o", os.path.join(a_file, "sub")],
                    3,
                    ["sub"],
                ),
                (
                    "scheduler address that is nonsense",
                    [good, "--scheduler", "nonsense", "--out", os.path.join(folder, "s")],
                    3,
                    ["nonsense"],
                ),
            ]
            for situation, args, status, words in rows:
                with self.subTest(situation):
                    done = guide_campaign(*args, "--quiet", "--no-pictures")
                    self.assertEqual(done.returncode, status, done.stderr)
                    self.assertEqual(len(done.stderr.splitlines()), 1, done.stderr)
                    self.assertTrue(done.stderr.startswith("guide-campaign: "), done.stderr)
                    for word in words:
                        self.assertIn(word, done.stderr)
            with open(a_file, encoding="utf-8") as f:
                self.assertEqual(f.read(), "mine\n")

    def test_a_simulator_library_not_found_says_where_it_looked(self):
        with tempfile.TemporaryDirectory() as folder:
            good = write(folder, "g.toml", GOOD)
            missing = os.path.join(folder, "nowhere", "libguidesim.so")
            env = dict(os.environ, GUIDESIM_LIBRARY=missing)
            done = subprocess.run(
                [sys.executable, "-m", "guidew.campaign", good, "--quiet"],
                capture_output=True,
                text=True,
                timeout=60,
                env=env,
            )
            self.assertEqual(done.returncode, 3, done.stderr)
            self.assertEqual(len(done.stderr.splitlines()), 1, done.stderr)
            for words in (missing, "GUIDESIM_LIBRARY="):
                self.assertIn(words, done.stderr)

    def test_the_campaign_errors_are_the_package_errors(self):
        """guidew.GuideWError catches every campaign error, each still of
        its own kind; a library not found on a worker reaches the driver
        (pickled by Dask) with the places it was looked for."""
        # (error, what it also is)
        rows = [
            (gc.CampaignError, ()),
            (gc.SetupError, (gc.CampaignError,)),
            (gc.OutputError, (gc.SetupError,)),
            (gc.SimulatorError, ()),
            (gc.SimulatorLibraryError, (gc.SimulatorError, guidew.LibraryNotFoundError, OSError)),
        ]
        for error, kinds in rows:
            with self.subTest(error.__name__):
                for kind in (guidew.GuideWError,) + kinds:
                    self.assertTrue(issubclass(error, kind), kind)
        tried = [("GUIDESIM_LIBRARY", "/gone/libguidesim.so", "no such file")]
        sent = gc.SimulatorLibraryError("libguidesim.so could not be loaded", tried)
        received = pickle.loads(pickle.dumps(sent))
        self.assertEqual(
            (type(received), str(received), received.tried),
            (gc.SimulatorLibraryError, str(sent), tried),
        )

    def test_exit_status_follows_the_flights(self):
        # (situation, campaign file, exit status)
        rows = [
            ("every flight passes", PASSTHROUGH.replace("samples = 3", "samples = 2"), 0),
            (
                "a check fails",
                PASSTHROUGH.replace("samples = 3", "samples = 2")
                + "[scenario.expect]\nmax_load_g = 1.2\n",
                1,
            ),
        ]
        with tempfile.TemporaryDirectory() as folder:
            for situation, text, status in rows:
                with self.subTest(situation):
                    path = write(folder, "c.toml", text)
                    done = guide_campaign(
                        path,
                        "-o",
                        os.path.join(folder, "out"),
                        "--workers",
                        "1",
                        "--quiet",
                        "--no-pictures",
                    )
                    self.assertEqual(done.returncode, status, done.stderr)
                    self.assertIn("campaign c: 2 flights", done.stdout)

    def test_help_and_version(self):
        helped = guide_campaign("--help")
        self.assertEqual(helped.returncode, 0)
        for words in ("-o DIR, --output DIR", "--listen ADDRESS", "130", "exit status"):
            self.assertIn(words, helped.stdout)
        version = guide_campaign("--version")
        self.assertEqual(version.returncode, 0)
        self.assertRegex(version.stdout, r"^guide-campaign \d+\.\d+")


class Statistics(unittest.TestCase):
    def test_wilson_interval_matches_published_figures(self):
        # (passes, flights, low, high), Wilson score intervals at 95 %.
        for passes, n, low, high in (
            (0, 10, 0.0, 0.2775),
            (5, 10, 0.2366, 0.7634),
            (10, 10, 0.7225, 1.0),
            (81, 100, 0.7222, 0.8749),
        ):
            lo, hi = _results.wilson_interval(passes, n)
            self.assertAlmostEqual(lo, low, places=4)
            self.assertAlmostEqual(hi, high, places=4)

    def test_percentiles_interpolate_between_ranks(self):
        ordered = [1.0, 2.0, 3.0, 4.0, 10.0]
        for q, expected in ((0, 1.0), (50, 3.0), (95, 8.8), (100, 10.0), (25, 2.0)):
            self.assertAlmostEqual(_results.percentile(ordered, q), expected)


# Two parameter files as an aircraft's tuning would differ: the second
# throttles back and sets its own roll gain.
FULL_THROTTLE = "# full throttle\nthr_max = 1.0\n"
LOW_THROTTLE = "thr_max = 0.55\nroll_kp = 3\n"

FILES = """\
[campaign]
samples = 6
seed = 11

[scenario]
builtin = "typical"
duration_s = 2

[dispersions]
params_file = { choice = ["full.params", "low.params"] }
"""


class ParameterFileDispersions(unittest.TestCase):
    """A campaign that disperses over whole parameter files flies each
    flight with its chosen file's values, single params.* dispersions on
    top, and records the file by name in the table."""

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        write(self.folder.name, "full.params", FULL_THROTTLE)
        write(self.folder.name, "low.params", LOW_THROTTLE)
        write(self.folder.name, "broken.params", "thr_max = 0.8\nroll_kp 3\n")

    def test_each_flight_flies_its_files_parameters(self):
        # (situation, dispersions added, the roll gain a low.params flight flies)
        rows = [
            ("the file's own roll gain", "", 3.0),
            ("a roll-gain dispersion on top", '"params.roll_kp" = { choice = [5] }\n', 5),
        ]
        for situation, extra, low_roll_kp in rows:
            with self.subTest(situation):
                c = gc.load(write(self.folder.name, "c.toml", FILES + extra))
                gc.validate(c)
                chosen = set()
                for index in range(c.flights):
                    name = gc.draw(c.to_plan(), index)["params_file"]
                    chosen.add(name)
                    params = gc.flight_scenario(c, index)["params"]
                    if name == "full.params":
                        self.assertEqual(params["thr_max"], 1.0)
                    else:
                        self.assertEqual(params["thr_max"], 0.55)
                        self.assertEqual(params["roll_kp"], low_roll_kp)
                self.assertEqual(chosen, {"full.params", "low.params"})

    def test_a_grid_of_files_flies_each_and_the_table_names_them(self):
        text = FILES.replace("samples = 6", "samples = 1").replace("choice", "grid")
        path = write(self.folder.name, "g.toml", text)
        out = os.path.join(self.folder.name, "out")
        result = gc.run(path, workers=1, out=out, progress=False, pictures=True, report=False)
        self.assertEqual(
            [(row["params_file"], row["final_speed_err_mps"] != None) for row in result.table],
            [("full.params", True), ("low.params", True)],
        )
        # Less throttle, less speed at the end: the files were flown.
        speeds = [row["final_speed_err_mps"] for row in result.table]
        self.assertLess(speeds[1], speeds[0])
        with open(os.path.join(out, "flights.csv"), encoding="utf-8") as f:
            self.assertEqual(f.read().splitlines()[1].split(",")[1], "full.params")
        # The pass rate per file is drawn, one value per file.
        self.assertIn(os.path.join(out, "pictures", "vs_params_file.png"), result.files["pictures"])

    def test_mistakes_are_named_at_the_campaign_line_and_the_files_line(self):
        # (situation, dispersions line, words the error holds after "c.toml:10:")
        rows = [
            (
                "a file with a line that is not NAME = VALUE",
                'params_file = { choice = ["full.params", "broken.params"] }',
                ["dispersions.params_file", "broken.params:2", "expected NAME=VALUE"],
            ),
            (
                "a file that does not exist",
                'params_file = { grid = ["full.params", "gone.params"] }',
                ["dispersions.params_file", "gone.params"],
            ),
            (
                "files drawn as numbers",
                "params_file = { uniform = [1, 2] }",
                ["dispersions.params_file", "choice or grid"],
            ),
            (
                "names and numbers mixed",
                'params_file = { choice = ["full.params", 2] }',
                ["dispersions.params_file.choice", "mixes names and numbers"],
            ),
            (
                "a parameter the law does not have",
                'params_file = { choice = ["full.params", "odd.params"] }',
                ["dispersions.params_file", "odd.params", "no_such_gain"],
            ),
            (
                "a file with a nan, which a scenario's JSON cannot hold",
                'params_file = { choice = ["full.params", "nan.params"] }',
                ["dispersions.params_file", "nan.params: roll_kp = nan: must be a finite number"],
            ),
            (
                "an aircraft the simulator does not know",
                'aircraft = { choice = ["point_mass", "f22"] }',
                ["dispersions.aircraft", "unknown aircraft f22"],
            ),
        ]
        write(self.folder.name, "odd.params", "no_such_gain = 1\n")
        write(self.folder.name, "nan.params", "roll_kp = nan\n")
        for situation, line, words in rows:
            with self.subTest(situation):
                text = FILES.replace(FILES.splitlines()[-1], line)
                path = write(self.folder.name, "c.toml", text)
                with self.assertRaises(gc.CampaignError) as caught:
                    gc.validate(gc.load(path))
                message = str(caught.exception)
                self.assertTrue(message.startswith(path + ":10: "), message)
                for word in words:
                    self.assertIn(word, message)

    def test_a_file_in_scenario_and_dispersions_is_refused(self):
        text = FILES.replace("duration_s = 2", 'duration_s = 2\nparams_file = "full.params"')
        with self.assertRaises(gc.CampaignError) as caught:
            gc.load(write(self.folder.name, "c.toml", text))
        self.assertIn(
            "c.toml:11: dispersions.params_file: is also set in [scenario]", str(caught.exception)
        )


class AircraftDispersion(unittest.TestCase):
    def test_flights_fly_the_aircraft_drawn_each_with_its_own_trim_table(self):
        text = FILES.replace(
            'params_file = { choice = ["full.params", "low.params"] }',
            'aircraft = { grid = ["point_mass", "f16"] }',
        ).replace("samples = 6", "samples = 1")
        with tempfile.TemporaryDirectory() as folder:
            c = gc.load(write(folder, "c.toml", text))
            gc.validate(c)
            self.assertEqual(
                [gc.flight_scenario(c, i)["aircraft"] for i in range(c.flights)],
                ["point_mass", "f16"],
            )
            # Each flight as flown on its own: the aircraft's trim-throttle
            # table (the F-16's calibrated one) is chosen per flight.
            for index, aircraft in enumerate(["point_mass", "f16"]):
                overrides, _ = _worker.flight_overrides(c.to_plan(), index)
                alone = gc.fly("typical", {"duration_s": 2, "aircraft": aircraft})
                self.assertEqual(gc.fly(c.scenario, overrides)["metrics"], alone["metrics"])


if __name__ == "__main__":
    unittest.main()
