"""The pictures' geometry helpers (tools/plot_trajectory.py): a twin-axis
panel's zeros on one line, azimuths that fit the flight, a 3-D path drawn to
one scale, external commands drawn only where the mode used them; an
engagement's opponent's view and rear-cone times, and its picture drawn
whole."""
import math
import os
import sys
import tempfile
import unittest

sys.path.insert(
    0,
    os.environ.get("PLOT_SCRIPT_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "tools")),
)
import matplotlib  # noqa: E402

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import plot_engagement as pe  # noqa: E402
import plot_trajectory as pt  # noqa: E402


def zero_fraction(ax):
    lo, hi = ax.get_ylim()
    return -lo / (hi - lo)


class TwinAxes(unittest.TestCase):
    def test_zeros_line_up_whatever_the_ranges(self):
        cases = {
            "bank both ways, rate mostly positive": ([-20, 40], [-5, 150]),
            "throttle fractions against speeds far from zero": ([0.0, 1.2], [180, 250]),
            "everything negative on one side": ([-60, -10], [0, 3]),
            "a flat line at zero": ([0, 0], [-1, 1]),
        }
        for name, (left, right) in cases.items():
            with self.subTest(name):
                fig, a = plt.subplots()
                b = a.twinx()
                a.plot([0, 1], left)
                b.plot([0, 1], right)
                pt.align_zeros(a, b)
                self.assertAlmostEqual(zero_fraction(a), zero_fraction(b), places=9)
                self.assertTrue(0.0 < zero_fraction(a) < 1.0)
                for ax, values in ((a, left), (b, right)):
                    lo, hi = ax.get_ylim()
                    self.assertLessEqual(lo, min(values))
                    self.assertGreaterEqual(hi, max(values))
                plt.close(fig)


class Azimuths(unittest.TestCase):
    def test_a_turn_through_north_continues_past_360(self):
        self.assertEqual(
            pt.unwrap([350.0, 355.0, 0.0, 5.0, 10.0]), [350.0, 355.0, 360.0, 365.0, 370.0]
        )
        self.assertEqual(pt.unwrap([10.0, 0.0, 350.0]), [10.0, 0.0, -10.0])

    def test_the_command_is_drawn_beside_the_track(self):
        self.assertEqual(pt.beside([10.0, 10.0], [365.0, 370.0]), [370.0, 370.0])
        self.assertEqual(pt.beside([300.0], [-10.0]), [-60.0])

    def test_an_orbit_half_a_turn_from_the_command_draws_no_jump(self):
        track = [0.5 * k for k in range(400)]  # 0 .. 199.5 deg
        command = pt.beside([0.0] * 400, track)
        self.assertEqual(len(set(command)), 1)

    def test_nan_is_kept_and_does_not_break_the_rest(self):
        out = pt.unwrap([350.0, math.nan, 5.0])
        self.assertTrue(math.isnan(out[1]))
        self.assertEqual(out[2], 365.0)


class FlightPath(unittest.TestCase):
    def test_a_straight_dive_is_drawn_to_one_scale(self):
        fig = plt.figure()
        ax = fig.add_subplot(projection="3d")
        x, y, z = [0.0, 100.0], [0.0, 8000.0], [9000.0, 5000.0]
        pt.equal_scale_3d(ax, x, y, z)
        spans = [hi - lo for lo, hi in (ax.get_xlim(), ax.get_ylim(), ax.get_zlim())]
        self.assertAlmostEqual(spans[0], spans[1])
        self.assertAlmostEqual(spans[1], spans[2])
        self.assertGreaterEqual(spans[0], 8000.0)
        plt.close(fig)


class ExternalCommands(unittest.TestCase):
    def test_drawn_only_where_a_mode_reads_them(self):
        cases = {
            "mode 2 with an external bank": ({"ext_bank": [0.0, 40.0], "mode": [2.0, 2.0]}, True),
            "mode 4 passing ext_lat through": ({"ext_bank": [0.0, 0.0], "mode": [4.0, 4.0]}, False),
            "a value left over in mode 1": ({"ext_bank": [40.0, 40.0], "mode": [1.0, 1.0]}, False),
            "switched to mode 2 by an event": (
                {"ext_bank": [40.0, 40.0], "mode": [1.0, 2.0]},
                True,
            ),
        }
        for name, (columns, drawn) in cases.items():
            with self.subTest(name):
                self.assertEqual(pt.used_externally(columns, "ext_bank"), drawn)


if __name__ == "__main__":
    unittest.main()


class Bank(unittest.TestCase):
    def test_inverted_flight_reads_as_one_bank_and_a_flip_as_a_jump(self):
        rows = {
            "upright, left and right": ([10, -10, 80], [10, -10, 80]),
            "inverted about 180": ([170, 179, -179, -170, 179], [170, 179, 181, 190, 179]),
            "inverted, then the path passes the vertical": ([-179, 179, 0], [-179, -181, 0]),
            "rolled through inverted into upright the other side": (
                [120, 180, -120, -60],
                [120, 180, 240, -60],
            ),
            "nan kept": ([170, math.nan, -170], [170, math.nan, 190]),
        }
        for name, (flown, drawn) in rows.items():
            with self.subTest(name):
                got = pt.bank_for_drawing(flown)
                for g, d in zip(got, drawn):
                    self.assertTrue(g == d or (math.isnan(g) and math.isnan(d)), (got, drawn))


class Legends(unittest.TestCase):
    def test_a_legend_under_a_panel_stays_within_the_picture(self):
        # The --compare pictures' legends ran off the figure's edge: every
        # entry of a row side by side, one row however many there were.
        for entries in (2, 5, 8):
            with self.subTest(entries=entries):
                fig = plt.figure(figsize=(17, 5), constrained_layout=True)
                grid = fig.add_gridspec(1, 3)
                for col in range(3):
                    a = fig.add_subplot(grid[0, col])
                    lines = [
                        a.plot([0, 1], [0, k], label="compared: point_mass (a long folder) %d" % k)[
                            0
                        ]
                        for k in range(entries)
                    ]
                    pt.below(a, lines)
                fig.canvas.draw()
                box = fig.bbox
                for a in fig.axes:
                    extent = a.get_legend().get_window_extent()
                    self.assertGreaterEqual(extent.x0, box.x0 - 1)
                    self.assertLessEqual(extent.x1, box.x1 + 1)
                    self.assertGreaterEqual(extent.y0, box.y0 - 1)
                plt.close(fig)


def angle_deg(u, v):
    dot = sum(a * b for a, b in zip(u, v))
    return math.degrees(
        math.acos(max(-1.0, min(1.0, dot / math.dist(u, (0, 0, 0)) / math.dist(v, (0, 0, 0)))))
    )


class Engagement(unittest.TestCase):
    def test_the_opponents_view_is_the_line_of_sight_seen_from_its_end(self):
        # (own position, own velocity, target position, target velocity)
        rows = [
            ((0, 0, 0), (200, 0, 0), (3000, 0, 0), (200, 0, 0)),  # dead astern
            ((0, 0, 0), (250, 0, 0), (0, 4000, 0), (0, -200, 0)),  # crossing
            ((0, 0, 0), (250, 0, 30), (7800, 1500, 1000), (-250, 0, -10)),  # head-on, offset, above
        ]
        for own, v, target, vt in rows:
            with self.subTest(own=own, target=target):
                los = [b - a for a, b in zip(own, target)]
                back = [-x for x in los]
                c = {"ata_deg": [angle_deg(v, los)], "angle_off_tail_deg": [angle_deg(vt, los)]}
                self.assertAlmostEqual(pe.opponent_ata(c)[0], angle_deg(vt, back), places=9)
                self.assertAlmostEqual(
                    pe.opponent_angle_off_tail(c)[0], angle_deg(v, back), places=9
                )

    def test_time_in_the_rear_cone_needs_the_angles_and_the_range(self):
        # Off its tail, too far, inside, too near, our nose away (flying
        # apart back to back), off its tail again, inside to the end.
        t = [0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0]
        off_tail = [40.0, 20.0, 20.0, 20.0, 10.0, 35.0, 10.0]
        ata = [5.0, 5.0, 5.0, 5.0, 170.0, 5.0, 25.0]
        ranges = [2000.0, 4000.0, 2500.0, 400.0, 1000.0, 1000.0, 800.0]
        inside = pe.in_cone(off_tail, ata, ranges, pe.DEFAULT_CONE)
        self.assertEqual(inside, [False, False, True, False, False, False, True])
        self.assertEqual(pe.spans(t, inside), [(2.0, 3.0), (6.0, 6.0)])

    def test_time_marks_fall_on_round_times_and_never_crowd(self):
        for duration_s in (12.0, 60.0, 90.0, 120.0, 600.0, 3600.0):
            with self.subTest(duration_s=duration_s):
                t = [0.01 * k for k in range(int(duration_s * 100) + 1)]
                rows = pe.mark_rows(t)
                spacing = pe.mark_spacing_s(duration_s)
                self.assertIn(spacing, pe.MARK_SPACINGS_S)
                self.assertTrue(4 <= len(rows) <= pe.MAX_MARKS, rows)
                for n, row in enumerate(rows, 1):
                    self.assertAlmostEqual(t[row], n * spacing, delta=0.005)

    def test_a_scripted_target_and_a_one_against_one_are_drawn_whole(self):
        scripted = pt.REQUIRED + pe.TARGET
        for kind, names in (("scripted", scripted), ("duel", scripted + pe.OPPONENT)):
            with self.subTest(kind):
                self.draw_chase(kind, names)

    def draw_chase(self, name, names):
        rows = []
        for k in range(50):
            row = dict.fromkeys(names, 0.0)
            row.update(
                time=0.1 * k,
                x_north=25.0 * k,
                target_x_north=3000.0 + 20.0 * k,
                range_m=3000.0 - 5.0 * k,
                closure_mps=50.0,
                tas=250.0,
                target_tas=200.0,
                altitude=3000.0,
                target_altitude=3000.0,
                load_flown=1.0,
                target_load_flown=1.0,
                angle_off_tail_deg=10.0,
                hca_deg=0.0,
                aim_x_north=3000.0 + 20.0 * k,
            )
            rows.append(row)
        with tempfile.TemporaryDirectory() as folder:
            with open(os.path.join(folder, name + ".csv"), "w") as f:
                f.write(",".join(names) + "\n")
                f.writelines(",".join(repr(r[n]) for n in names) + "\n" for r in rows)
            pt.draw(plt, folder, name, None)
            self.assertGreater(os.path.getsize(os.path.join(folder, name + ".png")), 10000)
