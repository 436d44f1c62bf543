"""Both FMUs driven by FMPy, an importer nobody here wrote, as its users drive
them: its validation; input tables in FMPy's style (a change as two rows at
one time) and fmusim's (a CSV row from which values hold), from late start
times, against the library fed the same inputs, to the last bit; 1,000 runs
in one process with the heap flat. FMPy, a test tool, is taken from beside
the checkout and set up in the build tree; without it: exit 77, skipped.

usage: fmpy_importer.py BUILD_DIR   (GUIDEW_LIBRARY names libGuide.so)"""

import ctypes, os, subprocess, sys, tempfile, unittest, zipfile  # noqa: E401

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FMPY = os.path.normpath(os.path.join(ROOT, "..", "shared", "third_party", "fmpy", "setup.sh"))
BUILD = sys.argv.pop(1)
if not os.path.isfile(FMPY):
    sys.exit(print(f"fmpy_importer: skipped: no FMPy beside the checkout ({FMPY})") or 77)
made = subprocess.run([FMPY, os.path.join(BUILD, "fmpy-env")], capture_output=True, text=True)
if made.returncode != 0:
    sys.exit(f"fmpy_importer: setting FMPy up failed: {made.stderr.strip()}")
sys.path[:0] = [made.stdout.split()[-1], os.path.join(ROOT, "python")]
import numpy as np  # noqa: E402
from fmpy import simulate_fmu  # noqa: E402
from fmpy.util import read_csv  # noqa: E402
from fmpy.validation import validate_fmu  # noqa: E402

import guidew  # noqa: E402

FMUS = [os.path.join(BUILD, "GuideW.fmu"), os.path.join(BUILD, "GuideW-fmi3.fmu")]
NAMES = ("time",) + guidew.INPUT_FIELDS
# (law step from which they hold, inputs): mode 1 to 3 and a heading command
# through north, which interpolation would hand over as 2 and as 180.
CHANGES = [
    (0, dict(guidew.TYPICAL_FLIGHT, azim_cmd=350.0, yaw=340.0, ext_nz=2.0)),
    (37, dict(azim_cmd=10.0, roll=25.0, roll_rate=12.5)),
    (100, dict(mode=3.0, altitude=3400.0, tas=213.25)),
    (161, dict(ext_weight=0.5, ext_bank=-30.0, pitch=7.5, aux_in=-1.0)),
]
STEPS = 240


def rows_from_step(changes):
    row, held = dict.fromkeys(guidew.INPUT_FIELDS, 0.0), []
    for k in range(STEPS):
        row.update(dict(changes).get(k, {}))
        held.append([row[n] for n in guidew.INPUT_FIELDS])
    return held


def fmpy_style(start_s, changes, held, folder):
    table = [(0, held[0])] + [(k, held[j]) for k, _ in changes[1:] for j in (k - 1, k)]
    rows = [(start_s + k * 0.01, *row) for k, row in table + [(STEPS, held[-1])]]
    return np.array(rows, dtype=[(n, np.float64) for n in NAMES])


def fmusim_style(start_s, changes, held, folder):
    with open(os.path.join(folder, "input.csv"), "w") as f:
        f.write(",".join(NAMES) + "\n")
        for k, _ in changes:
            f.write(",".join(map(repr, [start_s + k * 0.01] + held[k])) + "\n")
    return read_csv(f.name)


class FmpyDrivesTheFmus(unittest.TestCase):
    def test_validation_input_tables_and_late_clocks_give_the_librarys_bits(self):
        cases = [(s, CHANGES, style) for s in (0.0, 2e5) for style in (fmpy_style, fmusim_style)]
        # An epoch time (1.7e9 s: doubles 2.4e-7 s apart), the inputs held
        # throughout: FMPy takes times within a relative 1e-9 (1.7 s there) as
        # one, so it cannot place changes of the table any more.
        cases.append((1.7e9, CHANGES[:1], fmpy_style))
        with tempfile.TemporaryDirectory() as folder:
            for fmu in FMUS:
                self.assertEqual(validate_fmu(fmu), [], fmu)
                for start_s, changes, style in cases:
                    held = rows_from_step(changes)
                    with guidew.Instance() as m:
                        want = [(0.0,) * 4] + [tuple(m.step(row)) for row in held]
                    table = style(start_s, changes, held, folder)
                    result = simulate_fmu(
                        fmu, start_time=start_s, stop_time=start_s + 2.4, input=table
                    )
                    self.assertGreater(len(result), 10)
                    for r in result:  # from the start, before any step, on
                        k = round((r["time"] - start_s) / 0.01)
                        got = tuple(float(r[n]) for n in guidew.OUTPUT_FIELDS)
                        self.assertEqual(got, want[k], f"{fmu} from {start_s} s, step {k}")

    def test_a_thousand_runs_in_one_process_hold_the_heap_flat(self):
        class MallInfo2(ctypes.Structure):
            _fields_ = [
                (n, ctypes.c_size_t)
                for n in "arena ordblks smblks hblks hblkhd "
                "usmblks fsmblks uordblks fordblks keepcost".split()
            ]

        mallinfo2 = ctypes.CDLL(None).mallinfo2
        mallinfo2.restype = MallInfo2
        for fmu in FMUS:
            with tempfile.TemporaryDirectory() as folder:
                zipfile.ZipFile(fmu).extractall(folder)  # each run: load, fly, unload
                for run in range(1020):
                    if run == 20:
                        before = mallinfo2()
                    simulate_fmu(folder, stop_time=0.01)
                after = mallinfo2()
                grown = after.uordblks + after.hblkhd - before.uordblks - before.hblkhd
                self.assertLess(grown, 1 << 20, f"{fmu}: {grown} bytes more in use")


if __name__ == "__main__":
    unittest.main(verbosity=2)
