"""The campaign's results: the merge and summary from task files (the
reported checks decide the verdict, every flight counts for every check,
flights that never converged count as beyond the flight, memory does not
grow with the flights), and the report, light whatever the campaign's size
and opened in a browser (headless Chromium, offline): no script errors,
every plot drawn once; a screenshot is kept to look at), and plotly's
script in it minified once per machine, or embedded as shipped when terser
is missing or fails."""

import contextlib
import io
import json
import os
import re
import shutil
import subprocess
import math
import tempfile
import tracemalloc
import unittest
from unittest import mock

import guidew.campaign as gc
from guidew.campaign import (
    _engagement_map,
    _execute,
    _pictures,
    _plotly_script,
    _report,
    _results,
)
import plotly.offline

CAMPAIGN = """\
[campaign]
name = "sweep"
samples = 3
seed = 3

[scenario]
builtin = "typical"
duration_s = 20

[scenario.expect]
converge_within_s = 12

[dispersions]
"inputs.azim_cmd" = { grid = { from = 0, to = 180, steps = 5 } }
"inputs.elev_cmd" = { grid = [-30, 0, 30] }
"initial.altitude_m" = { uniform = [2000, 5000] }

[report]
paths = 6
worst = 2
"""  # 45 flights

CHROMIUM_FLAGS = [
    "--headless",
    "--no-sandbox",
    "--disable-gpu",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
    "--no-first-run",
    # WebGL for the 3-D paths, in software: there is no GPU here.
    "--enable-unsafe-swiftshader",
    "--virtual-time-budget=10000",
]

# Records every script error, and once the page has loaded writes them and
# the number of drawn plots into the document, where --dump-dom shows them.
PROBE_HEAD = (
    "<script>window.__errors = [];"
    "window.addEventListener('error', function (e) { window.__errors.push(String(e.message)); });"
    "</script>"
)
PROBE_TAIL = (
    "<script>window.addEventListener('load', function () { setTimeout(function () {"
    "document.body.setAttribute('data-script-errors', JSON.stringify(window.__errors));"
    "document.body.setAttribute('data-plotly', window.Plotly ? window.Plotly.version : 'none');"
    "document.body.setAttribute('data-plots-drawn', document.querySelectorAll('.js-plotly-plot .main-svg').length > 0 ?"
    " String(document.querySelectorAll('.js-plotly-plot').length) : '0');"
    "}, 500); });</script>"
)


def chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        if shutil.which(name):
            return shutil.which(name)
    raise unittest.SkipTest("no Chromium installed (scripts/setup.sh installs Debian's chromium)")


class Report(unittest.TestCase):
    def test_report_loads_offline_without_script_errors(self):
        browser = chromium()
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "sweep.toml")
            with open(path, "w", encoding="utf-8") as f:
                f.write(CAMPAIGN)
            result = gc.run(path, workers=1, out=os.path.join(folder, "out"), progress=False)
            report = result.files["report"]
            with open(report, encoding="utf-8") as f:
                page = f.read()
            # Self-contained: no script or style fetched from anywhere.
            self.assertIsNone(re.search(r"<script[^>]+src=|<link[^>]+href=", page))
            self.assertIn("grid_pass_rate.png", " ".join(result.files["pictures"]))
            # Each listed (worst) flight's replay, linked from the report.
            worst = {i for ranked in result.summary["worst"].values() for i, _ in ranked}
            self.assertEqual(set(result.files["replays"]), worst)
            for replay in result.files["replays"].values():
                self.assertTrue(os.path.isfile(replay[: -len(".html")] + ".acmi"))
                self.assertIn('href="replays/%s"' % os.path.basename(replay), page)
            shipped = plotly.offline.get_plotlyjs()
            embedded = re.search(r"<script>(.*?)</script>", page, re.S).group(1)
            self.assertTrue(
                embedded.startswith(shipped[:100]), "not plotly's script, licence first"
            )
            if shutil.which(_plotly_script.MINIFIER):
                self.assertLess(len(embedded), 0.5 * len(shipped), "not minified")

            probed = os.path.join(folder, "probed.html")
            with open(probed, "w", encoding="utf-8") as f:
                f.write(
                    page.replace("<head>", "<head>" + PROBE_HEAD, 1).replace(
                        "</body>", PROBE_TAIL + "</body>", 1
                    )
                )
            profile = os.path.join(folder, "profile")
            dom = subprocess.run(
                [
                    browser,
                    *CHROMIUM_FLAGS,
                    "--user-data-dir=" + profile,
                    "--dump-dom",
                    "file://" + probed,
                ],
                capture_output=True,
                text=True,
                timeout=120,
            )
            errors = re.search(r'data-script-errors="([^"]*)"', dom.stdout)
            self.assertIsNotNone(errors, "the page never finished loading:\n" + dom.stderr[-2000:])
            self.assertEqual(json.loads(errors.group(1).replace("&quot;", '"')), [])
            version = re.search(r"plotly\.js v([0-9.]+)", shipped).group(1)
            self.assertEqual(re.search(r'data-plotly="([^"]*)"', dom.stdout).group(1), version)
            drawn = int(re.search(r'data-plots-drawn="(\d+)"', dom.stdout).group(1))
            # Pass rate per value, histograms, one scatter per dispersed
            # variable, the heatmap, the paths: each once.
            self.assertEqual(drawn, 1 + 1 + 3 + 1 + 1)

            shot = os.environ.get("CAMPAIGN_SCREENSHOT", os.path.join(folder, "report.png"))
            subprocess.run(
                [
                    browser,
                    *CHROMIUM_FLAGS,
                    "--user-data-dir=" + profile + "2",
                    "--window-size=1280,5200",
                    "--screenshot=" + shot,
                    "file://" + report,
                ],
                capture_output=True,
                timeout=120,
                check=True,
            )
            self.assertGreater(os.path.getsize(shot), 10000)


SYNTHETIC = """\
[campaign]
name = "synthetic"
samples = %d
seed = 1

[scenario]
builtin = "typical"

[dispersions]
"inputs.elev_cmd" = { grid = [-30, 0, 30] }
"initial.altitude_m" = { uniform = [2000, 5000] }
"params.roll_kp" = { choice = [2, 3, 4] }
%s
"""


def synthetic_row(index, samples):
    """A flight as a worker reports it, its figures from its index: every
    40th never converges, every 13th pulls too hard, every 50th (from 7)
    reaches the ground, a check the simulator lists only when it fails."""
    converge = None if index % 40 == 0 else (index % 97) * 0.3
    load = 2.0 + (index % 13) * 0.5
    checks = {
        "converge_within_s": converge is not None and converge <= 25.0,
        "max_load_g": load <= 6.0,
    }
    if index % 50 == 7:
        checks["ground"] = False
    return {
        "index": index,
        "values": {
            "inputs.elev_cmd": (-30, 0, 30)[index // samples],
            "initial.altitude_m": 2000.0 + (index * 37) % 3000,
            "params.roll_kp": 2 + index % 3,
        },
        "metrics": {"converge_s": converge, "peak_load_g": load, "min_altitude_m": 100.0 + index},
        "checks": checks,
        "passed": all(checks.values()),
        "failure": "; ".join(c for c, ok in checks.items() if not ok),
        "error": False,
    }


def refused_row(index, samples):
    """A flight the simulator refused: its drawn values, no figures."""
    row = synthetic_row(index, samples)
    row.update(
        metrics={}, checks={}, passed=False, failure="refused: speed_mps out of range", error=True
    )
    return row


def synthetic_campaign(folder, samples, report="", row=synthetic_row):
    """A campaign file and its task files, as if flown: 3 grid points of
    samples flights, 100 flights a task."""
    path = os.path.join(folder, "synthetic.toml")
    with open(path, "w", encoding="utf-8") as f:
        f.write(SYNTHETIC % (samples, report))
    campaign = gc.load(path)
    os.makedirs(os.path.join(folder, _execute.TASKS_DIR), exist_ok=True)
    tasks = _execute.task_ranges(campaign.flights, 100)
    for task, first, count in tasks:
        rows = [row(i, samples) for i in range(first, first + count)]
        _execute.write_task(folder, (task, first, count), rows, "synthetic")
    return campaign, tasks


class Merge(unittest.TestCase):
    def merged(self, samples, report="", row=synthetic_row):
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        campaign, tasks = synthetic_campaign(folder, samples, report, row)
        self.folder = folder
        table = _results.merge(campaign, folder, tasks, campaign.checks, campaign.metrics)
        return campaign, table, _results.summarise(table, campaign.worst)

    def test_reported_checks_and_the_aircraft_decide_the_verdict(self):
        _, table, summary = self.merged(200, '[report]\nchecks = ["converge_within_s"]\n')
        rows = [synthetic_row(i, 200) for i in range(600)]

        def passes(r):
            return r["checks"]["converge_within_s"] and r["checks"].get("ground", True)

        # Flights that pulled too hard pass; those that reached the ground
        # fail whatever checks are reported, and the ground is reported.
        self.assertEqual(list(summary["checks"]), ["converge_within_s", "ground"])
        self.assertEqual(summary["all_checks"]["passed"], sum(map(passes, rows)))
        records = list(table.records())
        self.assertEqual(
            [r["passed"] for r in records],
            [r["check.converge_within_s"] and r["check.ground"] for r in records],
        )
        # The grid's pass rate follows the same columns.
        for value, point in zip((-30, 0, 30), range(3)):
            expected = sum(map(passes, rows[point * 200 : (point + 1) * 200]))
            self.assertEqual(table.grid[(value, None)].passed, expected)

    def test_a_check_listed_only_when_failed_counts_every_flight(self):
        _, table, summary = self.merged(200)
        ground = summary["checks"]["ground"]
        # Flights 7, 57, 107, ... reached the ground; the 588 others did not.
        self.assertEqual((ground["passed"], ground["flights"]), (588, 600))
        records = list(table.records())
        self.assertEqual(records[8]["check.ground"], True)
        self.assertEqual(records[7]["check.ground"], False)

    def test_flights_that_never_converged_count_beyond_the_flight(self):
        campaign, _, summary = self.merged(200)
        converge = summary["metrics"]["converge_s"]
        # 15 of 600 flights (2.5 %) never converged: p99 lies among them.
        self.assertEqual(
            (converge["never"], converge["missing"], converge["flights"]), (15, 0, 600)
        )
        self.assertEqual(converge["percentiles"][99], float("inf"))
        self.assertEqual(converge["max"], float("inf"))
        self.assertLess(converge["percentiles"][95], 30.0)
        self.assertIn(
            "never",
            _results.format_summary(campaign, summary).split("converge_s")[1].split("\n")[0],
        )
        # The worst: never converged first (lowest index first), then by the figure.
        self.assertEqual(summary["worst"]["converge_s"][:2], [(0, None), (40, None)])
        self.assertEqual(summary["worst"]["peak_load_g"][0], (12, 8.0))
        self.assertEqual(summary["worst"]["min_altitude_m"][0], (0, 100.0))

    def test_refused_flights_fail_all_checks_and_are_judged_by_none(self):
        def every_tenth_refused(index, samples):
            return (refused_row if index % 10 == 9 else synthetic_row)(index, samples)

        _, table, summary = self.merged(200, row=every_tenth_refused)
        self.assertEqual(summary["refused"], 60)
        # Flights 9, 19, ... are refused; of the 540 flown, 7, 57, ... reached the ground.
        self.assertEqual(
            (summary["checks"]["ground"]["passed"], summary["checks"]["ground"]["flights"]),
            (528, 540),
        )
        flown_passed = sum(1 for i in range(600) if i % 10 != 9 and synthetic_row(i, 200)["passed"])
        self.assertEqual((summary["all_checks"]["passed"], summary["flights"]), (flown_passed, 600))
        self.assertEqual(summary["metrics"]["converge_s"]["missing"], 60)
        records = list(table.records())
        self.assertEqual(
            (records[9]["check.ground"], records[9]["passed"], records[9]["converge_s"]),
            (None, False, None),
        )

    def test_table_reads_back_as_written(self):
        _, table, _ = self.merged(10)
        # Nothing of the merge is left beside the results.
        self.assertEqual(
            sorted(os.listdir(self.folder)), ["flights.csv", "synthetic.toml", "tasks"]
        )
        records = table.records()
        self.assertEqual(len(records), 30)
        self.assertEqual(
            records[3],
            {
                "index": 3,
                "inputs.elev_cmd": -30,
                "initial.altitude_m": 2111.0,
                "params.roll_kp": 2,
                "converge_s": 0.8999999999999999,
                "peak_load_g": 3.5,
                "min_altitude_m": 103.0,
                "check.converge_within_s": True,
                "check.max_load_g": True,
                "check.ground": True,
                "passed": True,
                "failure": "",
            },
        )

    def test_merge_memory_does_not_grow_with_the_flights(self):
        def peak(samples):
            folder = tempfile.mkdtemp()
            self.addCleanup(shutil.rmtree, folder)
            campaign, tasks = synthetic_campaign(folder, samples)
            tracemalloc.start()
            try:
                _results.summarise(_results.merge(campaign, folder, tasks), campaign.worst)
                return tracemalloc.get_traced_memory()[1]
            finally:
                tracemalloc.stop()

        # 3,600 flights fill the sample for the scatter plots; 14,400 more
        # add no rows, only a float64 per flight for one metric at a time
        # (a row held in memory weighs some 2 kB).
        small, large = peak(1200), peak(6000)
        self.assertLess((large - small) / 14400, 50, (small, large))

    def test_pictures_of_an_earlier_campaign_are_not_left_beside_new_ones(self):
        campaign, table, summary = self.merged(10)
        folder = os.path.join(self.folder, _pictures.PICTURES_DIR)
        os.makedirs(folder)
        for name in ("vs_initial.speed_mps.png", "grid_pass_rate.png.partial.png", "my notes.png"):
            with open(os.path.join(folder, name), "w", encoding="utf-8") as f:
                f.write("earlier")
        drawn = _pictures.draw_all(table, summary, self.folder, campaign.grid)
        self.assertEqual(
            sorted(os.listdir(folder)),
            sorted(
                [
                    "my notes.png",
                    "histograms.png",
                    "pass_rate_by_value.png",
                    "grid_pass_rate.png",
                    "vs_inputs.elev_cmd.png",
                    "vs_initial.altitude_m.png",
                    "vs_params.roll_kp.png",
                ]
            ),
        )
        self.assertEqual(len(drawn), 6)

    def test_report_stays_light_at_twenty_thousand_flights(self):
        campaign, table, summary = self.merged(6667)
        path = _report.write(campaign, table, summary, {}, [], self.folder, [])
        with open(path, encoding="utf-8") as f:
            page = f.read()
        script = _plotly_script.embedded()
        self.assertEqual(page.count(script[:200]), 1)  # plotly's script once
        data = page.replace(script, "")
        # The 3 x 3 scatter plots of up to 3000 flights, the rest counts.
        self.assertLess(len(data), 1_000_000)
        self.assertFalse("data:image/png" in data, "a picture embedded again")


class EngagementCells(unittest.TestCase):
    def test_starts_fall_in_their_sector_and_ring_and_never_counts_late(self):
        emap = _engagement_map.EngagementMap((1000.0, 9000.0))  # rings of 1 km

        def flight(index, angle, range_m, first_s, refused=False):
            metrics = {} if refused else {"rear_cone_first_s": first_s, "closest_m": 900.0 - index}
            row = {
                "index": index,
                "values": {"target.angle_off_tail_deg": angle, "target.range_m": range_m},
                "metrics": metrics,
                "error": refused,
            }
            emap.add(row, passed=first_s is not None)

        # (angle off tail deg, range m, first in the cone s or None: never)
        # per cell, its sector (15 deg, the first centred dead astern) and
        # ring, its median with never later than any, and the flights.
        rows = [
            ([(-179.0, 1500, 10.0), (181.0, 1999, 20.0), (172.6, 1000, None)], 12, 0, 20.0, 3),
            ([(7.4, 8999, 30.0), (-7.4, 9500, None), (0.0, 8500, None)], 0, 7, math.inf, 3),
            ([(7.6, 500, 4.0)], 1, 0, 4.0, 1),
            ([(-90.0, 5000, None), (-90.0, 5000, 12.0)], 18, 4, 12.0, 2),
        ]
        index = 0
        for starts, _, _, _, _ in rows:
            for angle, range_m, first in starts:
                flight(index, angle, range_m, first)
                index += 1
        flight(index, -90.0, 5000, None, refused=True)  # judged by no time
        for starts, sector, ring, median, flights in rows:
            with self.subTest(starts=starts):
                cell = emap.cells[sector][ring]
                self.assertEqual(cell.median_first_s(), median)
                self.assertEqual(cell.flights - cell.refused, flights)
        self.assertEqual(len(emap.filled()), len(rows))
        self.assertEqual(emap.cells[18][4].closest_index, 8)  # nearer; the refused has none


# Stands in for terser (same command line), as FAKE_TERSER says: "works"
# keeps the first half of the script, licence first; "fails" exits 1 as a
# node without terser's modules does; "drops licence" loses the header.
# Each run is counted in FAKE_TERSER_RUNS.
FAKE_TERSER = """#!/usr/bin/python3
import os, sys
with open(os.environ["FAKE_TERSER_RUNS"], "a") as runs:
    runs.write("run\\n")
how = os.environ["FAKE_TERSER"]
if how == "fails":
    sys.exit("Error: Cannot find module 'commander'")
with open(sys.argv[1], encoding="utf-8") as f:
    text = f.read()
out = text[: len(text) // 2] if how == "works" else text[text.index("*/") + 2 :]
with open(sys.argv[sys.argv.index("--output") + 1], "w", encoding="utf-8") as f:
    f.write(out)
"""


class PlotlyScript(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.folder)
        self.bin = os.path.join(self.folder, "bin")
        os.makedirs(self.bin)
        self.runs = os.path.join(self.folder, "runs")
        self.cache = os.path.join(self.folder, "cache")
        self.shipped = plotly.offline.get_plotlyjs()

    def embedded(self, fake=None, cache=None):
        """The script the page would embed, with the minifier faked (or
        none on PATH) and the cache in the scratch folder; and the lines
        said on the way."""
        if fake:
            path = os.path.join(self.bin, _plotly_script.MINIFIER)
            with open(path, "w", encoding="utf-8") as f:
                f.write(FAKE_TERSER)
            os.chmod(path, 0o755)
        env = {
            "PATH": self.bin,
            "GUIDE_DEPS_CACHE_DIR": cache or self.cache,
            "FAKE_TERSER": fake or "",
            "FAKE_TERSER_RUNS": self.runs,
        }
        notice = io.StringIO()
        with mock.patch.dict(os.environ, env):
            return _plotly_script.embedded(notice), notice.getvalue()

    def minifier_runs(self):
        if not os.path.exists(self.runs):
            return 0
        with open(self.runs, encoding="utf-8") as f:
            return len(f.read().split())

    def cached(self):
        return sorted(os.listdir(self.cache)) if os.path.isdir(self.cache) else []

    def test_without_terser_the_page_embeds_the_script_as_shipped(self):
        campaign, tasks = synthetic_campaign(self.folder, 10)
        table = _results.merge(campaign, self.folder, tasks)
        summary = _results.summarise(table, campaign.worst)
        stderr = io.StringIO()
        with mock.patch.dict(os.environ, {"PATH": self.bin, "GUIDE_DEPS_CACHE_DIR": self.cache}):
            with contextlib.redirect_stderr(stderr):
                path = _report.write(campaign, table, summary, {}, [], self.folder, [])
        with open(path, encoding="utf-8") as f:
            self.assertEqual(f.read().count(self.shipped), 1)
        self.assertEqual(len(stderr.getvalue().splitlines()), 1, stderr.getvalue())
        self.assertIn("terser not found", stderr.getvalue())
        self.assertEqual(self.cached(), [])

    def test_a_failing_minifier_costs_only_the_size(self):
        for situation, fake, said in [
            ("node without terser's modules", "fails", "Cannot find module 'commander'"),
            ("output without plotly's licence", "drops licence", "lacks the licence"),
        ]:
            with self.subTest(situation):
                script, notice = self.embedded(fake)
                self.assertEqual(script, self.shipped)
                self.assertIn(said, notice)
                self.assertEqual(len(notice.splitlines()), 2, notice)  # minifying, failed
                # Nothing kept: the next report tries again.
                self.assertEqual(self.cached(), [])

    def test_the_minified_script_is_made_once_and_kept(self):
        script, notice = self.embedded("works")
        self.assertEqual(script, self.shipped[: len(self.shipped) // 2])
        self.assertIn("once for this machine", notice)
        (kept,) = self.cached()
        self.assertRegex(kept, r"^plotly-\d+\.\d+\.\d+-[0-9a-f]{16}\.min\.js$")
        # Later reports read it: the minifier, were it to fail, is not run.
        for _ in range(2):
            self.assertEqual(self.embedded("fails"), (script, ""))
        self.assertEqual(self.minifier_runs(), 1)
        # A file cut short (a full disk) is made again.
        with open(os.path.join(self.cache, kept), "r+", encoding="utf-8") as f:
            f.truncate(1000)
        self.assertEqual(self.embedded("works")[0], script)
        self.assertEqual(self.minifier_runs(), 2)

    def test_a_cache_that_cannot_be_written_still_gives_the_minified_script(self):
        blocked = os.path.join(self.folder, "a file")
        with open(blocked, "w", encoding="utf-8") as f:
            f.write("not a folder")
        script, notice = self.embedded("works", cache=os.path.join(blocked, "cache"))
        self.assertEqual(script, self.shipped[: len(self.shipped) // 2])
        self.assertIn("cannot keep the minified plotly script", notice)


if __name__ == "__main__":
    unittest.main()
