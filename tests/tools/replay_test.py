"""The replays of a flight (guide-sim --replay, replay_export.py, guidew.replay):
the body's attitude from the velocity's angles; the ACMI file read back against
the trajectory, every object at every row (a second aircraft added to a
flight's file, and the one-against-one head_on_1v1 as guide-sim flies it on
REPLAY_AIRCRAFT: both aircraft, named by their model); the 3-D page in
headless Chromium, offline, without script errors, its pictures at two times
differing where the aircraft moved (kept in the build tree to look at); bad
trajectories named."""

import csv
import json
import math
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from guidew import replay

GUIDE_SIM = os.environ["GUIDE_SIM"]
SCRIPT = os.path.join(os.path.dirname(GUIDE_SIM), "replay_export.py")
SHOTS = os.environ.get("REPLAY_SCREENSHOT_DIR")
AIRCRAFT = os.environ.get("REPLAY_AIRCRAFT", "point_mass")  # f16 where the build has JSBSim
ENGAGEMENT = "head_on_1v1"
# WGS-84's published lengths of a degree at the equator (m).
LATITUDE_DEGREE_M, LONGITUDE_DEGREE_M = 110574.27, 111319.49
SECOND = {"north": 1500.0, "east": -800.0, "up": 400.0}  # the added aircraft's offset
# Each flight replayed: (ACMI Name, CallSign) of each object in turn, and two
# times to picture it at.
NAMES = {"f16": "F-16C", "point_mass": "point mass"}
FLIGHTS = {
    "pair": ([("aircraft", "pair"), ("aircraft", "target")], (6.0, 14.0)),
    ENGAGEMENT: ([(NAMES[AIRCRAFT], ENGAGEMENT), (NAMES[AIRCRAFT], "opponent")], (12.0, 40.0)),
}
CHROMIUM = [
    "--headless", "--no-sandbox", "--disable-gpu", "--enable-unsafe-swiftshader",
    "--disable-background-networking", "--disable-component-update", "--no-first-run",
    "--virtual-time-budget=5000", "--window-size=1000,700",
]  # fmt: skip
# Records script errors and console errors; once loaded, writes them into
# the document, where --dump-dom shows them.
PROBE = (
    "<script>window.__errors = [];"
    "window.addEventListener('error', function (e) { window.__errors.push(String(e.message)); });"
    "var __error = console.error; console.error = function () {"
    " window.__errors.push(Array.prototype.join.call(arguments, ' ')); __error.apply(console, arguments); };"
    "window.addEventListener('load', function () { setTimeout(function () {"
    " document.body.setAttribute('data-errors', JSON.stringify(window.__errors)); }, 500); });"
    "</script>"
)


class Attitude(unittest.TestCase):
    def test_body_angles_from_the_velocity_and_the_air_angles(self):
        # (track, path, bank, alpha, beta) -> (roll, pitch, heading): the
        # nose lies alpha towards the lift, and beta left of the velocity (the
        # velocity, and so the wind, comes from the right of the nose).
        cases = {
            "along the velocity": ((30, 10, 45, 0, 0), (45, 10, 30)),
            "level, wings level, nose up by alpha": ((200, 0, 0, 5, 0), (0, 5, 200)),
            "banked 90 right: alpha turns the nose right": ((0, 0, 90, 5, 0), (90, 0, 5)),
            "inverted: alpha points the nose down": ((90, 0, 180, 5, 0), (180, -5, 90)),
            "wind from the right: the nose left of the track": ((350, 0, 0, 0, 4), (0, 0, 346)),
            "climbing 30 deg, nose 6 deg above": ((0, 30, 0, 6, 0), (0, 36, 0)),
        }
        for name, (given, expected) in cases.items():
            with self.subTest(name):
                got = replay.body_euler_deg(*given)
                for g, e in zip(got, expected):
                    self.assertAlmostEqual((g - e + 180) % 360 - 180, 0.0, places=9)


class Earth(unittest.TestCase):
    def test_a_degree_is_as_long_as_geodesy_tables_give(self):
        # Latitude: (km per degree of latitude, of longitude) on WGS-84.
        published = {0: (110.574, 111.320), 15: (110.649, 107.551), 30: (110.852, 96.486),
                     45: (111.132, 78.847), 60: (111.412, 55.800), 75: (111.618, 28.902)}  # fmt: skip
        for latitude, lengths in published.items():
            got = replay.Reference(latitude, 10.0).metres_per_degree()
            for g, km in zip(got, lengths):
                self.assertAlmostEqual(g, km * 1000, delta=1.5, msg="at %d deg" % latitude)
        for bad in ("89,0", "0,181", "nan,0", "1", "a,b"):
            with self.subTest(bad), self.assertRaises(ValueError):
                replay.parse_reference(bad)


def read_csv(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def with_second_aircraft(rows, path):
    """The trajectory with a second aircraft under the prefix target_: the
    first one's path moved by SECOND, flying level on the reverse track."""
    extra = ["target_x_north", "target_z_east", "target_altitude", "target_yaw"]
    extra += ["target_pitch", "target_roll"]
    with open(path, "w", newline="") as f:
        out = csv.DictWriter(f, list(rows[0]) + extra)
        out.writeheader()
        for r in rows:
            r = dict(r)
            r["target_x_north"] = float(r["x_north"]) + SECOND["north"]
            r["target_z_east"] = float(r["z_east"]) + SECOND["east"]
            r["target_altitude"] = float(r["altitude"]) + SECOND["up"]
            r["target_yaw"], r["target_pitch"], r["target_roll"] = 180.0, 0.0, 0.0
            out.writerow(r)


def read_acmi(path):
    """(header lines, global properties, {object id: [(t, fields), ...]})."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    props, objects, t = {}, {}, None
    for line in lines[2:]:
        if line.startswith("#"):
            t = float(line[1:])
        elif line.startswith("0,"):
            key, value = line[2:].split("=", 1)
            props[key] = value
        else:
            oid, rest = line.split(",", 1)
            fields = dict(p.split("=", 1) for p in re.split(r"(?<!\\),", rest))
            objects.setdefault(oid, []).append((t, fields))
    return lines[:2], props, objects


class Files(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="replay-test-")
        cls.out = os.path.join(cls.folder, "sim")
        done = subprocess.run([GUIDE_SIM, "--no-plot", "--replay", "-o", cls.out, "typical"],
                              capture_output=True, text=True)  # fmt: skip
        assert done.returncode == 0, done.stderr
        cls.rows = read_csv(os.path.join(cls.out, "typical.csv"))
        with_second_aircraft(cls.rows, os.path.join(cls.out, "pair.csv"))
        done = subprocess.run(["/usr/bin/python3", SCRIPT, cls.out, "pair"], capture_output=True)
        assert done.returncode == 0, done.stderr
        done = subprocess.run([GUIDE_SIM, "--no-plot", "--replay", "-o", cls.out,
                               "--aircraft", AIRCRAFT, ENGAGEMENT], capture_output=True, text=True)  # fmt: skip
        assert done.returncode == 0, done.stdout + done.stderr

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def test_every_object_at_every_row_reads_back_as_flown(self):
        for flight, (names, _) in FLIGHTS.items():
            with self.subTest(flight):
                self.check_acmi_against_csv(flight, names)

    def check_acmi_against_csv(self, flight, names):
        header, props, objects = read_acmi(os.path.join(self.out, flight + ".acmi"))
        rows = read_csv(os.path.join(self.out, flight + ".csv"))
        self.assertEqual(header, ["FileType=text/acmi/tacview", "FileVersion=2.2"])
        self.assertEqual(float(props["ReferenceLatitude"]), 0.0)
        self.assertEqual(float(props["ReferenceLongitude"]), 0.0)
        self.assertRegex(props["ReferenceTime"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
        self.assertEqual(len(objects), len(names))
        for (oid, frames), prefix, (name, call_sign) in zip(
            sorted(objects.items()), ("", "target_"), names
        ):
            first = frames[0][1]
            self.assertEqual((first["Type"], first["Name"], first["CallSign"]),
                             ("Air+FixedWing", name, call_sign))  # fmt: skip
            self.assertEqual(len(frames), len(rows))
            for (t, fields), row in zip(frames, rows):
                lon, lat, alt, roll, pitch, yaw = map(float, fields["T"].split("|"))
                self.assertAlmostEqual(t, float(row["time"]), places=6)
                # 7 decimals of a degree: within 1.1 cm.
                self.assertAlmostEqual(
                    lat * LATITUDE_DEGREE_M, float(row[prefix + "x_north"]), delta=0.02
                )
                self.assertAlmostEqual(
                    lon * LONGITUDE_DEGREE_M, float(row[prefix + "z_east"]), delta=0.02
                )
                self.assertAlmostEqual(alt, float(row[prefix + "altitude"]), delta=0.006)
                # The body's angles from the velocity's and the air angles
                # (none, or NaN, on the point mass: it flies along its velocity).
                flown = [float(row.get(prefix + c, 0.0)) for c in
                         ("yaw", "pitch", "roll", "alpha_deg", "beta_deg")]  # fmt: skip
                flown = [x if math.isfinite(x) else 0.0 for x in flown]
                for got, want in zip((roll, pitch, yaw), replay.body_euler_deg(*flown)):
                    self.assertAlmostEqual((got - want + 180) % 360 - 180, 0.0, delta=0.006)

    def test_the_page_plays_offline_and_shows_the_aircraft_move(self):
        browser = shutil.which("chromium") or self.skipTest("no chromium (scripts/setup.sh)")
        for flight, (_, times) in FLIGHTS.items():
            with self.subTest(flight):
                self.check_page(browser, flight, times)

    def check_page(self, browser, flight, times):
        page = os.path.join(self.out, flight + ".html")
        with open(page, encoding="utf-8") as f:
            text = f.read()
        self.assertIsNone(re.search(r"<script[^>]+src=|<link[^>]+href=", text))
        probed = os.path.join(self.folder, flight + "_probed.html")
        with open(probed, "w", encoding="utf-8") as f:
            f.write(text.replace("<head>", "<head>" + PROBE, 1))
        screens, shots = [], []
        for k, t in enumerate(times):
            url = "file://%s#t=%g&camera=free"
            dom = subprocess.run(
                [browser, *CHROMIUM, "--user-data-dir=%s/p%s%d" % (self.folder, flight, k), "--dump-dom",
                 url % (probed, t)], capture_output=True, text=True, timeout=120)  # fmt: skip
            errors = re.search(r'data-errors="([^"]*)"', dom.stdout)
            self.assertIsNotNone(errors, "the page never loaded:\n" + dom.stderr[-2000:])
            self.assertEqual(json.loads(errors.group(1).replace("&quot;", '"')), [])
            self.assertEqual(float(re.search(r'data-time="([^"]*)"', dom.stdout).group(1)), t)
            screen = re.search(r'data-screen="([^"]*)"', dom.stdout).group(1)
            screens.append(json.loads(screen.replace("&quot;", '"')))
            shots.append(os.path.join(SHOTS or self.folder, "replay_%s_t%g.png" % (flight, t)))
            subprocess.run(
                [browser, *CHROMIUM, "--user-data-dir=%s/s%s%d" % (self.folder, flight, k),
                 "--screenshot=" + shots[-1], url % (page, t)],
                capture_output=True, timeout=120, check=True)  # fmt: skip
        from PIL import Image, ImageChops

        a, b = (Image.open(s).convert("RGB") for s in shots)
        changed = ImageChops.difference(a, b)
        # The page says where it drew each aircraft, in half-heights from
        # the view's centre.
        w, h = a.size
        screens = [[(w / 2 + x * h / 2, h / 2 - y * h / 2) for x, y in s] for s in screens]
        for k, ((x0, y0), (x1, y1)) in enumerate(zip(*screens)):
            self.assertGreater(abs(x1 - x0) + abs(y1 - y0), 10, "aircraft %d did not move" % k)
            for x, y in ((x0, y0), (x1, y1)):
                box = changed.crop((int(x) - 25, int(y) - 25, int(x) + 25, int(y) + 25))
                self.assertIsNotNone(box.getbbox(), "no change at aircraft %d (%d, %d)" % (k, x, y))
        # The sky far from both aircraft is the same in both pictures.
        self.assertIsNone(changed.crop((880, 100, 990, 200)).getbbox())

    def test_without_three_js_the_page_says_what_to_install(self):
        env = dict(os.environ, GUIDE_THREE_JS_DIR=os.path.join(self.folder, "none"))
        done = subprocess.run(["/usr/bin/python3", SCRIPT, self.out, "typical"],
                              capture_output=True, text=True, env=env)  # fmt: skip
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("libjs-three", done.stderr)
        with open(os.path.join(self.out, "typical.html"), encoding="utf-8") as f:
            self.assertIn("install Debian's libjs-three", f.read())

    def test_a_bad_trajectory_is_named_and_leaves_no_replay(self):
        cases = {
            "no position": "time,yaw,pitch,roll\n0,0,0,0\n",
            "not a number": "time,x_north,z_east,altitude,yaw,pitch,roll\n0,0,0,x,0,0,0\n",
            "time going back": "time,x_north,z_east,altitude,yaw,pitch,roll\n1,0,0,9,0,0,0\n"
            "0,0,0,9,0,0,0\n",
        }
        for name, text in cases.items():
            with self.subTest(name):
                base = os.path.join(self.out, "bad")
                with open(base + ".csv", "w") as f:
                    f.write(text)
                for stale in (".acmi", ".html"):
                    open(base + stale, "w").close()
                done = subprocess.run(["/usr/bin/python3", SCRIPT, self.out, "bad"],
                                      capture_output=True, text=True)  # fmt: skip
                self.assertEqual(done.returncode, 1)
                self.assertIn("bad.csv", done.stderr)
                self.assertFalse(os.path.exists(base + ".acmi") or os.path.exists(base + ".html"))

    def test_a_flight_written_again_without_replay_leaves_none_of_the_old(self):
        out = os.path.join(self.folder, "again")
        for replay_asked in (True, False):
            subprocess.run([GUIDE_SIM, "--no-plot", "-o", out, "speed_hold"]
                           + ["--replay"] * replay_asked, capture_output=True, check=True)  # fmt: skip
            self.assertEqual(os.path.exists(os.path.join(out, "speed_hold.acmi")), replay_asked)
            self.assertEqual(os.path.exists(os.path.join(out, "speed_hold.html")), replay_asked)


if __name__ == "__main__":
    unittest.main()
